// Choice between the portable code of the primitives and routines that use the processor's
// instructions (AES-NI, VAES, SHA-NI, AVX-512). Both produce the same bytes; the portable code runs
// where the processor lacks the instructions or when the accelerated routines are switched off,
// either by QK_CRYPTO_PORTABLE=1 in the environment (read once) or by ForcePortable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qk::crypto {

// true: every primitive uses its portable code from now on; false: the accelerated routines
// where the processor has them. Meant for tests that compare both.
void ForcePortable(bool portable);

namespace accel {

// false keeps the routines on 512-bit vectors out of use while the 128-bit ones stay
// available, so that tests reach both on a processor that has all of them. true by default.
void AllowWide(bool allow);

// Available on this processor and not switched off.
bool AesNi();
bool Vaes512();
bool ShaNi();
// AVX-512 with byte permutes (VBMI) and GF(2^8) affine products (GFNI).
bool Vbmi512();
// Bit-field extracts (BMI1).
bool Bmi();

// Rijndael. Round keys are rows of the cipher's schedule (the first 16 bytes of each row);
// enc[0..rounds] for encryption and dec[0..rounds] with InvMixColumns applied to rows
// 1..rounds-1 for decryption. chain is the 16-byte chaining value, updated.
void AesEncryptBlock(const std::uint32_t (*enc)[8], int rounds, const std::uint8_t* in,
                     std::uint8_t* out);
void AesDecryptBlock(const std::uint32_t (*dec)[8], int rounds, const std::uint8_t* in,
                     std::uint8_t* out);
void AesEncryptCbc(const std::uint32_t (*enc)[8], int rounds, std::uint8_t* chain,
                   const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);
void AesDecryptCbc(const std::uint32_t (*dec)[8], int rounds, std::uint8_t* chain,
                   const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);

// Twofish CBC encryption of blocks, with the cipher's round keys and keyed S-box tables; updates
// chain. The buffers may be the same.
void TwofishEncryptCbc(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                       std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                       std::size_t blocks);
// Twofish CBC decryption of whole groups of sixteen blocks out of blocks, with the cipher's round
// keys and keyed S-box tables; returns the number of blocks done and updates chain.
std::size_t TwofishDecryptCbc(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                              std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                              std::size_t blocks);

// SHA-1 compression of the 64-byte blocks at data into h.
void Sha1Compress(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks);

} // namespace accel
} // namespace qk::crypto
