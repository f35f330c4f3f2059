#include "platform/Utf8.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace qk::platform {
namespace {

using test::FromHex;

// Each sequence at the start of a text: its length and code point, or 0 where it is not UTF-8.
TEST(Utf8Test, DecodesWellFormedSequencesOnly) {
  const struct {
    const char* hex;
    std::size_t length;
    char32_t c;
  } cases[] = {
      {"41", 1, U'A'},
      {"00", 1, 0},
      {"c2a9", 2, U'©'},
      {"e38182", 3, U'あ'},
      {"f09f9880", 4, 0x1F600},
      {"f48fbfbf", 4, 0x10FFFF},
      {"", 0, 0},
      {"80", 0, 0},          // a lone continuation byte
      {"c0af", 0, 0},        // overlong
      {"e080af", 0, 0},      // overlong
      {"ed9fbf", 3, 0xD7FF}, // the last before the surrogates
      {"eda080", 0, 0},      // a surrogate
      {"edbfbf", 0, 0},      // the last surrogate
      {"f4908080", 0, 0},    // above U+10FFFF
      {"f5808080", 0, 0},
      {"ff", 0, 0},
      {"e381", 0, 0},   // cut off
      {"e34182", 0, 0}, // broken
  };
  for (const auto& c : cases) {
    const std::string bytes = FromHex(c.hex);
    char32_t decoded = 0;
    EXPECT_EQ(utf8::Decode(bytes, decoded), c.length) << c.hex;
    if (c.length) {
      EXPECT_EQ(decoded, c.c) << c.hex;
    }
    EXPECT_EQ(utf8::IsValid(bytes), c.length == bytes.size()) << c.hex;
  }
  char32_t first = 0;
  EXPECT_EQ(utf8::Decode("あA", first), 3u); // only the first sequence
  EXPECT_EQ(first, U'あ');
  EXPECT_TRUE(utf8::IsValid("暗号 file.txt"));
  EXPECT_FALSE(utf8::IsValid("暗号\xff.txt"));
}

} // namespace
} // namespace qk::platform
