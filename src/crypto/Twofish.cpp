#include "crypto/Twofish.h"
#include "crypto/WordIo.h"

#include "crypto/Accel.h"
#include "platform/Hardening.h"

#include <array>
#include <bit>
#include <cstring>

namespace qk::crypto {

namespace {

using Table = std::array<std::uint32_t, 256>;

// Product in GF(2^8) modulo the given polynomial (with its x^8 term).
constexpr std::uint8_t GfMul(std::uint32_t a, std::uint32_t b, std::uint32_t poly) {
  std::uint32_t r = 0;
  for (; b; b >>= 1) {
    if (b & 1) r ^= a;
    a <<= 1;
    if (a & 0x100) a ^= poly;
  }
  return static_cast<std::uint8_t>(r);
}

// The fixed permutations q0 and q1, built from their four 4-bit permutations each.
constexpr std::array<std::uint8_t, 256> MakeQ(const std::uint8_t (&t)[4][16]) {
  std::array<std::uint8_t, 256> q{};
  const auto ror4 = [](unsigned x) { return ((x >> 1) | (x << 3)) & 0xF; };
  for (unsigned x = 0; x < 256; ++x) {
    unsigned a = x >> 4, b = x & 0xF;
    unsigned a1 = a ^ b, b1 = (a ^ ror4(b) ^ (a << 3)) & 0xF;
    unsigned a2 = t[0][a1], b2 = t[1][b1];
    unsigned a3 = a2 ^ b2, b3 = (a2 ^ ror4(b2) ^ (a2 << 3)) & 0xF;
    q[x] = static_cast<std::uint8_t>((t[3][b3] << 4) | t[2][a3]);
  }
  return q;
}

constexpr std::uint8_t kQ0Nibbles[4][16] = {
    {0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
    {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
    {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
    {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}};
constexpr std::uint8_t kQ1Nibbles[4][16] = {
    {0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
    {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
    {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
    {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}};

constexpr auto kQ0 = MakeQ(kQ0Nibbles);
constexpr auto kQ1 = MakeQ(kQ1Nibbles);

constexpr std::uint32_t kMdsPoly = 0x169;
constexpr std::uint32_t kRsPoly = 0x14D;

constexpr std::uint8_t kMds[4][4] = {{0x01, 0xEF, 0x5B, 0x5B},
                                     {0x5B, 0xEF, 0xEF, 0x01},
                                     {0xEF, 0x5B, 0x01, 0xEF},
                                     {0xEF, 0x01, 0xEF, 0x5B}};

constexpr std::uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                                    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                                    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                                    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// Table j maps a byte to MDS column j times the byte after the last q permutation of input
// byte j of the h function (q1, q0, q1, q0).
constexpr std::array<Table, 4> MakeMdsQ() {
  std::array<Table, 4> t{};
  for (unsigned j = 0; j < 4; ++j) {
    const auto& q = (j % 2 == 0) ? kQ1 : kQ0;
    for (unsigned x = 0; x < 256; ++x) {
      std::uint32_t w = 0;
      for (unsigned i = 0; i < 4; ++i)
        w |= std::uint32_t{GfMul(q[x], kMds[i][j], kMdsPoly)} << (8 * i);
      t[j][x] = w;
    }
  }
  return t;
}

constexpr auto kMdsQ = MakeMdsQ();

// Byte i of w, as an index.
constexpr unsigned Byte(std::uint32_t w, int i) {
  return (w >> (8 * i)) & 0xFF;
}

// The q-permutation chain of h for the four bytes of x, keyed by the k words of l, up to (not
// including) the last q permutation, which kMdsQ applies together with the MDS column.
std::array<std::uint8_t, 4> KeyedBytes(std::uint32_t x, const std::uint32_t* l, int k) {
  unsigned b0 = Byte(x, 0), b1 = Byte(x, 1), b2 = Byte(x, 2), b3 = Byte(x, 3);
  if (k == 4) {
    b0 = kQ1[b0] ^ Byte(l[3], 0);
    b1 = kQ0[b1] ^ Byte(l[3], 1);
    b2 = kQ0[b2] ^ Byte(l[3], 2);
    b3 = kQ1[b3] ^ Byte(l[3], 3);
  }
  if (k >= 3) {
    b0 = kQ1[b0] ^ Byte(l[2], 0);
    b1 = kQ1[b1] ^ Byte(l[2], 1);
    b2 = kQ0[b2] ^ Byte(l[2], 2);
    b3 = kQ0[b3] ^ Byte(l[2], 3);
  }
  return {static_cast<std::uint8_t>(kQ0[kQ0[b0] ^ Byte(l[1], 0)] ^ Byte(l[0], 0)),
          static_cast<std::uint8_t>(kQ0[kQ1[b1] ^ Byte(l[1], 1)] ^ Byte(l[0], 1)),
          static_cast<std::uint8_t>(kQ1[kQ0[b2] ^ Byte(l[1], 2)] ^ Byte(l[0], 2)),
          static_cast<std::uint8_t>(kQ1[kQ1[b3] ^ Byte(l[1], 3)] ^ Byte(l[0], 3))};
}

std::uint32_t H(std::uint32_t x, const std::uint32_t* l, int k) {
  const auto b = KeyedBytes(x, l, k);
  return kMdsQ[0][b[0]] ^ kMdsQ[1][b[1]] ^ kMdsQ[2][b[2]] ^ kMdsQ[3][b[3]];
}

// The Reed-Solomon code of eight key bytes, one S-box key word.
std::uint32_t RsWord(const std::uint8_t* m) {
  std::uint32_t w = 0;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t s = 0;
    for (int j = 0; j < 8; ++j) s ^= GfMul(m[j], kRs[i][j], kRsPoly);
    w |= std::uint32_t{s} << (8 * i);
  }
  return w;
}

using KeyedTables = std::uint32_t[4][256];

inline std::uint32_t G0(const KeyedTables& s, std::uint32_t x) {
  return s[0][Byte(x, 0)] ^ s[1][Byte(x, 1)] ^ s[2][Byte(x, 2)] ^ s[3][Byte(x, 3)];
}
// g of x rotated left by 8 bits.
inline std::uint32_t G1(const KeyedTables& s, std::uint32_t x) {
  return s[0][Byte(x, 3)] ^ s[1][Byte(x, 0)] ^ s[2][Byte(x, 1)] ^ s[3][Byte(x, 2)];
}

// One round: the F function of (a, b) mixed into (c, d) with round keys rk[0], rk[1]. Calling it
// with the halves exchanged on every other round saves the swap.
inline void EncRound(const KeyedTables& s, const std::uint32_t* rk, std::uint32_t a,
                     std::uint32_t b, std::uint32_t& c, std::uint32_t& d) {
  const std::uint32_t t0 = G0(s, a), t1 = G1(s, b);
  c = std::rotr(c ^ (t0 + t1 + rk[0]), 1);
  d = std::rotl(d, 1) ^ (t0 + 2 * t1 + rk[1]);
}

inline void DecRound(const KeyedTables& s, const std::uint32_t* rk, std::uint32_t a,
                     std::uint32_t b, std::uint32_t& c, std::uint32_t& d) {
  const std::uint32_t t0 = G0(s, a), t1 = G1(s, b);
  c = std::rotl(c, 1) ^ (t0 + t1 + rk[0]);
  d = std::rotr(d ^ (t0 + 2 * t1 + rk[1]), 1);
}

// Encrypts the block held in w (little-endian words) in place.
[[gnu::always_inline]] inline void EncryptWords(const std::uint32_t* k, const KeyedTables& s,
                                                std::uint32_t* w) {
  std::uint32_t a = w[0] ^ k[0], b = w[1] ^ k[1], c = w[2] ^ k[2], d = w[3] ^ k[3];
#pragma GCC unroll 8
  for (int r = 8; r < 40; r += 4) {
    EncRound(s, k + r, a, b, c, d);
    EncRound(s, k + r + 2, c, d, a, b);
  }
  w[0] = c ^ k[4];
  w[1] = d ^ k[5];
  w[2] = a ^ k[6];
  w[3] = b ^ k[7];
}

// Decrypts N blocks side by side, so that their table lookups overlap.
template <int N>
[[gnu::always_inline]] inline void DecryptWords(const std::uint32_t* k, const KeyedTables& s,
                                                std::uint32_t (*w)[4]) {
  std::uint32_t a[N], b[N], c[N], d[N];
#pragma GCC unroll 8
  for (int j = 0; j < N; ++j) {
    c[j] = w[j][0] ^ k[4];
    d[j] = w[j][1] ^ k[5];
    a[j] = w[j][2] ^ k[6];
    b[j] = w[j][3] ^ k[7];
  }
#pragma GCC unroll 8
  for (int r = 38; r > 8; r -= 4) {
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) DecRound(s, k + r, c[j], d[j], a[j], b[j]);
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) DecRound(s, k + r - 2, a[j], b[j], c[j], d[j]);
  }
#pragma GCC unroll 8
  for (int j = 0; j < N; ++j) {
    w[j][0] = a[j] ^ k[0];
    w[j][1] = b[j] ^ k[1];
    w[j][2] = c[j] ^ k[2];
    w[j][3] = d[j] ^ k[3];
  }
}

inline void LoadBlock(const std::uint8_t* p, std::uint32_t* w) {
  for (int i = 0; i < 4; ++i) w[i] = Load32(p + 4 * i);
}

inline void StoreBlock(std::uint8_t* p, const std::uint32_t* w) {
  for (int i = 0; i < 4; ++i) Store32(p + 4 * i, w[i]);
}

} // namespace

TDCP_twofish::TDCP_twofish() : TDCP_blockcipher("Twofish", 128, 256) {
  EraseKey();
}

TDCP_twofish::~TDCP_twofish() {
  if (initialized_) EraseKey();
}

void TDCP_twofish::EraseKey() {
  platform::SecureFill(sbox_, 0xFF, sizeof sbox_);
  platform::SecureFill(sboxKey_, 0xFF, sizeof sboxKey_);
  platform::SecureFill(subKeys_, 0xFF, sizeof subKeys_);
  keyLength_ = 0;
  EraseChain();
}

void TDCP_twofish::InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) {
  keyLength_ = sizeBits <= 128 ? 128 : sizeBits <= 192 ? 192 : 256;
  const int k = static_cast<int>(keyLength_ / 64);

  std::uint32_t even[4], odd[4];
  for (int i = 0; i < k; ++i) {
    even[i] = Load32(key32 + 8 * i);
    odd[i] = Load32(key32 + 8 * i + 4);
    sboxKey_[k - 1 - i] = RsWord(key32 + 8 * i);
  }

  constexpr std::uint32_t rho = 0x01010101;
  for (std::uint32_t i = 0; i < 20; ++i) {
    const std::uint32_t a = H(2 * i * rho, even, k);
    const std::uint32_t b = std::rotl(H((2 * i + 1) * rho, odd, k), 8);
    subKeys_[2 * i] = a + b;
    subKeys_[2 * i + 1] = std::rotl(a + 2 * b, 9);
  }

  for (std::uint32_t x = 0; x < 256; ++x) {
    const auto b = KeyedBytes(x * rho, sboxKey_, k);
    for (int j = 0; j < 4; ++j) sbox_[j][x] = kMdsQ[j][b[j]];
  }
  platform::SecureZero(even, sizeof even);
  platform::SecureZero(odd, sizeof odd);
}

void TDCP_twofish::EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w[4];
  LoadBlock(in, w);
  EncryptWords(subKeys_, sbox_, w);
  StoreBlock(out, w);
}

void TDCP_twofish::DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w[1][4];
  LoadBlock(in, w[0]);
  DecryptWords<1>(subKeys_, sbox_, w);
  StoreBlock(out, w[0]);
}

// CBC keeps the block and the chaining value in registers (no stack copy of the data is left
// behind).
void TDCP_twofish::EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  std::size_t done = 0;
  if (blocks > 0 && accel::Avx2()) {
    accel::TwofishEncryptCbc(subKeys_, sbox_, chain_, in, out, blocks);
    done = blocks;
  }
  std::uint32_t chain[4], work[4];
  LoadBlock(chain_, chain);
  for (; done < blocks; ++done) {
    LoadBlock(in + 16 * done, work);
    for (int i = 0; i < 4; ++i) work[i] ^= chain[i];
    EncryptWords(subKeys_, sbox_, work);
    StoreBlock(out + 16 * done, work);
    for (int i = 0; i < 4; ++i) chain[i] = work[i];
  }
  StoreBlock(chain_, chain);
}

void TDCP_twofish::DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  std::size_t done = 0;
  if (blocks >= 4 && accel::Avx2()) {
    if (accel::Avx512())
      done = accel::TwofishDecryptCbc16(subKeys_, sbox_, chain_, in, out, blocks);
    done += accel::TwofishDecryptCbcAvx2(subKeys_, sbox_, chain_, in + 16 * done, out + 16 * done,
                                         blocks - done);
  }
  constexpr std::size_t kWays = 4;
  std::uint32_t chain[4], saved[kWays][4], work[kWays][4];
  LoadBlock(chain_, chain);
  // Several blocks at a time: CBC decryption of one block does not wait for the others.
  for (; blocks - done >= kWays; done += kWays) {
    for (std::size_t j = 0; j < kWays; ++j) LoadBlock(in + 16 * (done + j), saved[j]);
    std::memcpy(work, saved, sizeof work);
    DecryptWords<kWays>(subKeys_, sbox_, work);
    for (int i = 0; i < 4; ++i) {
      work[0][i] ^= chain[i];
      for (std::size_t j = 1; j < kWays; ++j) work[j][i] ^= saved[j - 1][i];
      chain[i] = saved[kWays - 1][i];
    }
    for (std::size_t j = 0; j < kWays; ++j) StoreBlock(out + 16 * (done + j), work[j]);
  }
  // The rest one block at a time.
  for (; done < blocks; ++done) {
    LoadBlock(in + 16 * done, saved[0]);
    std::memcpy(work, saved, sizeof work[0]);
    DecryptWords<1>(subKeys_, sbox_, work);
    for (int i = 0; i < 4; ++i) {
      work[0][i] ^= chain[i];
      chain[i] = saved[0][i];
    }
    StoreBlock(out + 16 * done, work[0]);
  }
  StoreBlock(chain_, chain);
  platform::SecureZero(work, sizeof work);
}

} // namespace qk::crypto
