#include "platform/Seam.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace qk::platform {

namespace {

// The installed fault hook. Reads take a copy under the mutex; the flag keeps the common case
// (no hook) to one atomic load. Calls of the hook are serialised, so that a hook may count
// without locks of its own while two threads do file work.
std::mutex hookMutex;
std::mutex hookCallMutex;
std::shared_ptr<const FaultHook> hook;
std::atomic<bool> hookInstalled{false};
// The installed event hook, kept the same way.
std::shared_ptr<const EventHook> eventHook;
std::atomic<bool> eventHookInstalled{false};

// Puts newHook in place (or removes the one in place when newHook is empty).
template <class Hook>
void Install(std::shared_ptr<const Hook>& slot, std::atomic<bool>& installed, Hook newHook) {
  std::lock_guard lock(hookMutex);
  slot = newHook ? std::make_shared<const Hook>(std::move(newHook)) : nullptr;
  installed = slot != nullptr;
}

} // namespace

void SetFaultHook(FaultHook newHook) {
  Install(hook, hookInstalled, std::move(newHook));
}

int InjectedFault(FileOperation operation, const std::string& path) {
  if (!hookInstalled.load(std::memory_order_acquire)) return 0;
  std::shared_ptr<const FaultHook> current;
  {
    std::lock_guard lock(hookMutex);
    current = hook;
  }
  if (!current) return 0;
  std::lock_guard callLock(hookCallMutex);
  return (*current)(operation, path);
}

void SetEventHook(EventHook newHook) {
  Install(eventHook, eventHookInstalled, std::move(newHook));
}

bool EventsWanted() {
  return eventHookInstalled.load(std::memory_order_acquire);
}

void ReportEvent(const FileEvent& event) {
  if (!EventsWanted()) return;
  std::shared_ptr<const EventHook> current;
  {
    std::lock_guard lock(hookMutex);
    current = eventHook;
  }
  if (!current) return;
  std::lock_guard callLock(hookCallMutex);
  (*current)(event);
}

void ReportEvent(FileOperation operation, int fd, const std::string& path,
                 const std::string& target, bool exclusive) {
  if (!EventsWanted()) return;
  FileEvent event{operation, path, target, 0, exclusive};
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0) event.inode = static_cast<std::uint64_t>(st.st_ino);
  ReportEvent(event);
}

} // namespace qk::platform
