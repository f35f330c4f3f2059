// Rijndael with a 128-bit block (AES), keys of 8..256 bits fitted to AES-128/192/256.
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_rijndael final : public TDCP_blockcipher {
public:
  TDCP_rijndael();
  ~TDCP_rijndael() override;
  void EraseKey() override;

protected:
  void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) override;
  // The IV spelling "#INIT_IV_TO_NIL#" installs an all-zero IV.
  void InstallIV(const std::uint8_t* iv) override;
  void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;
  void DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;

private:
  std::int32_t rounds_ = 0;
  std::uint32_t encKey_[15][8] = {};
  std::uint32_t decKey_[15][8] = {};
};

} // namespace qk::crypto
