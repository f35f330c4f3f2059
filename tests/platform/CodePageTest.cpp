#include "platform/CodePage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
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

} // namespace
} // namespace qk::platform
