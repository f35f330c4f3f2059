#include "crypto/Rijndael.h"
#include "crypto/WordIo.h"

#include "crypto/Accel.h"
#include "platform/Hardening.h"

#include <array>
#include <bit>
#include <cstring>

namespace qk::crypto {

namespace {

using Table = std::array<std::uint32_t, 256>;

constexpr std::uint8_t Mul(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r = 0;
  for (; b; b >>= 1) {
    if (b & 1) r ^= a;
    a <<= 1;
    if (a & 0x100) a ^= 0x11B;
  }
  return static_cast<std::uint8_t>(r);
}

// The S-box: multiplicative inverse in GF(2^8) (through powers of the generator 3) followed by
// the affine map.
constexpr std::array<std::uint8_t, 256> MakeSbox() {
  std::uint8_t exp[255] = {}, log[256] = {};
  std::uint32_t p = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = static_cast<std::uint8_t>(p);
    log[p] = static_cast<std::uint8_t>(i);
    p = Mul(p, 3);
  }
  std::array<std::uint8_t, 256> s{};
  for (unsigned x = 0; x < 256; ++x) {
    const std::uint32_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
    std::uint32_t y = inv;
    for (int i = 1; i <= 4; ++i) y ^= ((inv << i) | (inv >> (8 - i))) & 0xFF;
    s[x] = static_cast<std::uint8_t>(y ^ 0x63);
  }
  return s;
}

constexpr auto kSbox = MakeSbox();

constexpr std::array<std::uint8_t, 256> MakeInvSbox() {
  std::array<std::uint8_t, 256> inv{};
  for (unsigned x = 0; x < 256; ++x) inv[kSbox[x]] = static_cast<std::uint8_t>(x);
  return inv;
}

constexpr auto kInvSbox = MakeInvSbox();

// Words hold a state column with row 0 in the low byte. Table r maps a byte of row r to its
// column after SubBytes and MixColumns (or InvSubBytes and InvMixColumns); tables 1..3 are
// table 0 rotated.
constexpr std::array<Table, 4> MakeTables(const std::array<std::uint8_t, 256>& box,
                                          const std::uint8_t (&column)[4]) {
  std::array<Table, 4> t{};
  for (unsigned x = 0; x < 256; ++x) {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w |= std::uint32_t{Mul(box[x], column[i])} << (8 * i);
    for (int r = 0; r < 4; ++r) t[r][x] = std::rotl(w, 8 * r);
  }
  return t;
}

constexpr std::uint8_t kMixColumn[4] = {2, 1, 1, 3};
constexpr std::uint8_t kInvMixColumn[4] = {14, 9, 13, 11};
constexpr auto kTe = MakeTables(kSbox, kMixColumn);
constexpr auto kTd = MakeTables(kInvSbox, kInvMixColumn);

constexpr std::uint8_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

constexpr std::uint8_t kNilIV[16] = {'#', 'I', 'N', 'I', 'T', '_', 'I', 'V',
                                     '_', 'T', 'O', '_', 'N', 'I', 'L', '#'};

constexpr unsigned B(std::uint32_t w, int i) {
  return (w >> (8 * i)) & 0xFF;
}

inline std::uint32_t SubWord(std::uint32_t w) {
  return std::uint32_t{kSbox[B(w, 0)]} | std::uint32_t{kSbox[B(w, 1)]} << 8 |
         std::uint32_t{kSbox[B(w, 2)]} << 16 | std::uint32_t{kSbox[B(w, 3)]} << 24;
}

inline std::uint32_t InvMixColumn(std::uint32_t w) {
  return kTd[0][kSbox[B(w, 0)]] ^ kTd[1][kSbox[B(w, 1)]] ^ kTd[2][kSbox[B(w, 2)]] ^
         kTd[3][kSbox[B(w, 3)]];
}

using Rows = const std::uint32_t (*)[8];

// The portable rounds on the four words of a block (row 0 in the low byte of each), with the
// round count fixed so that the rounds unroll and the round keys are constant offsets.
template <int R> [[gnu::always_inline]] inline void EncryptWords(Rows rk, std::uint32_t* s) {
  const auto& T0 = kTe[0];
  const auto& T1 = kTe[1];
  const auto& T2 = kTe[2];
  const auto& T3 = kTe[3];
  std::uint32_t s0 = s[0] ^ rk[0][0], s1 = s[1] ^ rk[0][1];
  std::uint32_t s2 = s[2] ^ rk[0][2], s3 = s[3] ^ rk[0][3];
#pragma GCC unroll 14
  for (int r = 1; r < R; ++r) {
    const std::uint32_t t0 = T0[B(s0, 0)] ^ T1[B(s1, 1)] ^ T2[B(s2, 2)] ^ T3[B(s3, 3)] ^ rk[r][0];
    const std::uint32_t t1 = T0[B(s1, 0)] ^ T1[B(s2, 1)] ^ T2[B(s3, 2)] ^ T3[B(s0, 3)] ^ rk[r][1];
    const std::uint32_t t2 = T0[B(s2, 0)] ^ T1[B(s3, 1)] ^ T2[B(s0, 2)] ^ T3[B(s1, 3)] ^ rk[r][2];
    const std::uint32_t t3 = T0[B(s3, 0)] ^ T1[B(s0, 1)] ^ T2[B(s1, 2)] ^ T3[B(s2, 3)] ^ rk[r][3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  const auto last = [](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::uint32_t{kSbox[B(a, 0)]} | std::uint32_t{kSbox[B(b, 1)]} << 8 |
           std::uint32_t{kSbox[B(c, 2)]} << 16 | std::uint32_t{kSbox[B(d, 3)]} << 24;
  };
  s[0] = last(s0, s1, s2, s3) ^ rk[R][0];
  s[1] = last(s1, s2, s3, s0) ^ rk[R][1];
  s[2] = last(s2, s3, s0, s1) ^ rk[R][2];
  s[3] = last(s3, s0, s1, s2) ^ rk[R][3];
}

// N blocks side by side, so that their table lookups overlap.
template <int R, int N>
[[gnu::always_inline]] inline void DecryptWords(Rows rk, std::uint32_t (*s)[4]) {
  const auto& T0 = kTd[0];
  const auto& T1 = kTd[1];
  const auto& T2 = kTd[2];
  const auto& T3 = kTd[3];
  std::uint32_t x[N][4];
#pragma GCC unroll 4
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < 4; ++i) x[j][i] = s[j][i] ^ rk[R][i];
#pragma GCC unroll 14
  for (int r = R - 1; r > 0; --r) {
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
      const std::uint32_t s0 = x[j][0], s1 = x[j][1], s2 = x[j][2], s3 = x[j][3];
      x[j][0] = T0[B(s0, 0)] ^ T1[B(s3, 1)] ^ T2[B(s2, 2)] ^ T3[B(s1, 3)] ^ rk[r][0];
      x[j][1] = T0[B(s1, 0)] ^ T1[B(s0, 1)] ^ T2[B(s3, 2)] ^ T3[B(s2, 3)] ^ rk[r][1];
      x[j][2] = T0[B(s2, 0)] ^ T1[B(s1, 1)] ^ T2[B(s0, 2)] ^ T3[B(s3, 3)] ^ rk[r][2];
      x[j][3] = T0[B(s3, 0)] ^ T1[B(s2, 1)] ^ T2[B(s1, 2)] ^ T3[B(s0, 3)] ^ rk[r][3];
    }
  }
  const auto last = [](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::uint32_t{kInvSbox[B(a, 0)]} | std::uint32_t{kInvSbox[B(b, 1)]} << 8 |
           std::uint32_t{kInvSbox[B(c, 2)]} << 16 | std::uint32_t{kInvSbox[B(d, 3)]} << 24;
  };
#pragma GCC unroll 4
  for (int j = 0; j < N; ++j) {
    const std::uint32_t s0 = x[j][0], s1 = x[j][1], s2 = x[j][2], s3 = x[j][3];
    s[j][0] = last(s0, s3, s2, s1) ^ rk[0][0];
    s[j][1] = last(s1, s0, s3, s2) ^ rk[0][1];
    s[j][2] = last(s2, s1, s0, s3) ^ rk[0][2];
    s[j][3] = last(s3, s2, s1, s0) ^ rk[0][3];
  }
}

template <int R>
void PortableEncryptCbc(Rows rk, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) {
  std::uint32_t s[4];
  for (int i = 0; i < 4; ++i) s[i] = Load32(chain + 4 * i);
  for (std::size_t b = 0; b < blocks; ++b) {
    for (int i = 0; i < 4; ++i) s[i] ^= Load32(in + 16 * b + 4 * i);
    EncryptWords<R>(rk, s);
    for (int i = 0; i < 4; ++i) Store32(out + 16 * b + 4 * i, s[i]);
  }
  for (int i = 0; i < 4; ++i) Store32(chain + 4 * i, s[i]);
}

// Two blocks at a time: CBC decryption of one block does not wait for the other.
template <int R>
void PortableDecryptCbc(Rows rk, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) {
  constexpr int kWays = 2;
  std::uint32_t prev[4], saved[kWays][4], work[kWays][4];
  for (int i = 0; i < 4; ++i) prev[i] = Load32(chain + 4 * i);
  std::size_t b = 0;
  const auto step = [&]<int N>() {
    for (int j = 0; j < N; ++j)
      for (int i = 0; i < 4; ++i) work[j][i] = saved[j][i] = Load32(in + 16 * (b + j) + 4 * i);
    DecryptWords<R, N>(rk, work);
    for (int j = 0; j < N; ++j) {
      for (int i = 0; i < 4; ++i) {
        Store32(out + 16 * (b + j) + 4 * i, work[j][i] ^ prev[i]);
        prev[i] = saved[j][i];
      }
    }
    b += N;
  };
  while (b + kWays <= blocks) step.template operator()<kWays>();
  while (b < blocks) step.template operator()<1>();
  for (int i = 0; i < 4; ++i) Store32(chain + 4 * i, prev[i]);
  platform::SecureZero(work, sizeof work);
}

} // namespace

TDCP_rijndael::TDCP_rijndael() : TDCP_blockcipher("Rijndael", 128, 256) {
  EraseKey();
}

TDCP_rijndael::~TDCP_rijndael() {
  if (initialized_) EraseKey();
}

void TDCP_rijndael::EraseKey() {
  platform::SecureFill(encKey_, 0xFF, sizeof encKey_);
  platform::SecureFill(decKey_, 0xFF, sizeof decKey_);
  rounds_ = 0;
  EraseChain();
}

void TDCP_rijndael::InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) {
  const std::int32_t bytes = sizeBits / 8;
  const int nk = bytes <= 16 ? 4 : bytes <= 24 ? 6 : 8;
  rounds_ = nk + 6;
  const int total = 4 * (rounds_ + 1);

  std::uint32_t w[60];
  for (int i = 0; i < nk; ++i) w[i] = Load32(key32 + 4 * i);
  for (int i = nk; i < total; ++i) {
    std::uint32_t t = w[i - 1];
    if (i % nk == 0)
      t = SubWord(std::rotr(t, 8)) ^ kRcon[i / nk - 1];
    else if (nk > 6 && i % nk == 4)
      t = SubWord(t);
    w[i] = w[i - nk] ^ t;
  }
  for (int r = 0; r <= rounds_; ++r) {
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t word = w[4 * r + c];
      encKey_[r][c] = word;
      decKey_[r][c] = (r == 0 || r == rounds_) ? word : InvMixColumn(word);
    }
  }
  platform::SecureZero(w, sizeof w);
}

void TDCP_rijndael::InstallIV(const std::uint8_t* iv) {
  if (std::memcmp(iv, kNilIV, sizeof kNilIV) == 0)
    std::memset(iv_, 0, 16);
  else
    std::memcpy(iv_, iv, 16);
}

void TDCP_rijndael::EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out,
                                     std::size_t blocks) {
  if (accel::AesNi()) {
    accel::AesEncryptCbc(encKey_, rounds_, chain_, in, out, blocks);
  } else if (rounds_ == 10) {
    PortableEncryptCbc<10>(encKey_, chain_, in, out, blocks);
  } else if (rounds_ == 12) {
    PortableEncryptCbc<12>(encKey_, chain_, in, out, blocks);
  } else {
    PortableEncryptCbc<14>(encKey_, chain_, in, out, blocks);
  }
}

void TDCP_rijndael::DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out,
                                     std::size_t blocks) {
  if (accel::AesNi()) {
    accel::AesDecryptCbc(decKey_, rounds_, chain_, in, out, blocks);
  } else if (rounds_ == 10) {
    PortableDecryptCbc<10>(decKey_, chain_, in, out, blocks);
  } else if (rounds_ == 12) {
    PortableDecryptCbc<12>(decKey_, chain_, in, out, blocks);
  } else {
    PortableDecryptCbc<14>(decKey_, chain_, in, out, blocks);
  }
}

void TDCP_rijndael::EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  if (accel::AesNi()) {
    accel::AesEncryptBlock(encKey_, rounds_, in, out);
    return;
  }
  const auto& T0 = kTe[0];
  const auto& T1 = kTe[1];
  const auto& T2 = kTe[2];
  const auto& T3 = kTe[3];
  const std::uint32_t* rk = encKey_[0];
  std::uint32_t s0 = Load32(in) ^ rk[0], s1 = Load32(in + 4) ^ rk[1];
  std::uint32_t s2 = Load32(in + 8) ^ rk[2], s3 = Load32(in + 12) ^ rk[3];
  for (int r = 1; r < rounds_; ++r) {
    rk = encKey_[r];
    const std::uint32_t t0 = T0[B(s0, 0)] ^ T1[B(s1, 1)] ^ T2[B(s2, 2)] ^ T3[B(s3, 3)] ^ rk[0];
    const std::uint32_t t1 = T0[B(s1, 0)] ^ T1[B(s2, 1)] ^ T2[B(s3, 2)] ^ T3[B(s0, 3)] ^ rk[1];
    const std::uint32_t t2 = T0[B(s2, 0)] ^ T1[B(s3, 1)] ^ T2[B(s0, 2)] ^ T3[B(s1, 3)] ^ rk[2];
    const std::uint32_t t3 = T0[B(s3, 0)] ^ T1[B(s0, 1)] ^ T2[B(s1, 2)] ^ T3[B(s2, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk = encKey_[rounds_];
  const auto last = [](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::uint32_t{kSbox[B(a, 0)]} | std::uint32_t{kSbox[B(b, 1)]} << 8 |
           std::uint32_t{kSbox[B(c, 2)]} << 16 | std::uint32_t{kSbox[B(d, 3)]} << 24;
  };
  Store32(out, last(s0, s1, s2, s3) ^ rk[0]);
  Store32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
  Store32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
  Store32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void TDCP_rijndael::DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  if (accel::AesNi()) {
    accel::AesDecryptBlock(decKey_, rounds_, in, out);
    return;
  }
  const auto& T0 = kTd[0];
  const auto& T1 = kTd[1];
  const auto& T2 = kTd[2];
  const auto& T3 = kTd[3];
  const std::uint32_t* rk = decKey_[rounds_];
  std::uint32_t s0 = Load32(in) ^ rk[0], s1 = Load32(in + 4) ^ rk[1];
  std::uint32_t s2 = Load32(in + 8) ^ rk[2], s3 = Load32(in + 12) ^ rk[3];
  for (int r = rounds_ - 1; r > 0; --r) {
    rk = decKey_[r];
    const std::uint32_t t0 = T0[B(s0, 0)] ^ T1[B(s3, 1)] ^ T2[B(s2, 2)] ^ T3[B(s1, 3)] ^ rk[0];
    const std::uint32_t t1 = T0[B(s1, 0)] ^ T1[B(s0, 1)] ^ T2[B(s3, 2)] ^ T3[B(s2, 3)] ^ rk[1];
    const std::uint32_t t2 = T0[B(s2, 0)] ^ T1[B(s1, 1)] ^ T2[B(s0, 2)] ^ T3[B(s3, 3)] ^ rk[2];
    const std::uint32_t t3 = T0[B(s3, 0)] ^ T1[B(s2, 1)] ^ T2[B(s1, 2)] ^ T3[B(s0, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk = decKey_[0];
  const auto last = [](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return std::uint32_t{kInvSbox[B(a, 0)]} | std::uint32_t{kInvSbox[B(b, 1)]} << 8 |
           std::uint32_t{kInvSbox[B(c, 2)]} << 16 | std::uint32_t{kInvSbox[B(d, 3)]} << 24;
  };
  Store32(out, last(s0, s3, s2, s1) ^ rk[0]);
  Store32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
  Store32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
  Store32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

} // namespace qk::crypto
