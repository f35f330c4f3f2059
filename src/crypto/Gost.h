// GOST 28147-89 in simple substitution form: 64-bit block, 256-bit key.
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_gost final : public TDCP_blockcipher {
public:
  TDCP_gost();
  ~TDCP_gost() override;
  void EraseKey() override;

  // Same results as the shared CBC, with the block transform inlined into the loop.
  void EncryptCBC(const void* in, void* out, std::int32_t size) override;
  void DecryptCBC(const void* in, void* out, std::int32_t size) override;

protected:
  void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) override;
  void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;

private:
  std::uint32_t key_[8] = {}; // K0..K7
};

} // namespace qk::crypto
