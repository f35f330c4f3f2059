// Several chunks of a run at once: how many jobs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qk::engine {

// The most jobs a run may ask for; each holds an engine with its buffers and keys.
inline constexpr unsigned kMaxJobs = 64;

// The number of processors this process may run on (at least 1, at most kMaxJobs).
unsigned DefaultJobs();

// The value of --jobs: a decimal number from 1 to kMaxJobs, nothing else (no sign, no spaces);
// none for anything else.
std::optional<unsigned> ParseJobs(const std::string& text);

} // namespace qk::engine
