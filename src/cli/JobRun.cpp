#include "cli/JobRun.h"

#include "cli/Jobs.h"
#include "crypto/CryptoBase.h"
#include "engine/Random.h"

#include "platform/Durable.h"
#include "platform/PathText.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qk::cli {

namespace {

// Passes one job's progress on to the run's host, one job at a time.
class SharedHost : public engine::NullBatchHost {
public:
  SharedHost(engine::BatchHost& host, std::mutex& lock) : host_(host), lock_(lock) {}
  void ShowProgress(const std::string& text) override {
    const std::lock_guard guard(lock_);
    host_.ShowProgress(text);
  }

private:
  engine::BatchHost& host_;
  std::mutex& lock_;
};

struct Job {
  Job(engine::BatchHost& host, std::mutex& lock, const engine::BatchOptions& batchOptions,
      std::uint64_t seed)
      : shared(host, lock), options(batchOptions), random(seed), run(shared, options, random) {}
  SharedHost shared;
  engine::BatchOptions options;
  engine::Random random;
  engine::BatchRun run;
};

// A seed for a job's random names, drawn from the program's generator so that no two jobs
// draw the same names.
std::uint64_t NextSeed() {
  engine::Random& program = engine::Random::Program();
  std::uint64_t seed = 0;
  for (int i = 0; i < 4; ++i)
    seed = (seed << 16) ^ static_cast<std::uint64_t>(program.Below(1 << 16));
  return seed;
}

// Consecutive entries of one folder, up to most of them: a job takes them as one run, so that
// their outputs are made durable together (one flush of their folder before their sources go).
std::vector<std::pair<std::size_t, std::size_t>>
Chunks(const std::vector<engine::ListEntry>& entries, std::size_t most) {
  std::vector<std::pair<std::size_t, std::size_t>> chunks;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string folder = platform::ExtractFilePath(entries[i].Path);
    if (chunks.empty() || chunks.back().second - chunks.back().first >= most ||
        platform::ExtractFilePath(entries[chunks.back().first].Path) != folder) {
      chunks.emplace_back(i, i);
    }
    chunks.back().second = i + 1;
  }
  return chunks;
}

} // namespace

int RunListInJobs(engine::BatchRun& list, const engine::BatchOptions& options,
                  engine::BatchHost& host, unsigned jobs) {
  auto& entries = list.Entries();
  std::mutex lock;
  std::vector<std::unique_ptr<Job>> pool;
  const std::size_t count = jobs < entries.size() ? jobs : entries.size();
  for (std::size_t j = 0; j < count; ++j) {
    pool.push_back(std::make_unique<Job>(host, lock, options, NextSeed()));
    pool.back()->run.State() = list.State();
  }
  // Runs of a few entries each, small enough that the jobs stay busy to the end.
  const std::size_t most = std::clamp<std::size_t>(entries.size() / (pool.size() * 4), 1,
                                                   platform::DurableGroup::kDefaultLimit);
  const auto chunks = Chunks(entries, most);
  std::vector<int> failed(chunks.size(), 0);
  // An exception stops the run as it would stop a run in one job: no entry is begun after it,
  // and it is raised again once the entries under way are done.
  std::exception_ptr error;
  RunJobs(chunks.size(), static_cast<unsigned>(pool.size()), [&](std::size_t c, unsigned j) {
    {
      const std::lock_guard guard(lock);
      if (error) return;
    }
    try {
      engine::BatchRun& run = pool[j]->run;
      const auto [first, last] = chunks[c];
      const auto from = entries.begin() + static_cast<std::ptrdiff_t>(first);
      const auto to = entries.begin() + static_cast<std::ptrdiff_t>(last);
      // The end of a run forgets the password, so it is given each time.
      run.State().Password = list.State().Password.Copy();
      run.Entries().assign(from, to);
      run.RunBatch();
      std::copy(run.Entries().begin(), run.Entries().end(), from);
      failed[c] = run.FailureCount();
    } catch (...) {
      const std::lock_guard guard(lock);
      if (!error) error = std::current_exception();
    }
  });
  for (auto& job : pool) job->run.State().Password.Clear();
  if (error) std::rethrow_exception(error);
  int failures = 0;
  for (const int f : failed) failures += f;
  return failures;
}

} // namespace qk::cli
