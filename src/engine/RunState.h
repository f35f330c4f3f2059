// The state of one confirmation list and its run, shared by the per-file operations and the
// batch run that owns it.
#pragma once

#include "platform/SecretText.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

namespace qk::engine {

enum class OperationMode : std::uint8_t { Encrypt = 0, Decrypt = 1, Wipe = 2 };

struct RunState {
  platform::SecretText Password; // UTF-8, as typed
  std::string PasswordHint;      // UTF-8
  OperationMode Mode = OperationMode::Encrypt;
  bool AutoRun = false;
  bool ExitAfterRun = false;
  bool ListShown = false;
  bool ListEditable = false;
  std::string OutputNameOverride;
  // The run wipes no source, whatever the options say (the desktop's single-file switch writes
  // exactly one file and touches nothing else).
  bool KeepSources = false;
  bool SkipWipe = false;
  bool ReEncrypting = false;
  // Set when the run is to stop: no entry is begun after it, and the one under way ends at its
  // next block (RunStopped). Owned by the run; none outside one.
  const std::atomic<bool>* Stop = nullptr;
  bool Stopping() const { return Stop != nullptr && Stop->load(std::memory_order_relaxed); }
};

// Raised by an operation that ends at a block because its run is to stop: what it wrote has gone,
// its source is as it was.
class RunStopped : public std::exception {
public:
  const char* what() const noexcept override { return "the run was stopped"; }
};

// Settings the per-file operations read at the moment they act.
struct EngineSettings {
  std::int32_t ProcessMsgInterval = 30;
  bool SkipNonHMAC = false;
};

} // namespace qk::engine
