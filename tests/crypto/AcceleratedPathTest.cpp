// The routines that use the processor's instructions against the portable code: random keys of
// every size, random data and random piece splits through every buffer operation, compared byte
// for byte, chaining values included. On a processor without the instructions both sides run the
// portable code and the comparisons hold trivially.
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

// Which code the primitives use while it lives; the default again afterwards.
struct PathGuard {
  PathGuard(bool portable, bool wide) {
    ForcePortable(portable);
    accel::AllowWide(wide);
  }
  ~PathGuard() {
    ForcePortable(false);
    accel::AllowWide(true);
  }
};

struct Path {
  const char* name;
  bool portable;
  bool wide;
};

// The portable code first; every other entry is compared with it.
constexpr Path kPaths[] = {
    {"portable", true, false}, {"128-bit", false, false}, {"widest", false, true}};

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

template <class Cipher> void ExpectPathsAgree(int maxKeyBytes, int blockBytes) {
  std::mt19937 rng(0xC0FFEE + static_cast<unsigned>(maxKeyBytes + blockBytes));
  for (int trial = 0; trial < 150; ++trial) {
    CipherPlan plan = MakePlan(rng, maxKeyBytes);
    if (blockBytes != 16)
      plan.iv.resize(plan.iv.empty() ? 0 : static_cast<std::size_t>(blockBytes));
    std::string reference;
    for (const Path& path : kPaths) {
      const PathGuard guard(path.portable, path.wide);
      const std::string got = Transcript<Cipher>(plan);
      if (reference.empty()) {
        reference = got;
        continue;
      }
      ASSERT_EQ(got, reference) << path.name << ", trial " << trial << ", key bits " << plan.keyBits
                                << ", size " << plan.data.size();
    }
    // The plaintext comes back, so the reference is no agreement of two wrong answers.
    if (!plan.ragged) {
      ASSERT_NE(reference.find(plan.data), std::string::npos) << "trial " << trial;
    }
  }
}

TEST(AcceleratedPath, RijndaelModesMatchPortable) {
  ExpectPathsAgree<TDCP_rijndael>(32, 16);
}

TEST(AcceleratedPath, TwofishModesMatchPortable) {
  ExpectPathsAgree<TDCP_twofish>(32, 16);
}

TEST(AcceleratedPath, GostModesMatchPortable) {
  ExpectPathsAgree<TDCP_gost>(32, 8);
}

TEST(AcceleratedPath, RijndaelNilIVRuleHolds) {
  const std::string key(32, '\x07');
  std::string iv[2];
  for (int i = 0; i < 2; ++i) {
    const PathGuard guard(i == 0, true);
    TDCP_rijndael c;
    c.Init(key.data(), 256, "#INIT_IV_TO_NIL#");
    iv[i] = std::string(reinterpret_cast<const char*>(c.IV()), 16);
  }
  EXPECT_EQ(iv[0], std::string(16, '\0'));
  EXPECT_EQ(iv[1], iv[0]);
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

TEST(AcceleratedPath, Sha1MatchesPortableForEveryLengthAndSplit) {
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
    std::string portable;
    {
      const PathGuard guard(true, false);
      portable = Sha1Of(data, pieces);
    }
    const PathGuard guard(false, true);
    ASSERT_EQ(Sha1Of(data, {static_cast<std::int32_t>(size)}), portable) << "size " << size;
    ASSERT_EQ(Sha1Of(data, pieces), portable) << "size " << size;
  }
}

TEST(AcceleratedPath, SecHashMatchesPortable) {
  std::mt19937 rng(78);
  for (int trial = 0; trial < 150; ++trial) {
    const std::size_t size = trial < 130 ? static_cast<std::size_t>(trial) : rng() % 5000;
    const std::string data = RandomBytes(rng, size);
    SecDigest digest[2];
    for (int i = 0; i < 2; ++i) {
      const PathGuard guard(i == 0, true);
      TSecHash hash;
      hash.HashBuffer(data.data(), static_cast<std::int32_t>(size), digest[i]);
    }
    for (int w = 0; w < 5; ++w) ASSERT_EQ(digest[1].H[w], digest[0].H[w]) << "size " << size;
  }
}

} // namespace
} // namespace qk::crypto
