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

// Takes the value of each --password out of the process's own argument strings (what the process
// list shows), length and all (platform::HideArguments). The values are found as RunCli's parse
// finds them: a "--" that is another option's value does not end the options.
void HidePasswordArguments(int argc, char** argv);

} // namespace qk::cli
