// Rijndael through AES-NI (one block per instruction) and VAES on 512-bit vectors (four blocks
// per instruction). The round keys come from the portable key schedule: its rows hold each round
// key in the byte order the instructions expect, and its decryption rows are those of the
// equivalent inverse cipher that AESDEC implements.
#include "crypto/Accel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define QK_TARGET_AES __attribute__((target("aes,sse4.1")))
#define QK_TARGET_VAES __attribute__((target("aes,sse4.1,avx512f,vaes")))

namespace qk::crypto::accel {

namespace {

using Rows = const std::uint32_t (*)[8];

QK_TARGET_AES inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

QK_TARGET_AES inline void Store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

template <int R> QK_TARGET_AES inline __m128i EncryptOne(Rows enc, __m128i x) {
  x = _mm_xor_si128(x, Load(enc[0]));
#pragma GCC unroll 14
  for (int r = 1; r < R; ++r) x = _mm_aesenc_si128(x, Load(enc[r]));
  return _mm_aesenclast_si128(x, Load(enc[R]));
}

template <int R> QK_TARGET_AES inline __m128i DecryptOne(Rows dec, __m128i x) {
  x = _mm_xor_si128(x, Load(dec[R]));
#pragma GCC unroll 14
  for (int r = R - 1; r > 0; --r) x = _mm_aesdec_si128(x, Load(dec[r]));
  return _mm_aesdeclast_si128(x, Load(dec[0]));
}

// Each block waits for the one before. The first round key and the next plaintext block are
// folded into the last round key, so that the chain runs through the AES rounds alone:
// AESENCLAST(s, K ^ P') = AESENCLAST(s, K) ^ P'.
template <int R>
QK_TARGET_AES void EncryptCbc(Rows enc, std::uint8_t* chain, const std::uint8_t* in,
                              std::uint8_t* out, std::size_t blocks) {
  __m128i k[R + 1];
#pragma GCC unroll 15
  for (int r = 0; r <= R; ++r) k[r] = Load(enc[r]);
  __m128i c = Load(chain);
  __m128i s = _mm_xor_si128(_mm_xor_si128(Load(in), k[0]), c);
  for (std::size_t i = 0; i < blocks; ++i) {
#pragma GCC unroll 14
    for (int r = 1; r < R; ++r) s = _mm_aesenc_si128(s, k[r]);
    if (i + 1 < blocks) {
      const __m128i next = _mm_xor_si128(Load(in + 16 * (i + 1)), k[0]);
      s = _mm_aesenclast_si128(s, _mm_xor_si128(k[R], next));
      Store(out + 16 * i, _mm_xor_si128(s, next));
    } else {
      c = _mm_aesenclast_si128(s, k[R]);
      Store(out + 16 * i, c);
    }
  }
  Store(chain, c);
}

// Decrypts blocks [i, blocks) one at a time; c is the ciphertext before block i.
template <int R>
QK_TARGET_AES inline __m128i DecryptCbcSingles(Rows dec, __m128i c, const std::uint8_t* in,
                                               std::uint8_t* out, std::size_t i,
                                               std::size_t blocks) {
  for (; i < blocks; ++i) {
    const __m128i x = Load(in + 16 * i);
    Store(out + 16 * i, _mm_xor_si128(DecryptOne<R>(dec, x), c));
    c = x;
  }
  return c;
}

// Eight independent blocks in flight. Every load of a group comes before its stores, so the
// buffers may be the same.
template <int R>
QK_TARGET_AES void DecryptCbc(Rows dec, std::uint8_t* chain, const std::uint8_t* in,
                              std::uint8_t* out, std::size_t blocks) {
  constexpr int kWays = 8;
  __m128i c = Load(chain);
  std::size_t i = 0;
  for (; i + kWays <= blocks; i += kWays) {
    const std::uint8_t* p = in + 16 * i;
    __m128i x[kWays];
    const __m128i first = Load(dec[R]);
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) x[j] = _mm_xor_si128(Load(p + 16 * j), first);
#pragma GCC unroll 14
    for (int r = R - 1; r > 0; --r) {
      const __m128i k = Load(dec[r]);
#pragma GCC unroll 8
      for (int j = 0; j < kWays; ++j) x[j] = _mm_aesdec_si128(x[j], k);
    }
    const __m128i last = Load(dec[0]);
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) x[j] = _mm_aesdeclast_si128(x[j], last);
    x[0] = _mm_xor_si128(x[0], c);
#pragma GCC unroll 8
    for (int j = 1; j < kWays; ++j) x[j] = _mm_xor_si128(x[j], Load(p + 16 * (j - 1)));
    c = Load(p + 16 * (kWays - 1));
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) Store(out + 16 * (i + j), x[j]);
  }
  Store(chain, DecryptCbcSingles<R>(dec, c, in, out, i, blocks));
}

// The block in all four lanes. (The masked forms avoid the undefined operand of the plain ones.)
QK_TARGET_VAES inline __m512i Broadcast(__m128i x) {
  return _mm512_maskz_broadcast_i32x4(0xFFFF, x);
}

// The top block of b followed by the lower three of a.
QK_TARGET_VAES inline __m512i ShiftInBlock(__m512i a, __m512i b) {
  return _mm512_maskz_alignr_epi32(0xFFFF, a, b, 12);
}

// Thirty-two blocks in flight in eight 512-bit vectors, then groups of four.
template <int R>
QK_TARGET_VAES void DecryptCbcWide(Rows dec, std::uint8_t* chain, const std::uint8_t* in,
                                   std::uint8_t* out, std::size_t blocks) {
  constexpr int kWays = 8;
  __m512i k[R + 1];
#pragma GCC unroll 15
  for (int r = 0; r <= R; ++r) k[r] = Broadcast(Load(dec[r]));
  __m128i c = Load(chain);
  std::size_t i = 0;
  for (; i + 4 * kWays <= blocks; i += 4 * kWays) {
    const std::uint8_t* p = in + 16 * i;
    __m512i x[kWays];
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) x[j] = _mm512_xor_si512(_mm512_loadu_si512(p + 64 * j), k[R]);
#pragma GCC unroll 14
    for (int r = R - 1; r > 0; --r) {
#pragma GCC unroll 8
      for (int j = 0; j < kWays; ++j) x[j] = _mm512_aesdec_epi128(x[j], k[r]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) x[j] = _mm512_aesdeclast_epi128(x[j], k[0]);
    // The ciphertexts one block back: the chaining value, then the group shifted by a block.
    const __m512i first = ShiftInBlock(_mm512_loadu_si512(p), Broadcast(c));
    x[0] = _mm512_xor_si512(x[0], first);
#pragma GCC unroll 8
    for (int j = 1; j < kWays; ++j)
      x[j] = _mm512_xor_si512(x[j], _mm512_loadu_si512(p + 64 * j - 16));
    c = Load(p + 16 * (4 * kWays - 1));
#pragma GCC unroll 8
    for (int j = 0; j < kWays; ++j) _mm512_storeu_si512(out + 16 * i + 64 * j, x[j]);
  }
  for (; i + 4 <= blocks; i += 4) {
    const std::uint8_t* p = in + 16 * i;
    const __m512i y = _mm512_loadu_si512(p);
    __m512i x = _mm512_xor_si512(y, k[R]);
#pragma GCC unroll 14
    for (int r = R - 1; r > 0; --r) x = _mm512_aesdec_epi128(x, k[r]);
    x = _mm512_aesdeclast_epi128(x, k[0]);
    x = _mm512_xor_si512(x, ShiftInBlock(y, Broadcast(c)));
    c = Load(p + 48);
    _mm512_storeu_si512(out + 16 * i, x);
  }
  Store(chain, DecryptCbcSingles<R>(dec, c, in, out, i, blocks));
}

QK_TARGET_AES void EncryptBlockAny(Rows enc, int rounds, const std::uint8_t* in,
                                   std::uint8_t* out) {
  const __m128i x = Load(in);
  switch (rounds) {
  case 10:
    Store(out, EncryptOne<10>(enc, x));
    break;
  case 12:
    Store(out, EncryptOne<12>(enc, x));
    break;
  default:
    Store(out, EncryptOne<14>(enc, x));
    break;
  }
}

QK_TARGET_AES void DecryptBlockAny(Rows dec, int rounds, const std::uint8_t* in,
                                   std::uint8_t* out) {
  const __m128i x = Load(in);
  switch (rounds) {
  case 10:
    Store(out, DecryptOne<10>(dec, x));
    break;
  case 12:
    Store(out, DecryptOne<12>(dec, x));
    break;
  default:
    Store(out, DecryptOne<14>(dec, x));
    break;
  }
}

} // namespace

void AesEncryptBlock(Rows enc, int rounds, const std::uint8_t* in, std::uint8_t* out) {
  EncryptBlockAny(enc, rounds, in, out);
}

void AesDecryptBlock(Rows dec, int rounds, const std::uint8_t* in, std::uint8_t* out) {
  DecryptBlockAny(dec, rounds, in, out);
}

void AesEncryptCbc(Rows enc, int rounds, std::uint8_t* chain, const std::uint8_t* in,
                   std::uint8_t* out, std::size_t blocks) {
  if (blocks == 0) return;
  switch (rounds) {
  case 10:
    EncryptCbc<10>(enc, chain, in, out, blocks);
    break;
  case 12:
    EncryptCbc<12>(enc, chain, in, out, blocks);
    break;
  default:
    EncryptCbc<14>(enc, chain, in, out, blocks);
    break;
  }
}

void AesDecryptCbc(Rows dec, int rounds, std::uint8_t* chain, const std::uint8_t* in,
                   std::uint8_t* out, std::size_t blocks) {
  if (Avx512()) {
    switch (rounds) {
    case 10:
      DecryptCbcWide<10>(dec, chain, in, out, blocks);
      break;
    case 12:
      DecryptCbcWide<12>(dec, chain, in, out, blocks);
      break;
    default:
      DecryptCbcWide<14>(dec, chain, in, out, blocks);
      break;
    }
    return;
  }
  switch (rounds) {
  case 10:
    DecryptCbc<10>(dec, chain, in, out, blocks);
    break;
  case 12:
    DecryptCbc<12>(dec, chain, in, out, blocks);
    break;
  default:
    DecryptCbc<14>(dec, chain, in, out, blocks);
    break;
  }
}

} // namespace qk::crypto::accel

#else

// Without these instructions the dispatch never selects the routines below.
namespace qk::crypto::accel {
void AesEncryptBlock(const std::uint32_t (*)[8], int, const std::uint8_t*, std::uint8_t*) {}
void AesDecryptBlock(const std::uint32_t (*)[8], int, const std::uint8_t*, std::uint8_t*) {}
void AesEncryptCbc(const std::uint32_t (*)[8], int, std::uint8_t*, const std::uint8_t*,
                   std::uint8_t*, std::size_t) {}
void AesDecryptCbc(const std::uint32_t (*)[8], int, std::uint8_t*, const std::uint8_t*,
                   std::uint8_t*, std::size_t) {}
} // namespace qk::crypto::accel

#endif
