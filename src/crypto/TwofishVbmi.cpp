// Twofish CBC decryption of sixteen blocks side by side in 512-bit vectors, without table reads
// indexed by data. A vector holds the same word of sixteen blocks. The g function is split into
// its keyed byte substitutions (byte permutes over four 256-byte tables held in vectors) and the
// MDS matrix (byte shuffles and GF(2^8) constant products through affine bit matrices).
#include "crypto/Accel.h"
#include "crypto/CryptoBase.h"
#include "platform/Hardening.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define QK_TARGET_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni")))

namespace qk::crypto::accel {

namespace {

using Tables = const std::uint32_t (*)[256];

// All lanes; the zero-masking forms of some instructions are used because the plain ones pass the
// compiler an undefined operand that it warns about.
constexpr __mmask16 kAll16 = 0xFFFF;
constexpr __mmask8 kAll8 = 0xFF;

// Product in GF(2^8) modulo the MDS polynomial x^8 + x^6 + x^5 + x^3 + 1.
constexpr unsigned MdsMul(unsigned a, unsigned b) {
  unsigned r = 0;
  for (; b; b >>= 1) {
    if (b & 1) r ^= a;
    a <<= 1;
    if (a & 0x100) a ^= 0x169;
  }
  return r;
}

// Multiplication by c as the bit matrix of the affine instruction: result bit i is the parity
// of the input bits selected by matrix byte 7 - i.
constexpr long long MulMatrix(unsigned c) {
  unsigned long long m = 0;
  for (int i = 0; i < 8; ++i) {
    unsigned row = 0;
    for (int k = 0; k < 8; ++k) row |= ((MdsMul(c, 1u << k) >> i) & 1u) << k;
    m |= static_cast<unsigned long long>(row) << (8 * (7 - i));
  }
  return static_cast<long long>(m);
}

// A shuffle mask that builds byte i of every word from byte from[i] of the same word (-1: zero).
QK_TARGET_VBMI inline __m512i WordShuffle(const int (&from)[4]) {
  alignas(64) std::int8_t bytes[64];
  for (int b = 0; b < 64; ++b) {
    const int src = from[b % 4];
    bytes[b] = static_cast<std::int8_t>(src < 0 ? -128 : (b % 16) - (b % 4) + src);
  }
  return _mm512_load_si512(bytes);
}

// The MDS matrix rows (01 EF 5B 5B), (5B EF EF 01), (EF 5B 01 EF), (EF 01 EF 5B) by constant:
// output byte i gathers the input bytes that its row multiplies by 01, EF and 5B.
struct Mds {
  __m512i one, ef0, ef1, x5b0, x5b1, mulEF, mul5B;
};

QK_TARGET_VBMI inline Mds MakeMds() {
  Mds m;
  m.one = WordShuffle({0, 3, 2, 1});
  m.ef0 = WordShuffle({1, 1, 0, 0});
  m.ef1 = WordShuffle({-1, 2, 3, 2});
  m.x5b0 = WordShuffle({2, 0, 1, 3});
  m.x5b1 = WordShuffle({3, -1, -1, -1});
  m.mulEF = _mm512_set1_epi64(MulMatrix(0xEF));
  m.mul5B = _mm512_set1_epi64(MulMatrix(0x5B));
  return m;
}

QK_TARGET_VBMI inline __m512i MixColumns(const Mds& m, __m512i y) {
  const __m512i e = _mm512_xor_si512(_mm512_shuffle_epi8(y, m.ef0), _mm512_shuffle_epi8(y, m.ef1));
  const __m512i f =
      _mm512_xor_si512(_mm512_shuffle_epi8(y, m.x5b0), _mm512_shuffle_epi8(y, m.x5b1));
  return _mm512_ternarylogic_epi64(_mm512_shuffle_epi8(y, m.one),
                                   _mm512_gf2p8affine_epi64_epi8(e, m.mulEF, 0),
                                   _mm512_gf2p8affine_epi64_epi8(f, m.mul5B, 0), 0x96);
}

// boxes[j][q]: entries 64q..64q+63 of the keyed byte substitution for input byte j, which is the
// byte of the cipher's table j that the MDS column multiplies by 01 (bytes 0, 3, 2, 1).
QK_TARGET_VBMI inline void LoadBoxes(Tables s, __m512i (&boxes)[4][4]) {
  constexpr unsigned kShift[4] = {0, 24, 16, 8};
  for (int j = 0; j < 4; ++j) {
    for (int q = 0; q < 4; ++q) {
      __m128i part[4];
      for (int i = 0; i < 4; ++i) {
        const __m512i words = _mm512_loadu_si512(&s[j][64 * q + 16 * i]);
        part[i] =
            _mm512_maskz_cvtepi32_epi8(kAll16, _mm512_maskz_srli_epi32(kAll16, words, kShift[j]));
      }
      __m512i v = _mm512_zextsi128_si512(part[0]);
      v = _mm512_inserti32x4(v, part[1], 1);
      v = _mm512_inserti32x4(v, part[2], 2);
      v = _mm512_inserti32x4(v, part[3], 3);
      boxes[j][q] = v;
    }
  }
}

// Byte j of every word through box j.
// Even bytes through box j, odd bytes through box j + 1.
QK_TARGET_VBMI inline __m512i SubBytes2(const __m512i (&boxes)[4][4], int j, __m512i x) {
  const __mmask64 high = _mm512_movepi8_mask(x);
  const __m512i v0 =
      _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(boxes[j][0], x, boxes[j][1]),
                             _mm512_permutex2var_epi8(boxes[j][2], x, boxes[j][3]));
  const __m512i v1 =
      _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(boxes[j + 1][0], x, boxes[j + 1][1]),
                             _mm512_permutex2var_epi8(boxes[j + 1][2], x, boxes[j + 1][3]));
  return _mm512_mask_blend_epi8(0xAAAAAAAAAAAAAAAAULL, v0, v1);
}

// Byte j of every word of x1 and of x2 through box j. The low halves of the words of both go
// through boxes 0 and 1 together and the high halves through boxes 2 and 3, so that no table
// lookup is wasted on bytes of the wrong position.
QK_TARGET_VBMI inline void SubBytes(const __m512i (&boxes)[4][4], __m512i x1, __m512i x2,
                                    __m512i& y1, __m512i& y2) {
  constexpr __mmask32 kHighHalves = 0xAAAAAAAA;
  const __m512i lows =
      _mm512_mask_blend_epi16(kHighHalves, x1, _mm512_maskz_slli_epi32(kAll16, x2, 16));
  const __m512i highs =
      _mm512_mask_blend_epi16(kHighHalves, _mm512_maskz_srli_epi32(kAll16, x2, 16), x1);
  const __m512i r0 = SubBytes2(boxes, 0, lows);  // x1 bytes 0 1, x2 bytes 0 1
  const __m512i r2 = SubBytes2(boxes, 2, highs); // x2 bytes 2 3, x1 bytes 2 3
  y1 = _mm512_mask_blend_epi16(kHighHalves, r0, r2);
  y2 = _mm512_maskz_rol_epi32(kAll16, _mm512_mask_blend_epi16(kHighHalves, r2, r0), 16);
}

QK_TARGET_VBMI inline __m512i Key(const std::uint32_t* k, int i) {
  return _mm512_set1_epi32(static_cast<int>(k[i]));
}

// One decryption round: F of (a, b) taken out of (c, d) with round keys k[r], k[r + 1].
QK_TARGET_VBMI inline void DecRound(const __m512i (&boxes)[4][4], const Mds& m,
                                    const std::uint32_t* k, int r, __m512i a, __m512i b, __m512i& c,
                                    __m512i& d) {
  __m512i y0, y1;
  SubBytes(boxes, a, _mm512_maskz_rol_epi32(kAll16, b, 8), y0, y1);
  const __m512i t0 = MixColumns(m, y0);
  const __m512i t1 = MixColumns(m, y1);
  const __m512i sum = _mm512_add_epi32(t0, t1);
  c = _mm512_xor_si512(_mm512_maskz_rol_epi32(kAll16, c, 1), _mm512_add_epi32(sum, Key(k, r)));
  d = _mm512_maskz_ror_epi32(
      kAll16, _mm512_xor_si512(d, _mm512_add_epi32(_mm512_add_epi32(sum, t1), Key(k, r + 1))), 1);
}

// Four vectors of four blocks each become the four words of the sixteen blocks, and back: the
// exchange works within 128-bit lanes and is its own inverse.
QK_TARGET_VBMI inline void Transpose(__m512i& r0, __m512i& r1, __m512i& r2, __m512i& r3) {
  const __m512i t0 = _mm512_maskz_unpacklo_epi32(kAll16, r0, r1);
  const __m512i t1 = _mm512_maskz_unpackhi_epi32(kAll16, r0, r1);
  const __m512i t2 = _mm512_maskz_unpacklo_epi32(kAll16, r2, r3);
  const __m512i t3 = _mm512_maskz_unpackhi_epi32(kAll16, r2, r3);
  r0 = _mm512_maskz_unpacklo_epi64(kAll8, t0, t2);
  r1 = _mm512_maskz_unpackhi_epi64(kAll8, t0, t2);
  r2 = _mm512_maskz_unpacklo_epi64(kAll8, t1, t3);
  r3 = _mm512_maskz_unpackhi_epi64(kAll8, t1, t3);
}

QK_TARGET_VBMI std::size_t DecryptCbc16(const std::uint32_t* k, Tables s, std::uint8_t* chain,
                                        const std::uint8_t* in, std::uint8_t* out,
                                        std::size_t blocks) {
  __m512i boxes[4][4];
  LoadBoxes(s, boxes);
  const Mds m = MakeMds();
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  std::size_t i = 0;
  for (; i + 16 <= blocks; i += 16) {
    const std::uint8_t* p = in + 16 * i;
    __m512i w0 = _mm512_loadu_si512(p), w1 = _mm512_loadu_si512(p + 64);
    __m512i w2 = _mm512_loadu_si512(p + 128), w3 = _mm512_loadu_si512(p + 192);
    Transpose(w0, w1, w2, w3);
    __m512i wc = _mm512_xor_si512(w0, Key(k, 4));
    __m512i wd = _mm512_xor_si512(w1, Key(k, 5));
    __m512i wa = _mm512_xor_si512(w2, Key(k, 6));
    __m512i wb = _mm512_xor_si512(w3, Key(k, 7));
    for (int r = 38; r > 8; r -= 4) {
      DecRound(boxes, m, k, r, wc, wd, wa, wb);
      DecRound(boxes, m, k, r - 2, wa, wb, wc, wd);
    }
    w0 = _mm512_xor_si512(wa, Key(k, 0));
    w1 = _mm512_xor_si512(wb, Key(k, 1));
    w2 = _mm512_xor_si512(wc, Key(k, 2));
    w3 = _mm512_xor_si512(wd, Key(k, 3));
    Transpose(w0, w1, w2, w3);
    // Each block is XORed with the ciphertext before it; all loads precede the stores.
    const __m512i first = _mm512_maskz_alignr_epi32(0xFFFF, _mm512_loadu_si512(p),
                                                    _mm512_maskz_broadcast_i32x4(0xFFFF, c), 12);
    w0 = _mm512_xor_si512(w0, first);
    w1 = _mm512_xor_si512(w1, _mm512_loadu_si512(p + 48));
    w2 = _mm512_xor_si512(w2, _mm512_loadu_si512(p + 112));
    w3 = _mm512_xor_si512(w3, _mm512_loadu_si512(p + 176));
    c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 240));
    std::uint8_t* q = out + 16 * i;
    _mm512_storeu_si512(q, w0);
    _mm512_storeu_si512(q + 64, w1);
    _mm512_storeu_si512(q + 128, w2);
    _mm512_storeu_si512(q + 192, w3);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), c);
  // The byte tables are key material.
  platform::SecureZero(boxes, sizeof boxes);
  return i;
}

} // namespace

std::size_t TwofishDecryptCbc16(const std::uint32_t* subKeys, const std::uint32_t (*sbox)[256],
                                std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                                std::size_t blocks) {
  return DecryptCbc16(subKeys, sbox, chain, in, out, blocks);
}

} // namespace qk::crypto::accel

#else

namespace qk::crypto::accel {
// Without these instructions the dispatch never selects this routine.
std::size_t TwofishDecryptCbc16(const std::uint32_t*, const std::uint32_t (*)[256], std::uint8_t*,
                                const std::uint8_t*, std::uint8_t*, std::size_t) {
  return 0;
}
} // namespace qk::crypto::accel

#endif
