// Files past the 32-bit size range are hashed whole, not cut or skipped.
#include "crypto/SecHash.h"
#include "support/TestSupport.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace qk::test {
namespace {

TEST(SecHashLargeFile, HashesPastTwoGigabytes) {
  TempDir dir;
  const std::string path = dir / "sparse";
  const std::int64_t size = (std::int64_t{1} << 31) + 77;
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  ASSERT_EQ(pwrite(fd, "tail", 4, size - 4), 4);
  close(fd);

  CryptoPP::SHA1 reference;
  std::vector<CryptoPP::byte> zeros(1 << 20, 0);
  std::int64_t left = size - 4;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, zeros.size()));
    reference.Update(zeros.data(), n);
    left -= static_cast<std::int64_t>(n);
  }
  reference.Update(reinterpret_cast<const CryptoPP::byte*>("tail"), 4);
  std::string expected(20, '\0');
  reference.Final(reinterpret_cast<CryptoPP::byte*>(expected.data()));

  crypto::TSecHash hash;
  crypto::SecDigest digest;
  hash.HashFile(path, digest);
  std::string actual;
  for (std::uint32_t word : digest.H) {
    for (int shift = 24; shift >= 0; shift -= 8) actual.push_back(static_cast<char>(word >> shift));
  }
  EXPECT_EQ(Hex(actual), Hex(expected));
}

} // namespace
} // namespace qk::test
