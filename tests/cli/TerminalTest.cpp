// The no-echo password prompt on a real terminal (a pseudo-terminal): echo comes back however
// qk-cli ends while it waits, also by Ctrl-C or SIGTERM.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace qk::test {
namespace {

class PromptOnATerminal : public ::testing::Test {
protected:
  // Starts qk-cli passhash reading the password from its terminal, and waits for its prompt.
  void SetUp() override {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      execl(QK_CLI_PATH, QK_CLI_PATH, "passhash", "--password-file", "-",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    terminal_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal_, 0);
    // The prompt is written once echo is off.
    std::string seen;
    while (seen.find("パスワード: ") == std::string::npos) {
      pollfd ready{master_, POLLIN, 0};
      ASSERT_GT(poll(&ready, 1, 20000), 0) << "no prompt; seen: " << seen;
      char buffer[256];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      ASSERT_GT(n, 0);
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_FALSE(Echo()) << "echo is on at the prompt";
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
    if (master_ >= 0) close(master_);
  }
  bool Echo() const {
    termios now{};
    EXPECT_EQ(tcgetattr(terminal_, &now), 0);
    return (now.c_lflag & ECHO) != 0;
  }
  // Waits for qk-cli to end; its wait status.
  int Ended() {
    int status = 0;
    EXPECT_EQ(waitpid(pid_, &status, 0), pid_);
    pid_ = -1;
    return status;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  int terminal_ = -1;
};

TEST_F(PromptOnATerminal, CtrlCRestoresEcho) {
  ASSERT_EQ(write(master_, "\x03", 1), 1);
  const int status = Ended();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_TRUE(Echo());
}

// Every signal whose default action ends the program: it still ends by that signal, and echo is
// back on.
class SignalAtThePrompt : public PromptOnATerminal, public ::testing::WithParamInterface<int> {};

TEST_P(SignalAtThePrompt, RestoresEcho) {
  const int signal = GetParam();
  ASSERT_EQ(kill(pid_, signal), 0);
  const int status = Ended();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal) << status;
  EXPECT_TRUE(Echo()) << strsignal(signal);
}

INSTANTIATE_TEST_SUITE_P(EndingSignals, SignalAtThePrompt,
                         ::testing::Values(SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                           SIGPIPE, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPWR,
                                           SIGSYS, SIGIO, SIGSTKFLT, SIGABRT, SIGRTMIN + 2,
                                           SIGRTMAX),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "signal" + std::to_string(info.param);
                         });

TEST_F(PromptOnATerminal, AnsweredPromptRestoresEcho) {
  ASSERT_EQ(write(master_, "pw-on-a-terminal\n", 17), 17);
  const int status = Ended();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(Echo());
}

} // namespace
} // namespace qk::test
