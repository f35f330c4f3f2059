// A filled list run in several jobs at once: each job has a batch run of its own (its own engine,
// cipher state, buffers and random names) over the same options and state, and takes the next
// few entries of the list (consecutive, of one folder) whenever it is free. They go through their
// job exactly as a run of them alone would: each source is wiped only after its own output is
// proved and made durable, the outputs of the few with one flush of their folder. The results are
// put back into the list's entries, in the list's order.
#pragma once

#include "engine/BatchRun.h"

namespace qk::cli {

// Runs every entry of list (filled, with its mode, password and AutoRun set) in up to jobs jobs;
// host gets their progress and messages one at a time. Returns the number of failed entries.
int RunListInJobs(engine::BatchRun& list, const engine::BatchOptions& options,
                  engine::BatchHost& host, unsigned jobs);

} // namespace qk::cli
