// SHA-1 (FIPS 180-1) as an incremental hash.
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_sha1 final : public TDCP_hash {
public:
  TDCP_sha1();
  ~TDCP_sha1() override;

  void Init() override;
  void EraseState() override;
  void Update(const void* buffer, std::int32_t size) override;
  void Final(void* digest) override;

private:
  void Compress();

  std::uint32_t lenHi_ = 0;
  std::uint32_t lenLo_ = 0;
  std::int32_t index_ = 0;
  std::uint32_t h_[5] = {};
  std::uint8_t buffer_[64] = {};
};

} // namespace qk::crypto
