// The container's keyed digests computed with Crypto++ alone, as expectations independent of the
// engine's own SHA-1 and tamper code.
#pragma once

#include <cryptopp/sha.h>
#include <string>

namespace qk::test {

inline std::string Sha1(const std::string& data) {
  std::string digest(CryptoPP::SHA1::DIGESTSIZE, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(digest.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(data.data()),
                                   data.size());
  return digest;
}

// The 32-byte file key of a password in the system code page: its SHA-1, then twelve 0xFF.
inline std::string FileKeyOf(const std::string& passwordBytes) {
  return Sha1(passwordBytes) + std::string(12, '\xFF');
}

// The tamper code over the covered bytes (a V5 container from offset 53 on): SHA-1 over
// (I ^ 0x5C | I), I = SHA-1((K ^ 0x36, zero-padded to 64) | covered), each result followed by
// twelve 0xFF.
inline std::string TamperCodeOf(const std::string& passwordBytes, const std::string& covered) {
  const std::string key = FileKeyOf(passwordBytes);
  std::string pad(64, '\0');
  for (std::size_t i = 0; i < pad.size(); ++i)
    pad[i] = static_cast<char>((i < key.size() ? key[i] : 0) ^ 0x36);
  const std::string inner = Sha1(pad + covered) + std::string(12, '\xFF');
  std::string outer(64, '\0');
  for (std::size_t i = 0; i < 32; ++i) {
    outer[i] = static_cast<char>(inner[i] ^ 0x5C);
    outer[32 + i] = inner[i];
  }
  return Sha1(outer) + std::string(12, '\xFF');
}

// Writes over the code of a V5 container with a code the code it must have over its bytes, as
// only the password's owner could (for containers crafted behind a good code).
inline void Reseal(std::string& container, const std::string& passwordBytes) {
  container.replace(21, 32, TamperCodeOf(passwordBytes, container.substr(53)));
}

} // namespace qk::test
