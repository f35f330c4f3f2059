// Names and hints stored in a container come back exactly as they were written.
#include "engine/EngineFixture.h"
#include "platform/FileSystem.h"
#include "support/TextSamples.h"

#include <random>

namespace qk::test {
namespace {

class StoredNameTest : public EngineTest {
protected:
  // Encrypts a file called name with hint, removes the source, decrypts, and checks both.
  void ExpectBack(const std::string& name, const std::string& hint) {
    const std::string source = Plain(name, "contents");
    const std::string container = Encrypt(source, "pw", hint, 0, true);
    platform::DeleteFile(source);
    EXPECT_EQ(engine.ReadStoredHint(container).hint, hint) << name;
    const engine::FileResult result = engine.DecryptFile(container, "pw");
    EXPECT_EQ(result.outcome, engine::Outcome::Decrypted) << name;
    // A hidden name, or one read as an option, comes back with "_RENAMED" after it, a leading
    // "-" as "_" (the generated names hold no control character).
    std::string written = name;
    if (name.front() == '-') written.front() = '_';
    if (name.front() == '.' || name.front() == '-') written += "_RENAMED";
    EXPECT_EQ(result.output, dir / written);
    EXPECT_EQ(ReadAll(dir / written), "contents") << name;
    platform::DeleteFile(dir / written);
    platform::DeleteFile(container);
  }
};

TEST_F(StoredNameTest, NamesFromLinuxDesktopsComeBack) {
  for (const std::string& name : KnownHardNames()) ExpectBack(name, name);
}

TEST_F(StoredNameTest, GeneratedNamesAndHintsComeBack) {
  std::mt19937 random(932);
  for (int i = 0; i < 150; ++i) {
    const std::string name = GeneratedText(random);
    ExpectBack(name, GeneratedText(random));
  }
}

// A container received from someone else and decrypted in the home folder cannot plant a file
// that the shell or the login reads by its stored name, one that a later "rm *" takes as an
// option, or one whose line breaks and escapes forge a listing: each such name is written with
// "_RENAMED" after it (a leading "-" and control characters as "_"), and never over a file that
// is there.
TEST_F(StoredNameTest, HiddenNamesAreNeverWrittenAsThemselves) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {".bashrc", ".bashrc_RENAMED"},
      {".profile", ".profile_RENAMED"},
      {".bash_profile", ".bash_profile_RENAMED"},
      {".zshrc", ".zshrc_RENAMED"},
      {".ssh", ".ssh_RENAMED"},
      {".config", ".config_RENAMED"},
      {"..hidden.txt", "..hidden.txt_RENAMED"},
      {"visible.bashrc", "visible.bashrc"},
      {"-rf", "_rf_RENAMED"},
      {"--checkpoint-action=exec=sh x.sh", "_-checkpoint-action=exec=sh x.sh_RENAMED"},
      {"a\nb.txt", "a_b.txt_RENAMED"},
      {"\x1b]0;title\a.txt", "_]0;title_.txt_RENAMED"},
      {"tab\tdel\x7f", "tab_del__RENAMED"},
      // Beyond C0: a CSI, a next line, bidirectional overrides and isolates, a line separator.
      {"a\u009b31mb", "a_31mb_RENAMED"},
      {"a\u0085b", "a_b_RENAMED"},
      {"txt.\u202eexe", "txt._exe_RENAMED"},
      {"\u2066a\u2069\u2028", "_a___RENAMED"},
      {"日本語.txt", "日本語.txt"},
      {"a-b -c", "a-b -c"},
  };
  for (const auto& [name, written] : cases) {
    const std::string source = Plain(name, "echo owned");
    const std::string container = Encrypt(source, "pw", "", 0, true);
    platform::DeleteFile(source);
    const engine::FileResult result = engine.DecryptFile(container, "pw");
    EXPECT_EQ(result.outcome, engine::Outcome::Decrypted) << name;
    EXPECT_EQ(result.output, dir / written);
    EXPECT_EQ(ReadAll(dir / written), "echo owned") << name;
    if (written != name) {
      EXPECT_FALSE(platform::FileExists(dir / name)) << name;
    }
    platform::DeleteFile(dir / written);
    platform::DeleteFile(container);
  }
  // A file of the renamed name that is there already is kept as well.
  const std::string source = Plain(".bashrc", "new");
  const std::string container = Encrypt(source, "pw", "", 0, true);
  platform::DeleteFile(source);
  WriteAll(dir / ".bashrc_RENAMED", "kept");
  const engine::FileResult result = engine.DecryptFile(container, "pw");
  ASSERT_EQ(result.outcome, engine::Outcome::Decrypted);
  EXPECT_EQ(ReadAll(dir / ".bashrc_RENAMED"), "kept");
  EXPECT_NE(result.output, dir / ".bashrc_RENAMED");
  EXPECT_EQ(ReadAll(result.output), "new");
  EXPECT_FALSE(platform::FileExists(dir / ".bashrc"));
}

} // namespace
} // namespace qk::test
