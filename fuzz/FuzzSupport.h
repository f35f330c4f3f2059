// Shared pieces of the harnesses: a scratch folder on a memory file system where there is one,
// removed with everything in it when the harness exits.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace qk::fuzz {

inline const std::string& ScratchDir() {
  struct Scratch {
    std::string path;
    Scratch() {
      const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
      path = base + "/qk-fuzz-XXXXXX";
      if (!mkdtemp(path.data())) std::abort();
    }
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
  };
  static const Scratch scratch;
  return scratch.path;
}

} // namespace qk::fuzz
