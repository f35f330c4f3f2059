#include "crypto/SecHash.h"
#include "support/TestSupport.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace qk::crypto {
namespace {

using test::RandomBytes;

// The standard digest in upper case, split into five groups of eight.
std::string Grouped(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    if (i > 0 && i % 8 == 0) out.push_back(' ');
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i]))));
  }
  return out;
}

std::string Reference(const std::string& message) {
  std::string out(20, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(out.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(message.data()),
                                   message.size());
  return Grouped(test::Hex(out));
}

std::string OfBuffer(const std::string& m) {
  TSecHash h;
  SecDigest d;
  h.HashBuffer(m.data(), static_cast<std::int32_t>(m.size()), d);
  return FormatSecDigest(d);
}

std::string OfText(const std::string& m) {
  TSecHash h;
  SecDigest d;
  h.HashText(m, d);
  return FormatSecDigest(d);
}

std::string OfFile(const std::string& m) {
  test::TempDir dir;
  test::WriteAll(dir / "data", m);
  TSecHash h;
  SecDigest d;
  h.HashFile(dir / "data", d);
  return FormatSecDigest(d);
}

void ExpectFileNotFound(const std::string& path) {
  TSecHash h;
  SecDigest d;
  d.H[0] = 0x12345678;
  try {
    h.HashFile(path, d);
    FAIL() << "no error for " << path;
  } catch (const ESecHashException& e) {
    EXPECT_STREQ(e.what(), "File not found !");
  }
  EXPECT_EQ(d.H[0], 0x12345678u) << "no digest is written on failure";
}

TEST(SecHash, PublishedVectorsThroughEveryEntry) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", "DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709"},
      {"abc", "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983E44 1C3BD26E BAAE4AA1 F95129E5 E54670F1"},
      {std::string(1000000, 'a'), "34AA973C D4C4DAA4 F61EEB2B DBAD2731 6534016F"},
  };
  for (const auto& [message, digest] : vectors) {
    EXPECT_EQ(OfBuffer(message), digest) << message.size();
    EXPECT_EQ(OfText(message), digest) << message.size();
    EXPECT_EQ(OfFile(message), digest) << message.size();
  }
}

TEST(SecHash, WordsAreTheDigestAsNumbers) {
  TSecHash h;
  SecDigest d;
  h.HashText("abc", d);
  EXPECT_EQ(d.H[0], 0xA9993E36u);
  EXPECT_EQ(d.H[4], 0x9CD0D89Du);
}

TEST(SecHash, PaddingBoundariesMatchReference) {
  for (std::size_t n : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 191u}) {
    const std::string m = RandomBytes(n, static_cast<std::uint32_t>(n) + 100);
    EXPECT_EQ(OfBuffer(m), Reference(m)) << "length " << n;
    EXPECT_EQ(OfFile(m), Reference(m)) << "length " << n;
  }
}

TEST(SecHash, RandomInputsMatchReference) {
  std::mt19937 gen(808);
  TSecHash h; // one object, many calls: each starts afresh
  for (int i = 0; i < 100; ++i) {
    const std::string m = RandomBytes(gen() % 3000, gen());
    SecDigest d;
    h.HashBuffer(m.data(), static_cast<std::int32_t>(m.size()), d);
    ASSERT_EQ(FormatSecDigest(d), Reference(m));
  }
  // Files larger than one internal read piece.
  for (std::size_t n : {65536u, 65536u + 64, 200000u + 7}) {
    const std::string m = RandomBytes(n, static_cast<std::uint32_t>(n));
    EXPECT_EQ(OfFile(m), Reference(m)) << "length " << n;
  }
}

TEST(SecHash, UnopenableFilesAreNotFound) {
  test::TempDir dir;
  ExpectFileNotFound(dir / "missing");
  ExpectFileNotFound(dir.path());

  const std::string readOnly = dir / "read-only";
  test::WriteAll(readOnly, "abc");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  ExpectFileNotFound(readOnly);
}

TEST(SecHash, BusyHookWrapsEveryCall) {
  std::vector<bool> seen;
  TSecHash::SetBusyHook([&seen](bool busy) { seen.push_back(busy); });
  TSecHash h;
  SecDigest d;
  h.HashText("abc", d);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  h.HashBuffer("abc", 3, d);
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false}));
  seen.clear();
  test::TempDir dir;
  EXPECT_THROW(h.HashFile(dir / "missing", d), ESecHashException);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  TSecHash::SetBusyHook(nullptr);
  h.HashText("abc", d);
  EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace qk::crypto
