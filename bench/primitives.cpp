// Throughput of our CBC ciphers and SHA-1 against Crypto++, OpenSSL libcrypto and libgcrypt.
// Every case works on 8192-byte pieces in place, the piece size of the file engine; the CBC
// chain continues from one piece to the next. Benchmark names are "<library>/<operation>".
#include "crypto/Accel.h"
#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"
#include "crypto/Twofish.h"

#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/gost.h>
#include <cryptopp/modes.h>
#include <cryptopp/sha.h>
#include <cryptopp/twofish.h>
#include <openssl/evp.h>

#if defined(QK_BENCH_GCRYPT)
#include <gcrypt.h>
#endif

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace qk::crypto;

constexpr std::size_t kPiece = 8192;

// The file key: SHA-1 of the password followed by twelve 0xFF bytes.
std::array<std::uint8_t, 32> FileKey() {
  std::array<std::uint8_t, 32> key{};
  TDCP_sha1 sha;
  sha.Init();
  sha.UpdateText("benchmark password");
  sha.Final(key.data());
  std::memset(key.data() + 20, 0xFF, 12);
  return key;
}

const std::array<std::uint8_t, 32> kKey = FileKey();

// Random-looking contents; the values do not matter for speed.
std::vector<std::uint8_t> Piece() {
  std::vector<std::uint8_t> piece(kPiece);
  std::uint32_t x = 0x12345678;
  for (auto& b : piece) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return piece;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPiece));
}

// ---- ours ----

template <typename Cipher, bool Encrypt> void Ours(benchmark::State& state) {
  Cipher cipher;
  cipher.Init(kKey.data(), 256, nullptr);
  auto piece = Piece();
  for (auto _ : state) {
    if constexpr (Encrypt) {
      cipher.EncryptCBC(piece.data(), piece.data(), static_cast<std::int32_t>(kPiece));
    } else {
      cipher.DecryptCBC(piece.data(), piece.data(), static_cast<std::int32_t>(kPiece));
    }
    benchmark::DoNotOptimize(piece.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void OursSha1(benchmark::State& state) {
  TDCP_sha1 sha;
  sha.Init();
  const auto piece = Piece();
  for (auto _ : state) {
    sha.Update(piece.data(), static_cast<std::int32_t>(kPiece));
    benchmark::ClobberMemory();
  }
  std::uint8_t digest[20];
  sha.Final(digest);
  benchmark::DoNotOptimize(digest);
  Finish(state);
}

// ---- Crypto++ ----

template <typename Block, bool Encrypt> void CppCipher(benchmark::State& state) {
  using Mode = std::conditional_t<Encrypt, typename CryptoPP::CBC_Mode<Block>::Encryption,
                                  typename CryptoPP::CBC_Mode<Block>::Decryption>;
  const std::vector<std::uint8_t> iv(Block::BLOCKSIZE, 0x5A);
  Mode mode(kKey.data(), kKey.size(), iv.data());
  auto piece = Piece();
  for (auto _ : state) {
    mode.ProcessData(piece.data(), piece.data(), kPiece);
    benchmark::DoNotOptimize(piece.data());
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void CppSha1(benchmark::State& state) {
  CryptoPP::SHA1 sha;
  const auto piece = Piece();
  for (auto _ : state) {
    sha.Update(piece.data(), kPiece);
    benchmark::ClobberMemory();
  }
  std::uint8_t digest[CryptoPP::SHA1::DIGESTSIZE];
  sha.Final(digest);
  benchmark::DoNotOptimize(digest);
  Finish(state);
}

// ---- OpenSSL libcrypto ----

template <bool Encrypt> void OpenSslAes(benchmark::State& state) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {0x5A};
  if (ctx == nullptr ||
      EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, kKey.data(), iv, Encrypt ? 1 : 0) != 1) {
    state.SkipWithError("EVP_CipherInit_ex failed");
    EVP_CIPHER_CTX_free(ctx);
    return;
  }
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  auto piece = Piece();
  for (auto _ : state) {
    int outLen = 0;
    if (EVP_CipherUpdate(ctx, piece.data(), &outLen, piece.data(), static_cast<int>(kPiece)) != 1 ||
        outLen != static_cast<int>(kPiece)) {
      state.SkipWithError("EVP_CipherUpdate failed");
      break;
    }
    benchmark::DoNotOptimize(piece.data());
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  Finish(state);
}

void OpenSslSha1(benchmark::State& state) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx == nullptr || EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) != 1) {
    state.SkipWithError("EVP_DigestInit_ex failed");
    EVP_MD_CTX_free(ctx);
    return;
  }
  const auto piece = Piece();
  for (auto _ : state) {
    EVP_DigestUpdate(ctx, piece.data(), kPiece);
    benchmark::ClobberMemory();
  }
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, digest, &length);
  benchmark::DoNotOptimize(digest);
  EVP_MD_CTX_free(ctx);
  Finish(state);
}

// ---- libgcrypt ----

#if defined(QK_BENCH_GCRYPT)

bool GcryptReady() {
  static const bool ready = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

template <int Algorithm, bool Encrypt> void Gcrypt(benchmark::State& state) {
  gcry_cipher_hd_t handle = nullptr;
  if (!GcryptReady() || gcry_cipher_open(&handle, Algorithm, GCRY_CIPHER_MODE_CBC, 0) != 0) {
    state.SkipWithError("gcry_cipher_open failed");
    return;
  }
  const std::size_t blockBytes = gcry_cipher_get_algo_blklen(Algorithm);
  const std::vector<std::uint8_t> iv(blockBytes, 0x5A);
  if (gcry_cipher_setkey(handle, kKey.data(), kKey.size()) != 0 ||
      gcry_cipher_setiv(handle, iv.data(), iv.size()) != 0) {
    state.SkipWithError("gcry_cipher_setkey failed");
    gcry_cipher_close(handle);
    return;
  }
  auto piece = Piece();
  for (auto _ : state) {
    const gcry_error_t error = Encrypt
                                   ? gcry_cipher_encrypt(handle, piece.data(), kPiece, nullptr, 0)
                                   : gcry_cipher_decrypt(handle, piece.data(), kPiece, nullptr, 0);
    if (error != 0) {
      state.SkipWithError("gcry_cipher_encrypt failed");
      break;
    }
    benchmark::DoNotOptimize(piece.data());
    benchmark::ClobberMemory();
  }
  gcry_cipher_close(handle);
  Finish(state);
}

void GcryptSha1(benchmark::State& state) {
  gcry_md_hd_t handle = nullptr;
  if (!GcryptReady() || gcry_md_open(&handle, GCRY_MD_SHA1, 0) != 0) {
    state.SkipWithError("gcry_md_open failed");
    return;
  }
  const auto piece = Piece();
  for (auto _ : state) {
    gcry_md_write(handle, piece.data(), kPiece);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(gcry_md_read(handle, GCRY_MD_SHA1));
  gcry_md_close(handle);
  Finish(state);
}

#endif

// Registered by hand so that the names read "<library>/<operation>".
void Register(const std::string& library, const std::string& operation,
              void (*function)(benchmark::State&)) {
  benchmark::RegisterBenchmark((library + "/" + operation).c_str(), function);
}

void RegisterAll() {
  Register("ours", "twofish_encrypt_cbc", Ours<TDCP_twofish, true>);
  Register("ours", "twofish_decrypt_cbc", Ours<TDCP_twofish, false>);
  Register("ours", "rijndael_encrypt_cbc", Ours<TDCP_rijndael, true>);
  Register("ours", "rijndael_decrypt_cbc", Ours<TDCP_rijndael, false>);
  Register("ours", "gost_encrypt_cbc", Ours<TDCP_gost, true>);
  Register("ours", "gost_decrypt_cbc", Ours<TDCP_gost, false>);
  Register("ours", "sha1_update", OursSha1);

  Register("cryptopp", "twofish_encrypt_cbc", CppCipher<CryptoPP::Twofish, true>);
  Register("cryptopp", "twofish_decrypt_cbc", CppCipher<CryptoPP::Twofish, false>);
  Register("cryptopp", "rijndael_encrypt_cbc", CppCipher<CryptoPP::AES, true>);
  Register("cryptopp", "rijndael_decrypt_cbc", CppCipher<CryptoPP::AES, false>);
  Register("cryptopp", "gost_encrypt_cbc", CppCipher<CryptoPP::GOST, true>);
  Register("cryptopp", "gost_decrypt_cbc", CppCipher<CryptoPP::GOST, false>);
  Register("cryptopp", "sha1_update", CppSha1);

  Register("openssl", "rijndael_encrypt_cbc", OpenSslAes<true>);
  Register("openssl", "rijndael_decrypt_cbc", OpenSslAes<false>);
  Register("openssl", "sha1_update", OpenSslSha1);

#if defined(QK_BENCH_GCRYPT)
  Register("gcrypt", "twofish_encrypt_cbc", Gcrypt<GCRY_CIPHER_TWOFISH, true>);
  Register("gcrypt", "twofish_decrypt_cbc", Gcrypt<GCRY_CIPHER_TWOFISH, false>);
  Register("gcrypt", "rijndael_encrypt_cbc", Gcrypt<GCRY_CIPHER_AES256, true>);
  Register("gcrypt", "rijndael_decrypt_cbc", Gcrypt<GCRY_CIPHER_AES256, false>);
  Register("gcrypt", "gost_encrypt_cbc", Gcrypt<GCRY_CIPHER_GOST28147, true>);
  Register("gcrypt", "gost_decrypt_cbc", Gcrypt<GCRY_CIPHER_GOST28147, false>);
  Register("gcrypt", "sha1_update", GcryptSha1);
#endif
}

} // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::AddCustomContext("qk_crypto_level", CpuLevelName(ActiveCpuLevel()));
  benchmark::AddCustomContext("qk_processor_level", CpuLevelName(ProcessorCpuLevel()));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
