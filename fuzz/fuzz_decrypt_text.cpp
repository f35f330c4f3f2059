// Header text unscrambling over arbitrary stored text and key text.
#include "crypto/CryptoBase.h"
#include "engine/TextCrypt.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static qk::engine::TextCrypt text;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = size > 0 ? data[0] % (size + 1) : 0;
  const std::string key = input.substr(0, split);
  const std::string stored = input.substr(split);
  try {
    const std::string plain = text.DecryptText(stored, key);
    // What decrypts must scramble back to text that decrypts to it again.
    if (text.DecryptText(text.EncryptText(plain, key), key) != plain) std::abort();
  } catch (const qk::crypto::CryptoError&) {
  }
  return 0;
}
