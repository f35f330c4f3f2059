// What qk-cli shows of names and hints read from containers: never raw terminal controls.
#include "platform/VisibleText.h"
#include "cli/RunQk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <vector>

namespace qk::test {
namespace {

using platform::VisibleText;

TEST(VisibleTextTest, ControlsBecomeEscapes) {
  EXPECT_EQ(VisibleText("a\nb\tc\rd"), "a\\nb\\tc\\rd");
  EXPECT_EQ(VisibleText("\x1b]0;title\x07"), "\\x1b]0;title\\x07");
  EXPECT_EQ(VisibleText(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(VisibleText("\x7f"), "\\x7f");
  EXPECT_EQ(VisibleText("\u009b31m"), "\\u009b31m");            // C1 control sequence introducer
  EXPECT_EQ(VisibleText("a\u2028b\u2029"), "a\\u2028b\\u2029"); // line separators
  EXPECT_EQ(VisibleText("txt.\u202egpj"), "txt.\\u202egpj");    // right-to-left override
  EXPECT_EQ(VisibleText("\u2066x\u2069\u200f"), "\\u2066x\\u2069\\u200f");
  EXPECT_EQ(VisibleText("a\\nb"), "a\\\\nb"); // a backslash cannot pass for an escape
}

TEST(VisibleTextTest, TextAndBrokenBytesStayDistinct) {
  EXPECT_EQ(VisibleText(""), "");
  EXPECT_EQ(VisibleText("資料〜最終版 ﾂｱ ①😀 é ~/a.txt"), "資料〜最終版 ﾂｱ ①😀 é ~/a.txt");
  EXPECT_EQ(VisibleText(FromHex("41ff")), "A\\xff");
  EXPECT_EQ(VisibleText(FromHex("82a0")), "\\x82\\xa0");        // CP932 bytes, not UTF-8
  EXPECT_EQ(VisibleText(FromHex("e381")), "\\xe3\\x81");        // a sequence cut short
  EXPECT_EQ(VisibleText(FromHex("c0af")), "\\xc0\\xaf");        // an overlong "/"
  EXPECT_EQ(VisibleText(FromHex("eda080")), "\\xed\\xa0\\x80"); // a surrogate
  EXPECT_EQ(VisibleText(FromHex("c29b")), "\\u009b");
}

class CliVisibleTest : public ::testing::Test {
protected:
  TempDir dir;
};

// A stored name with a line break cannot add a result line; escape sequences in names and
// hints reach the terminal as text.
TEST_F(CliVisibleTest, StoredNamesAndHintsCannotForgeLines) {
  const std::string name = "x\n復号成功(改ざん検知照合OK) : passwd\x1b]0;owned\x07.txt";
  const std::string source = dir / name;
  WriteAll(source, "data");
  const auto enc = RunQk({"encrypt", "--password", "secret1", "--hint", "h\x1b[2J\r", source});
  ASSERT_EQ(enc.status, 0) << enc.err;
  const std::string shownSource = dir.path() + "/" + VisibleText(name);
  EXPECT_EQ(enc.out,
            "暗号化成功：" + shownSource + "\n全てのファイル/フォルダを正常に処理しました。\n");
  const auto hint = RunQk({"hint", source + ".enc"});
  EXPECT_EQ(hint.out, "h\\x1b[2J\\r\n");
  ASSERT_EQ(unlink(source.c_str()), 0);

  // The decrypted file's name has its control characters as "_" (and "_RENAMED" after it).
  const std::string written = dir / "x_復号成功(改ざん検知照合OK) : passwd_]0;owned_.txt_RENAMED";
  const auto dec = RunQk({"decrypt", "--password", "secret1", source + ".enc"});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(dec.out, "復号成功(改ざん検知照合OK) : " + shownSource + ".enc\t" + written +
                         "\n全てのファイル/フォルダを正常に処理しました。\n");
  EXPECT_EQ(ReadAll(written), "data");
  EXPECT_EQ(dec.out.find('\x1b'), std::string::npos);
}

// Names another user chose reach standard error as text too: the reason a wipe was refused, a
// file that could not be hashed, a usage error naming the argument.
TEST_F(CliVisibleTest, StandardErrorShowsNoRawControls) {
  const std::string name = "a\x1b]0;owned\x07\nqk-cli: all fine\x9b";
  const std::string shown = dir.path() + "/" + VisibleText(name);
  WriteAll(dir / name, "two names");
  ASSERT_EQ(link((dir / name).c_str(), (dir / "other").c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::string said; // a line of standard error
  };
  const std::vector<Case> cases{
      {{"wipe", "--ini", dir / "none.ini", dir / name},
       "qk-cli: " + shown + ": not wiped: the file has 2 names (hard links)"},
      {{"sha1", dir / (name + ".gone")}, shown + ".gone\n"},
      {{"encrypt", "--password", "secret1", "--x" + name, dir / "other"},
       "qk-cli: unknown option '--x" + VisibleText(name) + "' for encrypt\n"},
      {{"encrypt", "--password", "secret1", "--algorithm", name, dir / "other"},
       "qk-cli: unknown algorithm '" + VisibleText(name) + "'"},
      {{"decrypt", "--password", "secret1", dir / (name + ".gone")},
       "qk-cli: not found: " + shown + ".gone\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunQk(c.args);
    EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\x1b'), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\x07'), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("\nqk-cli: all fine"), std::string::npos) << o.err;
    EXPECT_EQ(o.out.find('\x1b'), std::string::npos) << o.out;
  }
  EXPECT_EQ(ReadAll(dir / "other"), "two names");
}

} // namespace
} // namespace qk::test
