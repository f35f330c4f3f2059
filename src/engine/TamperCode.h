// The 32-byte tamper-detection code of a container: a keyed two-step SHA-1 over the file from a
// given offset, with progress while the file is read.
#pragma once

#include "crypto/SHA1.h"
#include "engine/Host.h"
#include "engine/Random.h"
#include "engine/RunState.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qk::engine {

using TamperCode = std::array<std::uint8_t, 32>;

// The code built up piece by piece from bytes as they come: the keyed inner SHA-1 over the covered
// bytes, then the outer step. Gives the same code as ComputeTamperCode over a file holding the
// same bytes from its offset on.
class TamperHasher {
public:
  explicit TamperHasher(std::string_view passwordBytes);
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

// The 64-byte inner pad of a password: its file key XOR 0x36, zero bytes after the key.
void MakeInnerPad(std::string_view passwordBytes, std::uint8_t (&pad)[64]);
// The code from an inner result (20-byte digest and twelve 0xFF bytes).
TamperCode OuterTamperCode(const TamperCode& inner);

class TamperCoder {
public:
  TamperCoder(EngineHost& host, const EngineSettings& settings, Random& random)
      : host_(host), settings_(settings), random_(random) {}

  // Called on the calling thread with the bytes handed to the hash so far, while the hash of the
  // latest piece runs beside it: room for other work that can overlap the hash.
  using Beside = std::function<void(std::int64_t hashed)>;

  // The code of the file at path from offset on; none when the file cannot be opened (an
  // information box "Unable to open file" is shown then). Read errors raise.
  std::optional<TamperCode> ComputeTamperCode(std::string_view passwordBytes,
                                              const std::string& path, std::int64_t offset,
                                              const Beside& beside = {});
  // Inner hash: SHA-1 of the 64-byte pad followed by the file from offset, then twelve 0xFF.
  std::optional<TamperCode> HashFileFrom(const std::uint8_t (&pad)[64], const std::string& path,
                                         std::int64_t offset, const Beside& beside = {});

private:
  EngineHost& host_;
  const EngineSettings& settings_;
  Random& random_;
  crypto::TDCP_sha1 DCP_sha11;
};

bool SameTamperCode(const TamperCode& a, const TamperCode& b);

// Progress line: word + done + "/" + total + "バイト　" + percent + "%".
std::string ProgressText(std::string_view word, std::int64_t done, std::int64_t total);

// True when pending window events should run after this block.
bool ShouldPump(Random& random, std::int32_t processMsgInterval);

} // namespace qk::engine
