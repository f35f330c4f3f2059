#include "cli/Jobs.h"

#include <atomic>
#include <sched.h>
#include <system_error>
#include <thread>
#include <vector>

namespace qk::cli {

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

void RunJobs(std::size_t count, unsigned jobs,
             const std::function<void(std::size_t index, unsigned job)>& task) {
  if (jobs > count) jobs = static_cast<unsigned>(count);
  if (jobs <= 1) {
    for (std::size_t i = 0; i < count; ++i) task(i, 0);
    return;
  }
  std::atomic<std::size_t> next{0};
  const auto work = [&](unsigned job) {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) task(i, job);
  };
  std::vector<std::thread> threads;
  threads.reserve(jobs - 1);
  try {
    for (unsigned job = 1; job < jobs; ++job) threads.emplace_back(work, job);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the ones that started share the list.
  }
  work(0);
  for (auto& thread : threads) thread.join();
}

} // namespace qk::cli
