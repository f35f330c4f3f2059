#include "engine/Jobs.h"

#include <sched.h>
#include <thread>

namespace qk::engine {

unsigned DefaultJobs() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int count = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
  if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
  if (count <= 0) return 1;
  return static_cast<unsigned>(count) < kMaxJobs ? static_cast<unsigned>(count) : kMaxJobs;
}

std::optional<unsigned> ParseJobs(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > kMaxJobs) return std::nullopt;
  return value;
}

} // namespace qk::engine
