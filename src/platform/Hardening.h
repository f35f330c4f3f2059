// What keeps a password or key held in this process's memory from leaving it: no core file, no
// other process of the same user reading the memory, and the pages holding keys kept out of
// swap where the limit on locked memory allows it.
//
// Both programs call HardenProcess first thing in main. Until then, and for a program started
// under a debugger (the tracer stays attached), another process of the same user can still read
// the memory; root always can.
#pragma once

#include <cstddef>

namespace qk::platform {

// Switches core files off (RLIMIT_CORE 0, soft and hard, so that nothing later raises it) and
// marks the process not dumpable (PR_SET_DUMPABLE 0), which also refuses ptrace and
// /proc/<pid>/mem to other processes of the same user. False when either call failed.
bool HardenProcess();

// Locks the pages of [address, address + size) in memory so that they never go to swap. False
// when it could not (the RLIMIT_MEMLOCK limit reached, most often); the memory is usable all
// the same. Locks do not nest: unlocking a range unlocks every page it touches.
bool LockMemory(const void* address, std::size_t size);
void UnlockMemory(const void* address, std::size_t size);

} // namespace qk::platform
