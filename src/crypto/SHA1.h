// SHA-1 (FIPS 180-1) as an incremental hash.
#pragma once

#include "crypto/CryptoBase.h"

#include <cstddef>

namespace qk::crypto {

class TDCP_sha1 final : public TDCP_hash {
public:
  TDCP_sha1();
  ~TDCP_sha1() override;

  void Init() override;
  void EraseState() override;
  // A size of 0 (or below) changes nothing.
  void Update(const void* buffer, std::int32_t size) override;
  void Final(void* digest) override;

private:
  // Compresses the 64-byte blocks at data into h_.
  void Compress(const std::uint8_t* data, std::size_t blocks);

  std::uint32_t lenHi_ = 0; // message length in bits, high word
  std::uint32_t lenLo_ = 0; // message length in bits, low word
  std::int32_t index_ = 0;  // bytes held in buffer_; the rest of buffer_ is always zero
  std::uint32_t h_[5] = {};
  std::uint8_t buffer_[64] = {};
};

} // namespace qk::crypto
