// SHA-1 compression through the SHA extensions. A vector holds A..D with A in the top lane; the
// message schedule runs four words per vector, W[t..t+3] with W[t] in the top lane.
#include "crypto/Accel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define QK_TARGET_SHA __attribute__((target("sha,sse4.1")))

namespace qk::crypto::accel {

namespace {

// Four rounds with the round function of group g (g = 0..19); the immediate selects the
// function and constant of rounds 20 * (g / 5) onwards. prev receives A..D from before. The
// copy is spelled out so that it stays off the chain of rounds: the rounds work in place.
template <int G> QK_TARGET_SHA inline void Rounds4(__m128i& abcd, __m128i& prev, __m128i we) {
  __asm__("movdqa %[abcd], %[prev]\n\tsha1rnds4 %[f], %[we], %[abcd]"
          : [abcd] "+x"(abcd), [prev] "=&x"(prev)
          : [we] "x"(we), [f] "i"(G / 5));
}

// Schedule words 4g..4g+3 from the four vectors before them.
QK_TARGET_SHA inline __m128i NextWords(__m128i w4, __m128i w3, __m128i w2, __m128i w1) {
  return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w4, w3), w2), w1);
}

// Groups G..19 of one block; w holds the schedule vectors of groups G-4..G-1 in slots g mod 4,
// prev the A..D vector before group G-1.
template <int G> QK_TARGET_SHA inline void Groups(__m128i& abcd, __m128i& prev, __m128i (&w)[4]) {
  if constexpr (G < 20) {
    if constexpr (G >= 4)
      w[G % 4] = NextWords(w[G % 4], w[(G + 1) % 4], w[(G + 2) % 4], w[(G + 3) % 4]);
    const __m128i we = _mm_sha1nexte_epu32(prev, w[G % 4]);
    Rounds4<G>(abcd, prev, we);
    Groups<G + 1>(abcd, prev, w);
  }
}

QK_TARGET_SHA inline __m128i LoadWords(const std::uint8_t* p) {
  // Byte order of the whole vector reversed: big-endian words, the first in the top lane.
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

QK_TARGET_SHA void Compress(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks) {
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
  // E in the top lane, zero below.
  __m128i e = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
  __m128i w[4];
  w[0] = LoadWords(data);
  __m128i we = _mm_add_epi32(e, w[0]);
  for (;;) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e;
    for (int i = 1; i < 4; ++i) w[i] = LoadWords(data + 16 * i);
    __m128i prev;
    Rounds4<0>(abcd, prev, we);
    Groups<1>(abcd, prev, w);
    abcd = _mm_add_epi32(abcd, abcdSaved);
    // E after the last group is A of four rounds earlier rotated by 30, plus the saved E.
    e = _mm_sha1nexte_epu32(prev, eSaved);
    if (--blocks == 0) break;
    data += 64;
    // The first words of the next block join E in the same step, off the chain of rounds.
    w[0] = LoadWords(data);
    we = _mm_sha1nexte_epu32(prev, _mm_add_epi32(eSaved, w[0]));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

} // namespace

void Sha1Compress(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks) {
  if (blocks > 0) Compress(h, data, blocks);
}

} // namespace qk::crypto::accel

#else

namespace qk::crypto::accel {
// Without these instructions the dispatch never selects this routine.
void Sha1Compress(std::uint32_t*, const std::uint8_t*, std::size_t) {}
} // namespace qk::crypto::accel

#endif
