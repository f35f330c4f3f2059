// The program's command line, headless: switches, paths and the decision taken after them.
#include "core/CommandLine.h"
#include "support/BatchFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qk::test {
namespace {

using core::StartAction;
using engine::OperationMode;

class CommandLineTest : public BatchFixture<> {
protected:
  CommandLineTest() : BatchFixture(1) { finder.Recurse = true; }

  StartAction Parse(const std::vector<std::string>& args) {
    return core::ParseCommandLine(args, dir.path(), run, finder);
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> p;
    for (const auto& e : run.Entries()) p.push_back(e.Path);
    return p;
  }

  core::TFindFile finder;
};

TEST_F(CommandLineTest, SwitchesIgnoreCaseAndBlanks) {
  WriteAll(dir / "a.txt", "a");
  EXPECT_EQ(Parse({" -w ", "-f", " -i", "a.txt"}), StartAction::ShowList);
  EXPECT_EQ(run.State().Mode, OperationMode::Wipe);
  EXPECT_TRUE(run.State().AutoRun); // wiping needs no password
  EXPECT_TRUE(run.State().ExitAfterRun);
  EXPECT_EQ(Paths(), std::vector<std::string>{dir / "a.txt"});
}

TEST_F(CommandLineTest, ValuesAreConsumedTrimmedAndTheLastHintWins) {
  EXPECT_EQ(Parse({"-P", " -E ", "-h", "hint one", "-H"}), StartAction::EncryptDialog);
  EXPECT_EQ(run.State().Password, "-E");
  EXPECT_EQ(run.State().PasswordHint, ""); // a switch at the end has an empty value
  EXPECT_TRUE(run.Entries().empty());
}

TEST_F(CommandLineTest, AutoRunNeedsAPasswordOutsideWipe) {
  WriteAll(dir / "a.txt", "a");
  Parse({"-E", "-F", "a.txt"});
  EXPECT_FALSE(run.State().AutoRun);
}

TEST_F(CommandLineTest, FilesTakeTheModeInForce) {
  // A container's hint is read only when decrypt mode is set before it.
  engine::FileEngine& engine = run.Engine();
  WriteAll(dir / "a.txt", "a");
  ASSERT_EQ(engine.EncryptFile(dir / "a.txt", dir / "a.enc", "pw", "the hint", 0, true).outcome,
            engine::Outcome::Encrypted);
  Parse({"a.enc", "-D", "a.enc"});
  ASSERT_EQ(run.Entries().size(), 2u);
  EXPECT_EQ(run.Entries()[0].Sub1, "");
  EXPECT_EQ(run.Entries()[1].Sub1, "the hint");
  EXPECT_EQ(run.State().Mode, OperationMode::Decrypt);
}

TEST_F(CommandLineTest, FoldersAreExpandedAndMissingPathsAddNothing) {
  mkdir((dir / "sub").c_str(), 0755);
  mkdir((dir / "sub/deeper").c_str(), 0755);
  WriteAll(dir / "sub/b.txt", "b");
  WriteAll(dir / "sub/deeper/c.txt", "c");
  EXPECT_EQ(Parse({"sub", "nothing-here", dir / "sub/b.txt"}), StartAction::ShowList);
  EXPECT_EQ(Paths(), (std::vector<std::string>{dir / "sub/b.txt", dir / "sub/deeper/c.txt",
                                               dir / "sub/b.txt"}));
}

// "qk -E *" in a folder where another user created files named like switches: a word before
// "--" that is a switch and also names a file, a second different mode or a second password
// refuses the whole command line, nothing added; after "--" every word is a path, and a value is
// taken whatever it looks like.
TEST_F(CommandLineTest, EndOfSwitches) {
  struct Case {
    std::vector<std::string> args;
    std::string refused; // the refused word; empty when the command line is taken
    OperationMode mode;
    bool autoRun;
    std::vector<std::string> paths;   // relative to dir
    std::vector<std::string> missing; // as given
  };
  for (const char* name : {"-W", "-F", "--", " -i", "a"}) WriteAll(dir / name, "x");
  const std::vector<Case> cases{
      {{"-W", "-F", "a"}, "-W", OperationMode::Encrypt, false, {}, {}},
      {{"-E", "-P", "pw", "-F", "a"}, "-F", OperationMode::Encrypt, false, {}, {}},
      {{"-e", "-p", "pw", " -i", "a", "-f"}, " -i", OperationMode::Encrypt, false, {}, {}},
      // A planted word whose file is gone by the time the program looks.
      {{"-E", "-P", "pw", "-w", "a"}, "-w", OperationMode::Encrypt, false, {}, {}},
      {{"-w", "-E", "a"}, "-E", OperationMode::Encrypt, false, {}, {}},
      {{"-E", "-P", "pw", "a", "-p", "x", "b"}, "-p", OperationMode::Encrypt, false, {}, {}},
      {{"-w", "-f", " -w", "a"}, "", OperationMode::Wipe, true, {"a"}, {}},
      {{"-P", "-P", "a"}, "", OperationMode::Encrypt, false, {"a"}, {}},
      // An output named like a hidden working file, which a later run would take for its own.
      {{"-A", " .qk-abcdef012345", "a"}, ".qk-abcdef012345", OperationMode::Encrypt, false, {}, {}},
      {{"-w", "-f", "--", "-W", "-F", "a"}, "", OperationMode::Wipe, true, {"-W", "-F", "a"}, {}},
      {{"--", "-W", "-F", "a"}, "", OperationMode::Encrypt, false, {"-W", "-F", "a"}, {}},
      {{"-w", "-f", "--", "-E", "--", "a"}, "", OperationMode::Wipe, true, {"--", "a"}, {"-E"}},
      // A value is taken whatever it looks like: a switch's name, "--" too.
      {{"-E", "-P", "-F", "a"}, "", OperationMode::Encrypt, false, {"a"}, {}},
      {{"-w", "-h", "--", "-f", "a"}, "", OperationMode::Wipe, true, {"a"}, {}},
      // Where no file has the name, a switch is taken regardless of case and blanks.
      {{" -w ", "-f ", "gone", "a"}, "", OperationMode::Wipe, true, {"a"}, {"gone"}},
  };
  for (const Case& c : cases) {
    run.ClearList();
    run.State().Mode = OperationMode::Encrypt;
    run.State().AutoRun = false;
    std::vector<std::string> missing;
    std::optional<core::Refusal> refusal;
    const StartAction action =
        core::ParseCommandLine(c.args, dir.path(), run, finder, &missing, &refusal);
    EXPECT_EQ(action == StartAction::Refuse, !c.refused.empty())
        << ::testing::PrintToString(c.args);
    EXPECT_EQ(refusal ? refusal->word : "", c.refused) << ::testing::PrintToString(c.args);
    std::vector<std::string> expected;
    for (const auto& name : c.paths) expected.push_back(dir / name);
    EXPECT_EQ(run.State().Mode, c.mode) << ::testing::PrintToString(c.args);
    EXPECT_EQ(run.State().AutoRun, c.autoRun) << ::testing::PrintToString(c.args);
    EXPECT_EQ(Paths(), expected) << ::testing::PrintToString(c.args);
    EXPECT_EQ(missing, c.missing) << ::testing::PrintToString(c.args);
  }
  // The refusal of a word that names a file says what it always said, where it is told.
  const core::Refusal namesAFile{core::Refusal::Why::NamesAFile, "-W"};
  EXPECT_EQ(core::RefusalLine(namesAFile),
            "qk: \"-W\" is a switch and also names a file here; "
            "nothing was done. Put paths after \"--\" (qk -E -- *).");
  EXPECT_EQ(core::RefusalWarning(namesAFile, "-W"),
            "「-W」はスイッチですが、同じ名前のファイルもあります。何も処理していません。\n"
            "パスは「--」の後に書いてください（例：qk -E -- *）。");
}

TEST_F(CommandLineTest, UnattendedRunsAreRecognisedBeforeAnythingIsTouched) {
  const std::vector<std::pair<std::vector<std::string>, bool>> cases{
      {{"-E", "-F", "-P", "pw", "a"}, true},
      {{"-e", " -f", "-p", "pw", "a"}, true},
      {{"-E", "-F", "a"}, false}, // asks for the password as usual
      {{"-E", "-F", "-P", " ", "a"}, false},
      {{"-W", "-F", "a"}, true},
      {{"-W", "-E", "-F", "a"}, false},
      {{"-A", "out", "a"}, true},
      {{"-A", "", "a"}, false},
      {{"-P", "-F", "a"}, false}, // "-F" is the password
      {{"-W", "--", "-F", "a"}, false},
      {{"-W", "-H", "--", "-F", "a"}, true},
  };
  for (const auto& [args, unattended] : cases) {
    EXPECT_EQ(core::AsksForUnattendedRun(args), unattended) << ::testing::PrintToString(args);
  }
}

TEST_F(CommandLineTest, EmptyListsOpenTheModesDialog) {
  EXPECT_EQ(Parse({"-E"}), StartAction::EncryptDialog);
  EXPECT_EQ(Parse({"-D", "missing"}), StartAction::DecryptDialog);
  EXPECT_EQ(Parse({"-W"}), StartAction::OptionsDialog);
}

TEST_F(CommandLineTest, ForcedOutputProcessesExactlyOneFile) {
  WriteAll(dir / "a.txt", "alpha");
  WriteAll(dir / "b.txt", "beta");
  EXPECT_EQ(Parse({"-A", "out.bin", "-P", "pw", "a.txt"}), StartAction::SingleOutput);
  EXPECT_EQ(run.State().OutputNameOverride, dir / "out.bin");
  core::RunSingleOutput(run);
  EXPECT_EQ(run.Entries()[0].Result->outcome, engine::Outcome::Encrypted);
  EXPECT_TRUE(Exists(dir / "out.bin"));
  EXPECT_EQ(ReadAll(dir / "a.txt"), "alpha"); // never wiped

  run.ClearList();
  run.State().OutputNameOverride.clear();
  EXPECT_EQ(Parse({"-D", "-A", "back.txt", "-P", "pw", "out.bin"}), StartAction::SingleOutput);
  core::RunSingleOutput(run);
  EXPECT_TRUE(engine::Succeeded(run.Entries()[0].Result->outcome));
  EXPECT_EQ(ReadAll(dir / "back.txt"), "alpha");

  run.ClearList();
  EXPECT_EQ(Parse({"-A", "x", "-P", "pw", "a.txt", "b.txt"}), StartAction::Close);
  EXPECT_FALSE(Exists(dir / "x"));
}

TEST(PasswordArguments, ClearedEverywhereOnceParsed) {
  const std::string secret = "a-long-password-beyond-the-short-string-buffer";
  std::vector<std::string> args{"-E", "-P", secret, "-H", "hint", " -p ", "short", "-P"};
  const char* kept = args[2].data();
  core::ClearPasswordArguments(args);
  EXPECT_EQ(args, (std::vector<std::string>{"-E", "-P", "", "-H", "hint", " -p ", "", "-P"}));
  // Cleared in its buffer, not only cut to nothing.
  EXPECT_EQ(args[2].data(), kept);
  EXPECT_EQ(std::string(kept, secret.size()), std::string(secret.size(), '\0'));

  std::string program = "qk", e = "-E", p = "-P", value = secret, path = "file.txt";
  char* argv[] = {program.data(), e.data(), p.data(), value.data(), path.data()};
  core::HidePasswordArguments(5, argv);
  EXPECT_EQ(value, std::string(secret.size(), '\0'));
  EXPECT_EQ(path, "file.txt");
  EXPECT_EQ(p, "-P");
}

// "--" as another switch's value does not end the switches for the hiding: it is read as the
// parse reads it.
TEST(PasswordArguments, FoundAsTheParseFindsThem) {
  const std::string secret = "a-long-password-beyond-the-short-string-buffer";
  std::vector<std::string> args{"-E", "-H", "--", "-P", secret, "--", "-P", "a.txt"};
  EXPECT_EQ(core::PasswordArguments(args), std::vector<std::size_t>{4});
  core::ClearPasswordArguments(args);
  EXPECT_EQ(args, (std::vector<std::string>{"-E", "-H", "--", "-P", "", "--", "-P", "a.txt"}));

  std::string program = "qk", e = "-E", h = "-H", end = "--", p = "-P", value = secret,
              path = "a.txt";
  char* argv[] = {program.data(), e.data(),     h.data(),   end.data(),
                  p.data(),       value.data(), path.data()};
  core::HidePasswordArguments(7, argv);
  EXPECT_EQ(value, std::string(secret.size(), '\0'));
  EXPECT_EQ(path, "a.txt");
}

} // namespace
} // namespace qk::test
