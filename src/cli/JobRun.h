// A filled list run in several jobs at once: each job has a batch run of its own (its own engine,
// cipher state, buffers and random names) over the same options and state, and takes the next
// entry of the list whenever it is free. Each entry goes through its job exactly as a run of one
// entry would: its source is wiped only after its own output is proved. The results are put back
// into the list's entries, in the list's order.
#pragma once

#include "engine/BatchRun.h"

namespace qk::cli {

// Runs every entry of list (filled, with its mode, password and AutoRun set) in up to jobs jobs;
// host gets their progress and messages one at a time. Returns the number of failed entries.
int RunListInJobs(engine::BatchRun& list, const engine::BatchOptions& options,
                  engine::BatchHost& host, unsigned jobs);

} // namespace qk::cli
