// Twofish, 128-bit block, keys of 8..256 bits (rounded up to 128, 192 or 256).
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_twofish final : public TDCP_blockcipher {
public:
  TDCP_twofish();
  ~TDCP_twofish() override;
  void EraseKey() override;

protected:
  void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) override;
  void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;
  void DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;

private:
  std::uint32_t keyLength_ = 0;     // bits after rounding up
  std::uint32_t subKeys_[40] = {};  // whitening and round keys
  std::uint32_t sboxKey_[4] = {};   // S0..S(k-1)
  std::uint32_t sbox_[4][256] = {}; // keyed S-boxes with the MDS product folded in
};

} // namespace qk::crypto
