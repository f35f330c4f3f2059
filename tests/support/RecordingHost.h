// One host for every headless test of the engine and its batch: it records what is shown and
// asked, and answers from a script (Yes, and the password "pw" with the hint "hint", unless told
// otherwise).
#pragma once

#include "engine/BatchRun.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qk::test {

class RecordingHost : public engine::BatchHost {
public:
  void ShowProgress(const std::string& text) override {
    progress.push_back(text);
    label = text;
  }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool Confirm(const std::string& text) override {
    confirms.push_back(text);
    return confirmAnswer;
  }
  std::optional<PasswordAnswer> AskPassword(bool forDecrypt) override {
    ++passwordDialogs;
    lastForDecrypt = forDecrypt;
    if (!passwordAnswer) return std::nullopt;
    return PasswordAnswer{platform::SecretText(*passwordAnswer), hintAnswer};
  }
  void ClearPasswordFields(bool password, bool hint) override {
    clearedPassword = password;
    clearedHint = hint;
  }
  void Changed() override {
    ++changes;
    if (onChange) onChange();
  }
  void ShowReturnForm() override { ++returns; }
  void EndProgram() override { ended = true; }

  // What was shown: every progress text, and the last one (the line under the list).
  std::vector<std::string> progress;
  std::string label;
  std::vector<std::string> confirms;
  int pumps = 0, changes = 0, returns = 0, passwordDialogs = 0;
  bool lastForDecrypt = false, ended = false;
  bool clearedPassword = false, clearedHint = false;

  // The script.
  bool confirmAnswer = true;
  std::optional<std::string> passwordAnswer = std::string("pw"); // none: the dialog is cancelled
  std::string hintAnswer = "hint";
  std::function<void()> onPump;   // inside every ProcessMessages
  std::function<void()> onChange; // inside every Changed
};

} // namespace qk::test
