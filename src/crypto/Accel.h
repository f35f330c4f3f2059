// Choice between the portable code of the primitives and routines that use the processor's
// instructions. Both produce the same bytes. The routines come in levels, each a set of
// instructions that processors tend to have together; the level is chosen once, at first use,
// as the highest one this processor has:
//   portable  the portable code alone;
//   aesni     AES-NI with SSSE3 and SSE4.1 (Rijndael, eight blocks in flight for CBC decryption),
//             and SHA-NI for SHA-1 where the processor has it besides (every processor with SHA-NI
//             has the rest of this level);
//   avx2      AVX2 with BMI1 and BMI2 besides (Twofish CBC both ways with bit-field extracts,
//             decryption sixteen blocks side by side, the table reads in the integer unit and
//             the rest of each round in vectors);
//   avx512    AVX-512 (F, BW) with VAES, GFNI and VBMI (Rijndael CBC decryption four blocks per
//             instruction, Twofish CBC decryption sixteen blocks at a time without table reads).
// Each level uses the routines of the levels below it where it has none of its own.
//
// QK_CRYPTO_LEVEL=portable|aesni|avx2|avx512 in the environment (read once) caps the level, for
// tests and benchmarks; a level above the processor's gives the processor's. Any other non-empty
// value is ignored: the processor's level is used and one line saying so goes to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qk::crypto {

enum class CpuLevel : int { Portable = 0, AesNi = 1, Avx2 = 2, Avx512 = 3 };

inline constexpr CpuLevel kCpuLevels[] = {CpuLevel::Portable, CpuLevel::AesNi, CpuLevel::Avx2,
                                          CpuLevel::Avx512};

// "portable", "aesni", "avx2", "avx512".
const char* CpuLevelName(CpuLevel level);
// The level of one of those names (exactly, lower case); none for anything else.
std::optional<CpuLevel> ParseCpuLevel(std::string_view name);

// What the value of QK_CRYPTO_LEVEL makes of the processor's level: the lower of the two, the
// processor's level when the value is absent or empty, and the processor's level with a complaint
// (one line, for standard error) when the value names no level.
CpuLevel CappedCpuLevel(CpuLevel processor, const char* value, std::string* complaint);

// The highest level this processor has.
CpuLevel ProcessorCpuLevel();
// The processor's level capped by QK_CRYPTO_LEVEL: the highest level this process may use.
CpuLevel CpuLevelCeiling();
// The level in use: the ceiling, lowered by SetCpuLevelCap.
CpuLevel ActiveCpuLevel();
// Lowers the level in use from now on (never above the ceiling); for tests that compare the
// levels. ResetCpuLevelCap returns to the ceiling.
void SetCpuLevelCap(CpuLevel cap);
void ResetCpuLevelCap();

namespace accel {

// Available on this processor at the level in use.
bool AesNi();
bool ShaNi();
bool Avx2();
bool Avx512();

// Rijndael. Round keys are rows of the cipher's schedule (the first 16 bytes of each row);
// enc[0..rounds] for encryption and dec[0..rounds] with InvMixColumns applied to rows
// 1..rounds-1 for decryption. chain is the 16-byte chaining value, updated.
void AesEncryptBlock(const std::uint32_t (*enc)[8], int rounds, const std::uint8_t* in,
                     std::uint8_t* out);
void AesDecryptBlock(const std::uint32_t (*dec)[8], int rounds, const std::uint8_t* in,
                     std::uint8_t* out);
void AesEncryptCbc(const std::uint32_t (*enc)[8], int rounds, std::uint8_t* chain,
                   const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);
// Eight blocks in flight through AES-NI; at the avx512 level thirty-two through VAES.
void AesDecryptCbc(const std::uint32_t (*dec)[8], int rounds, std::uint8_t* chain,
                   const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);

// Twofish CBC encryption of blocks (avx2 level), with the cipher's round keys and keyed S-box
// tables; updates chain. The buffers may be the same.
void TwofishEncryptCbc(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                       std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                       std::size_t blocks);
// Twofish CBC decryption of whole groups of blocks out of blocks: sixteen at a time in vectors
// without table reads (avx512 level), or sixteen at a time with the table reads in the integer
// unit and then four at a time for the rest (avx2 level). Returns the number of blocks done (a
// multiple of four at the avx2 level) and updates chain. The buffers may be the same.
std::size_t TwofishDecryptCbc16(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                                std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                                std::size_t blocks);
std::size_t TwofishDecryptCbcAvx2(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                                  std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                                  std::size_t blocks);

// SHA-1 compression of the 64-byte blocks at data into h.
void Sha1Compress(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks);

} // namespace accel
} // namespace qk::crypto
