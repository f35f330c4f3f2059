#include "platform/File.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace qk::platform {
namespace {

using test::ReadAll;
using test::TempDir;

// Another opener of the file: its own open file description, optionally holding a flock.
class OtherOpener {
public:
  OtherOpener(const std::string& path, int lockKind) : fd_(::open(path.c_str(), O_RDONLY)) {
    EXPECT_GE(fd_, 0);
    if (lockKind != 0) {
      EXPECT_EQ(::flock(fd_, lockKind | LOCK_NB), 0);
    }
  }
  ~OtherOpener() { ::close(fd_); }
  OtherOpener(const OtherOpener&) = delete;
  OtherOpener& operator=(const OtherOpener&) = delete;

private:
  int fd_;
};

// Runs open and returns the errno of the IoError it raises, or 0 when it succeeds.
template <typename Open> int OpenError(Open open) {
  try {
    File file = open();
    return 0;
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find('/'), std::string::npos) << "message names the path";
    return e.errorCode();
  }
}

class FileOpenTest : public ::testing::Test {
protected:
  TempDir dir;
  std::string path = dir / "data.bin";
  void SetUp() override { test::WriteAll(path, "contents"); }
};

TEST_F(FileOpenTest, ReadOnlyFileIsRefusedByEveryWritingOpenEvenForRoot) {
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(path); }), EACCES);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), EACCES);
  EXPECT_EQ(OpenError([&] { return File::CreateAlways(path); }), EACCES);
  EXPECT_EQ(ReadAll(path), "contents");
  // Group and others may lack write access: only the owner bit decides.
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(path); }), 0);
}

TEST_F(FileOpenTest, FoldersAndMissingFilesAreRefused) {
  const std::string folder = dir / "folder";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(folder); }), EISDIR);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(folder); }), EISDIR);
  EXPECT_EQ(OpenError([&] { return File::CreateAlways(folder); }), EISDIR);
  EXPECT_EQ(OpenError([&] { return File::CreateNew(folder); }), EEXIST);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(dir / "missing"); }), ENOENT);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(dir / "missing"); }), ENOENT);
  EXPECT_FALSE(test::Exists(dir / "missing"));
}

TEST_F(FileOpenTest, NonRegularFilesAreRefusedWithoutBlocking) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(fifo); }), ENXIO);
  EXPECT_NE(OpenError([&] { return File::OpenExclusiveWrite(fifo); }), 0);
}

TEST_F(FileOpenTest, ATerminalIsRefusedWithoutBecomingTheControllingOne) {
  // A session without a terminal that opens one without O_NOCTTY gets it as its own; the refusal
  // of a non-regular file comes too late to undo that.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setsid() < 0) ::_exit(10);
    bool refused = false;
    try {
      File::OpenShared(terminal);
    } catch (const IoError&) {
      refused = true;
    }
    const int own = ::open("/dev/tty", O_RDWR | O_NOCTTY);
    ::_exit(!refused ? 11 : own >= 0 ? 12 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(master);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "11: opened; 12: became the controlling terminal";
}

TEST_F(FileOpenTest, ExclusiveHolderKeepsSharedOpenersOut) {
  {
    OtherOpener wipe(path, LOCK_EX);
    EXPECT_EQ(OpenError([&] { return File::OpenShared(path); }), EWOULDBLOCK);
    // Replacing must fail before anything is cut.
    EXPECT_EQ(OpenError([&] { return File::CreateAlways(path); }), EWOULDBLOCK);
    EXPECT_EQ(ReadAll(path), "contents");
  }
  EXPECT_EQ(OpenError([&] { return File::OpenShared(path); }), 0);
}

TEST_F(FileOpenTest, ExclusiveOpenFailsWhileAnyoneHoldsTheFile) {
  {
    OtherOpener reader(path, LOCK_SH);
    EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), EWOULDBLOCK);
  }
  {
    File shared = File::OpenShared(path);
    EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), EWOULDBLOCK);
    // Shared openers among themselves do not conflict.
    File second = File::OpenShared(path);
    EXPECT_TRUE(second.IsOpen());
  }
  File wipe = File::OpenExclusiveWrite(path);
  EXPECT_EQ(OpenError([&] { return File::OpenShared(path); }), EWOULDBLOCK);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), EWOULDBLOCK);
  wipe.Close();
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), 0);
}

TEST_F(FileOpenTest, ExclusiveOpenDoesNotFollowSymbolicLinks) {
  const std::string link = dir / "link";
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(link); }), ELOOP);
  // The shared open follows it like any other program would.
  EXPECT_EQ(OpenError([&] { return File::OpenShared(link); }), 0);
}

TEST_F(FileOpenTest, CreateNewNeverTouchesWhatExists) {
  EXPECT_EQ(OpenError([&] { return File::CreateNew(path); }), EEXIST);
  EXPECT_EQ(ReadAll(path), "contents");
  const std::string dangling = dir / "dangling";
  const std::string target = dir / "target";
  ASSERT_EQ(::symlink(target.c_str(), dangling.c_str()), 0);
  EXPECT_EQ(OpenError([&] { return File::CreateNew(dangling); }), EEXIST);
  EXPECT_FALSE(test::Exists(target));

  File created = File::CreateNew(dir / "new");
  created.WriteAll("x", 1);
  created.Close();
  EXPECT_EQ(ReadAll(dir / "new"), "x");
}

TEST_F(FileOpenTest, CreateAlwaysReplacesContentsOrCreates) {
  File replaced = File::CreateAlways(path);
  EXPECT_EQ(replaced.Size(), 0);
  replaced.WriteAll("new", 3);
  replaced.Close();
  EXPECT_EQ(ReadAll(path), "new");

  File fresh = File::CreateAlways(dir / "fresh");
  fresh.WriteAll("abc", 3);
  fresh.Close();
  EXPECT_EQ(ReadAll(dir / "fresh"), "abc");
}

class FileIoTest : public ::testing::Test {
protected:
  TempDir dir;
  std::string path = dir / "io.bin";
};

TEST_F(FileIoTest, ReadStopsOnlyAtTheEndAndReadExactRaisesThere) {
  const std::string data = test::RandomBytes(100000, 1);
  test::WriteAll(path, data);
  File file = File::OpenShared(path);
  std::string buffer(150000, '\0');
  EXPECT_EQ(file.Read(buffer.data(), buffer.size()), data.size());
  EXPECT_EQ(buffer.substr(0, data.size()), data);
  EXPECT_EQ(file.Read(buffer.data(), 10), 0u);

  file.Seek(99990);
  try {
    file.ReadExact(buffer.data(), 20);
    FAIL() << "a read past the end must raise";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
  }
  file.Seek(99990);
  file.ReadExact(buffer.data(), 10);
  EXPECT_EQ(buffer.substr(0, 10), data.substr(99990));
}

TEST_F(FileIoTest, WritesSeeksAndSizes) {
  File file = File::CreateNew(path);
  file.WriteAll("0123456789", 10);
  EXPECT_EQ(file.WriteSome("abc", 3), 3u);
  EXPECT_EQ(file.Size(), 13);
  file.Seek(2);
  file.WriteAll("XY", 2);
  file.Seek(0);
  char buffer[13];
  file.ReadExact(buffer, 13);
  EXPECT_EQ(std::string(buffer, 13), "01XY456789abc");
  file.Sync();
  file.DropCache();
  EXPECT_THROW(file.Seek(-1), IoError);
  file.Close();
  EXPECT_EQ(ReadAll(path), "01XY456789abc");
}

TEST_F(FileIoTest, SizesBeyondFourGigabytesAreExact) {
  constexpr std::int64_t kFiveGiB = std::int64_t{5} << 30;
  File file = File::CreateNew(path);
  ASSERT_EQ(::truncate(path.c_str(), kFiveGiB), 0); // sparse
  EXPECT_EQ(file.Size(), kFiveGiB);
  EXPECT_EQ(GetFileSize64(path), kFiveGiB);
  file.Seek(kFiveGiB + 3);
  file.WriteAll("z", 1);
  EXPECT_EQ(GetFileSize64(path), kFiveGiB + 4);
  file.Seek(kFiveGiB + 2);
  char buffer[4] = {1, 1, 1, 1};
  EXPECT_EQ(file.Read(buffer, 4), 2u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'z');
}

TEST_F(FileIoTest, WriteErrorsRaiseAndPartialWritesAreCounted) {
  // A file-size limit makes the kernel refuse writes as a full disk would.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

  const std::string block(3000, 'N');
  int allError = 0;
  std::size_t first = 0;
  int someError = 0;
  {
    File file = File::CreateNew(path);
    try {
      file.WriteAll(block.data(), block.size());
      file.WriteAll(block.data(), block.size());
    } catch (const IoError& e) {
      allError = e.errorCode();
    }
    file.Seek(0);
    first = file.WriteSome(std::string(8192, 'N').data(), 8192);
    file.Seek(4096);
    try {
      file.WriteSome(block.data(), block.size());
    } catch (const IoError& e) {
      someError = e.errorCode();
    }
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(allError, EFBIG);
  EXPECT_EQ(first, 4096u);
  EXPECT_EQ(someError, EFBIG);
}

TEST_F(FileIoTest, ClosedAndMovedFilesRefuseWork) {
  File file = File::CreateNew(path);
  File moved = std::move(file);
  EXPECT_FALSE(file.IsOpen()); // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_EQ(moved.Path(), path);
  char c;
  try {
    file.Read(&c, 1);
    FAIL() << "reading a moved-from file must raise";
  } catch (const IoError& e) {
    EXPECT_EQ(e.errorCode(), EBADF);
  }
  moved.Close();
  moved.Close(); // a second close does nothing
  EXPECT_THROW(moved.WriteAll("x", 1), IoError);
  EXPECT_THROW(moved.Sync(), IoError);
  EXPECT_THROW(moved.Size(), IoError);
}

TEST_F(FileIoTest, InjectedFaultsFailTheOperationNamed) {
  test::WriteAll(path, "abc");
  SetFaultHook([&](FileOperation operation, const std::string& target) {
    if (target != path) return 0;
    if (operation == FileOperation::Write) return ENOSPC;
    if (operation == FileOperation::Close) return EIO;
    return 0;
  });
  int writeError = 0;
  int closeError = 0;
  {
    File file = File::OpenShared(path);
    char buffer[3];
    file.ReadExact(buffer, 3);
    try {
      file.WriteAll("x", 1);
    } catch (const IoError& e) {
      writeError = e.errorCode();
    }
    try {
      file.Close();
    } catch (const IoError& e) {
      closeError = e.errorCode();
    }
    EXPECT_FALSE(file.IsOpen());
  }
  SetFaultHook(nullptr);
  EXPECT_EQ(writeError, ENOSPC);
  EXPECT_EQ(closeError, EIO);
  EXPECT_EQ(ReadAll(path), "abc");
  // The failed close still released the file and its lock.
  EXPECT_EQ(OpenError([&] { return File::OpenExclusiveWrite(path); }), 0);
}

TEST_F(FileIoTest, ReservedSpaceLeavesSizeAndContentsAlone) {
  test::WriteAll(path, "abc");
  {
    File file = File::OpenShared(path);
    // Some file systems lack the call; what matters is that the file stays as it was.
    file.Reserve(0, 1 << 20);
    EXPECT_EQ(file.Size(), 3);
    file.Seek(3);
    file.WriteAll("def", 3);
    EXPECT_FALSE(file.Reserve(0, 0));
    EXPECT_FALSE(file.Reserve(-1, 10));
    SetFaultHook([](FileOperation operation, const std::string&) {
      return operation == FileOperation::Reserve ? ENOSPC : 0;
    });
    EXPECT_FALSE(file.Reserve(0, 4096));
    SetFaultHook(nullptr);
    file.Close();
    EXPECT_FALSE(file.Reserve(0, 4096));
  }
  EXPECT_EQ(ReadAll(path), "abcdef");
}

// In a file system kept in memory a reservation would allocate and clear every page up front, on
// the thread that is about to write them anyway: nothing is set aside there.
TEST(FileReserve, MemoryFileSystemsAreNotFilledAhead) {
  struct statfs fs {};
  if (statfs("/dev/shm", &fs) != 0 || fs.f_type != TMPFS_MAGIC || access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no writable memory file system at /dev/shm";
  char name[] = "/dev/shm/qk-reserve.XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    File file = File::OpenShared(name);
    EXPECT_FALSE(file.Reserve(0, 64 << 20));
    file.Seek(0);
    file.WriteAll("abc", 3);
  }
  struct stat st {};
  ASSERT_EQ(stat(name, &st), 0);
  unlink(name);
  EXPECT_EQ(st.st_size, 3);
  EXPECT_LE(st.st_blocks * 512, 64 * 1024);
}

TEST_F(FileIoTest, HiddenFilesAreNamelessUntilPublished) {
  const std::string folder = std::filesystem::path(path).parent_path().string() + "/";
  const auto names = [&] {
    std::vector<std::string> list;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      list.push_back(e.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
  };
  const auto before = names();
  {
    File hidden = File::CreateHidden(folder);
    hidden.WriteAll("gone", 4);
    EXPECT_EQ(names(), before);
  } // never named: nothing is left
  EXPECT_EQ(names(), before);

  File hidden = File::CreateHidden(folder);
  hidden.Reserve(0, 1 << 16);
  hidden.WriteAll("kept", 4);
  // A name in use is never taken over.
  test::WriteAll(path, "mine");
  EXPECT_FALSE(hidden.Publish(path));
  EXPECT_EQ(ReadAll(path), "mine");
  const std::string target = folder + "published.bin";
  ASSERT_TRUE(hidden.Publish(target));
  EXPECT_FALSE(hidden.Publish(folder + "again.bin"));
  EXPECT_EQ(hidden.Path(), target);
  hidden.WriteAll("!", 1);
  hidden.Close();
  EXPECT_EQ(ReadAll(target), "kept!");
  EXPECT_FALSE(std::filesystem::exists(folder + "again.bin"));

  File opened = File::OpenShared(target);
  EXPECT_FALSE(opened.Publish(folder + "third.bin")); // only nameless files
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> list;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    list.push_back(e.path().filename().string());
  std::sort(list.begin(), list.end());
  return list;
}

// Makes CreateHidden use its fallback (a hidden name of its own) while it lives.
class WithoutNamelessFiles {
public:
  WithoutNamelessFiles() {
    SetFaultHook([](FileOperation op, const std::string&) {
      return op == FileOperation::Nameless ? EOPNOTSUPP : 0;
    });
  }
  ~WithoutNamelessFiles() { SetFaultHook(nullptr); }
  WithoutNamelessFiles(const WithoutNamelessFiles&) = delete;
  WithoutNamelessFiles& operator=(const WithoutNamelessFiles&) = delete;
};

// Once named, a file has its name alone, also where it began under a hidden name: none stays
// beside it until it is closed.
TEST_F(FileIoTest, PublishedFileKeepsNoHiddenName) {
  for (const bool nameless : {true, false}) {
    SCOPED_TRACE(nameless ? "nameless" : "hidden name");
    TempDir here;
    std::optional<WithoutNamelessFiles> fallback;
    if (!nameless) fallback.emplace();
    File file = File::CreateHidden(here.path());
    file.WriteAll("plain", 5);
    fallback.reset();
    EXPECT_EQ(Names(here.path()).size(), nameless ? 0u : 1u);
    ASSERT_TRUE(file.Publish(here / "out.txt"));
    EXPECT_EQ(Names(here.path()), std::vector<std::string>{"out.txt"});
    file.Close();
    EXPECT_EQ(ReadAll(here / "out.txt"), "plain");
  }
}

// Files made ahead: each taken file is in the folder asked for, no more are made than are still
// to come (nothing ahead under hidden names), and none is left once all are closed.
TEST(HiddenAheadTest, MakesOnlyWhatIsToComeInTheFolderAskedFor) {
  struct Case {
    const char* what;
    bool nameless;
    std::vector<std::pair<int, std::size_t>> takes; // folder 0 or 1, files still to come
    int creates;
  };
  const std::vector<Case> cases{
      {"one folder, counted down", true, {{0, 3}, {0, 2}, {0, 1}, {0, 0}}, 4},
      {"none to come", true, {{0, 0}, {0, 0}}, 2},
      {"another folder drops what was made", true, {{0, 2}, {0, 1}, {1, 1}, {1, 0}}, 5},
      {"hidden names", false, {{0, 3}, {0, 2}, {0, 1}}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir here;
    const std::string folders[] = {here.path() + "/a/", here.path() + "/b/"};
    for (const std::string& f : folders) std::filesystem::create_directory(f);
    std::atomic<int> creates{0};
    SetEventHook([&](const FileEvent& e) { creates += e.operation == FileOperation::Create; });
    std::optional<WithoutNamelessFiles> fallback;
    if (!c.nameless) fallback.emplace();
    {
      std::vector<File> taken;
      HiddenAhead ahead;
      for (const auto& [folder, more] : c.takes) {
        taken.push_back(ahead.Take(folders[folder], more));
        EXPECT_EQ(taken.back().Path(), folders[folder]);
      }
    }
    SetEventHook(nullptr);
    EXPECT_EQ(creates, c.creates);
    for (const std::string& f : folders) EXPECT_EQ(Names(f), std::vector<std::string>{});
  }
}

// A later run, in a process of its own, makes a file in folder (and so looks at its leftovers).
void NextRunMakesAFileIn(const std::string& folder) {
  const pid_t next = ::fork();
  ASSERT_GE(next, 0);
  if (next == 0) {
    try {
      File file = File::CreateHidden(folder);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(next, &status, 0), next);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A run killed while a file of it had a hidden name (the fallback without nameless files, or the
// moment before a given output is replaced) leaves that name behind; the next file made in the
// folder, by a later run, overwrites and removes it. Another run's live hidden file, and hidden
// names that are not QK's own, are left alone.
TEST(FileLeftovers, KilledRunsLeaveNothingAfterTheNextRun) {
  struct Case {
    const char* what;
    bool nameless;
    FileOperation killAt;
  };
  const std::vector<Case> cases{
      {"fallback, killed before its flush", false, FileOperation::Sync},
      {"fallback, killed while being named", false, FileOperation::Link},
      {"replacing a given output, killed between its two steps", true, FileOperation::Rename},
  };
  const std::string secret = test::RandomBytes(70000, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir here;
    const std::string target = here / "given.txt";
    test::WriteAll(target, "old");
    // Names of the same shape that are not leftovers: another user's mode, and a file of the
    // user's own (an output named so) that has the mode of a hidden file but not its mark.
    test::WriteAll(here / ".qk-notaleftover", "kept");
    ASSERT_EQ(::chmod((here / ".qk-notaleftover").c_str(), 0644), 0);
    test::WriteAll(here / ".qk-usersownfile", "mine");
    ASSERT_EQ(::chmod((here / ".qk-usersownfile").c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const FileOperation killAt = c.killAt;
      const bool nameless = c.nameless;
      SetFaultHook([killAt, nameless](FileOperation op, const std::string&) {
        if (op == FileOperation::Nameless && !nameless) return EOPNOTSUPP;
        if (op == killAt) ::raise(SIGKILL);
        return 0;
      });
      try {
        File file = File::CreateHidden(here.path());
        file.WriteAll(secret.data(), secret.size());
        file.Sync();
        if (!file.Publish(target, Naming::Replacing)) ::_exit(3);
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    std::vector<std::string> left;
    for (const std::string& name : Names(here.path()))
      if (name.rfind(".qk-", 0) == 0 && name != ".qk-notaleftover" && name != ".qk-usersownfile")
        left.push_back(name);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(ReadAll(here / left[0]), secret);
    // Another QK's live hidden file, held under its shared lock as CreateHidden holds one.
    const std::string live = here / ".qk-livelivelive";
    test::WriteAll(live, "live");
    ASSERT_EQ(::chmod(live.c_str(), 0600), 0);
    ASSERT_EQ(::setxattr(live.c_str(), "user.qk.hidden", ".qk-livelivelive", 16, 0), 0);
    OtherOpener holder(live, LOCK_SH);
    // The next run, in a process of its own, makes a file in the folder.
    NextRunMakesAFileIn(here.path());
    std::size_t hidden = 0;
    for (const std::string& name : Names(here.path())) {
      EXPECT_NE(name, left[0]) << "the leftover is still there";
      if (name.rfind(".qk-", 0) == 0) ++hidden;
    }
    EXPECT_EQ(hidden, 3u); // the live one and the two that are not QK's
    EXPECT_EQ(ReadAll(live), "live");
    EXPECT_EQ(ReadAll(here / ".qk-usersownfile"), "mine");
    EXPECT_EQ(ReadAll(target), "old");
  }
}

// In a folder that others can write, any file of this user's may have been renamed into the shape
// of a hidden name by someone else: the next run leaves such files exactly as they are.
TEST(FileLeftovers, FoldersOthersCanWriteKeepWhatLooksLikeALeftover) {
  for (const mode_t mode : {02775, 01777, 0722}) {
    SCOPED_TRACE(mode);
    TempDir here;
    const std::string renamed = here / ".qk-bbbbbbbbbbbb";
    test::WriteAll(renamed, "the report");
    ASSERT_EQ(::chmod(renamed.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(here.path().c_str(), mode), 0);
    NextRunMakesAFileIn(here.path());
    EXPECT_EQ(ReadAll(renamed), "the report");
  }
}

} // namespace
} // namespace qk::platform
