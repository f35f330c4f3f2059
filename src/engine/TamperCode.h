// The 32-byte tamper-detection code of a container: a keyed two-step SHA-1 over the container
// from a given offset, built up while the bytes pass by.
#pragma once

#include "crypto/SHA1.h"
#include "engine/Container.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace qk::engine {

using TamperCode = std::array<std::uint8_t, 32>;

// The code built up piece by piece from bytes as they come: the keyed inner SHA-1 over the covered
// bytes (after a 64-byte pad, the password's file key XOR 0x36 with zero bytes after the key),
// then the outer step.
class TamperHasher {
public:
  explicit TamperHasher(std::string_view passwordBytes);
  // From the password's file key (the tamper key is the same bytes), derived once by the caller.
  explicit TamperHasher(const FileKey& key);
  ~TamperHasher();
  TamperHasher(const TamperHasher&) = delete;
  TamperHasher& operator=(const TamperHasher&) = delete;

  // The inner hash; covered bytes go to its Update in order.
  crypto::TDCP_sha1& Inner() { return inner_; }
  // The code over every byte given so far; the hasher is spent afterwards.
  TamperCode Finish();

private:
  crypto::TDCP_sha1 inner_;
};

// Compared in time that does not depend on where the codes differ.
bool SameTamperCode(const TamperCode& a, const TamperCode& b);

} // namespace qk::engine
