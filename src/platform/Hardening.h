// What keeps a password or key held in this process's memory from leaving it: no core file, no
// other process of the same user reading the memory, the pages holding keys kept out of swap
// where the limit on locked memory allows it, and the one way a secret is cleared.
//
// Both programs call HardenProcess first thing in main. Until then, and for a program started
// under a debugger (the tracer stays attached), another process of the same user can still read
// the memory; root always can.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Overwrites n bytes at p with value, with a store the compiler cannot drop: every key, password
// and plaintext buffer is cleared through it.
void SecureFill(void* p, std::uint8_t value, std::size_t n);
inline void SecureZero(void* p, std::size_t n) {
  SecureFill(p, 0, n);
}
// Clears the whole buffer of a std::string or a std::vector of bytes (its capacity, not only its
// size) and empties it.
template <class Bytes> void SecureClear(Bytes& bytes) {
  bytes.resize(bytes.capacity());
  SecureZero(bytes.data(), bytes.size() * sizeof(bytes[0]));
  bytes.clear();
}

} // namespace qk::platform
