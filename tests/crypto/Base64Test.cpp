#include "crypto/Base64.h"
#include "crypto/CryptoBase.h"
#include "support/TestSupport.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qk::crypto {
namespace {

using namespace std::string_literals;

std::string Canonical(const std::string& data) {
  std::string out;
  CryptoPP::StringSource(data, true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out), false));
  return out;
}

std::string CanonicalDecode(const std::string& text) {
  std::string out;
  CryptoPP::StringSource(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(out)));
  return out;
}

void ExpectFormatError(const std::string& text) {
  try {
    Base64Decode(text);
    FAIL() << "no error for length " << text.size();
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), "Base64: Incorrect string format");
  }
}

TEST(Base64, ShortInputsAreCanonical) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Decode(""), "");
  EXPECT_EQ(Base64Encode("\xFF"s), "/w==");
  EXPECT_EQ(Base64Encode("\xFF\xFF"s), "//8=");
  EXPECT_EQ(Base64Encode("Man"), "TWFu");
  for (int v = 0; v < 256; ++v) {
    const std::string one(1, static_cast<char>(v));
    const std::string two = one + static_cast<char>(255 - v);
    ASSERT_EQ(Base64Encode(one), Canonical(one));
    ASSERT_EQ(Base64Encode(two), Canonical(two));
  }
}

TEST(Base64, FinalGroupKeepsBitsOfPreviousGroup) {
  // Seven bytes: the final group is t[6], t[4], t[5]; the high nibble of t[4] (0xA) shows in the
  // character in front of "==" where canonical Base64 has zero bits.
  const std::string seven = "\x00\x00\x00\x00\xA0\x00\x04"s;
  EXPECT_EQ(Canonical(seven), "AAAAAKAABA==");
  EXPECT_EQ(Base64Encode(seven), "AAAAAKAABK==");

  // Five bytes: the final group is t[3], t[4], t[2]; the top two bits of t[2] show before "=".
  const std::string five = "\x00\x00\xC0\x00\x00"s;
  EXPECT_EQ(Canonical(five), "AADAAAA=");
  EXPECT_EQ(Base64Encode(five), "AADAAAD=");

  // Whole groups and the parts before the last character(s) are canonical for any data.
  std::mt19937 gen(17);
  for (int i = 0; i < 300; ++i) {
    const std::size_t n = gen() % 40;
    const std::string data = test::RandomBytes(n, gen());
    const std::string ours = Base64Encode(data);
    const std::string canon = Canonical(data);
    ASSERT_EQ(ours.size(), canon.size());
    if (n % 3 == 0 || n < 3) {
      ASSERT_EQ(ours, canon);
      continue;
    }
    const std::size_t at = n % 3 == 1 ? ours.size() - 3 : ours.size() - 2;
    ASSERT_EQ(ours.substr(0, at), canon.substr(0, at));
    ASSERT_EQ(ours.substr(at + 1), canon.substr(at + 1));
    const auto prev = static_cast<unsigned char>(data[n - 3]);
    const auto last = static_cast<unsigned char>(data[n - 1]);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t expected =
        n % 3 == 1 ? ((last & 3u) << 4) | (prev >> 4) : ((last & 15u) << 2) | (prev >> 6);
    ASSERT_EQ(ours[at], alphabet[expected]) << "length " << n;
  }
}

TEST(Base64, RoundTrip) {
  std::string all;
  for (int v = 0; v < 256; ++v) all.push_back(static_cast<char>(v));
  for (std::size_t n = 0; n <= 10; ++n) {
    for (std::size_t start = 0; start + n <= all.size(); start += 7) {
      const std::string data = all.substr(start, n);
      ASSERT_EQ(Base64Decode(Base64Encode(data)), data) << "length " << n;
    }
  }
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(Base64, DecodesCanonicalText) {
  std::mt19937 gen(23);
  for (int i = 0; i < 200; ++i) {
    const std::string data = test::RandomBytes(gen() % 100, gen());
    ASSERT_EQ(Base64Decode(Canonical(data)), data);
    ASSERT_EQ(CanonicalDecode(Base64Encode(data)), data);
  }
}

TEST(Base64, LenientDecoder) {
  EXPECT_EQ(Base64Decode("AA=="), "\x00"s);
  EXPECT_EQ(Base64Decode("A==="), "\x03"s);         // the second "=" counts as 63
  EXPECT_EQ(Base64Decode("!!!!"), "\xFF\xFF\xFF"s); // anything outside the alphabet is 63
  EXPECT_EQ(Base64Decode(" \n\r\x80"s), "\xFF\xFF\xFF"s);
  EXPECT_EQ(Base64Decode("////"), "\xFF\xFF\xFF"s);
  // "=" only ends the last group; elsewhere it is an ordinary 63.
  EXPECT_EQ(Base64Decode("A===AAAA"), "\x03\xFF\xFF\x00\x00\x00"s);
  // A third "=" gives one byte whatever follows it; a fourth alone gives two.
  EXPECT_EQ(Base64Decode("QR=x"), "A"s);
  EXPECT_EQ(Base64Decode("QUI="), "AB"s);
  EXPECT_EQ(Base64Decode("QUJD"), "ABC"s);
}

TEST(Base64, LengthNotMultipleOfFourFails) {
  for (const char* text : {"A", "AA", "AAA", "AAAAA", "QUJD=", "QUJDQUJ"}) ExpectFormatError(text);
}

TEST(Base64, LongInputIsOneLine) {
  const std::string data = test::RandomBytes(10000, 8);
  const std::string text = Base64Encode(data);
  EXPECT_EQ(text.size(), 4u * ((data.size() + 2) / 3));
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(Base64Decode(text), data);
}

} // namespace
} // namespace qk::crypto
