// Files that change while QK reads them, through the fault seam: a source that shrinks or grows
// during its encryption, and a container changed between the reads of its decryption.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
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

class ChangingFilesTest : public EngineTest {
protected:
  // The container a run kept beside its source (in here) holds the bytes that were read.
  void ExpectContainerHolds(const engine::FileResult& result, const std::string& source,
                            const TempDir& here, const std::string& bytes) {
    ASSERT_EQ(result.output, source + ".enc");
    state.OutputNameOverride = here / "back";
    EXPECT_EQ(engine.DecryptFile(result.output, "pw").outcome, Outcome::Decrypted);
    state.OutputNameOverride.clear();
    EXPECT_EQ(ReadAll(here / "back"), bytes);
  }
};

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

// A container without a tamper code that is cut short while its data is read is a failure with
// nothing left, never a shorter file reported as decrypted.
TEST_F(ChangingFilesTest, ContainerWithoutCodeCutShortDuringDecryptionFails) {
  const std::string bytes = RandomBytes(600000, 7);
  const std::string source = Plain("a.txt", bytes);
  const std::string container = Encrypt(source, "pw", "", 0, false);
  platform::DeleteFile(source);
  const std::string original = ReadAll(container);
  int reads = 0;
  {
    OnRead count(container, 1000000, [] {});
    ASSERT_EQ(engine.DecryptFile(container, "pw").outcome, Outcome::DecryptedNoTamperCode);
    reads = count.Seen();
  }
  platform::DeleteFile(source);
  ASSERT_GT(reads, 3);
  for (int when = 1; when <= reads; ++when) {
    SCOPED_TRACE(testing::Message() << "read " << when);
    WriteAll(container, original);
    engine::FileResult result;
    {
      OnRead hook(container, when, [&] { Truncate(container, 200000); });
      result = engine.DecryptFile(container, "pw");
    }
    EXPECT_FALSE(engine::Succeeded(result.outcome)) << engine::ResultKey(result.outcome);
    EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt.enc"});
  }
}

// Runs action once, when the output of a run has been made durable (its folder flushed), that
// is between the proof of the output and the wipe of its source.
class OnPublished {
public:
  explicit OnPublished(std::function<void()> action) : action_(std::move(action)) {
    platform::SetEventHook([this](const platform::FileEvent& e) {
      if (e.operation == FileOperation::FolderSync && !done_) {
        done_ = true;
        action_();
      }
    });
  }
  ~OnPublished() { platform::SetEventHook(nullptr); }
  OnPublished(const OnPublished&) = delete;
  OnPublished& operator=(const OnPublished&) = delete;

private:
  std::function<void()> action_;
  bool done_ = false;
};

// How a source may change between its encryption and its wipe.
struct Change {
  const char* what;
  std::function<void(const std::string& path)> make;
};

const std::vector<Change>& Changes() {
  static const std::vector<Change> changes{
      {"appended", [](const std::string& path) { Append(path, "appended"); }},
      {"swapped for a copy",
       [](const std::string& path) {
         const std::string bytes = ReadAll(path);
         struct stat st {};
         ASSERT_EQ(::stat(path.c_str(), &st), 0);
         const std::string copy = path + ".copy";
         WriteAll(copy, bytes);
         const struct timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);
         ASSERT_EQ(::rename(copy.c_str(), path.c_str()), 0);
       }},
      {"re-dated by a nanosecond",
       [](const std::string& path) {
         struct stat st {};
         ASSERT_EQ(::stat(path.c_str(), &st), 0);
         struct timespec times[2] = {st.st_atim, st.st_mtim};
         times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       }},
      {"rewritten in place, its date put back",
       [](const std::string& path) {
         struct stat st {};
         ASSERT_EQ(::stat(path.c_str(), &st), 0);
         WriteAll(path, std::string(static_cast<std::size_t>(st.st_size), 'x'));
         const struct timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       }},
  };
  return changes;
}

TEST_F(ChangingFilesTest, SourceChangedAfterItsEncryptionIsKept) {
  for (const Change& change : Changes()) {
    SCOPED_TRACE(change.what);
    TempDir here;
    const std::string bytes = RandomBytes(30000, 8);
    const std::string source = here / "a.txt";
    WriteAll(source, bytes);
    engine::BatchOptions options;
    options.WipeSource = true;
    UnattendedRun unattended(engine::OperationMode::Encrypt, options);
    engine::BatchRun& run = unattended.run;
    run.AddFile(source);
    std::string changed;
    {
      OnPublished hook([&] {
        change.make(source);
        changed = ReadAll(source);
      });
      run.ShowList();
    }
    const engine::FileResult& result = *run.Entries()[0].Result;
    EXPECT_EQ(result.outcome, Outcome::Encrypted);
    EXPECT_EQ(result.sourceWipe, engine::SourceWipe::Changed);
    EXPECT_TRUE(engine::Failed(result));
    EXPECT_EQ(engine::SourceWipeReason(result), "the source changed after it was encrypted");
    EXPECT_EQ(engine::SourceWipeKey(result.sourceWipe), "source-changed");
    EXPECT_EQ(run.FailureCount(), 1);
    EXPECT_EQ(ReadAll(source), changed);
    // The container stays, holding what was read.
    ExpectContainerHolds(result, source, here, bytes);
  }
}

// A source that another program still holds open may go on changing without a trace in its
// size or date (a shared mapping's pages are written back later): it is kept, in use, and its
// container stays.
TEST_F(ChangingFilesTest, SourceStillOpenElsewhereIsKept) {
  const std::vector<std::pair<const char*, int>> holders{
      {"mapped shared for writing, written after the read", O_RDWR},
      {"open for writing", O_WRONLY},
      {"open for reading", O_RDONLY},
  };
  for (const auto& [what, flags] : holders) {
    SCOPED_TRACE(what);
    TempDir here;
    const std::string bytes = RandomBytes(30000, 10);
    const std::string source = here / "a.txt";
    WriteAll(source, bytes);
    const int fd = ::open(source.c_str(), flags);
    ASSERT_GE(fd, 0);
    char* map = nullptr;
    if (flags == O_RDWR) {
      void* at = ::mmap(nullptr, bytes.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      ASSERT_NE(at, MAP_FAILED);
      map = static_cast<char*>(at);
      map[0] = bytes[0]; // the page made writable before the run reads it
      ::close(fd);
    }
    engine::BatchOptions options;
    options.WipeSource = true;
    UnattendedRun unattended(engine::OperationMode::Encrypt, options);
    engine::BatchRun& run = unattended.run;
    run.AddFile(source);
    {
      OnPublished hook([&] {
        if (map != nullptr) std::memcpy(map + 100, "changed", 7);
      });
      run.ShowList();
    }
    std::string expected = bytes;
    if (map != nullptr) {
      expected.replace(100, 7, "changed");
      ::munmap(map, bytes.size());
    } else {
      ::close(fd);
    }
    const engine::FileResult& result = *run.Entries()[0].Result;
    EXPECT_EQ(result.outcome, Outcome::Encrypted);
    EXPECT_EQ(result.sourceWipe, engine::SourceWipe::Failed);
    EXPECT_EQ(engine::FailureReason(result), "他のプログラムが使用中です");
    EXPECT_EQ(run.FailureCount(), 1);
    EXPECT_EQ(ReadAll(source), expected);
    ExpectContainerHolds(result, source, here, bytes);
  }
}

TEST_F(ChangingFilesTest, ContainerChangedAfterItsDecryptionIsKept) {
  for (const Change& change : Changes()) {
    SCOPED_TRACE(change.what);
    TempDir here;
    const std::string bytes = RandomBytes(30000, 9);
    const std::string source = here / "a.txt";
    WriteAll(source, bytes);
    engine::BatchOptions options;
    options.WipeSource = true;
    options.WipeDecSource = true;
    {
      UnattendedRun made(engine::OperationMode::Encrypt, options);
      made.run.AddFile(source);
      made.run.ShowList();
      ASSERT_EQ(made.run.FailureCount(), 0);
    }
    const std::string container = source + ".enc";
    UnattendedRun unattended(engine::OperationMode::Decrypt, options);
    engine::BatchRun& run = unattended.run;
    run.AddFile(container);
    std::string changed;
    {
      OnPublished hook([&] {
        change.make(container);
        changed = ReadAll(container);
      });
      run.ShowList();
    }
    const engine::FileResult& result = *run.Entries()[0].Result;
    EXPECT_EQ(result.sourceWipe, engine::SourceWipe::Changed);
    EXPECT_EQ(engine::SourceWipeReason(result), "the container changed after it was decrypted");
    EXPECT_EQ(run.FailureCount(), 1);
    EXPECT_EQ(ReadAll(container), changed);
    EXPECT_EQ(ReadAll(source), bytes);
  }
}

} // namespace
} // namespace qk::test
