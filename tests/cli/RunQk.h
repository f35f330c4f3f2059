// Starting the real qk-cli from the tests.
#pragma once

#include "support/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace qk::test {

struct Outcome {
  int status = -1; // exit status, -1 when the process did not exit normally
  std::string out, err;
};

// Starts qk-cli with args and standard input from stdinPath; standard output and error go to
// outPath and errPath; it starts in folder cwd when one is given. Returns the process id, or -1.
inline pid_t SpawnQk(const std::vector<std::string>& args, const std::string& stdinPath,
                     const std::string& outPath, const std::string& errPath,
                     const std::string& cwd = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> argv{const_cast<char*>(QK_CLI_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, QK_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs qk-cli with args to its end, feeding input on standard input, in folder cwd when one is
// given.
inline Outcome RunQk(const std::vector<std::string>& args, const std::string& input = "",
                     const std::string& cwd = "") {
  TempDir io;
  WriteAll(io / "in", input);
  Outcome o;
  const pid_t pid = SpawnQk(args, io / "in", io / "out", io / "err", cwd);
  if (pid < 0) return o;
  int status = 0;
  waitpid(pid, &status, 0);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.out = ReadAll(io / "out");
  o.err = ReadAll(io / "err");
  return o;
}

} // namespace qk::test
