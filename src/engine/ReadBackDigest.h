// A fast keyed digest of a byte stream for the proofs a source wipe waits for: does the file read
// back hold the bytes that were read or decrypted? Four independent lanes of 64-bit
// multiply-fold steps take 64 bytes at a time, many times faster than SHA-1, so that it runs
// beside the cipher at no noticeable cost. It guards against storage and program faults, not an
// adversary who knows the key; the key is drawn afresh for each engine and never leaves memory.
#pragma once

#include "crypto/CryptoBase.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace qk::engine {

class ReadBackDigest final : public crypto::TDCP_hash {
public:
  using Key = std::array<std::uint64_t, 8>;
  static constexpr std::size_t DigestBytes = 20;

  explicit ReadBackDigest(const Key& key);
  ~ReadBackDigest() override;

  // A key from the system's random source.
  static Key FreshKey();

  void Init() override;
  void EraseState() override;
  void Update(const void* buffer, std::int32_t size) override;
  // Writes DigestBytes bytes.
  void Final(void* digest) override;

private:
  void Blocks(const std::uint8_t* data, std::size_t blocks);

  Key key_;
  std::uint64_t lane_[4] = {};
  std::uint64_t length_ = 0;
  std::uint8_t held_[64] = {};
  std::size_t heldBytes_ = 0;
};

} // namespace qk::engine
