// qk-cli guards its memory from the moment it starts: no core file can be written, and no other
// process of the same user may read it.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST(CliHardening, NoCoreFileAndNoOtherReaderWhileThePasswordIsRead) {
#if !QK_HARDEN
  GTEST_SKIP() << "built without QK_HARDEN";
#endif
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
  const std::string fifo = dir / "pw";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(chmod(fifo.c_str(), 0666), 0);

  // Run as an ordinary user: a process's /proc/<pid>/mem belongs to root exactly when it is not
  // dumpable. Under root the program is started as nobody.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(101);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(QK_CLI_PATH, QK_CLI_PATH, "passhash", "--password-file", fifo.c_str(),
          static_cast<char*>(nullptr));
    _exit(102);
  }
  // The open returns once qk-cli opens the password file, that is after its start-up.
  const int writer = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);

  EXPECT_EQ(CoreLimit(pid), "0 0");
  struct stat st {};
  ASSERT_EQ(stat(("/proc/" + std::to_string(pid) + "/mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u) << "the process is dumpable";

  ASSERT_EQ(write(writer, "pw-pw-pw\n", 9), 9);
  close(writer);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace qk::test
