#include "platform/Threads.h"

#include <atomic>

namespace qk::platform {

namespace {

std::atomic<std::size_t>& Places() {
  static std::atomic<std::size_t> taken{0};
  return taken;
}

} // namespace

ThreadSlot ThreadSlot::TryTake() {
  ThreadSlot slot;
  std::size_t taken = Places().load();
  while (taken < kBudget) {
    if (Places().compare_exchange_weak(taken, taken + 1)) {
      slot.held_ = true;
      break;
    }
  }
  return slot;
}

std::size_t ThreadSlot::Taken() {
  return Places().load();
}

void ThreadSlot::Release() {
  if (std::exchange(held_, false)) --Places();
}

} // namespace qk::platform
