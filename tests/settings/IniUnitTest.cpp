// The INI reader and writer: decoding of stored values, updates that keep the rest of the file,
// and atomic replacement that refuses cleanly.
#include "settings/IniUnit.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

using namespace qk::settings;

// Names in a folder, "." and ".." left out.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DecodeIniIntegerTest, HexDecimalAndRefusals) {
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"0x3", 3},
      {"0X1f", 31},
      {"$4", 4},
      {"$ff", 255},
      {"$FFFFFFFF", -1},
      {"$000000010", 16},
      {"7", 7},
      {"-5", -5},
      {"+8", 8},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"", -99},
      {"abc", -99},
      {"12abc", -99},
      {"0x", -99},
      {"$", -99},
      {"0xg1", -99},
      {"$100000000", -99},
      {"2147483648", -99},
      {"-2147483649", -99},
      {"99999999999999999999", -99},
      {"-", -99},
      {"1 2", -99},
      {"0x-1", -99},
      {"1.5", -99},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeIniInteger(c.text, -99), c.expected) << '"' << c.text << '"';
  }
}

class IniTest : public ::testing::Test {
protected:
  TempDir dir;
  const std::string ini = dir / "QK.ini";
};

TEST_F(IniTest, MissingFileOrFolderGivesDefaults) {
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "K", "dflt"), "dflt");
  EXPECT_EQ(ReadIniInteger(dir / "none/QK.ini", "SYSTEM", "K", 30), 30);
  EXPECT_TRUE(ReadIniBool(ini, "SYSTEM", "K", true));
  EXPECT_FALSE(ReadIniBool(ini, "SYSTEM", "K", false));
  // A folder where the file should be reads as missing too.
  EXPECT_EQ(ReadIniInteger(dir.path(), "SYSTEM", "K", 4), 4);
}

TEST_F(IniTest, ValuesAreTrimmedAndUnquoted) {
  WriteAll(ini, "[SYSTEM]\n"
                "A= 7 \t\n"
                "B=\"5\"\n"
                "C='six'\n"
                "D=\" padded \"\n"
                "E=\"mixed'\n"
                "F=\"\n"
                "G=\n"
                "  H  =  spaced key  \n");
  EXPECT_EQ(ReadIniInteger(ini, "SYSTEM", "A", 0), 7);
  EXPECT_EQ(ReadIniInteger(ini, "SYSTEM", "B", 0), 5);
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "C", ""), "six");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "D", ""), " padded ");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "E", ""), "\"mixed'");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "F", ""), "\"");
  // Present but empty is the empty string, not the default; for integers it is the default.
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "G", "dflt"), "");
  EXPECT_EQ(ReadIniInteger(ini, "SYSTEM", "G", 2), 2);
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "H", ""), "spaced key");
}

TEST_F(IniTest, SectionsAndKeysMatchWithoutCaseFirstOccurrenceWins) {
  WriteAll(ini, "KEY=outside\n"
                "[other]\n"
                "KEY=other\n"
                "[ System ]\n"
                "key=first\n"
                "KEY=second\n"
                "[SYSTEM]\n"
                "LATER=x\n");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "Key", ""), "first");
  EXPECT_EQ(ReadIniString(ini, "sYsTeM", "KEY", ""), "first");
  EXPECT_EQ(ReadIniString(ini, "OTHER", "key", ""), "other");
  // Only the first section of a name is looked at.
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "LATER", "none"), "none");
  // Other sections' keys do not leak into a section.
  EXPECT_EQ(ReadIniString(ini, "OTHER", "LATER", "none"), "none");
}

TEST_F(IniTest, CrlfAndBomAreRead) {
  WriteAll(ini, "\xEF\xBB\xBF[SYSTEM]\r\nSECLEVEL=3\r\nPASSHINT=\"hint\"\r\nLAST=end");
  EXPECT_EQ(ReadIniInteger(ini, "SYSTEM", "SECLEVEL", 2), 3);
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHINT", ""), "hint");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "LAST", ""), "end");
}

TEST_F(IniTest, LongStringsAreCutTo2047Bytes) {
  WriteAll(ini, "[S]\nA=" + std::string(3000, 'a') + "\nB=" + std::string(2047, 'b') + "\n");
  EXPECT_EQ(ReadIniString(ini, "S", "A", ""), std::string(2047, 'a'));
  EXPECT_EQ(ReadIniString(ini, "S", "B", ""), std::string(2047, 'b'));
  // A UTF-8 character that would straddle the limit is left out whole.
  const std::string kana = "あ"; // three bytes
  std::string text;
  while (text.size() < 2100) text += kana;
  WriteAll(ini, "[S]\nJ=" + text + "\n");
  const std::string read = ReadIniString(ini, "S", "J", "");
  EXPECT_EQ(read.size(), 2046u);
  EXPECT_EQ(read, text.substr(0, 2046));
}

TEST_F(IniTest, Cp932TextIsReadAsUtf8) {
  WriteAll(ini, "[SYSTEM]\nPASSHINT=\x82\xA0\x82\xA2\n"); // "あい" in CP932
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHINT", ""), "あい");
}

TEST_F(IniTest, EncodingsOnDisk) {
  WriteIniBool(ini, "SYSTEM", "T", true);
  WriteIniBool(ini, "SYSTEM", "F", false);
  WriteIniInteger(ini, "SYSTEM", "N", -42);
  WriteIniString(ini, "SYSTEM", "S", "日本語のヒント");
  WriteIniString(ini, "SYSTEM", "E", "");
  EXPECT_EQ(ReadAll(ini), "[SYSTEM]\nT=1\nF=0\nN=-42\nS=日本語のヒント\nE=\n");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "S", ""), "日本語のヒント");
}

TEST_F(IniTest, UpdateKeepsEveryOtherByte) {
  const std::string before = "; settings\r\n"
                             "[WINDOWPOS]\r\n"
                             "X=5\r\n"
                             "\r\n"
                             "[SYSTEM]\r\n"
                             "  secLevel = 1 \r\n"
                             "UNKNOWN=keep me\r\n"
                             "SECLEVEL=9\r\n"
                             "; trailing comment\r\n"
                             "\r\n"
                             "[TAIL]\r\n"
                             "Z=1";
  WriteAll(ini, before);
  WriteIniInteger(ini, "system", "SECLEVEL", 3);  // first occurrence, in place
  WriteIniString(ini, "SYSTEM", "PASSHINT", "h"); // end of its section, before the blank line
  WriteIniInteger(ini, "WINDOWPOS", "Y", 7);      // before the blank line too
  WriteIniString(ini, "TAIL", "W", "w");          // after a last line without line ending
  WriteIniString(ini, "NEW", "K", "v");           // new section at the end
  EXPECT_EQ(ReadAll(ini), "; settings\r\n"
                          "[WINDOWPOS]\r\n"
                          "X=5\r\n"
                          "Y=7\r\n"
                          "\r\n"
                          "[SYSTEM]\r\n"
                          "SECLEVEL=3\r\n"
                          "UNKNOWN=keep me\r\n"
                          "SECLEVEL=9\r\n"
                          "; trailing comment\r\n"
                          "PASSHINT=h\r\n"
                          "\r\n"
                          "[TAIL]\r\n"
                          "Z=1\r\n"
                          "W=w\r\n"
                          "[NEW]\r\n"
                          "K=v\r\n");
  EXPECT_EQ(ReadIniInteger(ini, "SYSTEM", "SECLEVEL", 0), 3);
}

TEST_F(IniTest, ValuesThatReadingWouldChangeAreQuoted) {
  for (const std::string value :
       {" lead", "trail\t", "\"quoted\"", "'single'", "\"\"", " ", "in\"side", "\"", "a=b;c[d]"}) {
    WriteIniString(ini, "S", "K", value);
    EXPECT_EQ(ReadIniString(ini, "S", "K", "?"), value) << ReadAll(ini);
  }
  WriteIniString(ini, "S", "K", " x ");
  EXPECT_EQ(ReadAll(ini), "[S]\nK=\" x \"\n");
}

TEST_F(IniTest, LineBreaksCannotInjectKeys) {
  WriteIniString(ini, "SYSTEM", "PASSHINT", "hint\nPASSHASH=forged\r\n[X]");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHINT", ""), "hint");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHASH", "none"), "none");
  EXPECT_EQ(ReadAll(ini), "[SYSTEM]\nPASSHINT=hint\n");
}

TEST_F(IniTest, MissingFolderIsCreated) {
  const std::string deep = dir / "config/qk/QK.ini";
  WriteIniInteger(deep, "SYSTEM", "SECLEVEL", 4);
  EXPECT_EQ(ReadIniInteger(deep, "SYSTEM", "SECLEVEL", 0), 4);
  // The file holds the verification hash and the hint: its owner's alone, whatever the umask.
  struct stat st {};
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// The file holds PASSHASH and PASSHINT: whatever mode an old file had, the saved one is 0600.
TEST_F(IniTest, ReplacementLeavesNoTemporaryFilesAndIsTheOwnersAlone) {
  for (const mode_t mode : {0644u, 0640u, 0666u, 0600u, 0700u}) {
    WriteAll(ini, "[S]\nA=1\n");
    ASSERT_EQ(chmod(ini.c_str(), mode), 0);
    const ino_t before = [&] {
      struct stat st {};
      stat(ini.c_str(), &st);
      return st.st_ino;
    }();
    WriteIniInteger(ini, "S", "A", 2);
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << std::oct << mode;
    EXPECT_NE(st.st_ino, before) << "a new file is renamed over the old one";
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"QK.ini"});
  }
}

// Every refusal: the exact message, the old file untouched, nothing left behind.
class IniWriteFailureTest : public IniTest {
protected:
  void ExpectRefused(const std::string& path) {
    try {
      WriteIniString(path, "SYSTEM", "PASSHASH", "x");
      FAIL() << "no error for " << path;
    } catch (const SettingsWriteError& e) {
      EXPECT_STREQ(e.what(), (path + " に書き込めません").c_str());
      EXPECT_EQ(e.Path(), path);
      EXPECT_NE(e.ErrorCode(), 0);
    }
  }
};

TEST_F(IniWriteFailureTest, PathIsAFolder) {
  ASSERT_EQ(mkdir(ini.c_str(), 0700), 0);
  ExpectRefused(ini);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"QK.ini"});
}

TEST_F(IniWriteFailureTest, ParentIsARegularFile) {
  WriteAll(dir / "file", "data");
  ExpectRefused(dir / "file/QK.ini");
  EXPECT_EQ(ReadAll(dir / "file"), "data");
}

TEST_F(IniWriteFailureTest, ReadOnlyFileStaysByteIdentical) {
  const std::string old = "[SYSTEM]\r\nPASSHASH=old\r\n; note";
  WriteAll(ini, old);
  chmod(ini.c_str(), 0444);
  ExpectRefused(ini);
  EXPECT_EQ(ReadAll(ini), old);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"QK.ini"});
}

// A symbolic link at the file's name (planted in a shared folder, or pointing at another user's
// file) is never written through and never replaced: the save is refused and both stay as they are.
TEST_F(IniWriteFailureTest, SymbolicLinkAtTheName) {
  const std::string real = dir / "real.ini";
  WriteAll(real, "[S]\nA=1\n");
  ASSERT_EQ(symlink("real.ini", ini.c_str()), 0);
  ExpectRefused(ini);
  struct stat st {};
  ASSERT_EQ(lstat(ini.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadAll(real), "[S]\nA=1\n");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"QK.ini", "real.ini"}));

  // A link to a name that does not exist yet would otherwise create the file wherever it points.
  ASSERT_EQ(unlink(ini.c_str()), 0);
  ASSERT_EQ(symlink("elsewhere.ini", ini.c_str()), 0);
  ExpectRefused(ini);
  EXPECT_FALSE(Exists(dir / "elsewhere.ini"));
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"QK.ini", "real.ini"}));
}

TEST_F(IniWriteFailureTest, ReadOnlyFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const std::string old = "[SYSTEM]\nPASSHASH=old\n";
  WriteAll(ini, old);
  chmod(dir.path().c_str(), 0555);
  ExpectRefused(ini);
  chmod(dir.path().c_str(), 0700);
  EXPECT_EQ(ReadAll(ini), old);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"QK.ini"});
}

// A file whose last line ends in a bare carriage return: a key added to that section reads back.
TEST(IniDocumentEdge, TrailingCarriageReturnAtTheEnd) {
  for (const char* end : {"\r", "\r\r", "\r\r\r"}) {
    settings::IniDocument doc(std::string("[A]\r\nK=1\r\n[SYSTEM") + end);
    doc.Set("SYSTEM", "PASSHINT", "hint");
    const settings::IniDocument again(doc.Text());
    EXPECT_EQ(again.GetString("SYSTEM", "PASSHINT", ""), "hint");
    EXPECT_EQ(again.GetInteger("A", "K", 0), 1);
  }
}

} // namespace
} // namespace qk::test
