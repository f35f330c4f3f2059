// Files that change while QK reads them, through the fault seam: a source that shrinks or grows
// during its encryption, and a container changed between the reads of its decryption.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

namespace qk::test {
namespace {

using engine::Outcome;
using platform::FileOperation;

// Runs action on the count-th read of path (counting from 1), inside the seam, before the read.
class OnRead {
public:
  OnRead(std::string path, int count, std::function<void()> action)
      : path_(std::move(path)), count_(count), action_(std::move(action)) {
    platform::SetFaultHook([this](FileOperation op, const std::string& path) {
      if (op == FileOperation::Read && path == path_ && ++seen_ == count_) action_();
      return 0;
    });
  }
  ~OnRead() { platform::SetFaultHook(nullptr); }
  int Seen() const { return seen_; }

private:
  std::string path_;
  int count_;
  std::function<void()> action_;
  int seen_ = 0;
};

void Truncate(const std::string& path, off_t size) {
  ASSERT_EQ(truncate(path.c_str(), size), 0);
}

void Append(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

void FlipByte(const std::string& path, off_t at) {
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  char c = 0;
  ASSERT_EQ(pread(fd, &c, 1, at), 1);
  c = static_cast<char>(c ^ 0x01);
  ASSERT_EQ(pwrite(fd, &c, 1, at), 1);
  close(fd);
}

class ChangingFilesTest : public EngineTest {};

TEST_F(ChangingFilesTest, SourceThatShrinksOrGrowsFailsAndLeavesNoContainer) {
  // One piece, several pieces, and far into a large file (read ahead by the worker).
  for (const std::size_t size : {std::size_t{100}, std::size_t{20000}, std::size_t{1500000}}) {
    for (const int when : {1, 2, 4}) {
      for (const bool grow : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << size << " read " << when << (grow ? " grows" : " shrinks"));
        const std::string bytes = RandomBytes(size, 4);
        const std::string source = Plain("a.txt", bytes);
        std::string changed;
        engine::FileResult result;
        {
          OnRead hook(source, when, [&] {
            if (grow) {
              Append(source, "more");
            } else {
              Truncate(source, static_cast<off_t>(size / 2));
            }
            changed = ReadAll(source);
          });
          result = engine.EncryptFile(source, source + ".enc", "pw", "", 0, true);
          if (hook.Seen() < when) {
            // The file was read in fewer calls: nothing changed, nothing to see.
            EXPECT_EQ(result.outcome, Outcome::Encrypted);
            platform::DeleteFile(source + ".enc");
            continue;
          }
        }
        EXPECT_EQ(result.outcome, Outcome::SourceChanged);
        EXPECT_EQ(engine::ResultText(result.outcome), "＊暗号化失敗＊：");
        EXPECT_TRUE(result.output.empty());
        EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"});
        EXPECT_EQ(ReadAll(source), changed); // untouched by QK
      }
    }
  }
}

TEST_F(ChangingFilesTest, ChangedSourceIsNeverWipedInARun) {
  const std::string bytes = RandomBytes(30000, 5);
  const std::string source = Plain("a.txt", bytes);
  engine::BatchOptions options;
  options.WipeSource = true;
  UnattendedRun unattended(engine::OperationMode::Encrypt, options);
  engine::BatchRun& run = unattended.run;
  run.AddFile(source);
  {
    OnRead hook(source, 1, [&] { Truncate(source, 100); });
    run.ShowList();
  }
  EXPECT_EQ(run.Entries()[0].Result->outcome, Outcome::SourceChanged);
  EXPECT_EQ(run.FailureCount(), 1);
  EXPECT_EQ(ReadAll(source), bytes.substr(0, 100));
  EXPECT_FALSE(Exists(source + ".enc"));
}

// The container is changed at every read of its decryption in turn: the outcome is the right
// plaintext or the mismatch with nothing left, never wrong bytes reported as a success.
TEST_F(ChangingFilesTest, ContainerChangedBetweenReadsIsNeverDecryptedToWrongBytes) {
  for (const std::size_t size : {std::size_t{5000}, std::size_t{600000}}) {
    const std::string bytes = RandomBytes(size, 6);
    const std::string source = Plain("a.txt", bytes);
    const std::string container = Encrypt(source, "pw", "", 1, true);
    platform::DeleteFile(source);
    const std::string original = ReadAll(container);
    int reads = 0;
    {
      OnRead count(container, 1000000, [] {});
      ASSERT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::Decrypted);
      reads = count.Seen();
    }
    platform::DeleteFile(source);
    for (int when = 1; when <= reads + 1; ++when) {
      for (const off_t at :
           {static_cast<off_t>(original.size() - 3000), static_cast<off_t>(original.size() - 1)}) {
        SCOPED_TRACE(testing::Message() << size << " read " << when << " byte " << at);
        WriteAll(container, original);
        engine::FileResult result;
        {
          OnRead hook(container, when, [&] { FlipByte(container, at); });
          result = engine.DecryptFile(container, "pw");
        }
        if (result.outcome == Outcome::Decrypted) {
          EXPECT_EQ(ReadAll(source), bytes);
          platform::DeleteFile(source);
        } else {
          EXPECT_EQ(result.outcome, Outcome::TamperMismatch);
          EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt.enc"});
        }
      }
    }
    platform::DeleteFile(container);
  }
}

} // namespace
} // namespace qk::test
