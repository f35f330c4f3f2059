#include "crypto/SHA1.h"

#include "crypto/Accel.h"
#include "platform/Hardening.h"

#include <cstring>

namespace qk::crypto {

namespace {

constexpr std::uint32_t kK0 = 0x5A827999;
constexpr std::uint32_t kK1 = 0x6ED9EBA1;
constexpr std::uint32_t kK2 = 0x8F1BBCDC;
constexpr std::uint32_t kK3 = 0xCA62C1D6;

inline std::uint32_t Rol(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LoadBE(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void StoreBE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// The message schedule is kept as a ring of 16 words: W[t] replaces W[t - 16] in slot t mod 16.
inline std::uint32_t Expand(std::uint32_t* w, int t) {
  const std::uint32_t v = Rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
  w[t & 15] = v;
  return v;
}

// One round each; the caller rotates the roles of the five working words.
inline void RoundCh(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                    std::uint32_t& e, std::uint32_t w) {
  e += Rol(a, 5) + (d ^ (b & (c ^ d))) + w + kK0;
  b = Rol(b, 30);
}

inline void RoundParity(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                        std::uint32_t& e, std::uint32_t w, std::uint32_t k) {
  e += Rol(a, 5) + (b ^ c ^ d) + w + k;
  b = Rol(b, 30);
}

inline void RoundMaj(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                     std::uint32_t& e, std::uint32_t w) {
  e += Rol(a, 5) + ((b & c) | (d & (b | c))) + w + kK2;
  b = Rol(b, 30);
}

} // namespace

TDCP_sha1::TDCP_sha1() : TDCP_hash("SHA1", 160) {
  EraseState();
}

TDCP_sha1::~TDCP_sha1() {
  if (initialized_) EraseState();
}

void TDCP_sha1::Init() {
  EraseState();
  h_[0] = 0x67452301;
  h_[1] = 0xEFCDAB89;
  h_[2] = 0x98BADCFE;
  h_[3] = 0x10325476;
  h_[4] = 0xC3D2E1F0;
  initialized_ = true;
}

void TDCP_sha1::EraseState() {
  lenHi_ = 0;
  lenLo_ = 0;
  index_ = 0;
  platform::SecureZero(buffer_, sizeof buffer_);
  platform::SecureZero(h_, sizeof h_);
  initialized_ = false;
}

void TDCP_sha1::Compress(const std::uint8_t* data, std::size_t blocks) {
  if (accel::ShaNi()) {
    accel::Sha1Compress(h_, data, blocks);
    return;
  }
  std::uint32_t w[16];
  std::uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t a = h0, b = h1, c = h2, d = h3, e = h4;
    for (int i = 0; i < 16; ++i) w[i] = LoadBE(data + 4 * i);

    RoundCh(a, b, c, d, e, w[0]);
    RoundCh(e, a, b, c, d, w[1]);
    RoundCh(d, e, a, b, c, w[2]);
    RoundCh(c, d, e, a, b, w[3]);
    RoundCh(b, c, d, e, a, w[4]);
    RoundCh(a, b, c, d, e, w[5]);
    RoundCh(e, a, b, c, d, w[6]);
    RoundCh(d, e, a, b, c, w[7]);
    RoundCh(c, d, e, a, b, w[8]);
    RoundCh(b, c, d, e, a, w[9]);
    RoundCh(a, b, c, d, e, w[10]);
    RoundCh(e, a, b, c, d, w[11]);
    RoundCh(d, e, a, b, c, w[12]);
    RoundCh(c, d, e, a, b, w[13]);
    RoundCh(b, c, d, e, a, w[14]);
    RoundCh(a, b, c, d, e, w[15]);
    RoundCh(e, a, b, c, d, Expand(w, 16));
    RoundCh(d, e, a, b, c, Expand(w, 17));
    RoundCh(c, d, e, a, b, Expand(w, 18));
    RoundCh(b, c, d, e, a, Expand(w, 19));

    RoundParity(a, b, c, d, e, Expand(w, 20), kK1);
    RoundParity(e, a, b, c, d, Expand(w, 21), kK1);
    RoundParity(d, e, a, b, c, Expand(w, 22), kK1);
    RoundParity(c, d, e, a, b, Expand(w, 23), kK1);
    RoundParity(b, c, d, e, a, Expand(w, 24), kK1);
    RoundParity(a, b, c, d, e, Expand(w, 25), kK1);
    RoundParity(e, a, b, c, d, Expand(w, 26), kK1);
    RoundParity(d, e, a, b, c, Expand(w, 27), kK1);
    RoundParity(c, d, e, a, b, Expand(w, 28), kK1);
    RoundParity(b, c, d, e, a, Expand(w, 29), kK1);
    RoundParity(a, b, c, d, e, Expand(w, 30), kK1);
    RoundParity(e, a, b, c, d, Expand(w, 31), kK1);
    RoundParity(d, e, a, b, c, Expand(w, 32), kK1);
    RoundParity(c, d, e, a, b, Expand(w, 33), kK1);
    RoundParity(b, c, d, e, a, Expand(w, 34), kK1);
    RoundParity(a, b, c, d, e, Expand(w, 35), kK1);
    RoundParity(e, a, b, c, d, Expand(w, 36), kK1);
    RoundParity(d, e, a, b, c, Expand(w, 37), kK1);
    RoundParity(c, d, e, a, b, Expand(w, 38), kK1);
    RoundParity(b, c, d, e, a, Expand(w, 39), kK1);

    RoundMaj(a, b, c, d, e, Expand(w, 40));
    RoundMaj(e, a, b, c, d, Expand(w, 41));
    RoundMaj(d, e, a, b, c, Expand(w, 42));
    RoundMaj(c, d, e, a, b, Expand(w, 43));
    RoundMaj(b, c, d, e, a, Expand(w, 44));
    RoundMaj(a, b, c, d, e, Expand(w, 45));
    RoundMaj(e, a, b, c, d, Expand(w, 46));
    RoundMaj(d, e, a, b, c, Expand(w, 47));
    RoundMaj(c, d, e, a, b, Expand(w, 48));
    RoundMaj(b, c, d, e, a, Expand(w, 49));
    RoundMaj(a, b, c, d, e, Expand(w, 50));
    RoundMaj(e, a, b, c, d, Expand(w, 51));
    RoundMaj(d, e, a, b, c, Expand(w, 52));
    RoundMaj(c, d, e, a, b, Expand(w, 53));
    RoundMaj(b, c, d, e, a, Expand(w, 54));
    RoundMaj(a, b, c, d, e, Expand(w, 55));
    RoundMaj(e, a, b, c, d, Expand(w, 56));
    RoundMaj(d, e, a, b, c, Expand(w, 57));
    RoundMaj(c, d, e, a, b, Expand(w, 58));
    RoundMaj(b, c, d, e, a, Expand(w, 59));

    RoundParity(a, b, c, d, e, Expand(w, 60), kK3);
    RoundParity(e, a, b, c, d, Expand(w, 61), kK3);
    RoundParity(d, e, a, b, c, Expand(w, 62), kK3);
    RoundParity(c, d, e, a, b, Expand(w, 63), kK3);
    RoundParity(b, c, d, e, a, Expand(w, 64), kK3);
    RoundParity(a, b, c, d, e, Expand(w, 65), kK3);
    RoundParity(e, a, b, c, d, Expand(w, 66), kK3);
    RoundParity(d, e, a, b, c, Expand(w, 67), kK3);
    RoundParity(c, d, e, a, b, Expand(w, 68), kK3);
    RoundParity(b, c, d, e, a, Expand(w, 69), kK3);
    RoundParity(a, b, c, d, e, Expand(w, 70), kK3);
    RoundParity(e, a, b, c, d, Expand(w, 71), kK3);
    RoundParity(d, e, a, b, c, Expand(w, 72), kK3);
    RoundParity(c, d, e, a, b, Expand(w, 73), kK3);
    RoundParity(b, c, d, e, a, Expand(w, 74), kK3);
    RoundParity(a, b, c, d, e, Expand(w, 75), kK3);
    RoundParity(e, a, b, c, d, Expand(w, 76), kK3);
    RoundParity(d, e, a, b, c, Expand(w, 77), kK3);
    RoundParity(c, d, e, a, b, Expand(w, 78), kK3);
    RoundParity(b, c, d, e, a, Expand(w, 79), kK3);

    h0 += a;
    h1 += b;
    h2 += c;
    h3 += d;
    h4 += e;
  }
  h_[0] = h0;
  h_[1] = h1;
  h_[2] = h2;
  h_[3] = h3;
  h_[4] = h4;
  // The schedule holds message words; it is cleared once per call rather than per block.
  platform::SecureZero(w, sizeof w);
}

void TDCP_sha1::Update(const void* buffer, std::int32_t size) {
  if (!initialized_) throw CryptoError("SHA1: Not initialized");
  if (size <= 0) return;

  const auto count = static_cast<std::uint32_t>(size);
  const std::uint32_t bits = count << 3;
  lenLo_ += bits;
  if (lenLo_ < bits) ++lenHi_;
  lenHi_ += count >> 29;

  const auto* src = static_cast<const std::uint8_t*>(buffer);
  std::size_t left = count;

  // Complete a block started by an earlier call.
  if (index_ > 0) {
    const std::size_t room = 64 - static_cast<std::size_t>(index_);
    if (left < room) {
      std::memcpy(buffer_ + index_, src, left);
      index_ += static_cast<std::int32_t>(left);
      return;
    }
    std::memcpy(buffer_ + index_, src, room);
    Compress(buffer_, 1);
    std::memset(buffer_, 0, sizeof buffer_);
    index_ = 0;
    src += room;
    left -= room;
  }

  // Whole blocks straight from the input; the buffer is empty here.
  if (left >= 64) {
    const std::size_t blocks = left / 64;
    Compress(src, blocks);
    src += blocks * 64;
    left -= blocks * 64;
  }

  if (left > 0) {
    std::memcpy(buffer_, src, left);
    index_ = static_cast<std::int32_t>(left);
  }
}

void TDCP_sha1::Final(void* digest) {
  if (!initialized_) throw CryptoError("SHA1: Not initialized");
  buffer_[index_] = 0x80;
  if (index_ >= 56) {
    Compress(buffer_, 1);
    std::memset(buffer_, 0, sizeof buffer_);
  }
  StoreBE(buffer_ + 56, lenHi_);
  StoreBE(buffer_ + 60, lenLo_);
  Compress(buffer_, 1);
  auto* out = static_cast<std::uint8_t*>(digest);
  for (int i = 0; i < 5; ++i) StoreBE(out + 4 * i, h_[i]);
  EraseState();
}

} // namespace qk::crypto
