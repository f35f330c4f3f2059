#include "crypto/SecHash.h"

#include "crypto/Accel.h"

#include "platform/File.h"
#include "platform/Hardening.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace qk::crypto {

namespace {

TSecHash::BusyHook& Hook() {
  static TSecHash::BusyHook hook;
  return hook;
}

// Reports busy for the lifetime of one hash call, however it ends.
class BusyGuard {
public:
  BusyGuard() {
    if (Hook()) Hook()(true);
  }
  ~BusyGuard() {
    if (Hook()) Hook()(false);
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
};

inline std::uint32_t Rol(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

} // namespace

void TSecHash::SetBusyHook(BusyHook hook) {
  Hook() = std::move(hook);
}

TSecHash::~TSecHash() {
  Wipe();
  platform::SecureZero(h_, sizeof h_);
}

void TSecHash::Wipe() {
  platform::SecureZero(block_, sizeof block_);
  platform::SecureZero(w_, sizeof w_);
}

void TSecHash::Compress() {
  if (accel::ShaNi()) {
    accel::Sha1Compress(h_, block_, 1);
    return;
  }
  for (int t = 0; t < 16; ++t) {
    const std::uint8_t* p = block_ + 4 * t;
    w_[t] = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
            std::uint32_t{p[3]};
  }
  for (int t = 16; t < 80; ++t) w_[t] = Rol(w_[t - 3] ^ w_[t - 8] ^ w_[t - 14] ^ w_[t - 16], 1);

  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f;
    std::uint32_t k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t temp = Rol(a, 5) + f + e + w_[t] + k;
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = temp;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

template <typename Fetch>
void TSecHash::Run(std::int64_t length, Fetch&& fetch, SecDigest& digest) {
  // Block and schedule hold message data; they are cleared however the call ends.
  struct StateWiper {
    TSecHash& hash;
    ~StateWiper() { hash.Wipe(); }
  } wiper{*this};

  h_[0] = 0x67452301;
  h_[1] = 0xEFCDAB89;
  h_[2] = 0x98BADCFE;
  h_[3] = 0x10325476;
  h_[4] = 0xC3D2E1F0;

  if (length == 0) {
    // Padding of the empty message; its length field is zero.
    std::memset(block_, 0, sizeof block_);
    block_[0] = 0x80;
    Compress();
  }

  std::int64_t rest = length;
  while (rest > 0) {
    if (rest < 64) {
      std::memset(block_, 0, sizeof block_);
      fetch(block_, static_cast<std::size_t>(rest));
      block_[rest] = 0x80;
      if (rest > 55) {
        Compress();
        std::memset(block_, 0, sizeof block_);
      }
      rest = 0;
    } else {
      fetch(block_, 64);
      Compress();
      rest -= 64;
      if (rest == 0) {
        std::memset(block_, 0, sizeof block_);
        block_[0] = 0x80;
      }
    }
    if (rest == 0) {
      // The message length in bits, big-endian; files of 2 GiB and more are hashed whole.
      const std::uint64_t bits = static_cast<std::uint64_t>(length) << 3;
      for (int i = 0; i < 8; ++i) block_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
      Compress();
    }
  }

  for (int i = 0; i < 5; ++i) digest.H[i] = h_[i];
}

void TSecHash::HashBuffer(const void* data, std::int32_t length, SecDigest& digest) {
  BusyGuard busy;
  const auto* src = static_cast<const std::uint8_t*>(data);
  Run(
      length,
      [&src](std::uint8_t* dst, std::size_t n) {
        std::memcpy(dst, src, n);
        src += n;
      },
      digest);
}

void TSecHash::HashText(std::string_view text, SecDigest& digest) {
  BusyGuard busy;
  const char* src = text.data();
  Run(
      static_cast<std::int32_t>(text.size()),
      [&src](std::uint8_t* dst, std::size_t n) {
        std::memcpy(dst, src, n);
        src += n;
      },
      digest);
}

void TSecHash::HashFile(const std::string& fileName, SecDigest& digest) {
  BusyGuard busy;
  platform::File file;
  try {
    file = platform::File::OpenShared(fileName);
  } catch (const platform::IoError&) {
    throw ESecHashException("File not found !");
  }
  // The size is read once; later growth of the file is not hashed, shrinking is a read error.
  const std::int64_t length = file.Size();

  // The loop takes 64 bytes at a time; the file is read in larger pieces underneath.
  constexpr std::size_t kChunk = 64 * 1024;
  std::vector<std::uint8_t> chunk;
  std::size_t pos = 0;
  std::size_t avail = 0;
  std::size_t unread = length > 0 ? static_cast<std::size_t>(length) : 0;
  struct ChunkWiper {
    std::vector<std::uint8_t>& data;
    ~ChunkWiper() { platform::SecureClear(data); }
  } wiper{chunk};

  Run(
      length,
      [&](std::uint8_t* dst, std::size_t n) {
        while (n > 0) {
          if (pos == avail) {
            const std::size_t want = unread < kChunk ? unread : kChunk;
            if (chunk.empty()) chunk.resize(want); // the first piece is the largest
            file.ReadExact(chunk.data(), want);
            unread -= want;
            pos = 0;
            avail = want;
            if (OnProgress && !OnProgress(length - static_cast<std::int64_t>(unread), length))
              throw ESecHashStopped();
          }
          const std::size_t take = avail - pos < n ? avail - pos : n;
          std::memcpy(dst, chunk.data() + pos, take);
          pos += take;
          dst += take;
          n -= take;
        }
      },
      digest);
}

std::string FormatSecDigest(const SecDigest& digest) {
  char text[5 * 9];
  std::snprintf(text, sizeof text, "%08X %08X %08X %08X %08X", digest.H[0], digest.H[1],
                digest.H[2], digest.H[3], digest.H[4]);
  return text;
}

} // namespace qk::crypto
