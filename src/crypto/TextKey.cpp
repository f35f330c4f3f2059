#include "crypto/TextKey.h"

#include "crypto/SHA1.h"
#include "platform/Hardening.h"

namespace qk::crypto {

void InitFromText(TDCP_blockcipher& cipher, std::string_view text) {
  TDCP_sha1 hash;
  hash.Init();
  hash.UpdateText(text);
  std::uint8_t digest[20];
  hash.Final(digest);
  const std::int32_t bits =
      cipher.MaxKeySize() < hash.HashSize() ? cipher.MaxKeySize() : hash.HashSize();
  try {
    cipher.Init(digest, bits, nullptr);
  } catch (...) {
    platform::SecureFill(digest, 0xFF, sizeof digest);
    throw;
  }
  platform::SecureFill(digest, 0xFF, sizeof digest);
}

} // namespace qk::crypto
