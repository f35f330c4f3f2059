// The digest behind the proofs before a wipe: the same bytes give the same digest however they
// are split, and any change of content or length gives another one.
#include "engine/ReadBackDigest.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace qk::test {
namespace {

using engine::ReadBackDigest;

std::string Digest(const ReadBackDigest::Key& key, const std::string& bytes, std::size_t step) {
  ReadBackDigest digest(key);
  digest.Init();
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    const std::size_t n = std::min(step, bytes.size() - at);
    digest.Update(bytes.data() + at, static_cast<std::int32_t>(n));
  }
  std::string out(ReadBackDigest::DigestBytes, '\0');
  digest.Final(out.data());
  return out;
}

TEST(ReadBackDigest, SplitsDoNotMatterAndChangesAlwaysShow) {
  const ReadBackDigest::Key key = ReadBackDigest::FreshKey();
  const std::string bytes = RandomBytes(100003, 21);
  const std::string whole = Digest(key, bytes, bytes.size());
  for (const std::size_t step : {1, 7, 63, 64, 65, 8192, 262144})
    EXPECT_EQ(Digest(key, bytes, step), whole) << step;

  // Every bit of the first and last blocks and of the partial tail, and bits spread between.
  std::set<std::string> seen{whole};
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < 130; ++i) positions.push_back(i);
  for (std::size_t i = bytes.size() - 70; i < bytes.size(); ++i) positions.push_back(i);
  for (std::size_t i = 131; i < bytes.size() - 70; i += 997) positions.push_back(i);
  for (const std::size_t at : positions) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string changed = bytes;
      changed[at] = static_cast<char>(changed[at] ^ (1 << bit));
      EXPECT_TRUE(seen.insert(Digest(key, changed, 8192)).second) << at << ":" << bit;
    }
  }
  // Lengths: zero bytes added or taken away, the empty stream, and two swapped blocks.
  for (const std::string& other :
       {bytes + std::string(1, '\0'), bytes + std::string(64, '\0'), bytes.substr(0, 100000),
        std::string(), std::string(64, '\0'),
        bytes.substr(64, 64) + bytes.substr(0, 64) + bytes.substr(128)}) {
    EXPECT_TRUE(seen.insert(Digest(key, other, 4096)).second) << other.size();
  }
  EXPECT_NE(Digest(key, std::string(63, '\0'), 1), Digest(key, std::string(64, '\0'), 1));
  // Another key, another digest.
  EXPECT_NE(Digest(ReadBackDigest::FreshKey(), bytes, 8192), whole);
}

} // namespace
} // namespace qk::test
