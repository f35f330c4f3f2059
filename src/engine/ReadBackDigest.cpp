#include "engine/ReadBackDigest.h"

#include "platform/Hardening.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace qk::engine {

namespace {

__extension__ using Wide = unsigned __int128;

// The 128-bit product of a and b, its halves folded together.
inline std::uint64_t Fold(std::uint64_t a, std::uint64_t b) {
  const Wide p = static_cast<Wide>(a) * b;
  return static_cast<std::uint64_t>(p) ^ static_cast<std::uint64_t>(p >> 64);
}

inline std::uint64_t Rotl(std::uint64_t v, int s) {
  return (v << s) | (v >> (64 - s));
}

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

} // namespace

ReadBackDigest::ReadBackDigest(const Key& key) : TDCP_hash("ReadBackDigest", 160), key_(key) {}

ReadBackDigest::~ReadBackDigest() {
  EraseState();
  platform::SecureZero(key_.data(), sizeof key_);
}

ReadBackDigest::Key ReadBackDigest::FreshKey() {
  std::random_device device;
  Key key;
  for (auto& word : key) word = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  return key;
}

void ReadBackDigest::Init() {
  for (std::size_t i = 0; i < 4; ++i) lane_[i] = key_[i] ^ key_[7 - i];
  length_ = 0;
  heldBytes_ = 0;
  initialized_ = true;
}

void ReadBackDigest::EraseState() {
  platform::SecureZero(lane_, sizeof lane_);
  platform::SecureZero(held_, sizeof held_);
  length_ = 0;
  heldBytes_ = 0;
  initialized_ = false;
}

void ReadBackDigest::Blocks(const std::uint8_t* data, std::size_t blocks) {
  std::uint64_t a = lane_[0], b = lane_[1], c = lane_[2], d = lane_[3];
  for (; blocks != 0; --blocks, data += 64) {
    std::uint64_t w[8];
    for (int i = 0; i < 8; ++i) w[i] = Load64(data + 8 * i);
    // The product's zero case (a word equal to its key word) still keeps the other word.
    a = Rotl(a, 23) + Fold(w[0] ^ key_[0], w[1] ^ key_[1]) + w[1];
    b = Rotl(b, 23) + Fold(w[2] ^ key_[2], w[3] ^ key_[3]) + w[3];
    c = Rotl(c, 23) + Fold(w[4] ^ key_[4], w[5] ^ key_[5]) + w[5];
    d = Rotl(d, 23) + Fold(w[6] ^ key_[6], w[7] ^ key_[7]) + w[7];
  }
  lane_[0] = a;
  lane_[1] = b;
  lane_[2] = c;
  lane_[3] = d;
}

void ReadBackDigest::Update(const void* buffer, std::int32_t size) {
  if (!initialized_) throw crypto::CryptoError("ReadBackDigest: Not initialized");
  if (size <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  auto n = static_cast<std::size_t>(size);
  length_ += n;
  if (heldBytes_ != 0) {
    const std::size_t take = std::min(n, sizeof held_ - heldBytes_);
    std::memcpy(held_ + heldBytes_, p, take);
    heldBytes_ += take;
    p += take;
    n -= take;
    if (heldBytes_ < sizeof held_) return;
    Blocks(held_, 1);
    heldBytes_ = 0;
  }
  Blocks(p, n / 64);
  p += n / 64 * 64;
  n %= 64;
  std::memcpy(held_, p, n);
  heldBytes_ = n;
}

void ReadBackDigest::Final(void* digest) {
  if (!initialized_) throw crypto::CryptoError("ReadBackDigest: Not initialized");
  if (heldBytes_ != 0) {
    std::memset(held_ + heldBytes_, 0, sizeof held_ - heldBytes_);
    Blocks(held_, 1);
  }
  std::uint8_t out[24];
  for (std::size_t j = 0; j < 3; ++j) {
    std::uint64_t h = key_[j] ^ length_;
    for (std::size_t i = 0; i < 4; ++i) {
      h = Fold(h ^ lane_[i], key_[4 + i] ^ (0x9E3779B97F4A7C15ull * (j + 1))) ^ lane_[i];
    }
    h = Fold(h, key_[7 - j] | 1) ^ (h >> 29);
    for (std::size_t k = 0; k < 8; ++k) out[8 * j + k] = static_cast<std::uint8_t>(h >> (8 * k));
  }
  std::memcpy(digest, out, DigestBytes);
  platform::SecureZero(out, sizeof out);
  EraseState();
}

} // namespace qk::engine
