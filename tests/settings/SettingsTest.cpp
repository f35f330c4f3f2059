// The settings model and its store: defaults, loading, saving and clearing QK.ini, and where the
// file lives.
#include "settings/Settings.h"
#include "settings/IniUnit.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

using namespace qk::settings;

class SettingsTest : public ::testing::Test {
protected:
  SettingsModel Load() const {
    SettingsModel m;
    store.LoadL1(m);
    store.LoadL2(m);
    return m;
  }
  SettingsModel LoadFrom(const std::string& text) {
    WriteAll(ini, text);
    return Load();
  }

  TempDir dir;
  const std::string ini = dir / "QK.ini";
  SettingsStore store{ini};
};

// A model that differs from the defaults in every saved field.
SettingsModel Changed() {
  SettingsModel m;
  m.X = -20;
  m.Y = 640;
  m.Recurse = false;
  m.PassHash = "0123456789ABCDEF";
  m.SecLevel = 4;
  m.FirstExec = false;
  m.WipeSource = false;
  m.WipeDecSource = false;
  m.MainTop = true;
  m.DontClearPassBox = true;
  m.SaveHint = true;
  m.ReEnc = false;
  m.TopWipe = true;
  m.TextQKBtn = true;
  m.AddHMAC = false;
  m.SkipNonHMAC = true;
  m.PasswordHint = "いつもの 'あれ'";
  m.DefaultExt = false;
  m.OwnExt = false;
  m.RandomExt = true;
  m.OwnExtStr = ".暗号";
  m.Algorithm = 2;
  m.ListWidth = 1024;
  m.ListHeight = 333;
  return m;
}

// Without the file, or with one that holds none of the keys, every setting keeps the model's
// default (the values are what a save of the defaults writes, SaveWritesEveryKeyInOrder), and
// loading never creates the file.
TEST_F(SettingsTest, DefaultsWithoutFile) {
  EXPECT_EQ(Load(), SettingsModel());
  EXPECT_TRUE(store.ReadDbChk());
  EXPECT_FALSE(Exists(ini)) << "loading never creates the file";
  for (const char* text : {"", "[SYSTEM]\n", "[OTHER]\nSECLEVEL=4\nX=5\nDBCHK=0\n"}) {
    EXPECT_EQ(LoadFrom(text), SettingsModel()) << text;
    EXPECT_TRUE(store.ReadDbChk()) << text;
  }
  // Only read, never written: no save shows it.
  EXPECT_EQ(SettingsModel().ProcessMsgInterval, 30);
}

TEST_F(SettingsTest, SecLevelDecoding) {
  const struct {
    const char* line;
    std::int32_t expected;
  } cases[] = {{"SECLEVEL=0x3", 3},   {"SECLEVEL=$4", 4},     {"SECLEVEL=abc", 2},
               {"SECLEVEL=\"5\"", 5}, {"SECLEVEL =  7  ", 7}, {"seclevel=1", 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(LoadFrom(std::string("[system]\r\n") + c.line + "\r\n").SecLevel, c.expected)
        << c.line;
  }
}

TEST_F(SettingsTest, BooleanDecoding) {
  EXPECT_TRUE(LoadFrom("[SYSTEM]\nINCSUBFOLDER=2\n").Recurse);
  EXPECT_TRUE(LoadFrom("[SYSTEM]\nINCSUBFOLDER=yes\n").Recurse);
  EXPECT_FALSE(LoadFrom("[SYSTEM]\nINCSUBFOLDER=0\n").Recurse);
  EXPECT_FALSE(LoadFrom("[SYSTEM]\nMAINTOP=yes\n").MainTop);
  EXPECT_TRUE(LoadFrom("[SYSTEM]\nMAINTOP=-1\n").MainTop);
  EXPECT_FALSE(LoadFrom("[SYSTEM]\nMAINTOP=true\n").MainTop);
  EXPECT_TRUE(LoadFrom("[SYSTEM]\nWIPESOURCE=false\n").WipeSource);
  WriteAll(ini, "[SYSTEM]\nDBCHK=0\n");
  EXPECT_FALSE(store.ReadDbChk());
}

TEST_F(SettingsTest, StoredHintNeedsSaveHint) {
  SettingsModel m;
  m.PasswordHint = "stale";
  WriteAll(ini, "[SYSTEM]\nSAVEHINT=0\nPASSHINT=secret\n");
  store.LoadL2(m);
  EXPECT_FALSE(m.SaveHint);
  EXPECT_EQ(m.PasswordHint, "");
  WriteAll(ini, "[SYSTEM]\nSAVEHINT=1\nPASSHINT=secret\n");
  store.LoadL2(m);
  EXPECT_EQ(m.PasswordHint, "secret");
}

TEST_F(SettingsTest, NameModeFromRadioFlags) {
  SettingsModel m;
  const struct {
    bool def, own, random;
    std::int32_t mode;
  } cases[] = {{true, false, false, 0},  {false, true, false, 1}, {false, false, true, 2},
               {false, false, false, 0}, {true, true, true, 0},   {false, true, true, 1}};
  for (const auto& c : cases) {
    m.DefaultExt = c.def;
    m.OwnExt = c.own;
    m.RandomExt = c.random;
    EXPECT_EQ(m.NameMode(), c.mode) << c.def << c.own << c.random;
  }
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrder) {
  SettingsModel m;
  m.PasswordHint = "hint";
  store.Save(m);
  EXPECT_EQ(ReadAll(ini), "[WINDOWPOS]\nX=100\nY=100\n"
                          "[SYSTEM]\nINCSUBFOLDER=1\nWIPESOURCE=1\nWIPEDECSOURCE=1\nMAINTOP=0\n"
                          "DONTCLEARPASSBOX=0\nSAVEHINT=1\nREENC=1\nTOPWIPE=0\nTEXTQKBTN=0\n"
                          "ADDHMAC=1\nSKIPNONHMAC=0\nPASSHINT=hint\nPASSHASH=\nSECLEVEL=2\n"
                          "DEFAULT_EXT=1\nOWN_EXT=0\nRANDOM_EXT=0\nOWN_EXT_STR=.bmp\n"
                          "ALGORITHM=0\nFIRSTEXEC=0\n");
}

// The list window's size comes from the file as a pair in 1..16384, or not at all: the file may
// have been edited by hand or damaged.
TEST_F(SettingsTest, ListSizeIsTakenOnlyWhenUsable) {
  const struct {
    const char* width;
    const char* height;
    std::int32_t expectedWidth;
    std::int32_t expectedHeight;
  } cases[] = {
      {"800", "500", 800, 500},
      {"1", "1", 1, 1},
      {"16384", "16384", 16384, 16384},
      {"0x320", "$1F4", 800, 500},
      {"16385", "500", 0, 0},
      {"800", "16385", 0, 0},
      {"0", "500", 0, 0},
      {"800", "0", 0, 0},
      {"-800", "500", 0, 0},
      {"800", "-1", 0, 0},
      {"2147483647", "500", 0, 0},
      {"4294967396", "500", 0, 0},
      {"0xFFFFFFFF", "500", 0, 0},
      {"abc", "500", 0, 0},
      {"800", "", 0, 0},
      {"800px", "500", 0, 0},
      {"8e2", "500", 0, 0},
  };
  for (const auto& c : cases) {
    const SettingsModel m = LoadFrom(std::string("[WINDOWPOS]\nLISTWIDTH=") + c.width +
                                     "\nLISTHEIGHT=" + c.height + "\n");
    EXPECT_EQ(m.ListWidth, c.expectedWidth) << c.width << " x " << c.height;
    EXPECT_EQ(m.ListHeight, c.expectedHeight) << c.width << " x " << c.height;
  }
  // One of the two alone is no size.
  EXPECT_EQ(LoadFrom("[WINDOWPOS]\nLISTWIDTH=800\n").ListWidth, 0);
  EXPECT_EQ(LoadFrom("[WINDOWPOS]\nLISTHEIGHT=500\n").ListHeight, 0);
}

TEST_F(SettingsTest, ListSizeIsSavedWhenThereIsOne) {
  SettingsModel m;
  m.ListWidth = 900;
  m.ListHeight = 420;
  store.Save(m);
  EXPECT_EQ(ReadAll(ini).rfind("[WINDOWPOS]\nX=100\nY=100\nLISTWIDTH=900\nLISTHEIGHT=420\n"
                               "[SYSTEM]\n",
                               0),
            0u)
      << ReadAll(ini);
  EXPECT_EQ(Load().ListWidth, 900);
  EXPECT_EQ(Load().ListHeight, 420);
  // A model without a size leaves what the file holds.
  m.ListWidth = 0;
  m.ListHeight = 0;
  store.Save(m);
  EXPECT_EQ(ReadIniInteger(ini, "WINDOWPOS", "LISTWIDTH", 0), 900);
  // A size out of bounds is never written.
  m.ListWidth = -5;
  m.ListHeight = 100000;
  WriteAll(ini, "");
  store.Save(m);
  EXPECT_EQ(ReadIniString(ini, "WINDOWPOS", "LISTWIDTH", "absent"), "absent");
  EXPECT_EQ(ReadIniString(ini, "WINDOWPOS", "LISTHEIGHT", "absent"), "absent");
}

TEST_F(SettingsTest, SaveWithoutSaveHintLeavesTheStoredHint) {
  SettingsModel m;
  m.SaveHint = false;
  m.PasswordHint = "not this";
  store.Save(m);
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHINT", "absent"), "absent");
  WriteIniString(ini, "SYSTEM", "PASSHINT", "kept");
  store.Save(m);
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "PASSHINT", ""), "kept");
  EXPECT_EQ(ReadIniString(ini, "SYSTEM", "SAVEHINT", ""), "0");
}

TEST_F(SettingsTest, HandEditsSurviveRepeatedSaves) {
  const std::string head = "; my settings\n[SYSTEM]\nPROCESSMSGINTV=1\nDBCHK=0\nCUSTOM=mine\n";
  WriteAll(ini, head + "[EXTRA]\nA=b\n");
  SettingsModel m;
  for (int run = 0; run < 3; ++run) {
    store.LoadL1(m);
    store.LoadL2(m);
    EXPECT_EQ(m.ProcessMsgInterval, 1);
    m.X += 10;
    store.Save(m);
  }
  const std::string text = ReadAll(ini);
  EXPECT_EQ(text.rfind(head, 0), 0u) << text;
  EXPECT_NE(text.find("[EXTRA]\nA=b\n"), std::string::npos) << text;
  EXPECT_FALSE(store.ReadDbChk());
  EXPECT_EQ(ReadIniInteger(ini, "WINDOWPOS", "X", 0), 130);
  EXPECT_FALSE(Load().FirstExec);
}

TEST_F(SettingsTest, RoundTrip) {
  const SettingsModel saved = Changed();
  store.Save(saved);
  SettingsModel loaded = Load();
  EXPECT_EQ(loaded, saved);

  // Hints and extensions with blanks and quotes at their ends come back as they were.
  SettingsModel odd = saved;
  odd.PasswordHint = "\"quoted\"";
  odd.OwnExtStr = " .x ";
  odd.Algorithm = -1;
  store.Save(odd);
  EXPECT_EQ(Load(), odd);
}

// LoadL1 takes the keys of the main window's creation, LoadL2 the rest; neither touches the
// other's.
TEST_F(SettingsTest, EachLoadTakesItsOwnKeys) {
  const SettingsModel saved = Changed();
  store.Save(saved);
  SettingsModel first;
  first.X = saved.X;
  first.Y = saved.Y;
  first.ListWidth = saved.ListWidth;
  first.ListHeight = saved.ListHeight;
  first.Recurse = saved.Recurse;
  first.PassHash = saved.PassHash;
  first.SecLevel = saved.SecLevel;
  first.FirstExec = false;
  SettingsModel m;
  store.LoadL1(m);
  EXPECT_EQ(m, first);

  SettingsModel second = saved;
  for (const auto member : {&SettingsModel::X, &SettingsModel::Y, &SettingsModel::ListWidth,
                            &SettingsModel::ListHeight, &SettingsModel::SecLevel})
    second.*member = SettingsModel().*member;
  second.Recurse = SettingsModel().Recurse;
  second.PassHash = SettingsModel().PassHash;
  second.FirstExec = SettingsModel().FirstExec;
  m = SettingsModel();
  store.LoadL2(m);
  EXPECT_EQ(m, second);
}

TEST_F(SettingsTest, ClearEmptiesHashAndHint) {
  store.Save(Changed());
  store.Clear();
  const std::string text = ReadAll(ini);
  EXPECT_NE(text.find("\nPASSHASH=\n"), std::string::npos);
  EXPECT_NE(text.find("\nPASSHINT=\n"), std::string::npos);
  SettingsModel expected = Changed();
  expected.PassHash.clear();
  expected.PasswordHint.clear();
  EXPECT_EQ(Load(), expected);
  // On a missing file both keys are created, present and empty.
  const SettingsStore fresh(dir / "fresh.ini");
  fresh.Clear();
  EXPECT_EQ(ReadAll(dir / "fresh.ini"), "[SYSTEM]\nPASSHASH=\nPASSHINT=\n");
}

TEST_F(SettingsTest, FailedSaveRaisesAndKeepsTheOldFile) {
  store.Save(SettingsModel());
  const std::string old = ReadAll(ini);
  chmod(ini.c_str(), 0444);
  for (const auto& action : {+[](const SettingsStore& s) { s.Save(Changed()); },
                             +[](const SettingsStore& s) { s.Clear(); }}) {
    try {
      action(store);
      ADD_FAILURE() << "no error";
    } catch (const SettingsWriteError& e) {
      EXPECT_STREQ(e.what(), (ini + " に書き込めません").c_str());
    }
    EXPECT_EQ(ReadAll(ini), old);
  }

  WriteAll(dir / "plain", "x");
  const SettingsStore blocked(dir / "plain/QK.ini");
  EXPECT_THROW(blocked.Save(SettingsModel()), SettingsWriteError);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(IniLocationTest, ConfigFolderOtherwise) {
  TempDir dir;
  const std::string missing = dir / "no-such-folder";
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
    EXPECT_EQ(DefaultIniPath(missing), dir / "cfg/qk/QK.ini");
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", dir.path().c_str());
  EXPECT_EQ(DefaultIniPath(missing), dir / ".config/qk/QK.ini");
  EXPECT_EQ(DefaultIniPath(""), dir / ".config/qk/QK.ini");
}

// QK.ini beside the program only for a portable copy: a folder of the user's own that nobody else
// can write to. A folder another user or a group can write to would let them supply every
// setting; an installed copy's folder is the system's. Everything else uses the config folder.
TEST(IniLocationTest, BesideTheExecutableOnlyInAFolderOfOurOwn) {
  TempDir dir;
  const std::string program = dir / "program";
  ASSERT_EQ(mkdir(program.c_str(), 0700), 0);
  ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
  const std::string config = dir / "cfg/qk/QK.ini";

  EXPECT_EQ(DefaultIniPath(program), program + "/QK.ini");
  EXPECT_EQ(DefaultIniPath(program + "/"), program + "/QK.ini");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  EXPECT_EQ(DefaultIniPath(program), program + "/QK.ini") << "others may read, not write";

  for (const mode_t shared : {0775, 0757, 0730, 0703, 01777}) {
    ASSERT_EQ(chmod(program.c_str(), shared), 0);
    EXPECT_EQ(DefaultIniPath(program), config) << std::oct << shared;
  }
  ASSERT_EQ(chmod(program.c_str(), 0555), 0);
  EXPECT_EQ(DefaultIniPath(program), config) << "a folder without the owner's write bit";
  ASSERT_EQ(chmod(program.c_str(), 0700), 0);

  if (geteuid() == 0) {
    // Only root can hand a folder to another user.
    ASSERT_EQ(chown(program.c_str(), 65534, 65534), 0);
    EXPECT_EQ(DefaultIniPath(program), config) << "a folder of another user";
    ASSERT_EQ(chown(program.c_str(), 0, 0), 0);
  }
  // Installed programs live below /usr, whoever runs them.
  EXPECT_EQ(DefaultIniPath("/usr/lib/qk"), config);
  EXPECT_EQ(DefaultIniPath("/usr"), config);
  EXPECT_EQ(DefaultIniPath(program + "/usr"), config) << "missing folder";
}

// A folder of the user's own inside a folder that others can write to (without the sticky bit)
// can be renamed away and replaced by them: no portable copy there.
TEST(IniLocationTest, FoldersAboveTheProgramCountToo) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
  const std::string config = dir / "cfg/qk/QK.ini";
  const std::string above = dir / "above";
  const std::string program = above + "/inner/program";
  ASSERT_EQ(mkdir(above.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((above + "/inner").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(program.c_str(), 0700), 0);
  EXPECT_EQ(DefaultIniPath(program), program + "/QK.ini");
  for (const mode_t mode : {0777, 0775, 0757}) {
    ASSERT_EQ(chmod(above.c_str(), mode), 0);
    EXPECT_EQ(DefaultIniPath(program), config) << std::oct << mode;
  }
  ASSERT_EQ(chmod(above.c_str(), 01777), 0);
  EXPECT_EQ(DefaultIniPath(program), program + "/QK.ini") << "sticky, as /tmp";
  ASSERT_EQ(chmod(above.c_str(), 0755), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(above.c_str(), 65534, 65534), 0);
    EXPECT_EQ(DefaultIniPath(program), config) << "a folder of another user above";
    ASSERT_EQ(chown(above.c_str(), 0, 0), 0);
  }
  EXPECT_EQ(DefaultIniPath(program + "/"), program + "/QK.ini");
}

TEST(IniLocationTest, ExecutableDirHoldsThisTest) {
  const std::string exeDir = ExecutableDir();
  ASSERT_FALSE(exeDir.empty());
  struct stat st {};
  EXPECT_EQ(stat((exeDir + "/qk_settings_tests").c_str(), &st), 0) << exeDir;
}

} // namespace
} // namespace qk::test
