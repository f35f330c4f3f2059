#include "crypto/SHA1.h"
#include "support/TestSupport.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qk::crypto {
namespace {

using test::Hex;

std::string Finish(TDCP_sha1& h) {
  std::string out(20, '\0');
  h.Final(out.data());
  return Hex(out);
}

std::string Digest(const std::string& m) {
  TDCP_sha1 h;
  h.Init();
  h.Update(m.data(), static_cast<std::int32_t>(m.size()));
  return Finish(h);
}

std::string Reference(const std::string& m) {
  std::string out(20, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(out.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(m.data()), m.size());
  return Hex(out);
}

TEST(Sha1, PublishedVectors) {
  EXPECT_EQ(Digest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Digest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Digest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Every length up to three blocks (55/56 and 63/64/65 decide where the padding goes), then
// random lengths; each message also fed in random pieces, including empty ones.
TEST(Sha1, MatchesReferenceInOneCallAndInPieces) {
  std::mt19937 gen(4711);
  for (std::size_t n = 0; n < 400; ++n) {
    const std::size_t len = n < 200 ? n : gen() % 5000;
    const std::string m = test::RandomBytes(len, gen());
    const std::string ref = Reference(m);
    ASSERT_EQ(Digest(m), ref) << "length " << len;
    TDCP_sha1 h;
    h.Init();
    for (std::size_t pos = 0; pos < len;) {
      const std::size_t piece = std::min<std::size_t>(gen() % 130, len - pos);
      h.Update(m.data() + pos, static_cast<std::int32_t>(piece));
      pos += piece;
    }
    ASSERT_EQ(Finish(h), ref) << "pieces, length " << len;
  }
}

TEST(Sha1, BitCountCarriesIntoHighWord) {
  // 2^29 + 96 bytes: the bit count passes 2^32.
  const std::string piece = test::RandomBytes(1 << 20, 3);
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
  std::string b(20, '\0');
  ref.Final(reinterpret_cast<CryptoPP::byte*>(b.data()));
  EXPECT_EQ(Finish(ours), Hex(b));
}

TEST(Sha1, StateRules) {
  TDCP_sha1 h;
  EXPECT_THROW(h.Update("x", 1), CryptoError);
  h.Init();
  h.UpdateText("discarded");
  h.Init(); // starts over
  h.UpdateText("");
  h.Update("ab", 0);
  h.UpdateText("ab");
  h.UpdateText("");
  h.UpdateText("c");
  EXPECT_EQ(Finish(h), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_FALSE(h.Initialized());
  try {
    Finish(h);
    FAIL() << "second Final";
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), "SHA1: Not initialized");
  }
}

} // namespace
} // namespace qk::crypto
