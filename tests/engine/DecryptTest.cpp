// Decrypting containers: round trips, older generations, and every refusal leaving the disk as
// it was.
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "engine/Independent.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

using engine::Outcome;
constexpr Outcome kDecryptFailed = Outcome::DecryptFailed;
constexpr Outcome kInvalidFile = Outcome::InvalidFile;
constexpr Outcome kOkNoCode = Outcome::DecryptedNoTamperCode;
constexpr Outcome kOkCode = Outcome::Decrypted;

class DecryptTest : public EngineTest {
protected:
  // Encrypts name with bytes, removes the source, and returns the container.
  std::string Container(const std::string& name, const std::string& bytes, int algorithm = 0,
                        bool tamper = true, const std::string& password = "pw") {
    const std::string source = Plain(name, bytes);
    const std::string container = Encrypt(source, password, "hint", algorithm, tamper);
    platform::DeleteFile(source);
    return container;
  }
  // Overwrites a container with bytes and checks that decrypting it gives result and leaves
  // the folder as it was.
  void ExpectRefused(const std::string& container, const std::string& bytes, Outcome result) {
    WriteAll(container, bytes);
    const auto before = Listing();
    EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, result);
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(ReadAll(container), bytes);
  }
};

struct RoundTrip {
  int algorithm;
  bool tamper;
};

class DecryptRoundTrip : public DecryptTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(DecryptRoundTrip, RestoresNameBytesAndDate) {
  const auto [algorithm, tamper] = GetParam();
  for (std::size_t size : {0, 1, 15, 16, 17, 8191, 8192, 8193, 40000}) {
    const std::string bytes = RandomBytes(size, static_cast<std::uint32_t>(size));
    const std::string name = "ファイル" + std::to_string(size) + ".dat";
    const std::string container = Container(name, bytes, algorithm, tamper);
    const engine::FileResult result = engine.DecryptFile(container, "pw");
    EXPECT_EQ(result.outcome, tamper ? kOkCode : kOkNoCode);
    EXPECT_EQ(result.output, dir / name);
    EXPECT_EQ(result.path, container);
    EXPECT_EQ(ReadAll(dir / name), bytes) << size;
    EXPECT_NE(result.fileDate, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, DecryptRoundTrip,
                         ::testing::Values(RoundTrip{0, true}, RoundTrip{0, false},
                                           RoundTrip{1, true}, RoundTrip{1, false},
                                           RoundTrip{2, true}, RoundTrip{2, false},
                                           RoundTrip{-1, true}, RoundTrip{7, false}));

TEST_F(DecryptTest, MarkersAreRecognisedAsSubstrings) {
  const std::string path = dir / "x.enc";
  const Outcome old = Outcome::OldFormat;
  ExpectRefused(path, "12345ENCRYPTED BY QK and more bytes here", old);
  ExpectRefused(path, "ENCRYPTED BY V2.X QK" + std::string(100, 'x'), old);
  ExpectRefused(path, std::string("ENCRYPTED BY V5.X Q\0", 20) + std::string(100, 'x'),
                engine::Outcome::InvalidFormat);
  ExpectRefused(path, std::string("abc\0ENCRYPTED BY QK", 19) + std::string(100, 'x'),
                engine::Outcome::InvalidFormat);
  ExpectRefused(path, "plain text file that is long enough", engine::Outcome::InvalidFormat);
  ExpectRefused(path, "short", kDecryptFailed);
}

TEST_F(DecryptTest, WrongPasswordIsRefusedBeforeTamperCheck) {
  const std::string container = Container("a.txt", RandomBytes(100, 1));
  const auto before = Listing();
  host.progress.clear();
  EXPECT_EQ(engine.DecryptFile(container, "wrong").outcome, engine::Outcome::WrongPassword);
  EXPECT_TRUE(host.progress.empty());
  EXPECT_EQ(Listing(), before);
}

TEST_F(DecryptTest, AnyChangedByteFailsTheTamperCheck) {
  const std::string container = Container("a.txt", RandomBytes(3000, 2));
  const std::string original = ReadAll(container);
  for (std::size_t at : {21u, 40u, 52u, 70u, 100u, 2000u, 3100u}) {
    if (at >= original.size()) continue;
    std::string changed = original;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    ExpectRefused(container, changed, engine::Outcome::TamperMismatch);
  }
  // The algorithm number and password check are proved by the password first.
  for (std::size_t at : {53u, 57u, 64u}) {
    std::string changed = original;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    ExpectRefused(container, changed, engine::Outcome::WrongPassword);
  }
  std::string cut = original.substr(0, original.size() - 5);
  ExpectRefused(container, cut, engine::Outcome::TamperMismatch);
}

TEST_F(DecryptTest, LengthFieldsAreValidated) {
  const std::string container = Container("a.txt", "abc", 0, false);
  const std::string original = ReadAll(container);
  auto withInt = [&](std::size_t at, std::int32_t v) {
    std::string c = original;
    engine::PutInt32(reinterpret_cast<std::uint8_t*>(c.data() + at), v);
    return c;
  };
  // Hint at 33 (length 4 for "hint" scrambled to 8? "hint" is 4 bytes -> 8 characters).
  const std::int32_t hintLength =
      engine::GetInt32(reinterpret_cast<const std::uint8_t*>(original.data() + 33));
  const std::size_t nameAt = 37 + static_cast<std::size_t>(hintLength);
  for (std::int32_t bad : {-1, 1001, 0x7FFFFFFF}) {
    ExpectRefused(container, withInt(33, bad), kInvalidFile);
    ExpectRefused(container, withInt(nameAt, bad), kInvalidFile);
  }
  // A name length that is not a multiple of 4 fails in the Base64 decoder.
  ExpectRefused(container, withInt(nameAt, 7), kDecryptFailed);
}

TEST_F(DecryptTest, CraftedStoredNamesAreRefused) {
  const std::string good = ReadAll(Container("a.txt", "abc", 0, false));
  const std::int32_t hintLength =
      engine::GetInt32(reinterpret_cast<const std::uint8_t*>(good.data() + 33));
  const std::size_t nameAt = 37 + static_cast<std::size_t>(hintLength);
  const std::int32_t nameLength =
      engine::GetInt32(reinterpret_cast<const std::uint8_t*>(good.data() + nameAt));
  const std::string head = good.substr(0, nameAt);
  const std::string tail = good.substr(nameAt + 4 + static_cast<std::size_t>(nameLength));
  for (const std::string& name :
       {std::string(""), std::string("."), std::string(".."), std::string("../x"),
        std::string("a/b"), std::string("/etc/x"), std::string("a\0b", 3)}) {
    const std::string text = engine.Text().EncryptHeaderText(name);
    std::string c = head;
    std::uint8_t n[4];
    engine::PutInt32(n, static_cast<std::int32_t>(text.size()));
    c.append(reinterpret_cast<char*>(n), 4);
    c += text + tail;
    ExpectRefused(dir / "crafted.enc", c, kInvalidFile);
  }
}

constexpr const char* kCutShortReason = "暗号化ファイルではないか、途中で切れています";

TEST_F(DecryptTest, TruncatedContainersWriteNothing) {
  const std::string container = Container("a.txt", RandomBytes(100, 3), 0, false);
  const std::string original = ReadAll(container);
  const std::int32_t hintLength =
      engine::GetInt32(reinterpret_cast<const std::uint8_t*>(original.data() + 33));
  const std::size_t dataAt = original.size() - 112;
  (void)hintLength;
  // Cut in its header, and files too short to be a container at all: the reason says so rather
  // than blaming the disk.
  for (std::size_t cut = 20; cut < dataAt; cut += 3) {
    ExpectRefused(container, original.substr(0, cut), kDecryptFailed);
    EXPECT_EQ(engine::FailureReason(engine.DecryptFile(container, "pw")), kCutShortReason) << cut;
  }
  for (const std::string& shortFile :
       std::vector<std::string>{"", "x", "short text", std::string(19, 'e')}) {
    ExpectRefused(container, shortFile, kDecryptFailed);
    EXPECT_EQ(engine::FailureReason(engine.DecryptFile(container, "pw")), kCutShortReason);
  }
  // Cut inside the data: the data no longer holds the stored size, so the file is invalid, not a
  // shorter one; nothing is left behind.
  for (std::size_t cut : {dataAt, dataAt + 5, dataAt + 16, original.size() - 1}) {
    ExpectRefused(container, original.substr(0, cut), kInvalidFile);
  }
}

TEST_F(DecryptTest, NegativeSizeIsInvalid) {
  std::string c = ReadAll(Container("a.txt", "abc", 0, false));
  engine::PutInt64(reinterpret_cast<std::uint8_t*>(c.data() + c.size() - 16 - 8), -5);
  ExpectRefused(dir / "a.txt.enc", c, kInvalidFile);
}

TEST_F(DecryptTest, ExistingFilesAreNeverReplaced) {
  const std::string container = Container("a.txt", "secret", 0, false);
  WriteAll(dir / "a.txt", "keep me");
  engine::FileResult result = engine.DecryptFile(container, "pw");
  EXPECT_EQ(result.outcome, kOkNoCode);
  EXPECT_EQ(result.output, dir / "a.txt_RENAMED.txt");
  EXPECT_EQ(ReadAll(dir / "a.txt"), "keep me");
  EXPECT_EQ(ReadAll(dir / "a.txt_RENAMED.txt"), "secret");

  // A container named like the name stored in it.
  const std::string self = Container("b.txt", "self", 0, false);
  std::rename(self.c_str(), (dir / "b.txt").c_str());
  result = engine.DecryptFile(dir / "b.txt", "pw");
  EXPECT_EQ(result.outcome, kOkNoCode);
  EXPECT_EQ(result.output, dir / "b.txt_RENAMED.txt");
  EXPECT_FALSE(result.renameAfter);
}

TEST_F(DecryptTest, OutputOverrideReplacesButNeverTheContainer) {
  const std::string container = Container("a.txt", "secret", 0, true);
  WriteAll(dir / "out.bin", "old");
  state.OutputNameOverride = dir / "out.bin";
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kOkCode);
  EXPECT_EQ(ReadAll(dir / "out.bin"), "secret");
  const std::string before = ReadAll(container);
  state.OutputNameOverride = container;
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kDecryptFailed);
  EXPECT_EQ(ReadAll(container), before);
}

TEST_F(DecryptTest, NothingIsWrittenBeforeTheProofHolds) {
  const std::string bytes = RandomBytes(600000, 9);
  const std::string container = Container("a.txt", bytes, 1, true);
  // While the data is deciphered and the code proved, the output is nowhere to be seen.
  int checks = 0;
  host.onPump = [&] {
    if (!host.progress.empty() && host.progress.back().rfind("復号中", 0) == 0) {
      ++checks;
      EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt.enc"}));
    }
  };
  settings.ProcessMsgInterval = 1;
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kOkCode);
  host.onPump = nullptr;
  EXPECT_GT(checks, 0);
  EXPECT_EQ(ReadAll(dir / "a.txt"), bytes);
  platform::DeleteFile(dir / "a.txt");

  // A failed proof leaves neither a new output nor a changed one named by the override.
  std::string changed = ReadAll(container);
  changed[changed.size() - 100] = static_cast<char>(changed[changed.size() - 100] ^ 0x10);
  ExpectRefused(container, changed, engine::Outcome::TamperMismatch);
  WriteAll(dir / "out.bin", "old");
  state.OutputNameOverride = dir / "out.bin";
  ExpectRefused(container, changed, engine::Outcome::TamperMismatch);
  EXPECT_EQ(ReadAll(dir / "out.bin"), "old");
  state.OutputNameOverride = dir / "new.bin";
  ExpectRefused(container, changed, engine::Outcome::TamperMismatch);
  state.OutputNameOverride.clear();

  // A header damaged behind a good code is reported once the code is proved, and leaves nothing.
  std::string crafted = ReadAll(Container("b.txt", bytes, 1, true));
  engine::PutInt32(reinterpret_cast<std::uint8_t*>(crafted.data() + 53 + 12), 5000);
  Reseal(crafted, "pw");
  ExpectRefused(dir / "b.txt.enc", crafted, kInvalidFile);
}

TEST_F(DecryptTest, SpaceThatCannotBeReservedChangesNothing) {
  const std::string bytes = RandomBytes(700000, 10);
  const std::string container = Container("a.txt", bytes, 0, true);
  platform::SetFaultHook([](platform::FileOperation operation, const std::string&) {
    return operation == platform::FileOperation::Reserve ? ENOSPC : 0;
  });
  const Outcome result = engine.DecryptFile(container, "pw").outcome;
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(result, kOkCode);
  EXPECT_EQ(ReadAll(dir / "a.txt"), bytes);
}

TEST_F(DecryptTest, ReadOnlyAndLockedContainersFail) {
  const std::string container = Container("a.txt", "secret", 0, true);
  chmod(container.c_str(), 0444);
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kDecryptFailed);
  EXPECT_FALSE(Exists(dir / "a.txt"));
  chmod(container.c_str(), 0644);
  const int fd = open(container.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kDecryptFailed);
  close(fd);
  EXPECT_FALSE(Exists(dir / "a.txt"));
}

TEST_F(DecryptTest, ProgressCountsDataBytesInOnePass) {
  const std::string container = Container("a.txt", RandomBytes(1000, 4), 0, true);
  host.progress.clear();
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, kOkCode);
  // The code is computed over the bytes as they are deciphered: no pass of its own.
  ASSERT_FALSE(host.progress.empty());
  for (const auto& text : host.progress) EXPECT_EQ(text.rfind("復号中：", 0), 0u) << text;
  EXPECT_EQ(host.progress.back(), "復号中：1008/1000バイト　101%");
}

// Names that are not UTF-8 travel as their bytes; bytes that read as CP932 come back as the
// characters they stand for.
TEST_F(DecryptTest, NamesThatAreNotUtf8) {
  const std::string raw = std::string("\xff\xfe name.bin");
  const std::string container = Container(raw, "raw bytes", 0, true);
  engine::FileResult result = engine.DecryptFile(container, "pw");
  ASSERT_EQ(result.outcome, kOkCode);
  EXPECT_EQ(result.output, dir / raw);
  EXPECT_EQ(ReadAll(dir / raw), "raw bytes");

  const std::string cp932 = std::string("\x82\xa0.txt"); // "あ.txt" written on a CP932 system
  const std::string second = Container(cp932, "cp932", 0, false);
  result = engine.DecryptFile(second, "pw");
  ASSERT_EQ(result.outcome, kOkNoCode);
  EXPECT_EQ(result.output, dir / "あ.txt");
  EXPECT_EQ(ReadAll(dir / "あ.txt"), "cp932");
}

} // namespace
} // namespace qk::test
