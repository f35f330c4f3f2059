// What the engine needs from whatever drives it: a progress line, a chance for pending window
// events to run, and message boxes. The desktop windows, the command line and the tests each
// implement it.
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
  // Information box with OK.
  virtual void Inform(const std::string& text) = 0;
  // Confirmation with Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // Warning with one OK button.
  virtual void Warn(const std::string& text) = 0;
};

// Shows nothing and answers No.
class NullHost : public EngineHost {
public:
  void ShowProgress(const std::string&) override {}
  void ProcessMessages() override {}
  void Inform(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
  void Warn(const std::string&) override {}
};

} // namespace qk::engine
