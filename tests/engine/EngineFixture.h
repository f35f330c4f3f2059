// A file engine over a temporary folder, with the host that records what the engine shows.
#pragma once

#include "engine/FileEngine.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace qk::engine {
// Outcomes by their keys in test messages.
inline void PrintTo(Outcome outcome, std::ostream* os) {
  *os << ResultKey(outcome);
}
} // namespace qk::engine

namespace qk::test {

class EngineTest : public ::testing::Test {
protected:
  EngineTest() : random(12345), engine(host, state, settings, random) {}

  // Writes a plain file and returns its path.
  std::string Plain(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    WriteAll(path, bytes);
    return path;
  }
  std::string Encrypt(const std::string& source, const std::string& password = "pw",
                      const std::string& hint = "", std::int32_t algorithm = 0,
                      bool tamper = true) {
    const engine::Outcome result =
        engine.EncryptFile(source, source + ".enc", password, hint, algorithm, tamper).outcome;
    EXPECT_EQ(result, engine::Outcome::Encrypted) << source;
    return state.LastOutputName;
  }
  // Names in the temporary folder, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
  RecordingHost host;
  engine::RunState state;
  engine::EngineSettings settings;
  engine::Random random;
  engine::FileEngine engine;
};

} // namespace qk::test
