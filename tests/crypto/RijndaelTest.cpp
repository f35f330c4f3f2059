// Rijndael against the AES examples of FIPS-197 and its IV rule.
#include "crypto/Rijndael.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>

#include <string>

namespace qk::crypto {
namespace {

using test::FromHex;
using test::Hex;

std::string Encrypt(TDCP_rijndael& c, const std::string& block) {
  std::string out(16, '\0');
  c.EncryptBlock(block.data(), out.data());
  return out;
}

std::string Decrypt(TDCP_rijndael& c, const std::string& block) {
  std::string out(16, '\0');
  c.DecryptBlock(block.data(), out.data());
  return out;
}

std::string IVOf(const TDCP_rijndael& c) {
  return std::string(reinterpret_cast<const char*>(c.IV()), 16);
}

TEST(Rijndael, Fips197ExamplesBothDirections) {
  struct Case {
    const char* key;
    const char* cipher;
  };
  const Case cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  const std::string plain = FromHex("00112233445566778899aabbccddeeff");
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.key);
    const std::string key = FromHex(tc.key);
    TDCP_rijndael c;
    c.Init(key.data(), static_cast<std::int32_t>(key.size() * 8), nullptr);
    EXPECT_EQ(Hex(Encrypt(c, plain)), tc.cipher);
    EXPECT_EQ(Decrypt(c, FromHex(tc.cipher)), plain);
  }
}

TEST(Rijndael, IVRule) {
  const std::string key = FromHex("000102030405060708090a0b0c0d0e0f");
  TDCP_rijndael c;

  c.Init(key.data(), 128, "#INIT_IV_TO_NIL#");
  EXPECT_EQ(IVOf(c), std::string(16, '\0'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.ChainValue()), 16), std::string(16, '\0'));

  const std::string nearly = "#INIT_IV_TO_NIL!";
  c.Init(key.data(), 128, nearly.data());
  EXPECT_EQ(IVOf(c), nearly);

  c.Init(key.data(), 128, nullptr);
  std::string expected(16, '\0');
  CryptoPP::AES::Encryption ref(reinterpret_cast<const CryptoPP::byte*>(key.data()), 16);
  const std::string ones(16, '\xff');
  ref.ProcessBlock(reinterpret_cast<const CryptoPP::byte*>(ones.data()),
                   reinterpret_cast<CryptoPP::byte*>(expected.data()));
  EXPECT_EQ(IVOf(c), expected);
}

TEST(Rijndael, RekeyingWithFewerRounds) {
  // AES-256 then AES-128 on one object: the round count and both schedules must follow.
  const std::string longKey =
      FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const std::string shortKey = FromHex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = FromHex("00112233445566778899aabbccddeeff");
  TDCP_rijndael c;
  c.Init(longKey.data(), 256, nullptr);
  c.Init(shortKey.data(), 128, nullptr);
  EXPECT_EQ(Hex(Encrypt(c, plain)), "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_EQ(Decrypt(c, FromHex("69c4e0d86a7b0430d8cdb78070b4c55a")), plain);
}

} // namespace
} // namespace qk::crypto
