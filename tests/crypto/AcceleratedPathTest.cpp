// The routines of every level of the processor against the portable code: random keys of every
// size, random data and random piece splits through every buffer operation, compared byte for
// byte, chaining values included.
#include "crypto/Accel.h"
#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"
#include "crypto/SecHash.h"
#include "crypto/Twofish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qk::crypto {
namespace {

// Caps the level of the routines while it lives; the cap of the environment again afterwards.
struct LevelGuard {
  explicit LevelGuard(CpuLevel cap) { SetCpuLevelCap(cap); }
  ~LevelGuard() { ResetCpuLevelCap(); }
  LevelGuard(const LevelGuard&) = delete;
  LevelGuard& operator=(const LevelGuard&) = delete;
};

std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Sizes of consecutive pieces covering total bytes: whole blocks but for the last piece, or with
// ragged ones in between too (a partial tail then occurs between pieces).
std::vector<std::int32_t> RandomSplit(std::mt19937& rng, std::size_t total, bool ragged) {
  std::vector<std::int32_t> pieces;
  std::size_t left = total;
  while (left > 0) {
    std::size_t n = ragged && rng() % 4 == 0 ? rng() % 40 : 16 * (rng() % 70);
    if (n == 0) n = 16;
    if (n > left) n = left;
    pieces.push_back(static_cast<std::int32_t>(n));
    left -= n;
  }
  return pieces;
}

struct CipherPlan {
  std::string key;
  std::int32_t keyBits = 0;
  std::string iv; // empty: no IV
  std::string data;
  std::vector<std::int32_t> encryptPieces, decryptPieces;
  std::size_t cfbBytes = 0;
  bool ragged = false; // partial tails between pieces: decryption does not invert encryption
};

CipherPlan MakePlan(std::mt19937& rng, int maxKeyBytes) {
  CipherPlan p;
  const int keyBytes = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxKeyBytes));
  p.key = RandomBytes(rng, static_cast<std::size_t>(keyBytes));
  p.keyBits = 8 * keyBytes;
  if (rng() % 2) p.iv = RandomBytes(rng, 16);
  // Short buffers, several hundred blocks, and now and then a whole file piece and a tail.
  const unsigned kind = rng() % 5;
  const std::size_t size = kind == 0 ? rng() % 48 : kind == 4 ? 8192 + rng() % 48 : rng() % 1600;
  p.data = RandomBytes(rng, size);
  p.ragged = rng() % 3 == 0;
  p.encryptPieces = RandomSplit(rng, size, p.ragged);
  p.decryptPieces = RandomSplit(rng, size, p.ragged);
  p.cfbBytes = rng() % 70;
  return p;
}

std::string ChainOf(const TDCP_blockcipher& c) {
  return std::string(reinterpret_cast<const char*>(c.ChainValue()), 16);
}

// Everything a cipher produces for the plan: CBC both ways, into another buffer and in place, with
// the chaining value after every piece, CFB8 both ways and single blocks.
template <class Cipher> std::string Transcript(const CipherPlan& p) {
  Cipher c;
  c.Init(p.key.data(), p.keyBits, p.iv.empty() ? nullptr : p.iv.data());
  std::string out = ChainOf(c);

  std::string cipherText(p.data.size(), '\0');
  std::size_t at = 0;
  for (const std::int32_t n : p.encryptPieces) {
    c.EncryptCBC(p.data.data() + at, cipherText.data() + at, n);
    at += static_cast<std::size_t>(n);
    out += ChainOf(c);
  }
  out += cipherText;

  c.ResetChain();
  std::string plain = cipherText;
  at = 0;
  for (const std::int32_t n : p.decryptPieces) {
    c.DecryptCBC(plain.data() + at, plain.data() + at, n);
    at += static_cast<std::size_t>(n);
    out += ChainOf(c);
  }
  out += plain;

  // The other way round: encryption in place, decryption into another buffer.
  c.ResetChain();
  std::string inPlace = p.data;
  at = 0;
  for (const std::int32_t n : p.encryptPieces) {
    c.EncryptCBC(inPlace.data() + at, inPlace.data() + at, n);
    at += static_cast<std::size_t>(n);
  }
  out += inPlace + ChainOf(c);
  c.ResetChain();
  std::string copy(p.data.size(), '\0');
  at = 0;
  for (const std::int32_t n : p.decryptPieces) {
    c.DecryptCBC(cipherText.data() + at, copy.data() + at, n);
    at += static_cast<std::size_t>(n);
  }
  out += copy + ChainOf(c);

  c.ResetChain();
  std::string cfb = p.data.substr(0, p.cfbBytes);
  c.EncryptCFB8(cfb.data(), cfb.data(), static_cast<std::int32_t>(cfb.size()));
  out += cfb + ChainOf(c);
  c.ResetChain();
  c.DecryptCFB8(cfb.data(), cfb.data(), static_cast<std::int32_t>(cfb.size()));
  out += cfb + ChainOf(c);

  std::string block = p.key + std::string(16, '\x5C');
  block.resize(16);
  c.EncryptBlock(block.data(), block.data());
  out += block;
  c.DecryptBlock(block.data(), block.data());
  c.DecryptBlock(block.data(), block.data());
  out += block;
  return out;
}

// Every test below runs once per level: the routines of that level (and of those below it where
// it has none of its own) against the portable code. Levels above the processor's, or above the
// cap of QK_CRYPTO_LEVEL, are skipped.
class AcceleratedPath : public ::testing::TestWithParam<CpuLevel> {
public:
  void SetUp() override {
    if (GetParam() > CpuLevelCeiling()) {
      GTEST_SKIP() << "the " << CpuLevelName(GetParam()) << " level is above this processor's or "
                   << "above QK_CRYPTO_LEVEL";
    }
  }
  // The result of f with the portable code and with the level under test.
  template <class F> auto PortableAndLevel(F f) {
    decltype(f()) portable, level;
    {
      const LevelGuard guard(CpuLevel::Portable);
      portable = f();
    }
    {
      const LevelGuard guard(GetParam());
      EXPECT_EQ(ActiveCpuLevel(), GetParam());
      level = f();
    }
    return std::make_pair(portable, level);
  }
};

template <class Cipher>
void ExpectLevelAgrees(AcceleratedPath& test, int maxKeyBytes, int blockBytes) {
  std::mt19937 rng(0xC0FFEE + static_cast<unsigned>(maxKeyBytes + blockBytes));
  for (int trial = 0; trial < 150; ++trial) {
    CipherPlan plan = MakePlan(rng, maxKeyBytes);
    if (blockBytes != 16)
      plan.iv.resize(plan.iv.empty() ? 0 : static_cast<std::size_t>(blockBytes));
    const auto [reference, got] = test.PortableAndLevel([&] { return Transcript<Cipher>(plan); });
    ASSERT_EQ(got, reference) << "trial " << trial << ", key bits " << plan.keyBits << ", size "
                              << plan.data.size();
    // The plaintext comes back, so the reference is no agreement of two wrong answers.
    if (!plan.ragged) {
      ASSERT_NE(reference.find(plan.data), std::string::npos) << "trial " << trial;
    }
  }
}

TEST_P(AcceleratedPath, RijndaelModesMatchPortable) {
  ExpectLevelAgrees<TDCP_rijndael>(*this, 32, 16);
}

TEST_P(AcceleratedPath, TwofishModesMatchPortable) {
  ExpectLevelAgrees<TDCP_twofish>(*this, 32, 16);
}

TEST_P(AcceleratedPath, GostModesMatchPortable) {
  ExpectLevelAgrees<TDCP_gost>(*this, 32, 8);
}

// CBC over blocks whole blocks and a partial tail: encryption, decryption in one call into another
// buffer and in place, and decryption in place in pieces of a few blocks with the chain carried
// over.
template <class Cipher>
std::string GroupRun(const std::string& key, const std::string& data, std::size_t blocks) {
  Cipher cipher;
  cipher.Init(key.data(), 256, nullptr);
  const auto size = static_cast<std::int32_t>(16 * blocks + blocks % 16);
  std::string cipherText(data.substr(0, static_cast<std::size_t>(size)));
  cipher.EncryptCBC(cipherText.data(), cipherText.data(), size);
  std::string out = cipherText;
  cipher.ResetChain();
  std::string whole(cipherText.size(), '\0');
  cipher.DecryptCBC(cipherText.data(), whole.data(), size);
  out += whole + ChainOf(cipher);
  cipher.ResetChain();
  std::string inPlace = cipherText;
  cipher.DecryptCBC(inPlace.data(), inPlace.data(), size);
  out += inPlace + ChainOf(cipher);
  cipher.ResetChain();
  const auto step = 16 * static_cast<std::int32_t>(1 + blocks % 9);
  for (std::int32_t at = 0; at < size; at += step) {
    cipher.DecryptCBC(cipherText.data() + at, cipherText.data() + at, std::min(step, size - at));
  }
  return out + cipherText + ChainOf(cipher);
}

// Whole groups of the widest routines and every remainder after them, in one call and carried
// over calls of a few blocks each, in place and into another buffer.
TEST_P(AcceleratedPath, TwofishAndRijndaelGroupBoundaries) {
  std::mt19937 rng(91);
  const std::string key = RandomBytes(rng, 32);
  const std::string data = RandomBytes(rng, 16 * 80 + 9);
  for (std::size_t blocks = 0; blocks <= 80; ++blocks) {
    const auto twofish =
        PortableAndLevel([&] { return GroupRun<TDCP_twofish>(key, data, blocks); });
    ASSERT_EQ(twofish.second, twofish.first) << "Twofish, " << blocks << " blocks";
    const auto rijndael =
        PortableAndLevel([&] { return GroupRun<TDCP_rijndael>(key, data, blocks); });
    ASSERT_EQ(rijndael.second, rijndael.first) << "Rijndael, " << blocks << " blocks";
  }
}

TEST_P(AcceleratedPath, RijndaelNilIVRuleHolds) {
  const std::string key(32, '\x07');
  const auto iv = PortableAndLevel([&] {
    TDCP_rijndael c;
    c.Init(key.data(), 256, "#INIT_IV_TO_NIL#");
    return std::string(reinterpret_cast<const char*>(c.IV()), 16);
  });
  EXPECT_EQ(iv.first, std::string(16, '\0'));
  EXPECT_EQ(iv.second, iv.first);
}

std::string Sha1Of(const std::string& data, const std::vector<std::int32_t>& pieces) {
  TDCP_sha1 sha;
  sha.Init();
  std::size_t at = 0;
  for (const std::int32_t n : pieces) {
    sha.Update(data.data() + at, n);
    at += static_cast<std::size_t>(n);
  }
  std::string digest(20, '\0');
  sha.Final(digest.data());
  return digest;
}

TEST_P(AcceleratedPath, Sha1MatchesPortableForEveryLengthAndSplit) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 400; ++trial) {
    // Every length around the padding boundaries of the first blocks, then random ones.
    const std::size_t size = trial < 200 ? static_cast<std::size_t>(trial) : rng() % 9000;
    const std::string data = RandomBytes(rng, size);
    std::vector<std::int32_t> pieces;
    for (std::size_t left = size; left > 0;) {
      const std::size_t n = std::min<std::size_t>(left, 1 + rng() % 300);
      pieces.push_back(static_cast<std::int32_t>(n));
      left -= n;
    }
    const auto whole =
        PortableAndLevel([&] { return Sha1Of(data, {static_cast<std::int32_t>(size)}); });
    ASSERT_EQ(whole.second, whole.first) << "size " << size;
    const auto split = PortableAndLevel([&] { return Sha1Of(data, pieces); });
    ASSERT_EQ(split.second, whole.first) << "size " << size;
    ASSERT_EQ(split.first, whole.first) << "size " << size;
  }
}

TEST_P(AcceleratedPath, SecHashMatchesPortable) {
  std::mt19937 rng(78);
  for (int trial = 0; trial < 150; ++trial) {
    const std::size_t size = trial < 130 ? static_cast<std::size_t>(trial) : rng() % 5000;
    const std::string data = RandomBytes(rng, size);
    const auto digests = PortableAndLevel([&] {
      SecDigest digest;
      TSecHash hash;
      hash.HashBuffer(data.data(), static_cast<std::int32_t>(size), digest);
      return std::vector<std::uint32_t>(digest.H, digest.H + 5);
    });
    ASSERT_EQ(digests.second, digests.first) << "size " << size;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, AcceleratedPath, ::testing::ValuesIn(kCpuLevels),
                         [](const ::testing::TestParamInfo<CpuLevel>& info) {
                           return std::string(CpuLevelName(info.param));
                         });

} // namespace
} // namespace qk::crypto
