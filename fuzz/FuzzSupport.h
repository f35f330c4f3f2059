// Shared pieces of the harnesses: a scratch folder on a memory file system where there is one.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace qk::fuzz {

inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/qk-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return dir;
}

} // namespace qk::fuzz
