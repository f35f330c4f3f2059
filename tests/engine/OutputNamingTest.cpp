// Where a decryption's output appears and when: a given output (-o, -A) is written nameless and
// named at the end, never through a link and never over a file of somebody else; without nameless
// files a hidden name of the output's own stands in; a verification writes nothing at all.
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

using engine::Outcome;
using platform::FileOperation;

class OutputNamingTest : public EngineTest {
protected:
  std::string Container(const std::string& bytes, bool tamper = true) {
    const std::string source = Plain("a.txt", bytes);
    const std::string container = Encrypt(source, "pw", "hint", 0, tamper);
    platform::DeleteFile(source);
    return container;
  }
};

TEST_F(OutputNamingTest, GivenOutputIsNeverWrittenThroughALink) {
  const std::string container = Container("secret plaintext");
  TempDir elsewhere;
  WriteAll(elsewhere / "target", "someone else's file");
  const std::string given = dir / "out.bin";
  ASSERT_EQ(symlink((elsewhere / "target").c_str(), given.c_str()), 0);
  state.OutputNameOverride = given;
  const engine::FileResult result = engine.DecryptFile(container, "pw");
  EXPECT_EQ(result.outcome, Outcome::DecryptFailed);
  EXPECT_EQ(ReadAll(elsewhere / "target"), "someone else's file");
  struct stat st {};
  ASSERT_EQ(lstat(given.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt.enc", "out.bin"}));

  // A dangling link too: nothing is created at its target.
  ASSERT_EQ(unlink(given.c_str()), 0);
  ASSERT_EQ(symlink((elsewhere / "new").c_str(), given.c_str()), 0);
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::DecryptFailed);
  EXPECT_FALSE(Exists(elsewhere / "new"));
}

TEST_F(OutputNamingTest, GivenOutputReplacesOnlyARegularFileOfTheUsersOwn) {
  const std::string container = Container("secret plaintext");
  const std::string given = dir / "out.bin";
  state.OutputNameOverride = given;

  // An own file is replaced by a new one; the old one is never cut (a second name keeps it).
  WriteAll(given, "old contents");
  ASSERT_EQ(link(given.c_str(), (dir / "second").c_str()), 0);
  const engine::FileResult ok = engine.DecryptFile(container, "pw");
  EXPECT_EQ(ok.outcome, Outcome::Decrypted);
  EXPECT_EQ(ok.output, given);
  EXPECT_EQ(ReadAll(given), "secret plaintext");
  EXPECT_EQ(ReadAll(dir / "second"), "old contents");
  struct stat st {};
  ASSERT_EQ(stat(given.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A read-only file, a folder, and (as root) a file of another user are refused as they are.
  WriteAll(given, "read-only");
  ASSERT_EQ(chmod(given.c_str(), 0444), 0);
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::DecryptFailed);
  EXPECT_EQ(ReadAll(given), "read-only");
  ASSERT_EQ(chmod(given.c_str(), 0644), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(given.c_str(), 65534, 65534), 0);
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::DecryptFailed);
    EXPECT_EQ(ReadAll(given), "read-only");
    ASSERT_EQ(stat(given.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
  }
  ASSERT_EQ(unlink(given.c_str()), 0);
  ASSERT_EQ(mkdir(given.c_str(), 0700), 0);
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::DecryptFailed);
  ASSERT_EQ(rmdir(given.c_str()), 0);
  // Nothing of the failed attempts is left behind.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt.enc", "second"}));
}

// Makes every nameless file fall back to a hidden name, and looks at the folder on every event.
class NoNamelessFiles {
public:
  NoNamelessFiles() {
    platform::SetFaultHook([](FileOperation op, const std::string&) {
      return op == FileOperation::Nameless ? EOPNOTSUPP : 0;
    });
  }
  ~NoNamelessFiles() { platform::SetFaultHook(nullptr); }
};

TEST_F(OutputNamingTest, WithoutNamelessFilesAHiddenNameStandsInUntilTheProof) {
  const std::string bytes = RandomBytes(300000, 3);
  const std::string container = Container(bytes);
  settings.ProcessMsgInterval = 1;
  int checks = 0;
  host.onPump = [&] {
    const auto names = Listing();
    ++checks;
    // Only the container and one hidden name: never the output's own name before the proof.
    for (const auto& name : names)
      EXPECT_TRUE(name == "a.txt.enc" || name.rfind(".qk-", 0) == 0) << name;
  };
  {
    NoNamelessFiles fallback;
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::Decrypted);
  }
  EXPECT_GT(checks, 0);
  EXPECT_EQ(ReadAll(dir / "a.txt"), bytes);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt", "a.txt.enc"}));
  platform::DeleteFile(dir / "a.txt");

  // A mismatch removes the hidden name with what it held.
  host.onPump = nullptr;
  std::string changed = ReadAll(container);
  changed.back() = static_cast<char>(changed.back() ^ 1);
  WriteAll(container, changed);
  {
    NoNamelessFiles fallback;
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::TamperMismatch);
    state.OutputNameOverride = dir / "given.bin";
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::TamperMismatch);
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt.enc"}));
}

TEST_F(OutputNamingTest, VerificationRunsEveryCheckAndWritesNothing) {
  const std::string bytes = RandomBytes(70000, 4);
  const std::string withCode = Container(bytes, true);
  const std::string plain2 = Plain("b.txt", bytes);
  const std::string withoutCode = Encrypt(plain2, "pw", "", 2, false);
  platform::DeleteFile(plain2);
  std::string tampered = ReadAll(withCode);
  tampered[tampered.size() - 5] = static_cast<char>(tampered[tampered.size() - 5] ^ 4);
  WriteAll(dir / "tampered.enc", tampered);
  const std::string good = ReadAll(withCode);
  WriteAll(dir / "cut.enc", good.substr(0, good.size() - 16));
  std::string badName = good;
  engine::PutInt32(reinterpret_cast<std::uint8_t*>(badName.data() + 65), 1001);
  WriteAll(dir / "bad.enc", badName);
  WriteAll(dir / "old.enc", "ENCRYPTED BY V2.X QK and then some");
  WriteAll(dir / "plain.txt", "not a container at all, long enough");

  settings.SkipNonHMAC = true; // the decryption policy does not hide what a container is
  const auto before = Listing();
  WriteRecorder recorder;
  EXPECT_EQ(engine.VerifyContainer(withCode, "pw").outcome, Outcome::Verified);
  EXPECT_EQ(engine.VerifyContainer(withoutCode, "pw").outcome, Outcome::VerifiedNoTamperCode);
  EXPECT_EQ(engine.VerifyContainer(withCode, "wrong").outcome, Outcome::WrongPassword);
  EXPECT_EQ(engine.VerifyContainer(dir / "tampered.enc", "pw").outcome, Outcome::TamperMismatch);
  EXPECT_EQ(engine.VerifyContainer(dir / "cut.enc", "pw").outcome, Outcome::TamperMismatch);
  EXPECT_EQ(engine.VerifyContainer(dir / "bad.enc", "pw").outcome, Outcome::TamperMismatch);
  EXPECT_EQ(engine.VerifyContainer(dir / "old.enc", "pw").outcome, Outcome::OldFormat);
  EXPECT_EQ(engine.VerifyContainer(dir / "plain.txt", "pw").outcome, Outcome::InvalidFormat);
  EXPECT_EQ(engine.VerifyContainer(dir / "missing.enc", "pw").outcome, Outcome::DecryptFailed);
  EXPECT_EQ(engine.VerifyContainer(dir / "missing.enc", "pw").error, ENOENT);
  // Without a code, structure alone: a size the data cannot hold, a cut header.
  std::string noCode = ReadAll(withoutCode);
  WriteAll(dir / "short.enc", noCode.substr(0, noCode.size() - 1));
  EXPECT_EQ(engine.VerifyContainer(dir / "short.enc", "pw").outcome, Outcome::InvalidFile);
  WriteAll(dir / "header.enc", noCode.substr(0, 40));
  EXPECT_EQ(engine.VerifyContainer(dir / "header.enc", "pw").outcome, Outcome::DecryptFailed);
  EXPECT_TRUE(engine::Succeeded(engine::Outcome::Verified));
  const auto writes = recorder.Writes();
  // The two files above were written by the test itself.
  for (const auto& path : writes)
    EXPECT_TRUE(path == dir / "short.enc" || path == dir / "header.enc") << path;
  auto after = Listing();
  std::erase(after, "short.enc");
  std::erase(after, "header.enc");
  EXPECT_EQ(after, before);
}

} // namespace
} // namespace qk::test
