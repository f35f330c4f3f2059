// Base64 decoder over arbitrary text; encoding what it decodes must decode to the same bytes.
#include "crypto/Base64.h"
#include "crypto/CryptoBase.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::string bytes = qk::crypto::Base64Decode(text);
    if (bytes.size() > text.size()) std::abort();
    if (qk::crypto::Base64Decode(qk::crypto::Base64Encode(bytes)) != bytes) std::abort();
  } catch (const qk::crypto::CryptoError&) {
    if (size % 4 == 0) std::abort(); // only a bad length is refused
  }
  return 0;
}
