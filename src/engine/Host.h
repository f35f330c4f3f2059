// What the per-file operations need from whatever drives them: a progress line and a chance for
// pending window events to run. The desktop windows, the command line and the tests each
// implement it (as engine::BatchHost, which adds what a batch run asks).
#pragma once

#include <string>

namespace qk::engine {

class EngineHost {
public:
  virtual ~EngineHost() = default;
  // The text line under the list.
  virtual void ShowProgress(const std::string& text) = 0;
  // Let pending window events run.
  virtual void ProcessMessages() = 0;
};

} // namespace qk::engine
