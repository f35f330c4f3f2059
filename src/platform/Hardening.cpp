#include "platform/Hardening.h"

#include <cstring>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qk::platform {

bool HardenProcess() {
  const rlimit none{0, 0};
  const bool noCore = ::setrlimit(RLIMIT_CORE, &none) == 0;
  const bool notDumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  return noCore && notDumpable;
}

bool LockMemory(const void* address, std::size_t size) {
  if (address == nullptr || size == 0) return true;
  // The system call itself: the sanitizers' runtime turns the library's mlock into a no-op.
  return ::syscall(SYS_mlock, address, size) == 0;
}

void UnlockMemory(const void* address, std::size_t size) {
  if (address == nullptr || size == 0) return;
  ::syscall(SYS_munlock, address, size);
}

void SecureFill(void* p, std::uint8_t value, std::size_t n) {
  if (n == 0) return;
  std::memset(p, value, n);
  // The compiler must assume the filled memory is read after this point, so the fill is never
  // dropped as a dead store; memset itself runs at full speed on large buffers.
  asm volatile("" : : "r"(p) : "memory");
}

} // namespace qk::platform
