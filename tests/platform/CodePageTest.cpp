#include "platform/CodePage.h"
#include "support/TestSupport.h"
#include "support/TextSamples.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <iterator>
#include <optional>
#include <random>
#include <string>

namespace qk::platform {
namespace {

using test::FromHex;
using test::Hex;

TEST(CodePageTest, JapaneseTextBecomesWindows31J) {
  EXPECT_EQ(Hex(ToSystemCodePage("あ")), "82a0");
  EXPECT_EQ(Hex(ToSystemCodePage("～")), "8160"); // U+FF5E full-width tilde
  EXPECT_EQ(Hex(ToSystemCodePage("〜")), "8160"); // U+301C wave dash, as typed on Linux
  EXPECT_EQ(Hex(ToSystemCodePage("－")), "817c"); // U+FF0D full-width hyphen-minus
  EXPECT_EQ(Hex(ToSystemCodePage("①")), "8740");  // NEC special character
  EXPECT_EQ(Hex(ToSystemCodePage("ⅰ")), "fa40");  // IBM extension preferred over NEC-selected
  EXPECT_EQ(Hex(ToSystemCodePage("髙")), "fbfc"); // IBM extension kanji
  EXPECT_EQ(Hex(ToSystemCodePage("ｱ")), "b1");    // half-width katakana: one byte
  EXPECT_EQ(Hex(ToSystemCodePage("漢字a\\~")), "8abf8e9a615c7e");
}

// Password bytes make the key of every container already written: they must never change.
// The table is taken as it is, look-alikes included, as a Japanese Windows system types them.
TEST(CodePageTest, PasswordBytesStayAsTheyWere) {
  const struct {
    const char* password;
    const char* hex;
  } cases[] = {
      {"〜", "8160"},    // U+301C wave dash
      {"～", "8160"},    // U+FF5E full-width tilde: the same key
      {"−", "817c"},     // U+2212 minus sign
      {"－", "817c"},    // U+FF0D full-width hyphen-minus
      {"ｱｲｳ", "b1b2b3"}, // half-width katakana
      {"ﾂｱ", "c2b1"},    // ... whose bytes are also UTF-8 of "±"
      {"資料〜最終版", "8e9197bf81608dc58f4994c5"},
      {"−5℃", "817c35818e"},
      {"①髙ⅰ", "8740fbfcfa40"}, // NEC special, IBM kanji, IBM ⅰ
      {"¥", "5c"},              // the yen sign types the backslash byte
      {"‖∥", "81618161"},       // both double bars
      {"—―", "815c815c"},       // em dash and horizontal bar
      {"¢£¬", "8191819281ca"},
      {"ｶﾞが", "b6de82aa"},
      {"パス😀", "e38391e382b9f09f9880"}, // a character CP932 lacks: UTF-8, whole
      {"é", "c3a9"},
      {"pass word", "7061737320776f7264"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(ToSystemCodePage(c.password)), c.hex) << c.password;
  }
}

TEST(CodePageTest, AsciiAndUnrepresentableTextStayAsTheyAre) {
  const std::string ascii = "Password 123 \\ ~ !";
  EXPECT_EQ(ToSystemCodePage(ascii), ascii);
  EXPECT_EQ(FromSystemCodePage(ascii), ascii);
  EXPECT_EQ(ToSystemCodePage(""), "");

  // One character CP932 lacks keeps the whole text UTF-8, not just that character.
  const std::string withEmoji = "あい😀";
  EXPECT_EQ(ToSystemCodePage(withEmoji), withEmoji);
  EXPECT_EQ(SystemByteLength(withEmoji), withEmoji.size());
  const std::string korean = "한국어テキスト";
  EXPECT_EQ(ToSystemCodePage(korean), korean);

  // Bytes that are not UTF-8 at all pass through unchanged.
  const std::string broken = FromHex("e381");
  EXPECT_EQ(ToSystemCodePage(broken), broken);
}

TEST(CodePageTest, StoredBytesBackToUtf8) {
  EXPECT_EQ(FromSystemCodePage(FromHex("82a0")), "あ");
  EXPECT_EQ(FromSystemCodePage(FromHex("8160")), "～");
  EXPECT_EQ(FromSystemCodePage(FromHex("5c82a0")), "\\あ"); // 0x5C is the backslash, not yen
  EXPECT_EQ(FromSystemCodePage(FromHex("b1")), "ｱ");
  EXPECT_EQ(FromSystemCodePage(FromHex("eeef")), "ⅰ"); // NEC-selected IBM row reads too

  const std::string name = "暗号化テスト－①～ｶﾅ.txt";
  EXPECT_EQ(FromSystemCodePage(ToSystemCodePage(name)), name);
  // Stored UTF-8 (written for a text CP932 lacks) is taken as UTF-8.
  EXPECT_EQ(FromSystemCodePage("あい😀"), "あい😀");
  EXPECT_EQ(FromSystemCodePage("ああ"), "ああ"); // also readable as CP932
  // Neither UTF-8 nor CP932: returned as stored.
  const std::string junk = FromHex("41ff80");
  EXPECT_EQ(FromSystemCodePage(junk), junk);
  const std::string cutShort = FromHex("4182");
  EXPECT_EQ(FromSystemCodePage(cutShort), cutShort);
}

TEST(CodePageTest, ByteLengthsCountFullWidthAsTwo) {
  EXPECT_EQ(SystemByteLength("ａｂｃ"), 6u);
  EXPECT_EQ(SystemByteLength("abc"), 3u);
  EXPECT_EQ(SystemByteLength("ｱｲｳ"), 3u);
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "漢";
  EXPECT_EQ(SystemByteLength(hundred), 200u);
  EXPECT_EQ(SystemByteLength(hundred + ".txt"), 204u);
}

using test::FromHex;
using test::Hex;

TEST(StoredTextTest, NamesAndHintsAreStoredInTheFewestBytesThatReadBack) {
  EXPECT_EQ(ToStoredText("plain name.txt"), "plain name.txt");
  EXPECT_EQ(ToStoredText(""), "");
  EXPECT_EQ(Hex(ToStoredText("あ")), "82a0");
  EXPECT_EQ(Hex(ToStoredText("～")), "8160");             // U+FF5E reads back from 0x8160
  EXPECT_EQ(Hex(ToStoredText("〜")), "e3809c");           // U+301C would read back as U+FF5E
  EXPECT_EQ(Hex(ToStoredText("－5℃")), "817c35818e");     // U+FF0D reads back from 0x817C
  EXPECT_EQ(ToStoredText("−5℃"), "−5℃");                  // U+2212 would not
  EXPECT_EQ(ToStoredText("¥100"), "¥100");                // 0x5C reads back as the backslash
  EXPECT_EQ(Hex(ToStoredText("ﾂｱ.txt")), "c2b12e747874"); // UTF-8 of "±", which CP932 holds
  EXPECT_EQ(ToStoredText("ﾃｩ"), "ﾃｩ"); // its CP932 bytes are UTF-8 of "é", which CP932 lacks
  EXPECT_EQ(ToStoredText("資料〜最終版😀"), "資料〜最終版😀"); // UTF-8, whole
  const std::string notUtf8 = FromHex("41ff2e74");
  EXPECT_EQ(ToStoredText(notUtf8), notUtf8);
}

TEST(StoredTextTest, KnownHardNamesComeBack) {
  for (const std::string& name : test::KnownHardNames()) {
    EXPECT_EQ(FromStoredText(ToStoredText(name)), name) << Hex(name);
  }
}

TEST(StoredTextTest, GeneratedTextsComeBack) {
  std::mt19937 random(0x932);
  int inCp932 = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string text = test::GeneratedText(random);
    const std::string stored = ToStoredText(text);
    if (stored != text) ++inCp932;
    ASSERT_EQ(FromStoredText(stored), text) << Hex(text) << " stored as " << Hex(stored);
  }
  // Both ways of storing are exercised.
  EXPECT_GT(inCp932, 1000);
  EXPECT_LT(inCp932, 19000);
}

// Bytes as the Japanese Windows systems write them.
TEST(StoredTextTest, WindowsBytesReadAsTheirText) {
  const struct {
    const char* hex;
    const char* text;
  } cases[] = {
      {"8160", "～"},
      {"817c35818e", "－5℃"},
      {"c2b12e747874", "ﾂｱ.txt"}, // also UTF-8 of "±.txt", but "±" would be stored in CP932
      {"8e9197bf81608dc58f4994c52e646f6378", "資料～最終版.docx"},
      {"8740fbfcfa40", "①髙ⅰ"},
      {"eeef", "ⅰ"}, // NEC-selected IBM row
      {"835c955c945c", "ソ表能"},
      {"5c7e", "\\~"},
      {"b1b2b3", "ｱｲｳ"},
      {"817d", "±"},
      // The one case no rule settles: "ﾃｩ" from those systems is the UTF-8 of "é".
      {"c3a9", "é"},
  };
  for (const auto& c : cases) EXPECT_EQ(FromStoredText(FromHex(c.hex)), c.text) << c.hex;
}

// One character in CP932 as those systems write it, or nothing when the table lacks it.
std::string RandomCp932Character(std::mt19937& random) {
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> byte(0, 255);
  switch (kind(random)) {
  case 0: {
    const int c = std::uniform_int_distribution<int>(0x20, 0x7E)(random);
    return c == '/' ? std::string() : std::string(1, static_cast<char>(c));
  }
  case 1:
    return std::string(1,
                       static_cast<char>(std::uniform_int_distribution<int>(0xA1, 0xDF)(random)));
  default: {
    static const int leads[] = {0x81, 0x82, 0x83, 0x84, 0x87, 0x88, 0x89, 0x90, 0x98,
                                0x9F, 0xE0, 0xEA, 0xED, 0xEE, 0xFA, 0xFB, 0xFC};
    const int lead = leads[std::uniform_int_distribution<int>(0, std::size(leads) - 1)(random)];
    int trail = std::uniform_int_distribution<int>(0x40, 0xFC)(random);
    if (trail == 0x7F) trail = 0x80;
    std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
    return bytes;
  }
  }
}

// The code page table's own reading of CP932 bytes; nothing when it lacks one of them.
std::optional<std::string> TableReading(const std::string& bytes) {
  const iconv_t cd = ::iconv_open("UTF-8", "CP932");
  std::string out(bytes.size() * 3, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* at = out.data();
  std::size_t outLeft = out.size();
  const bool ok = ::iconv(cd, &in, &inLeft, &at, &outLeft) != static_cast<std::size_t>(-1);
  ::iconv_close(cd);
  if (!ok || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

TEST(StoredTextTest, GeneratedWindowsBytesReadAsTheirText) {
  std::mt19937 random(31);
  int unsettled = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string bytes;
    const int count = std::uniform_int_distribution<int>(1, 10)(random);
    for (int k = 0; k < count; ++k) bytes += RandomCp932Character(random);
    const auto text = TableReading(bytes);
    if (!text) continue; // a code the table leaves unassigned
    const std::string read = FromStoredText(bytes);
    if (read != *text) {
      // Only bytes that QK itself writes for another text (its UTF-8, as CP932 cannot hold
      // it) read otherwise: as that text.
      EXPECT_EQ(read, bytes) << Hex(bytes);
      EXPECT_EQ(ToStoredText(read), bytes) << Hex(bytes);
      ++unsettled;
    }
  }
  EXPECT_LT(unsettled, 400);
}

TEST(StoredTextTest, BytesThatAreNeitherStayAsTheyAre) {
  for (const char* hex : {"41ff80", "4182", "82", "8220", "fdfeff"}) {
    EXPECT_EQ(Hex(FromStoredText(FromHex(hex))), hex);
  }
}

} // namespace
} // namespace qk::platform
