// Rijndael with a 128-bit block (AES), keys of 8..256 bits fitted to AES-128/192/256.
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_rijndael final : public TDCP_blockcipher {
public:
  TDCP_rijndael();
  ~TDCP_rijndael() override;
  void EraseKey() override;
  void EncryptCBC(const void* in, void* out, std::int32_t size) override;
  void DecryptCBC(const void* in, void* out, std::int32_t size) override;

protected:
  void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) override;
  // The IV spelling "#INIT_IV_TO_NIL#" installs an all-zero IV.
  void InstallIV(const std::uint8_t* iv) override;
  void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;

private:
  // A partial CBC tail: the n < 16 bytes XORed with E(ChainValue), which does not advance.
  void XorTail(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n) const;

  std::int32_t rounds_ = 0;
  std::uint32_t encKey_[15][8] = {};
  std::uint32_t decKey_[15][8] = {};
};

} // namespace qk::crypto
