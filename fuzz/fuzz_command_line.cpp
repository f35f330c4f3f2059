// The program's command line over arbitrary argument lists (arguments separated by NUL bytes).
#include "FuzzSupport.h"
#include "core/CommandLine.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::vector<std::string> args(1);
  // Absolute paths and ".." would walk the real file system; keep every path inside the scratch
  // folder.
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (auto& a : args) {
    if (a.find('/') != std::string::npos || a.find("..") != std::string::npos) a = "x";
  }
  qk::engine::NullBatchHost host;
  qk::engine::BatchOptions options;
  qk::engine::Random random(1);
  qk::engine::BatchRun run(host, options, random);
  qk::core::TFindFile finder;
  // Paths resolve inside an empty scratch folder, so nothing real is listed or touched.
  (void)qk::core::ParseCommandLine(args, qk::fuzz::ScratchDir(), run, finder);
  return 0;
}
