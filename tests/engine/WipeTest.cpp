// Wiping: what reaches the file before it goes, and when a wipe refuses. A descriptor held open
// keeps the overwritten contents visible after the wiped name is gone.
#include "engine/EngineFixture.h"
#include "platform/File.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

class WipeTest : public EngineTest {
protected:
  // Wipes a file of size bytes and returns what it holds afterwards.
  std::string WipeAndPeek(std::size_t size) {
    const std::string path = Plain("victim", RandomBytes(size, 5));
    const Peek peek(path);
    engine.WipeFile(path);
    EXPECT_FALSE(Exists(path));
    return peek.Contents();
  }
};

TEST_F(WipeTest, OverwritesWholeBlocksOfN) {
  EXPECT_EQ(WipeAndPeek(0), std::string(2048, 'N'));
  EXPECT_EQ(WipeAndPeek(2048), std::string(2048, 'N'));
  EXPECT_EQ(WipeAndPeek(2049), std::string(4096, 'N'));
  EXPECT_EQ(WipeAndPeek(5000), std::string(6144, 'N'));
}

TEST_F(WipeTest, ProgressOnlyForNonEmptyFiles) {
  settings.ProcessMsgInterval = 0;
  WipeAndPeek(0);
  EXPECT_TRUE(host.progress.empty());
  EXPECT_EQ(host.pumps, 1);
  WipeAndPeek(4096);
  EXPECT_EQ(host.progress,
            (std::vector<std::string>{"不要データ抹消中：0%", "不要データ抹消中：50%"}));
}

// A skipped wipe deletes at once: it does not wait for the overwrite so far to reach the disk.
TEST_F(WipeTest, SkipEndsTheOverwriteButStillDeletes) {
  settings.ProcessMsgInterval = 1;
  host.onPump = [&] {
    if (host.pumps == 3) state.SkipWipe = true;
  };
  int flushes = 0;
  platform::SetEventHook([&](const platform::FileEvent& event) {
    if (event.operation == platform::FileOperation::Sync) ++flushes;
  });
  const std::string left = WipeAndPeek(2048 * 100);
  EXPECT_EQ(left.substr(0, 2048 * 3), std::string(2048 * 3, 'N'));
  EXPECT_NE(left.substr(2048 * 3, 2048), std::string(2048, 'N'));
  EXPECT_EQ(flushes, 0);
  // The flag is cleared at the start of every wipe.
  host.onPump = nullptr;
  EXPECT_EQ(WipeAndPeek(8192), std::string(8192, 'N'));
  EXPECT_EQ(flushes, 1);
  platform::SetEventHook(nullptr);
}

// A refused wipe touches nothing; a failed one keeps the name.
TEST_F(WipeTest, RefusedOrFailedWipesKeepTheFile) {
  const std::string path = Plain("ro", "keep");
  chmod(path.c_str(), 0444);
  EXPECT_THROW(engine.WipeFile(path), platform::IoError);
  EXPECT_EQ(ReadAll(path), "keep");
  chmod(path.c_str(), 0644);

  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);
  try {
    engine.WipeFile(path);
    ADD_FAILURE() << "a file held by another opener was wiped";
  } catch (const platform::IoError& e) {
    EXPECT_STREQ(e.what(), "ファイルが開けません");
  }
  close(fd);
  EXPECT_EQ(ReadAll(path), "keep");

  // The overwrite may not be on the disk when its flush fails.
  platform::SetFaultHook([](platform::FileOperation operation, const std::string&) {
    return operation == platform::FileOperation::Sync ? EIO : 0;
  });
  EXPECT_THROW(engine.WipeFile(path), platform::IoError);
  platform::SetFaultHook(nullptr);
  EXPECT_TRUE(Exists(path));

  EXPECT_THROW(engine.WipeFile(dir / "missing"), platform::IoError);
  EXPECT_THROW(engine.WipeFile(dir.path()), platform::IoError);
}

// What meets a wipe while the file is held: another program's open (which breaks the hold, and
// must not end this process), or a name that cannot go. Only a file still held alone whose name
// goes is wiped; a name that cannot go is known before anything is written.
TEST_F(WipeTest, OpenersAndNamesThatStayFailTheWipe) {
  using platform::FileOperation;
  struct Case {
    const char* what;
    FileOperation at; // where the hook acts: at Hold, another program opens the file
    int value;        // at Hold: how it opens the file; elsewhere the errno the hook gives
    int error;        // the errno the wipe raises; 0 when it wipes
    const char* left; // what the file holds afterwards; nullptr when it is gone
  };
  const Case cases[] = {
      {"a reader opens it", FileOperation::Hold, O_RDONLY, 0, nullptr},
      {"a writer opens it", FileOperation::Hold, O_WRONLY, EBUSY, "NNNN"},
      {"the folder keeps the name", FileOperation::MayRemove, EACCES, EACCES, "keep"},
      {"the removal fails", FileOperation::Delete, EROFS, EROFS, "NNNN"},
  };
  static std::atomic<int> signals{0};
  const auto previous = std::signal(SIGIO, [](int) { ++signals; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Plain("held", "keep");
    int other = -1;
    platform::SetFaultHook([&](FileOperation operation, const std::string& at) {
      if (operation != c.at || at != path) return 0;
      if (c.at != FileOperation::Hold) return c.value;
      other = ::open(path.c_str(), c.value | O_NONBLOCK | O_CLOEXEC);
      return 0;
    });
    int error = 0;
    try {
      engine.WipeFile(path);
    } catch (const platform::IoError& e) {
      error = e.errorCode();
    }
    platform::SetFaultHook(nullptr);
    if (other >= 0) ::close(other);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(signals.load(), 0);
    EXPECT_EQ(Exists(path), c.left != nullptr);
    if (c.left != nullptr && Exists(path)) {
      EXPECT_EQ(ReadAll(path).substr(0, 4), c.left);
    }
    ::unlink(path.c_str());
  }
  std::signal(SIGIO, previous);
}

TEST_F(WipeTest, NeverOverwritesTheTargetOfALink) {
  const std::string target = Plain("target", "precious");
  ASSERT_EQ(symlink(target.c_str(), (dir / "link").c_str()), 0);
  EXPECT_THROW(engine.WipeFile(dir / "link"), platform::IoError);
  EXPECT_EQ(ReadAll(target), "precious");
}

class WipeLimitsTest : public EngineTest {};

TEST_F(WipeLimitsTest, FileWithOtherNamesIsRefusedAndSaysWhy) {
  const std::string path = Plain("a", "shared contents");
  const std::string other = dir / "b";
  ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
  testing::internal::CaptureStderr();
  try {
    engine.WipeFile(path);
    ADD_FAILURE() << "a file with two names was wiped";
  } catch (const platform::IoError& e) {
    EXPECT_STREQ(e.what(), "ファイルが開けません");
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(path + ": not wiped: the file has 2 names (hard links)"), std::string::npos)
      << said;
  EXPECT_EQ(ReadAll(path), "shared contents");
  EXPECT_EQ(ReadAll(other), "shared contents");
  // With the other name gone, the wipe goes ahead.
  ASSERT_EQ(unlink(other.c_str()), 0);
  engine.WipeFile(path);
  EXPECT_FALSE(Exists(path));
}

TEST_F(WipeLimitsTest, SparseFileHasItsDataOverwrittenAndItsHolesLeftAlone) {
  const std::string path = dir / "sparse.bin";
  constexpr std::int64_t kSize = std::int64_t{256} << 20; // 256 MiB, nearly all hole
  constexpr std::int64_t kMiddle = std::int64_t{100} << 20;
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    const std::string head(5000, 'h'), middle(3000, 'm'), tail(100, 't');
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), 5000);
    ASSERT_EQ(pwrite(fd, middle.data(), middle.size(), kMiddle + 1000), 3000);
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), kSize - 100), 100);
    close(fd);
  }
  const Peek peek(path);
  if (peek.Allocated() > std::int64_t{64} << 20) GTEST_SKIP() << "no holes on this file system";
  engine.WipeFile(path);
  EXPECT_FALSE(Exists(path));
  // Every byte that held data is 'N' (widened to whole blocks of 2048); the holes stayed holes.
  EXPECT_EQ(peek.Read(0, 6144), std::string(6144, 'N'));
  const std::string middle = peek.Read(kMiddle, 6144);
  EXPECT_EQ(middle.substr(0, 4096), std::string(4096, 'N'));
  EXPECT_EQ(peek.Read(kSize - 2048, 2048), std::string(2048, 'N'));
  EXPECT_LT(peek.Allocated(), std::int64_t{16} << 20);
}

} // namespace
} // namespace qk::test
