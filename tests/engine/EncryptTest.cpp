// Encrypting one file: naming, progress, refusals, and a failed encryption leaving nothing.
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "platform/FileSystem.h"
#include "platform/PathText.h"

#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

TEST_F(EngineTest, ExistingOutputsGetRenamedNames) {
  const std::string source = Plain("b.txt", "data");
  WriteAll(dir / "b.txt.enc", "existing");
  EXPECT_EQ(Encrypt(source), dir / "b.txt.enc_RENAMED.enc");
  EXPECT_EQ(Encrypt(source), dir / "b.txt.enc_RENAMED.enc_RENAMED.enc");
  EXPECT_EQ(ReadAll(dir / "b.txt.enc"), "existing");
  EXPECT_EQ(ReadAll(source), "data");
  EXPECT_EQ(engine::MakeUniquePath(dir / "noext"), dir / "noext");
  WriteAll(dir / "noext", "");
  EXPECT_EQ(engine::MakeUniquePath(dir / "noext"), dir / "noext_RENAMED");
}

TEST_F(EngineTest, DataIsPaddedToSixteenBytes) {
  for (std::size_t size : {0, 10, 16, 17, 8192}) {
    const std::string source = Plain("s" + std::to_string(size), RandomBytes(size, 1));
    const std::string c = ReadAll(Encrypt(source));
    // With a code and an empty hint the name length sits at 69 and the name at 73.
    const auto nameLength = static_cast<std::size_t>(
        engine::GetInt32(reinterpret_cast<const std::uint8_t*>(c.data() + 69)));
    const std::size_t dataAt = 73 + nameLength + 4 + 8;
    EXPECT_EQ(c.size() - dataAt, (size + 15) / 16 * 16) << size;
    EXPECT_EQ(engine::GetInt64(reinterpret_cast<const std::uint8_t*>(c.data() + dataAt - 8)),
              static_cast<std::int64_t>(size));
  }
}

TEST_F(EngineTest, ProgressReportsPaddedBytes) {
  settings.ProcessMsgInterval = 1;
  const std::string source = Plain("a.txt", "0123456789");
  host.progress.clear();
  Encrypt(source, "pw", "", 0, false);
  ASSERT_EQ(host.progress.size(), 1u);
  EXPECT_EQ(host.progress[0], "暗号化中：16/10バイト　160%");
  EXPECT_EQ(host.pumps, 1);

  host.progress.clear();
  Encrypt(Plain("empty", ""), "pw", "", 0, false);
  EXPECT_TRUE(host.progress.empty());
}

TEST_F(EngineTest, PumpsFollowTheInterval) {
  const std::string source = Plain("big", RandomBytes(8192 * 40, 1));
  for (std::int32_t interval : {0, 1, -5}) {
    settings.ProcessMsgInterval = interval;
    host.pumps = 0;
    Encrypt(source, "pw", "", 0, false);
    EXPECT_EQ(host.pumps, 41) << interval; // 40 full chunks and the empty final read
  }
  settings.ProcessMsgInterval = 1000000;
  host.pumps = 0;
  Encrypt(source, "pw", "", 0, false);
  EXPECT_LT(host.pumps, 5);
}

TEST_F(EngineTest, UnknownAlgorithmNumbersRunAsTwofish) {
  const std::string source = Plain("a.txt", "abc");
  const std::string c1 = ReadAll(Encrypt(source, "pw", "", -1, false));
  const std::string c0 = ReadAll(Encrypt(source, "pw", "", 0, false));
  EXPECT_EQ(engine::GetInt32(reinterpret_cast<const std::uint8_t*>(c1.data() + 21)), -1);
  EXPECT_EQ(c1.substr(25), c0.substr(25));
}

TEST_F(EngineTest, UnreadableSourcesFailWithoutOutput) {
  const std::string source = Plain("a.txt", "abc");
  chmod(source.c_str(), 0444);
  const engine::FileResult refused = engine.EncryptFile(source, source + ".enc", "pw", "", 0, true);
  EXPECT_EQ(refused.outcome, engine::Outcome::EncryptFailed);
  EXPECT_FALSE(Exists(source + ".enc"));
  EXPECT_EQ(refused.output, "");
  chmod(source.c_str(), 0644);

  const int fd = open(source.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_EQ(engine.EncryptFile(source, source + ".enc", "pw", "", 0, true).outcome,
            engine::Outcome::EncryptFailed);
  close(fd);
  EXPECT_FALSE(Exists(source + ".enc"));

  EXPECT_EQ(engine.EncryptFile(dir / "missing", dir / "missing.enc", "pw", "", 0, true).outcome,
            engine::Outcome::EncryptFailed);
  EXPECT_EQ(engine.EncryptFile(dir.path(), dir / "folder.enc", "pw", "", 0, true).outcome,
            engine::Outcome::EncryptFailed);
  EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ReadAll(source), "abc");
}

TEST_F(EngineTest, OverlongHintIsRefusedBeforeWriting) {
  const std::string source = Plain("a.txt", "abc");
  EXPECT_EQ(
      engine.EncryptFile(source, source + ".enc", "pw", std::string(751, 'h'), 0, true).outcome,
      engine::Outcome::EncryptFailed);
  EXPECT_FALSE(Exists(source + ".enc"));
  const std::string c = ReadAll(Encrypt(source, "pw", std::string(750, 'h')));
  EXPECT_EQ(engine::GetInt32(reinterpret_cast<const std::uint8_t*>(c.data() + 65)), 1000);
  const std::string d = ReadAll(Encrypt(source, "pw", std::string(255, 'h')));
  EXPECT_EQ(engine::GetInt32(reinterpret_cast<const std::uint8_t*>(d.data() + 65)), 340);
}

TEST_F(EngineTest, RandomNamesUseTheirAlphabetAndAreFree) {
  const std::string source = Plain("a.txt", "abc");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string path = engine::MakeRandomName(source, ".bmp", random);
    ASSERT_EQ(platform::ExtractFilePath(path), dir.path() + "/");
    const std::string name = platform::ExtractFileName(path);
    ASSERT_EQ(name.size(), 11u);
    EXPECT_EQ(name.substr(7), ".bmp");
    for (char c : name.substr(0, 7))
      EXPECT_TRUE((c >= 'e' && c <= 'x') || (c >= '0' && c <= '9')) << c;
    seen.insert(name);
  }
  EXPECT_GT(seen.size(), 190u);
  // A taken name is never handed out: with the same seed the first name is skipped once taken.
  engine::Random r1(99), r2(99);
  const std::string first = engine::MakeRandomName(source, "", r1);
  WriteAll(first, "");
  EXPECT_NE(engine::MakeRandomName(source, "", r2), first);
}

// The proofs a source wipe waits for read the new file back and compare it with what was read
// or decrypted.
TEST_F(EngineTest, ProofsCatchAChangedOutput) {
  for (bool tamper : {false, true}) {
    const std::string source = Plain(tamper ? "t.txt" : "n.txt", RandomBytes(20000, 9));
    const std::string container = Encrypt(source, "password", "", 0, tamper);
    EXPECT_TRUE(engine.VerifyEncryption(container, "password"));
    EXPECT_FALSE(engine.VerifyEncryption(container, "other password"));
    std::string bytes = ReadAll(container);
    bytes[bytes.size() - 100] ^= 0x40;
    WriteAll(container, bytes);
    EXPECT_FALSE(engine.VerifyEncryption(container, "password"));
  }

  const std::string source = Plain("d.txt", RandomBytes(5000, 10));
  const std::string container = Encrypt(source, "password", "", 1, true);
  platform::DeleteFile(source);
  ASSERT_TRUE(engine::Succeeded(engine.DecryptFile(container, "password").outcome));
  EXPECT_TRUE(engine.VerifyDecryption(source));
  std::string bytes = ReadAll(source);
  bytes[17] ^= 1;
  WriteAll(source, bytes);
  EXPECT_FALSE(engine.VerifyDecryption(source));
  WriteAll(source, bytes.substr(0, 100));
  EXPECT_FALSE(engine.VerifyDecryption(source));
}

} // namespace
} // namespace qk::test
