// GOST 28147-89 in simple substitution form: 64-bit block, 256-bit key.
#pragma once

#include "crypto/CryptoBase.h"

namespace qk::crypto {

class TDCP_gost final : public TDCP_blockcipher {
public:
  TDCP_gost();
  ~TDCP_gost() override;
  void EraseKey() override;

protected:
  void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) override;
  void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const override;
  // The block transform inlined into the loop, decryption two blocks side by side.
  void EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;
  void DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) override;

private:
  std::uint32_t key_[8] = {}; // K0..K7
};

} // namespace qk::crypto
