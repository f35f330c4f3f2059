// A batch run of the confirmation list over a temporary folder, with the host that records what
// it shows and asks (support/RecordingHost.h); the list is filled the way the windows fill it.
#pragma once

#include "engine/BatchRun.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace qk::engine {
// Outcomes by their keys in test messages.
inline void PrintTo(Outcome outcome, std::ostream* os) {
  *os << ResultKey(outcome);
}
} // namespace qk::engine

namespace qk::test {

template <class Base = ::testing::Test> class BatchFixture : public Base {
protected:
  explicit BatchFixture(std::uint64_t seed) : random(seed), run(host, options, random) {}

  // As the windows do: the dialog was closed, the list is refilled in mode by add, and shown.
  void Refill(engine::OperationMode mode, const std::function<void()>& add) {
    if (run.State().ListShown) run.Close();
    run.ClearList();
    run.State().Mode = mode;
    add();
    run.ShowList();
  }
  void Fill(engine::OperationMode mode, const std::vector<std::string>& paths) {
    Refill(mode, [&] {
      for (const auto& p : paths) run.AddFile(p);
    });
  }
  // Writes a plain file into the folder and returns its path.
  std::string Plain(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    WriteAll(path, bytes);
    return path;
  }
  // The outcome of every entry, in the list's order (the first outcome for an entry not run).
  std::vector<engine::Outcome> Outcomes() {
    std::vector<engine::Outcome> outcomes;
    for (const auto& e : run.Entries())
      outcomes.push_back(e.Result ? e.Result->outcome : engine::Outcome{});
    return outcomes;
  }

  TempDir dir;
  RecordingHost host;
  engine::BatchOptions options;
  engine::Random random;
  engine::BatchRun run;
};

} // namespace qk::test
