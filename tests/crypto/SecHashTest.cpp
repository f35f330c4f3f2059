#include "crypto/SecHash.h"
#include "support/TestSupport.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <string>
#include <vector>

namespace qk::crypto {
namespace {

// The standard digest in upper case, in five groups of eight.
std::string Reference(const std::string& m) {
  std::string d(20, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(d.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(m.data()), m.size());
  std::string out;
  for (char c : test::Hex(d)) {
    if (out.size() % 9 == 8) out.push_back(' ');
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

// The digest of m through HashBuffer, HashText and HashFile, which must agree.
std::string Hashed(const std::string& m) {
  TSecHash h;
  SecDigest buffer, text, file;
  h.HashBuffer(m.data(), static_cast<std::int32_t>(m.size()), buffer);
  h.HashText(m, text);
  test::TempDir dir;
  test::WriteAll(dir / "data", m);
  h.HashFile(dir / "data", file);
  EXPECT_EQ(FormatSecDigest(text), FormatSecDigest(buffer));
  EXPECT_EQ(FormatSecDigest(file), FormatSecDigest(buffer));
  return FormatSecDigest(buffer);
}

TEST(SecHash, PublishedVectors) {
  EXPECT_EQ(Hashed(""), "DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709");
  EXPECT_EQ(Hashed("abc"), "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D");
  EXPECT_EQ(Hashed("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983E44 1C3BD26E BAAE4AA1 F95129E5 E54670F1");
  EXPECT_EQ(Hashed(std::string(1000000, 'a')), "34AA973C D4C4DAA4 F61EEB2B DBAD2731 6534016F");
}

TEST(SecHash, PaddingBoundariesAndLargeFilesMatchReference) {
  for (std::size_t n : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 65536u + 64, 200007u}) {
    const std::string m = test::RandomBytes(n, static_cast<std::uint32_t>(n));
    EXPECT_EQ(Hashed(m), Reference(m)) << "length " << n;
  }
}

TEST(SecHash, UnopenableFilesAreNotFound) {
  test::TempDir dir;
  test::WriteAll(dir / "read-only", "abc");
  ASSERT_EQ(chmod((dir / "read-only").c_str(), 0444), 0);
  for (const std::string& path : {dir / "missing", dir / "read-only", dir.path()}) {
    TSecHash h;
    SecDigest d;
    try {
      h.HashFile(path, d);
      FAIL() << "no error for " << path;
    } catch (const ESecHashException& e) {
      EXPECT_STREQ(e.what(), "File not found !");
    }
  }
}

TEST(SecHash, BusyHookWrapsEveryCallAlsoOnFailure) {
  std::vector<bool> seen;
  TSecHash::SetBusyHook([&seen](bool busy) { seen.push_back(busy); });
  TSecHash h;
  SecDigest d;
  h.HashText("abc", d);
  h.HashBuffer("abc", 3, d);
  test::TempDir dir;
  EXPECT_THROW(h.HashFile(dir / "missing", d), ESecHashException);
  TSecHash::SetBusyHook(nullptr);
  h.HashText("abc", d);
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false, true, false}));
}

} // namespace
} // namespace qk::crypto
