#include "crypto/CryptoBase.h"

#include "platform/Hardening.h"

#include <cstring>

namespace qk::crypto {

void TDCP_hash::UpdateText(std::string_view text) {
  Update(text.data(), static_cast<std::int32_t>(text.size()));
}

void TDCP_blockcipher::Init(const void* key, std::int32_t sizeBits, const void* iv) {
  if (initialized_) EraseKey();
  if (sizeBits > maxKeySizeBits_ || sizeBits <= 0 || sizeBits % 8 != 0) {
    EraseKey();
    throw CryptoError(algorithm_ + ": Invalid key size - " + std::to_string(sizeBits));
  }
  std::uint8_t key32[32] = {};
  std::memcpy(key32, key, static_cast<std::size_t>(sizeBits / 8));
  InstallKey(key32, sizeBits);
  platform::SecureZero(key32, sizeof key32);

  if (iv) {
    InstallIV(static_cast<const std::uint8_t*>(iv));
  } else {
    std::memset(iv_, 0xFF, sizeof iv_);
    EncryptRaw(iv_, iv_);
  }
  std::memcpy(chain_, iv_, sizeof chain_);
  initialized_ = true;
}

void TDCP_blockcipher::InstallIV(const std::uint8_t* iv) {
  std::memcpy(iv_, iv, static_cast<std::size_t>(BlockBytes()));
}

void TDCP_blockcipher::ResetChain() {
  std::memcpy(chain_, iv_, sizeof chain_);
}

void TDCP_blockcipher::SetChain(const void* block) {
  std::memcpy(chain_, block, static_cast<std::size_t>(BlockBytes()));
}

void TDCP_blockcipher::CheckInitialized() const {
  if (!initialized_) throw CryptoError(algorithm_ + ": Not initialized");
}

void TDCP_blockcipher::EraseChain() {
  platform::SecureFill(iv_, 0xFF, sizeof iv_);
  platform::SecureFill(chain_, 0xFF, sizeof chain_);
  initialized_ = false;
}

void TDCP_blockcipher::EncryptBlock(const void* in, void* out) {
  CheckInitialized();
  EncryptRaw(static_cast<const std::uint8_t*>(in), static_cast<std::uint8_t*>(out));
}

void TDCP_blockcipher::DecryptBlock(const void* in, void* out) {
  CheckInitialized();
  DecryptRaw(static_cast<const std::uint8_t*>(in), static_cast<std::uint8_t*>(out));
}

void TDCP_blockcipher::EncryptCBC(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  if (size <= 0) return;
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  const std::int32_t whole = size / BlockBytes() * BlockBytes();
  EncryptBlocksCBC(src, dst, static_cast<std::size_t>(whole / BlockBytes()));
  XorTail(src + whole, dst + whole, size - whole);
}

void TDCP_blockcipher::DecryptCBC(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  if (size <= 0) return;
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  const std::int32_t whole = size / BlockBytes() * BlockBytes();
  DecryptBlocksCBC(src, dst, static_cast<std::size_t>(whole / BlockBytes()));
  XorTail(src + whole, dst + whole, size - whole);
}

void TDCP_blockcipher::XorTail(const std::uint8_t* in, std::uint8_t* out, std::int32_t n) const {
  if (n <= 0) return;
  std::uint8_t pad[kMaxBlockBytes];
  EncryptRaw(chain_, pad);
  for (std::int32_t j = 0; j < n; ++j) out[j] = in[j] ^ pad[j];
  platform::SecureFill(pad, 0xFF, sizeof pad);
}

void TDCP_blockcipher::EncryptCFB8(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  const int b = BlockBytes();
  std::uint8_t k[kMaxBlockBytes];
  for (std::int32_t i = 0; i < size; ++i) {
    EncryptRaw(chain_, k);
    const std::uint8_t c = src[i] ^ k[0];
    dst[i] = c;
    std::memmove(chain_, chain_ + 1, static_cast<std::size_t>(b - 1));
    chain_[b - 1] = c;
  }
  platform::SecureFill(k, 0xFF, sizeof k);
}

void TDCP_blockcipher::DecryptCFB8(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  const int b = BlockBytes();
  std::uint8_t k[kMaxBlockBytes];
  for (std::int32_t i = 0; i < size; ++i) {
    const std::uint8_t c = src[i];
    EncryptRaw(chain_, k);
    dst[i] = c ^ k[0];
    std::memmove(chain_, chain_ + 1, static_cast<std::size_t>(b - 1));
    chain_[b - 1] = c;
  }
  platform::SecureFill(k, 0xFF, sizeof k);
}

} // namespace qk::crypto
