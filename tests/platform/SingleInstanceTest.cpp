#include "platform/SingleInstance.h"
#include "platform/HandOver.h"
#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qk::platform {
namespace {

using State = SingleInstanceLock::State;
using test::TempDir;

// Sets an environment variable for the life of the object and puts the old value back.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::optional<std::string> old_;
};

// Tries the lock in a child process; the child's verdict as its State.
State TryInChild(const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    SingleInstanceLock lock(path);
    ::_exit(static_cast<int>(lock.Acquire()));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return static_cast<State>(WEXITSTATUS(status));
}

TEST(SingleInstanceLockPath, RuntimeFolderOrTheUsersCacheFolder) {
  {
    ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/4711");
    EXPECT_EQ(SingleInstanceLockPath(), "/run/user/4711/HISNAMEISQK");
  }
  {
    ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/4711/");
    EXPECT_EQ(SingleInstanceLockPath(), "/run/user/4711/HISNAMEISQK");
  }
  // Without a runtime folder: the user's own cache folder, never a name in /tmp that another
  // user could have taken first.
  ScopedEnv home("HOME", "/home/someone");
  ScopedEnv cache("XDG_CACHE_HOME", nullptr);
  const std::string fallback = "/home/someone/.cache/qk/HISNAMEISQK";
  {
    ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(SingleInstanceLockPath(), fallback);
    ScopedEnv cacheSet("XDG_CACHE_HOME", "/var/cache/someone");
    EXPECT_EQ(SingleInstanceLockPath(), "/var/cache/someone/qk/HISNAMEISQK");
    ScopedEnv cacheRelative("XDG_CACHE_HOME", "cache");
    EXPECT_EQ(SingleInstanceLockPath(), fallback);
  }
  {
    // An empty or relative value would put the lock wherever the program happens to start.
    ScopedEnv env("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(SingleInstanceLockPath(), fallback);
    ScopedEnv relative("XDG_RUNTIME_DIR", "run");
    EXPECT_EQ(SingleInstanceLockPath(), fallback);
  }
  {
    ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(SingleInstanceLockPath(), "/tmp/HISNAMEISQK-" + std::to_string(::getuid()));
  }
}

// Another user who creates /tmp/HISNAMEISQK-<uid> first cannot switch the check off: the lock
// lives in the user's cache folder, made 0700 when missing, and two copies still exclude each
// other.
TEST(SingleInstanceLock, NameInTmpTakenByAnotherUserChangesNothing) {
  TempDir dir;
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  ScopedEnv cache("XDG_CACHE_HOME", nullptr);
  ScopedEnv home("HOME", dir.path().c_str());
  const std::string planted = "/tmp/HISNAMEISQK-" + std::to_string(::getuid());
  const bool plantedHere = ::access(planted.c_str(), F_OK) != 0;
  if (plantedHere) {
    test::WriteAll(planted, "");
    if (geteuid() == 0) {
      ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }
  }
  const std::string path = SingleInstanceLockPath();
  EXPECT_EQ(path, dir / ".cache/qk/HISNAMEISQK");
  SingleInstanceLock first(path);
  EXPECT_TRUE(MayRun(true, first));
  EXPECT_EQ(first.Current(), State::Held);
  EXPECT_EQ(TryInChild(path), State::HeldElsewhere);
  for (const std::string& folder : {dir / ".cache", dir / ".cache/qk"}) {
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
  }
  if (plantedHere) ::unlink(planted.c_str());
}

TEST(SingleInstanceLock, SecondHolderRefusedUntilTheFirstLetsGo) {
  TempDir dir;
  const std::string path = dir / "HISNAMEISQK";
  SingleInstanceLock first(path);
  ASSERT_EQ(first.Acquire(), State::Held);
  EXPECT_EQ(first.Acquire(), State::Held) << "trying again keeps the lock";

  SingleInstanceLock second(path);
  EXPECT_EQ(second.Acquire(), State::HeldElsewhere);
  EXPECT_EQ(TryInChild(path), State::HeldElsewhere);

  first.Release();
  EXPECT_EQ(first.Current(), State::Unlocked);
  EXPECT_EQ(second.Acquire(), State::Held);
  EXPECT_EQ(TryInChild(path), State::HeldElsewhere);
}

TEST(SingleInstanceLock, EndsWithTheProcessThatHeldIt) {
  TempDir dir;
  const std::string path = dir / "HISNAMEISQK";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto* lock = new SingleInstanceLock(path); // never released: the process just ends
    const char verdict = lock->Acquire() == State::Held ? 'y' : 'n';
    (void)!::write(ready[1], &verdict, 1);
    ::pause();
    ::_exit(0);
  }
  char verdict = 0;
  ASSERT_EQ(::read(ready[0], &verdict, 1), 1);
  ASSERT_EQ(verdict, 'y');
  SingleInstanceLock mine(path);
  EXPECT_EQ(mine.Acquire(), State::HeldElsewhere);

  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(mine.Acquire(), State::Held);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(SingleInstanceLock, ProgramsStartedFromHereDoNotKeepIt) {
  TempDir dir;
  const std::string path = dir / "HISNAMEISQK";
  SingleInstanceLock lock(path);
  ASSERT_EQ(lock.Acquire(), State::Held);

  // A long-lived program started while the lock is held, as a browser opened for the manual.
  pid_t child = 0;
  char sleepPath[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {sleepPath, seconds, nullptr};
  ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);

  lock.Release();
  SingleInstanceLock next(path);
  EXPECT_EQ(next.Acquire(), State::Held);

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(SingleInstanceLock, FileThatIsNotOursCannotBlockTheProgram) {
  TempDir dir;
  // A symbolic link planted at the lock's place, pointing at a file someone else controls.
  test::WriteAll(dir / "target", "");
  const std::string link = dir / "HISNAMEISQK";
  ASSERT_EQ(::symlink((dir / "target").c_str(), link.c_str()), 0);
  SingleInstanceLock viaLink(link);
  EXPECT_EQ(viaLink.Acquire(), State::Unavailable);
  EXPECT_TRUE(MayRun(true, viaLink));

  // A file with a second name, which another program can hold the lock through.
  test::WriteAll(dir / "own", "");
  ASSERT_EQ(::link((dir / "own").c_str(), (dir / "second").c_str()), 0);
  SingleInstanceLock viaSecondName(dir / "own");
  EXPECT_EQ(viaSecondName.Acquire(), State::Unavailable);
  EXPECT_TRUE(MayRun(true, viaSecondName));

  // A folder that cannot be made (a file stands where it would be).
  test::WriteAll(dir / "file", "");
  SingleInstanceLock nowhere(dir / "file/missing/HISNAMEISQK");
  EXPECT_EQ(nowhere.Acquire(), State::Unavailable);
  EXPECT_TRUE(MayRun(true, nowhere));
}

// A named pipe planted at the lock's name (in /tmp anybody can make one) must not hold the start:
// opening a pipe for reading waits for a writer unless the open does not block. The try runs in a
// child with an alarm, so a hang fails the test instead of stopping the run.
TEST(SingleInstanceLock, NamedPipeAtTheNameIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string path = dir / "HISNAMEISQK";
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(5);
    SingleInstanceLock lock(path);
    const State state = lock.Acquire();
    ::_exit(state == State::Unavailable && MayRun(true, lock) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "the open waited for a writer";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it was";
}

// A start hands its mode and paths to the copy that listens, and hears whether it took them; a
// start of another user is not heard, nor a request that is not whole, nor anything in a folder
// others can write to.
TEST(HandOver, OnlyTheSameUsersWholeRequestIsHeard) {
  TempDir dir;
  const std::string path = HandOverSocketPath(dir / "HISNAMEISQK");
  HandOverServer server;
  ASSERT_TRUE(server.Listen(path));
  // Serves one start made by start (in a thread or another process); the requests taken.
  const auto serve = [&](bool answer, const std::function<void()>& start) {
    std::vector<HandOverRequest> taken;
    std::thread client(start);
    pollfd waiting{server.Descriptor(), POLLIN, 0};
    if (::poll(&waiting, 1, 10000) == 1) {
      server.TakeOne([&](const HandOverRequest& request) {
        taken.push_back(request);
        return answer;
      });
    }
    client.join();
    return taken;
  };
  const HandOverRequest request{'D', {"/home/u/a b.enc", "/home/u/\xE6\x97\xA5.enc"}};
  for (const bool answer : {true, false}) {
    bool heard = !answer;
    const auto taken = serve(answer, [&] { heard = HandOverTo(path, request); });
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].mode, 'D');
    EXPECT_EQ(taken[0].paths, request.paths);
    EXPECT_EQ(heard, answer);
  }
  bool heard = true;
  EXPECT_TRUE(serve(true, [&] { heard = HandOverTo(path, {'E', {"relative"}}); }).empty());
  EXPECT_FALSE(heard);
  EXPECT_FALSE(HandOverTo(path, {'X', {"/a"}}));
  if (::geteuid() == 0) {
    // Another user who reaches the socket (its folder lets it) is not heard: a whole request,
    // written by hand, gets no answer.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      sockaddr_un address{AF_UNIX, {}};
      std::memcpy(address.sun_path, path.c_str(), path.size());
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      const char bytes[] = {'Q', 'K', 'H', '1', 'E', 1, 0, 0, 0, 2, 0, 0, 0, '/', 'a'};
      char answer = 0;
      ::_exit(::setuid(65534) == 0 &&
                      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      // The listener may hang up before the request is all sent.
                      ::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL) != 0 &&
                      ::read(fd, &answer, 1) <= 0
                  ? 0
                  : 1);
    }
    int status = -1;
    EXPECT_TRUE(serve(true, [&] { ::waitpid(pid, &status, 0); }).empty());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Nor is anything handed to another user's listener.
    const std::string others = dir / "others";
    ASSERT_EQ(::mkdir(others.c_str(), 0700), 0);
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t listener = ::fork();
    if (listener == 0) {
      HandOverServer theirs;
      const bool listening = ::setuid(65534) == 0 && theirs.Listen(others + "/s");
      (void)!::write(ready[1], listening ? "y" : "n", 1);
      pollfd waiting{theirs.Descriptor(), POLLIN, 0};
      bool taken = false;
      if (listening && ::poll(&waiting, 1, 10000) == 1)
        theirs.TakeOne([&](const HandOverRequest&) { return taken = true; });
      ::_exit(listening && !taken ? 0 : 1);
    }
    char listening = 0;
    ASSERT_EQ(::read(ready[0], &listening, 1), 1);
    EXPECT_EQ(listening, 'y');
    EXPECT_FALSE(HandOverTo(others + "/s", request));
    ::waitpid(listener, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
    // A folder others can write to is no place to listen.
    HandOverServer open;
    EXPECT_FALSE(open.Listen(dir / "other.sock"));
  }
}

TEST(MayRun, SecondCopyRefusedOnlyWhileTheCheckIsOn) {
  TempDir dir;
  const std::string path = dir / "HISNAMEISQK";
  SingleInstanceLock running(path);
  ASSERT_TRUE(MayRun(true, running));
  EXPECT_EQ(running.Current(), State::Held);

  SingleInstanceLock secondOn(path);
  EXPECT_FALSE(MayRun(true, secondOn));

  // With the check off the second copy runs and leaves the lock alone, so a third copy with the
  // check on is still refused by the first.
  SingleInstanceLock secondOff(path);
  EXPECT_TRUE(MayRun(false, secondOff));
  EXPECT_EQ(secondOff.Current(), State::Unlocked);
  SingleInstanceLock third(path);
  EXPECT_FALSE(MayRun(true, third));

  // The first copy with the check off never took the lock: a later copy with it on runs.
  running.Release();
  SingleInstanceLock firstOff(path);
  EXPECT_TRUE(MayRun(false, firstOff));
  SingleInstanceLock later(path);
  EXPECT_TRUE(MayRun(true, later));
}

} // namespace
} // namespace qk::platform
