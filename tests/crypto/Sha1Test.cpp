#include "crypto/SHA1.h"
#include "support/TestSupport.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qk::crypto {
namespace {

using test::Hex;
using test::RandomBytes;

std::string Digest(const std::string& message) {
  TDCP_sha1 h;
  h.Init();
  h.Update(message.data(), static_cast<std::int32_t>(message.size()));
  std::string out(20, '\0');
  h.Final(out.data());
  return Hex(out);
}

std::string Reference(const std::string& message) {
  std::string out(CryptoPP::SHA1::DIGESTSIZE, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(out.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(message.data()),
                                   message.size());
  return Hex(out);
}

TEST(Sha1, PublishedVectors) {
  EXPECT_EQ(Digest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Digest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Digest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, Identity) {
  TDCP_sha1 h;
  EXPECT_EQ(h.Algorithm(), "SHA1");
  EXPECT_EQ(h.HashSize(), 160);
  EXPECT_EQ(h.AlgorithmCode(), 2);
  EXPECT_FALSE(h.Initialized());
}

TEST(Sha1, PaddingBoundariesMatchReference) {
  // 55 bytes fit the length in the same block; 56..63 need a second one; 64 ends on a boundary.
  for (std::size_t n : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u}) {
    const std::string m = RandomBytes(n, static_cast<std::uint32_t>(n));
    EXPECT_EQ(Digest(m), Reference(m)) << "length " << n;
  }
}

TEST(Sha1, RandomLengthsMatchReference) {
  std::mt19937 gen(4711);
  for (int i = 0; i < 200; ++i) {
    const std::size_t n = gen() % 5000;
    const std::string m = RandomBytes(n, gen());
    ASSERT_EQ(Digest(m), Reference(m)) << "length " << n;
  }
}

TEST(Sha1, PiecesOfAnySizeEqualOneUpdate) {
  const std::string m = RandomBytes(3000, 99);
  const std::string whole = Reference(m);
  const std::vector<std::vector<std::size_t>> patterns = {
      {0, 1, 63, 64, 65}, {64}, {1}, {63}, {65, 0, 0, 127}, {7, 57}, {128, 3, 200}};
  for (const auto& pattern : patterns) {
    TDCP_sha1 h;
    h.Init();
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < m.size(); ++k) {
      std::size_t n = pattern[k % pattern.size()];
      if (n > m.size() - pos) n = m.size() - pos;
      h.Update(m.data() + pos, static_cast<std::int32_t>(n));
      pos += n;
    }
    std::string out(20, '\0');
    h.Final(out.data());
    EXPECT_EQ(Hex(out), whole) << "first piece " << pattern[0];
  }

  std::mt19937 gen(5);
  for (int round = 0; round < 50; ++round) {
    TDCP_sha1 h;
    h.Init();
    std::size_t pos = 0;
    while (pos < m.size()) {
      std::size_t n = gen() % 300;
      if (n > m.size() - pos) n = m.size() - pos;
      h.Update(m.data() + pos, static_cast<std::int32_t>(n));
      pos += n;
    }
    std::string out(20, '\0');
    h.Final(out.data());
    ASSERT_EQ(Hex(out), whole);
  }
}

TEST(Sha1, LengthCountCarriesIntoHighWord) {
  // 2^29 + 96 bytes: the bit count passes 2^32, so its high word is used.
  const std::string piece = RandomBytes(1 << 20, 3);
  const std::size_t total = (std::size_t{1} << 29) + 96;
  TDCP_sha1 ours;
  CryptoPP::SHA1 ref;
  ours.Init();
  for (std::size_t done = 0; done < total;) {
    const std::size_t n = std::min(piece.size() - 13, total - done);
    ours.Update(piece.data(), static_cast<std::int32_t>(n));
    ref.Update(reinterpret_cast<const CryptoPP::byte*>(piece.data()), n);
    done += n;
  }
  std::string a(20, '\0'), b(20, '\0');
  ours.Final(a.data());
  ref.Final(reinterpret_cast<CryptoPP::byte*>(b.data()));
  EXPECT_EQ(Hex(a), Hex(b));
}

TEST(Sha1, StateRules) {
  TDCP_sha1 h;
  std::string out(20, '\0');
  try {
    h.Update("x", 1);
    FAIL() << "Update before Init";
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), "SHA1: Not initialized");
  }

  h.Init();
  h.UpdateText("abc");
  h.Final(out.data());
  EXPECT_FALSE(h.Initialized());
  try {
    h.Final(out.data());
    FAIL() << "second Final";
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), "SHA1: Not initialized");
  }

  // Init starts over; empty text and size 0 add nothing.
  h.Init();
  h.UpdateText("discarded");
  h.Init();
  h.UpdateText("");
  h.Update("ab", 0);
  h.UpdateText("ab");
  h.UpdateText("");
  h.UpdateText("c");
  h.Final(out.data());
  EXPECT_EQ(Hex(out), "a9993e364706816aba3e25717850c26c9cd0d89d");

  h.Init();
  h.UpdateText("");
  h.Final(out.data());
  EXPECT_EQ(Hex(out), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

} // namespace
} // namespace qk::crypto
