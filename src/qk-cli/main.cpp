#include "cli/Cli.h"
#include "platform/Hardening.h"
#include "platform/SecretText.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
#if QK_HARDEN
  // Before any password is read: no core file, no other process reading this one.
  qk::platform::HardenProcess();
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  // The process's own copy of a --password value (what the process list shows) goes at once,
  // its length too; the run works from args, which are cleared when it ends.
  qk::cli::HidePasswordArguments(argc, argv);
  const int status = qk::cli::RunCli(args, std::cout, std::cerr, std::cin);
  for (std::string& arg : args) qk::platform::SecureClear(arg);
  return status;
}
