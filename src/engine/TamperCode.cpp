#include "engine/TamperCode.h"

#include "crypto/CryptoBase.h"
#include "engine/Container.h"
#include "platform/Hardening.h"

namespace qk::engine {

namespace {

// The 64-byte inner pad of a password: its file key XOR 0x36, zero bytes after the key.
void MakeInnerPad(std::string_view passwordBytes, std::uint8_t (&pad)[64]) {
  FileKey key = MakeFileKey(passwordBytes);
  for (std::size_t i = 0; i < 64; ++i) pad[i] = (i < key.size() ? key[i] : 0) ^ 0x36;
  platform::SecureZero(key.data(), key.size());
}

// The code from an inner result (20-byte digest and twelve 0xFF bytes): SHA-1 over the inner
// result XOR 0x5C followed by the inner result, then twelve 0xFF.
TamperCode OuterTamperCode(const TamperCode& inner) {
  std::uint8_t outer[64];
  for (std::size_t i = 0; i < 32; ++i) {
    outer[i] = inner[i] ^ 0x5C;
    outer[32 + i] = inner[i];
  }
  TamperCode code;
  code.fill(0xFF);
  crypto::TDCP_sha1 sha;
  sha.Init();
  sha.Update(outer, sizeof outer);
  sha.Final(code.data());
  platform::SecureZero(outer, sizeof outer);
  return code;
}

} // namespace

TamperHasher::TamperHasher(std::string_view passwordBytes) {
  std::uint8_t pad[64];
  MakeInnerPad(passwordBytes, pad);
  inner_.Init();
  inner_.Update(pad, sizeof pad);
  platform::SecureZero(pad, sizeof pad);
}

TamperHasher::TamperHasher(const FileKey& key) {
  std::uint8_t pad[64];
  for (std::size_t i = 0; i < 64; ++i) pad[i] = (i < key.size() ? key[i] : 0) ^ 0x36;
  inner_.Init();
  inner_.Update(pad, sizeof pad);
  platform::SecureZero(pad, sizeof pad);
}

TamperHasher::~TamperHasher() {
  if (inner_.Initialized()) inner_.EraseState();
}

TamperCode TamperHasher::Finish() {
  TamperCode inner;
  inner.fill(0xFF);
  inner_.Final(inner.data());
  const TamperCode code = OuterTamperCode(inner);
  platform::SecureZero(inner.data(), inner.size());
  return code;
}

bool SameTamperCode(const TamperCode& a, const TamperCode& b) {
  std::uint8_t diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

} // namespace qk::engine
