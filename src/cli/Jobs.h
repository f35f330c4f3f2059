// Several files of a run at once: how many jobs, and the pool that hands out the list's entries.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace qk::cli {

// The most jobs a run may ask for; each holds an engine with its buffers and keys.
inline constexpr unsigned kMaxJobs = 64;

// The number of processors this process may run on (at least 1, at most kMaxJobs).
unsigned DefaultJobs();

// The value of --jobs: a decimal number from 1 to kMaxJobs, nothing else (no sign, no spaces);
// none for anything else.
std::optional<unsigned> ParseJobs(const std::string& text);

// Calls task(index, job) once for every index in [0, count), from `jobs` threads (fewer when
// there are fewer indices; none but the caller's with one job). Indices are handed out in
// ascending order as jobs become free; one job's calls never overlap, so job numbers in
// [0, jobs) can pick per-job state. Returns when every call has returned. A task must not throw.
void RunJobs(std::size_t count, unsigned jobs,
             const std::function<void(std::size_t index, unsigned job)>& task);

} // namespace qk::cli
