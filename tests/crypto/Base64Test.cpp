#include "crypto/Base64.h"
#include "crypto/CryptoBase.h"
#include "support/TestSupport.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

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

TEST(Base64, CanonicalExceptBeforeThePadding) {
  EXPECT_EQ(Base64Encode(""), "");
  for (int v = 0; v < 256; ++v) { // shorter than three bytes: always canonical
    const std::string two = {static_cast<char>(v), static_cast<char>(255 - v)};
    ASSERT_EQ(Base64Encode(two.substr(0, 1)), Canonical(two.substr(0, 1)));
    ASSERT_EQ(Base64Encode(two), Canonical(two));
  }
  const std::string data = test::RandomBytes(300, 1);
  EXPECT_EQ(Base64Encode(data), Canonical(data));

  // Seven bytes: the final group is t[6], t[4], t[5], so the high nibble of t[4] (A) lands in
  // the character in front of "==" where canonical text has zero bits.
  const std::string seven = "\x00\x00\x00\x00\xA0\x00\x04"s;
  EXPECT_EQ(Canonical(seven), "AAAAAKAABA==");
  EXPECT_EQ(Base64Encode(seven), "AAAAAKAABK==");
  // Five bytes: the final group is t[3], t[4], t[2]; the top two bits of t[2] show before "=".
  const std::string five = "\x00\x00\xC0\x00\x00"s;
  EXPECT_EQ(Canonical(five), "AADAAAA=");
  EXPECT_EQ(Base64Encode(five), "AADAAAD=");
}

TEST(Base64, RoundTripsAndReadsCanonicalText) {
  std::string all;
  for (int v = 0; v < 256; ++v) all.push_back(static_cast<char>(v));
  for (std::size_t n = 0; n <= 10; ++n) {
    for (std::size_t start = 0; start + n <= all.size(); start += 7) {
      const std::string data = all.substr(start, n);
      ASSERT_EQ(Base64Decode(Base64Encode(data)), data) << "length " << n;
      ASSERT_EQ(Base64Decode(Canonical(data)), data) << "length " << n;
    }
  }
  const std::string text = Base64Encode(all + all + all + all);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(Base64Decode(text), all + all + all + all);
}

TEST(Base64, LenientDecoder) {
  EXPECT_EQ(Base64Decode(""), "");
  EXPECT_EQ(Base64Decode("AA=="), "\x00"s);
  EXPECT_EQ(Base64Decode("A==="), "\x03"s); // the second "=" counts as 63
  EXPECT_EQ(Base64Decode("!!!!"), "\xFF\xFF\xFF"s);
  EXPECT_EQ(Base64Decode(" \n\r\x80"s), "\xFF\xFF\xFF"s);
  EXPECT_EQ(Base64Decode("A===AAAA"), "\x03\xFF\xFF\x00\x00\x00"s); // "=" only ends the text
  EXPECT_EQ(Base64Decode("QR=x"), "A"); // a third "=" gives one byte whatever follows
  EXPECT_EQ(Base64Decode("QUI="), "AB");
  for (const char* text : {"A", "AAA", "AAAAA", "QUJDQUJ"}) {
    try {
      Base64Decode(text);
      FAIL() << "no error for " << text;
    } catch (const CryptoError& e) {
      EXPECT_STREQ(e.what(), "Base64: Incorrect string format");
    }
  }
}

} // namespace
} // namespace qk::crypto
