// qk-cli guards its memory from the moment it starts: no core file can be written, and no other
// process of the same user may read it.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qk::test {
namespace {

// The "Max core file size" line of a process's limits.
std::string CoreLimit(pid_t pid) {
  std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(limits, line)) {
    if (line.rfind("Max core file size", 0) == 0) {
      std::istringstream words(line.substr(18));
      std::string soft, hard;
      words >> soft >> hard;
      return soft + " " + hard;
    }
  }
  return "?";
}

constexpr uid_t kNobody = 65534;

// Whether user kNobody may run program: tried in a child that has dropped to that user.
bool NobodyCanRun(const std::string& program) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
    _exit(access(program.c_str(), X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Opens the FIFO at path for writing once the reader in child has opened it; -1 when the child
// ends first or nothing opens it within the deadline, so a child that cannot start never leaves
// the test waiting.
int OpenWriterOnceRead(const std::string& path, pid_t child, std::chrono::seconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < until) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, 0);
      return fd;
    }
    if (errno != ENXIO) return -1;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// Checked while qk-cli waits for its settings file (a named pipe), before it reads the password.
TEST(CliHardening, NoCoreFileAndNoOtherReaderBeforeThePasswordIsRead) {
#if !QK_HARDEN
  GTEST_SKIP() << "built without QK_HARDEN";
#endif
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
  const std::string fifo = dir / "ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(chmod(fifo.c_str(), 0666), 0);

  // A checkout in a folder other users cannot enter (root's home): nobody runs a copy instead.
  std::string program = QK_CLI_PATH;
  if (geteuid() == 0 && !NobodyCanRun(program)) {
    program = dir / "qk-cli";
    std::filesystem::copy_file(QK_CLI_PATH, program);
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    ASSERT_TRUE(NobodyCanRun(program)) << "user nobody cannot run " << program;
  }

  // Run as an ordinary user: a process's /proc/<pid>/mem belongs to root exactly when it is not
  // dumpable. Under root the program is started as nobody.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(101);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), "encrypt", "--ini", fifo.c_str(), "--password-file",
          "-", (dir / "missing.txt").c_str(), static_cast<char*>(nullptr));
    _exit(102);
  }
  // The open succeeds once qk-cli opens its settings file, that is after its start-up.
  const int writer = OpenWriterOnceRead(fifo, pid, std::chrono::seconds(60));
  if (writer < 0) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    FAIL() << "qk-cli never opened its settings file (exit status "
           << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ")";
  }

  EXPECT_EQ(CoreLimit(pid), "0 0");
  struct stat st {};
  ASSERT_EQ(stat(("/proc/" + std::to_string(pid) + "/mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u) << "the process is dumpable";

  // Not let go on: it would open the pipe again for its next setting.
  kill(pid, SIGKILL);
  close(writer);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
}

// What every user of the machine reads as a running qk-cli's command line.
std::string CommandLineOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The command line of a qk-cli started with --password, read while it waits for its settings
// file (a named pipe): the one of two runs that differ only in the password's length. hint is
// the value of the --hint before it.
std::string CommandLineWhileRunning(const TempDir& dir, const std::string& password,
                                    const std::string& hint) {
  const std::string fifo = dir / "ini";
  unlink(fifo.c_str());
  EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(QK_CLI_PATH, QK_CLI_PATH, "encrypt", "--ini", fifo.c_str(), "--hint", hint.c_str(),
          "--password", password.c_str(), (dir / "missing.txt").c_str(),
          static_cast<char*>(nullptr));
    _exit(102);
  }
  // The open returns once qk-cli opens its settings, after its start-up. It is not let go on:
  // it would open the pipe again for its next setting.
  const int writer = open(fifo.c_str(), O_WRONLY);
  const std::string seen = CommandLineOf(pid);
  kill(pid, SIGKILL);
  close(writer);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return seen;
}

// A "--" that is the hint's value does not end the options for the hiding either.
TEST(CliHardening, CommandLineShowsNeitherThePasswordNorItsLength) {
  TempDir dir;
  const std::string shortOne = "pw-123";
  const std::string longOne = "a-much-longer-password-of-forty-bytes!!";
  for (const std::string hint : {"h", "--"}) {
    const std::string seenShort = CommandLineWhileRunning(dir, shortOne, hint);
    const std::string seenLong = CommandLineWhileRunning(dir, longOne, hint);
    EXPECT_EQ(seenShort.find(shortOne), std::string::npos) << seenShort;
    EXPECT_EQ(seenLong.find(longOne), std::string::npos) << seenLong;
    EXPECT_EQ(seenShort, seenLong);
    // The rest of the command line stays readable.
    const std::string expected = std::string(QK_CLI_PATH) + " encrypt --ini " + (dir / "ini") +
                                 " --hint " + hint + " --password " + (dir / "missing.txt");
    EXPECT_EQ(seenShort, expected + std::string(1, '\0'));
  }
}

} // namespace
} // namespace qk::test
