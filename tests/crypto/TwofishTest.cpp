// Twofish against the designers' known-answer tests.
#include "crypto/Twofish.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace qk::crypto {
namespace {

using test::FromHex;
using test::Hex;

std::string Encrypt(TDCP_twofish& c, const std::string& block) {
  std::string out(16, '\0');
  c.EncryptBlock(block.data(), out.data());
  return out;
}

std::string Decrypt(TDCP_twofish& c, const std::string& block) {
  std::string out(16, '\0');
  c.DecryptBlock(block.data(), out.data());
  return out;
}

TEST(Twofish, KnownAnswersBothDirections) {
  struct Case {
    const char* key;
    const char* cipher;
  };
  const Case cases[] = {
      {"00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a"},
      {"0123456789abcdeffedcba98765432100011223344556677", "cfd1d2e5a9be9cdf501f13b892bd2248"},
      {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
       "37527be0052334b89f0cfccae87cfa20"},
  };
  const std::string zero(16, '\0');
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.key);
    const std::string key = FromHex(tc.key);
    TDCP_twofish c;
    c.Init(key.data(), static_cast<std::int32_t>(key.size() * 8), nullptr);
    EXPECT_EQ(Hex(Encrypt(c, zero)), tc.cipher);
    EXPECT_EQ(Decrypt(c, FromHex(tc.cipher)), zero);
  }
}

// The iterated table of the known-answer tests: each step encrypts the previous ciphertext
// under a key made of the previous plaintext followed by the front of the previous key.
TEST(Twofish, IteratedKnownAnswerChain) {
  struct Case {
    std::size_t keyBytes;
    const char* second;
    const char* last;
  };
  const Case cases[] = {
      {16, "d491db16e7b1c39e86cb086b789f5419", "5d9d4eeffa9151575524f115815a12e0"},
      {24, "88b2b2706b105e36b446bb6d731a1e88", "e75449212beef9f4a390bd860a640941"},
      {32, nullptr, "37fe26ff1cf66175f5ddf4c33b97a205"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.keyBytes);
    std::string key(tc.keyBytes, '\0');
    std::string plain(16, '\0');
    std::string cipher;
    TDCP_twofish c;
    for (int i = 1; i <= 49; ++i) {
      c.Init(key.data(), static_cast<std::int32_t>(key.size() * 8), nullptr);
      cipher = Encrypt(c, plain);
      ASSERT_EQ(Decrypt(c, cipher), plain) << "step " << i;
      if (i == 2 && tc.second) {
        EXPECT_EQ(Hex(cipher), tc.second);
      }
      key = (plain + key).substr(0, tc.keyBytes);
      plain = cipher;
    }
    EXPECT_EQ(Hex(cipher), tc.last);
  }
}

TEST(Twofish, RekeyingReplacesTheWholeSchedule) {
  // A 256-bit key followed by a 128-bit key on the same object must leave no trace of the
  // longer key in the keyed tables.
  const std::string longKey =
      FromHex("0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff");
  const std::string zeroKey(16, '\0');
  TDCP_twofish c;
  c.Init(longKey.data(), 256, nullptr);
  c.Init(zeroKey.data(), 128, nullptr);
  EXPECT_EQ(Hex(Encrypt(c, std::string(16, '\0'))), "9f589f5cf6122c32b6bfec2f2ae8c35a");
}

} // namespace
} // namespace qk::crypto
