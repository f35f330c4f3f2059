// The helper threads of the process: the waits that run beside a job's own thread (flushes that
// wait together, the reading and writing beside a cipher, files made ahead) take a place from one
// budget for the whole process, so that however many jobs a run has, the process keeps within a
// known number of threads. A helper that finds no place left does its work on the caller's thread.
#pragma once

#include <cstddef>
#include <system_error>
#include <thread>
#include <utility>

namespace qk::platform {

// A place for one helper thread, given back when it goes. An empty slot holds none.
class ThreadSlot {
public:
  ThreadSlot() = default;
  ~ThreadSlot() { Release(); }
  ThreadSlot(ThreadSlot&& other) noexcept : held_(std::exchange(other.held_, false)) {}
  ThreadSlot& operator=(ThreadSlot&& other) noexcept {
    if (this != &other) {
      Release();
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // A place when one is left, else an empty slot; never waits.
  static ThreadSlot TryTake();
  explicit operator bool() const { return held_; }

  // The most helper threads of the process at once.
  static constexpr std::size_t kBudget = 18;
  // How many places are taken now.
  static std::size_t Taken();

private:
  void Release();
  bool held_ = false;
};

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
