#include "crypto/Gost.h"

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

inline std::uint32_t F(std::uint32_t x) {
  return kTables[0][x & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^ kTables[2][(x >> 16) & 0xFF] ^
         kTables[3][x >> 24];
}

inline std::uint32_t LoadLE(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline void StoreLE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Eight rounds with the key words in ascending and descending order.
inline void Up(const std::uint32_t* k, std::uint32_t& n1, std::uint32_t& n2) {
  n2 ^= F(n1 + k[0]);
  n1 ^= F(n2 + k[1]);
  n2 ^= F(n1 + k[2]);
  n1 ^= F(n2 + k[3]);
  n2 ^= F(n1 + k[4]);
  n1 ^= F(n2 + k[5]);
  n2 ^= F(n1 + k[6]);
  n1 ^= F(n2 + k[7]);
}

inline void Down(const std::uint32_t* k, std::uint32_t& n1, std::uint32_t& n2) {
  n2 ^= F(n1 + k[7]);
  n1 ^= F(n2 + k[6]);
  n2 ^= F(n1 + k[5]);
  n1 ^= F(n2 + k[4]);
  n2 ^= F(n1 + k[3]);
  n1 ^= F(n2 + k[2]);
  n2 ^= F(n1 + k[1]);
  n1 ^= F(n2 + k[0]);
}

// w0, w1: the block as two little-endian words in, the result (N2, N1) out.
inline void EncryptWords(const std::uint32_t* k, std::uint32_t& w0, std::uint32_t& w1) {
  std::uint32_t n1 = w0, n2 = w1;
  Up(k, n1, n2);
  Up(k, n1, n2);
  Up(k, n1, n2);
  Down(k, n1, n2);
  w0 = n2;
  w1 = n1;
}

inline void DecryptWords(const std::uint32_t* k, std::uint32_t& w0, std::uint32_t& w1) {
  std::uint32_t n1 = w0, n2 = w1;
  Up(k, n1, n2);
  Down(k, n1, n2);
  Down(k, n1, n2);
  Down(k, n1, n2);
  w0 = n2;
  w1 = n1;
}

} // namespace

TDCP_gost::TDCP_gost() : TDCP_blockcipher("Gost", 64, 256, 8) {
  EraseKey();
}

TDCP_gost::~TDCP_gost() {
  if (initialized_) EraseKey();
}

void TDCP_gost::EraseKey() {
  SecureFill(key_, 0xFF, sizeof key_);
  EraseChain();
}

void TDCP_gost::InstallKey(const std::uint8_t* key32, std::int32_t /*sizeBits*/) {
  // One key length only: a shorter key arrives zero-padded to 32 bytes.
  for (int i = 0; i < 8; ++i) key_[i] = LoadLE(key32 + 4 * i);
}

void TDCP_gost::EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w0 = LoadLE(in), w1 = LoadLE(in + 4);
  EncryptWords(key_, w0, w1);
  StoreLE(out, w0);
  StoreLE(out + 4, w1);
}

void TDCP_gost::DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t w0 = LoadLE(in), w1 = LoadLE(in + 4);
  DecryptWords(key_, w0, w1);
  StoreLE(out, w0);
  StoreLE(out + 4, w1);
}

void TDCP_gost::EncryptCBC(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  std::uint32_t c0 = LoadLE(chain_), c1 = LoadLE(chain_ + 4);
  std::int32_t done = 0;
  for (; size - done >= 8; done += 8) {
    c0 ^= LoadLE(src + done);
    c1 ^= LoadLE(src + done + 4);
    EncryptWords(key_, c0, c1);
    StoreLE(dst + done, c0);
    StoreLE(dst + done + 4, c1);
  }
  StoreLE(chain_, c0);
  StoreLE(chain_ + 4, c1);
  std::uint8_t work[8];
  if (done < size) {
    // Tail: one block of keystream from the chaining value, which does not advance.
    EncryptWords(key_, c0, c1);
    StoreLE(work, c0);
    StoreLE(work + 4, c1);
    for (std::int32_t j = 0; done + j < size; ++j) dst[done + j] = src[done + j] ^ work[j];
  }
  SecureFill(work, 0xFF, sizeof work);
}

void TDCP_gost::DecryptCBC(const void* in, void* out, std::int32_t size) {
  CheckInitialized();
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  std::uint32_t c0 = LoadLE(chain_), c1 = LoadLE(chain_ + 4);
  std::int32_t done = 0;
  for (; size - done >= 8; done += 8) {
    // Read the ciphertext before writing, so that in-place work is safe.
    const std::uint32_t s0 = LoadLE(src + done), s1 = LoadLE(src + done + 4);
    std::uint32_t p0 = s0, p1 = s1;
    DecryptWords(key_, p0, p1);
    StoreLE(dst + done, p0 ^ c0);
    StoreLE(dst + done + 4, p1 ^ c1);
    c0 = s0;
    c1 = s1;
  }
  StoreLE(chain_, c0);
  StoreLE(chain_ + 4, c1);
  std::uint8_t work[8];
  if (done < size) {
    EncryptWords(key_, c0, c1);
    StoreLE(work, c0);
    StoreLE(work + 4, c1);
    for (std::int32_t j = 0; done + j < size; ++j) dst[done + j] = src[done + j] ^ work[j];
  }
  SecureFill(work, 0xFF, sizeof work);
}

} // namespace qk::crypto
