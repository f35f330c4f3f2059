// The helper threads of the process: the waits that run beside a job's own thread (flushes that
// wait together, the reading and writing beside a cipher, files made ahead) take a place from one
// budget for the whole process, so that however many jobs a run has, the process keeps within a
// known number of threads. A helper that finds no place left does its work on the caller's thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <utility>

namespace qk::platform {

// A place taken from a budget counted for the whole process, given back when it goes. An empty
// place holds none. Budget gives the count (Budget::Count(), an atomic) and its limit
// (Budget::Limit()).
template <class Budget> class Place {
public:
  Place() = default;
  ~Place() { Release(); }
  Place(Place&& other) noexcept : held_(std::exchange(other.held_, false)) {}
  Place& operator=(Place&& other) noexcept {
    if (this != &other) {
      Release();
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;

  // A place when one is left, else an empty one; never waits.
  static Place TryTake() {
    Place place;
    std::atomic<std::size_t>& count = Budget::Count();
    std::size_t now = count.load();
    while (now < Budget::Limit()) {
      if (count.compare_exchange_weak(now, now + 1)) {
        place.held_ = true;
        break;
      }
    }
    return place;
  }
  explicit operator bool() const { return held_; }
  void Release() {
    if (std::exchange(held_, false)) --Budget::Count();
  }

private:
  bool held_ = false;
};

// The helper threads of the process: at most kBudget at once.
struct HelperThreads {
  static constexpr std::size_t kBudget = 18;
  static std::atomic<std::size_t>& Count();
  static std::size_t Limit() { return kBudget; }
};
using ThreadSlot = Place<HelperThreads>;

// A helper thread that holds its place for as long as it runs.
class HelperThread {
public:
  HelperThread() = default;
  // Starts fn on a thread of its own when a place is left; false (nothing started) otherwise, or
  // when the system refuses a thread.
  template <class F> bool Start(F&& fn) {
    ThreadSlot slot = ThreadSlot::TryTake();
    if (!slot) return false;
    try {
      thread_ = std::thread(std::forward<F>(fn));
    } catch (const std::system_error&) {
      return false;
    }
    slot_ = std::move(slot);
    return true;
  }
  bool Running() const { return thread_.joinable(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
    slot_ = ThreadSlot();
  }
  ~HelperThread() { Join(); }
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

private:
  std::thread thread_;
  ThreadSlot slot_;
};

} // namespace qk::platform
