#include "platform/Threads.h"

namespace qk::platform {

std::atomic<std::size_t>& HelperThreads::Count() {
  static std::atomic<std::size_t> taken{0};
  return taken;
}

} // namespace qk::platform
