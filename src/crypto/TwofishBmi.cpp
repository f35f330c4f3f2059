// Twofish CBC encryption with bit-field extracts (BMI1). CBC encryption is one chain of blocks, so
// its speed is the latency of a round. Two things shorten it here: the bytes of the table indices
// come out of a word in one instruction each, and the two words that a round rotates right by one
// are kept unrotated, their bytes taken from one bit higher, so that the rotation leaves the chain
// from one round to the next.
#include "crypto/Accel.h"
#include "crypto/WordIo.h"

#include <bit>

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define QK_TARGET_BMI __attribute__((target("bmi")))

namespace qk::crypto::accel {

namespace {

using Tables = const std::uint32_t (*)[256];

QK_TARGET_BMI inline std::uint32_t Field(std::uint32_t x, unsigned start) {
  return _bextr_u32(x, start, 8);
}

// g of ror(p, 1), read from p.
QK_TARGET_BMI inline std::uint32_t G0Ror1(Tables s, std::uint32_t p) {
  return s[0][Field(p, 1)] ^ s[1][Field(p, 9)] ^ s[2][Field(p, 17)] ^ s[3][std::rotr(p, 1) >> 24];
}
// g of rol(x, 8).
QK_TARGET_BMI inline std::uint32_t G1(Tables s, std::uint32_t x) {
  return s[0][x >> 24] ^ s[1][x & 0xFF] ^ s[2][Field(x, 8)] ^ s[3][Field(x, 16)];
}

// One round on words held so: pa and pc are the first and third words before their right rotation
// by one, b and d as they are.
QK_TARGET_BMI inline void Round(Tables s, const std::uint32_t* rk, std::uint32_t pa,
                                std::uint32_t b, std::uint32_t& pc, std::uint32_t& d) {
  const std::uint32_t t0 = G0Ror1(s, pa), t1 = G1(s, b);
  pc = std::rotr(pc, 1) ^ (t0 + t1 + rk[0]);
  d = std::rotl(d, 1) ^ (t0 + 2 * t1 + rk[1]);
}

} // namespace

QK_TARGET_BMI void TwofishEncryptCbc(const std::uint32_t* k, const std::uint32_t (*sbox)[256],
                                     std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                                     std::size_t blocks) {
  std::uint32_t c0 = Load32(chain), c1 = Load32(chain + 4), c2 = Load32(chain + 8),
                c3 = Load32(chain + 12);
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::uint8_t* p = in + 16 * i;
    std::uint32_t a = std::rotl(Load32(p) ^ c0 ^ k[0], 1);
    std::uint32_t b = Load32(p + 4) ^ c1 ^ k[1];
    std::uint32_t c = std::rotl(Load32(p + 8) ^ c2 ^ k[2], 1);
    std::uint32_t d = Load32(p + 12) ^ c3 ^ k[3];
#pragma GCC unroll 8
    for (int r = 8; r < 40; r += 4) {
      Round(sbox, k + r, a, b, c, d);
      Round(sbox, k + r + 2, c, d, a, b);
    }
    c0 = std::rotr(c, 1) ^ k[4];
    c1 = d ^ k[5];
    c2 = std::rotr(a, 1) ^ k[6];
    c3 = b ^ k[7];
    std::uint8_t* q = out + 16 * i;
    Store32(q, c0);
    Store32(q + 4, c1);
    Store32(q + 8, c2);
    Store32(q + 12, c3);
  }
  Store32(chain, c0);
  Store32(chain + 4, c1);
  Store32(chain + 8, c2);
  Store32(chain + 12, c3);
}

} // namespace qk::crypto::accel

#else

namespace qk::crypto::accel {
// Without these instructions the dispatch never selects this routine.
void TwofishEncryptCbc(const std::uint32_t*, const std::uint32_t (*)[256], std::uint8_t*,
                       const std::uint8_t*, std::uint8_t*, std::size_t) {}
} // namespace qk::crypto::accel

#endif
