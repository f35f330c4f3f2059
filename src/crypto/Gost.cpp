#include "crypto/Gost.h"
#include "crypto/WordIo.h"
#include "platform/Hardening.h"

#include <array>
#include <cstring>

namespace qk::crypto {

namespace {

// S1..S8; box n substitutes the n-th nibble of a word counted from the least significant end.
constexpr std::uint8_t kSBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

constexpr std::uint32_t Rol11(std::uint32_t x) {
  return (x << 11) | (x >> 21);
}

// Table j substitutes byte j of the word with boxes 2j+1 (low nibble) and 2j+2 (high nibble),
// puts the result back in place and rotates it left by 11.
using Tables = std::array<std::array<std::uint32_t, 256>, 4>;

constexpr Tables MakeTables() {
  Tables t{};
  for (int j = 0; j < 4; ++j) {
    for (int v = 0; v < 256; ++v) {
      const std::uint32_t s =
          (std::uint32_t{kSBox[2 * j + 1][v >> 4]} << 4) | std::uint32_t{kSBox[2 * j][v & 15]};
      t[j][v] = Rol11(s << (8 * j));
    }
  }
  return t;
}

constexpr Tables kTables = MakeTables();

// CBC encryption is bound by the latency of the round. QK_GOST_KEEP stops the compiler from
// turning the two-level XOR tree of a round back into one linear chain, which is longer.
#if defined(__GNUC__)
#define QK_GOST_KEEP(v) __asm__("" : "+r"(v))
#define QK_GOST_INLINE [[gnu::always_inline]] inline
#else
#define QK_GOST_KEEP(v) (void)0
#define QK_GOST_INLINE inline
#endif

// One round: n ^= f(x). The two lookups whose index comes out of x first are folded into n
// while the other two are still loading.
QK_GOST_INLINE std::uint32_t Round(std::uint32_t n, std::uint32_t x) {
  std::uint32_t a = n ^ kTables[0][x & 0xFF] ^ kTables[3][x >> 24];
  QK_GOST_KEEP(a);
  std::uint32_t b = kTables[1][(x >> 8) & 0xFF] ^ kTables[2][(x >> 16) & 0xFF];
  QK_GOST_KEEP(b);
  return a ^ b;
}

// Two rounds with key words ka, kb.
QK_GOST_INLINE void Rounds2(std::uint32_t& n1, std::uint32_t& n2, std::uint32_t ka,
                            std::uint32_t kb) {
  n2 = Round(n2, n1 + ka);
  n1 = Round(n1, n2 + kb);
}

// Eight rounds with the key words in ascending and in descending order.
QK_GOST_INLINE void Up(const std::uint32_t* k, std::uint32_t& n1, std::uint32_t& n2) {
  Rounds2(n1, n2, k[0], k[1]);
  Rounds2(n1, n2, k[2], k[3]);
  Rounds2(n1, n2, k[4], k[5]);
  Rounds2(n1, n2, k[6], k[7]);
}

QK_GOST_INLINE void Down(const std::uint32_t* k, std::uint32_t& n1, std::uint32_t& n2) {
  Rounds2(n1, n2, k[7], k[6]);
  Rounds2(n1, n2, k[5], k[4]);
  Rounds2(n1, n2, k[3], k[2]);
  Rounds2(n1, n2, k[1], k[0]);
}

// w0, w1: the block as two little-endian words in, the result (N2, N1) out.
QK_GOST_INLINE void EncryptWords(const std::uint32_t* k, std::uint32_t& w0, std::uint32_t& w1) {
  std::uint32_t n1 = w0, n2 = w1;
  Up(k, n1, n2);
  Up(k, n1, n2);
  Up(k, n1, n2);
  Down(k, n1, n2);
  w0 = n2;
  w1 = n1;
}

QK_GOST_INLINE void DecryptWords(const std::uint32_t* k, std::uint32_t& w0, std::uint32_t& w1) {
  std::uint32_t n1 = w0, n2 = w1;
  Up(k, n1, n2);
  Down(k, n1, n2);
  Down(k, n1, n2);
  Down(k, n1, n2);
  w0 = n2;
  w1 = n1;
}

// Two independent blocks side by side, so that the rounds of one fill the latency of the other.
struct TwoBlocks {
  std::uint32_t n1, n2, m1, m2;
};

QK_GOST_INLINE void Rounds2x2(TwoBlocks& s, std::uint32_t ka, std::uint32_t kb) {
  s.n2 = Round(s.n2, s.n1 + ka);
  s.m2 = Round(s.m2, s.m1 + ka);
  s.n1 = Round(s.n1, s.n2 + kb);
  s.m1 = Round(s.m1, s.m2 + kb);
}

QK_GOST_INLINE void Up2(const std::uint32_t* k, TwoBlocks& s) {
  Rounds2x2(s, k[0], k[1]);
  Rounds2x2(s, k[2], k[3]);
  Rounds2x2(s, k[4], k[5]);
  Rounds2x2(s, k[6], k[7]);
}

QK_GOST_INLINE void Down2(const std::uint32_t* k, TwoBlocks& s) {
  Rounds2x2(s, k[7], k[6]);
  Rounds2x2(s, k[5], k[4]);
  Rounds2x2(s, k[3], k[2]);
  Rounds2x2(s, k[1], k[0]);
}

// Decrypts two blocks given as (N1, N2) each; the results come back as (N2, N1) in n and m.
QK_GOST_INLINE void DecryptWords2(const std::uint32_t* k, TwoBlocks& s) {
  Up2(k, s);
  Down2(k, s);
  Down2(k, s);
  Down2(k, s);
}

#undef QK_GOST_KEEP
#undef QK_GOST_INLINE

} // namespace

TDCP_gost::TDCP_gost() : TDCP_blockcipher("Gost", 64, 256) {
  EraseKey();
}

TDCP_gost::~TDCP_gost() {
  if (initialized_) EraseKey();
}

void TDCP_gost::EraseKey() {
  platform::SecureFill(key_, 0xFF, sizeof key_);
  EraseChain();
}

void TDCP_gost::InstallKey(const std::uint8_t* key32, std::int32_t /*sizeBits*/) {
  // One key length only: a shorter key arrives zero-padded to 32 bytes.
  for (int i = 0; i < 8; ++i) key_[i] = Load32(key32 + 4 * i);
}

void TDCP_gost::EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w0 = Load32(in), w1 = Load32(in + 4);
  EncryptWords(key_, w0, w1);
  Store32(out, w0);
  Store32(out + 4, w1);
}

void TDCP_gost::DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w0 = Load32(in), w1 = Load32(in + 4);
  DecryptWords(key_, w0, w1);
  Store32(out, w0);
  Store32(out + 4, w1);
}

void TDCP_gost::EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  std::uint32_t c0 = Load32(chain_), c1 = Load32(chain_ + 4);
  // A local copy of the key words: the byte stores below could otherwise alias them.
  std::uint32_t k[8];
  std::memcpy(k, key_, sizeof k);
  for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
    c0 ^= Load32(in);
    c1 ^= Load32(in + 4);
    EncryptWords(k, c0, c1);
    Store32(out, c0);
    Store32(out + 4, c1);
  }
  Store32(chain_, c0);
  Store32(chain_ + 4, c1);
  platform::SecureFill(k, 0xFF, sizeof k);
}

void TDCP_gost::DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  std::uint32_t c0 = Load32(chain_), c1 = Load32(chain_ + 4);
  // Ciphertext is read before anything is written, so that in-place work is safe.
  for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
    const std::uint32_t s0 = Load32(in), s1 = Load32(in + 4);
    const std::uint32_t s2 = Load32(in + 8), s3 = Load32(in + 12);
    TwoBlocks t{s0, s1, s2, s3};
    DecryptWords2(key_, t);
    Store32(out, t.n2 ^ c0);
    Store32(out + 4, t.n1 ^ c1);
    Store32(out + 8, t.m2 ^ s0);
    Store32(out + 12, t.m1 ^ s1);
    c0 = s2;
    c1 = s3;
  }
  if (blocks == 1) {
    const std::uint32_t s0 = Load32(in), s1 = Load32(in + 4);
    std::uint32_t p0 = s0, p1 = s1;
    DecryptWords(key_, p0, p1);
    Store32(out, p0 ^ c0);
    Store32(out + 4, p1 ^ c1);
    c0 = s0;
    c1 = s1;
  }
  Store32(chain_, c0);
  Store32(chain_ + 4, c1);
}

} // namespace qk::crypto
