// The headless front end: parses a qk-cli command line and runs it over the engine.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qk::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command (args without the program name); results go to out, messages to err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in);

std::string UsageText();

} // namespace qk::cli
