#include "cli/Cli.h"
#include "platform/Hardening.h"

#include <iostream>

int main(int argc, char** argv) {
#if QK_HARDEN
  // Before any password is read: no core file, no other process reading this one.
  qk::platform::HardenProcess();
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  return qk::cli::RunCli(args, std::cout, std::cerr, std::cin);
}
