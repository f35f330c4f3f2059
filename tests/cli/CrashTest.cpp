// qk-cli killed at random moments while it encrypts and wipes: every source is either whole or
// held by a container that decrypts to exactly its bytes. And the password is never written to
// any file a run leaves behind.
#include "cli/RunQk.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qk::test {
namespace {

pid_t Spawn(const std::vector<std::string>& args) {
  return SpawnQk(args, "/dev/null", "/dev/null", "/dev/null");
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  return names;
}

TEST(Crash, KilledRunsLoseNothing) {
  TempDir dir;
  const std::string password = dir / "pw";
  WriteAll(password, "crash-password\n");
  const std::string ini = dir / "none.ini";
  const std::string bytes = RandomBytes(3 * 1024 * 1024 + 11, 4);

  // How long one whole run takes, to spread the kills over it.
  TempDir probe;
  WriteAll(probe / "s.bin", bytes);
  const auto start = std::chrono::steady_clock::now();
  Wait(Spawn(
      {"encrypt", "--ini", ini, "--password-file", password, "--wipe-source", probe / "s.bin"}));
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  ASSERT_FALSE(Exists(probe / "s.bin"));

  std::mt19937 gen(2024);
  int runs = 0, killed = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (runs < 60 && std::chrono::steady_clock::now() < deadline) {
    TempDir work;
    const std::string source = work / "s.bin";
    WriteAll(source, bytes);
    const pid_t pid =
        Spawn({"encrypt", "--ini", ini, "--password-file", password, "--wipe-source", source});
    std::this_thread::sleep_for(std::chrono::microseconds(gen() % (whole + 1)));
    kill(pid, SIGKILL);
    const int status = Wait(pid);
    if (WIFSIGNALED(status)) ++killed;
    ++runs;

    if (Exists(source) && ReadAll(source) == bytes) continue;
    // The source is gone or partly overwritten: its container must hold it.
    const auto outcome = Spawn({"decrypt", "--ini", ini, "--password-file", password, "-o",
                                work / "back.bin", source + ".enc"});
    Wait(outcome);
    ASSERT_TRUE(Exists(work / "back.bin")) << "run " << runs << ": source lost";
    ASSERT_EQ(ReadAll(work / "back.bin"), bytes) << "run " << runs;
  }
  std::cout << "crash runs: " << runs << " (" << killed << " killed mid-run)\n";
  EXPECT_GE(runs, 10);
}

TEST(Secrets, PasswordNeverReachesTheDisk) {
  TempDir dir;
  const std::string secret = "秘密のパスワード-7319";
  WriteAll(dir / "pw", secret + "\n");
  WriteAll(dir / "a.txt", "some plain text");
  WriteAll(dir / "b.txt", std::string(20000, 'b'));
  const std::string ini = dir / "QK.ini";
  WriteAll(ini, "[SYSTEM]\nSECLEVEL=4\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"encrypt", "--ini", ini, "--password-file", dir / "pw", "--hint",
                                 "hint", "--wipe-source", dir / "a.txt", dir / "b.txt"},
        {"decrypt", "--ini", ini, "--password-file", dir / "pw", "--wipe-source", dir / "a.txt.enc",
         dir / "b.txt.enc"},
        {"encrypt", "--ini", ini, "--password-file", dir / "pw", "--algorithm", "gost",
         "--no-tamper-code", dir / "a.txt"},
        {"passhash", "--password-file", dir / "pw"}}) {
    ASSERT_EQ(WEXITSTATUS(Wait(Spawn(args))), 0);
  }
  const std::string utf8 = secret;
  const std::string cp932 = platform::ToSystemCodePage(secret);
  for (const auto& name : Names(dir.path())) {
    if (name == "pw") continue;
    const std::string content = ReadAll(dir / name);
    EXPECT_EQ(content.find(utf8), std::string::npos) << name;
    EXPECT_EQ(content.find(cp932), std::string::npos) << name;
  }
}

} // namespace
} // namespace qk::test
