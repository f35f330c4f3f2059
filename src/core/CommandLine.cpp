#include "core/CommandLine.h"

#include "crypto/CryptoBase.h"
#include "platform/ArgumentArea.h"
#include "platform/FileSystem.h"
#include "platform/Listed.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>

namespace qk::core {

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

namespace {

bool IsPasswordSwitch(const std::string& word) {
  const std::string trimmed = Trim(word);
  return trimmed == "-P" || trimmed == "-p";
}

} // namespace

void ClearPasswordArguments(std::vector<std::string>& args) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (IsEndOfSwitches(args[i])) break;
    if (!IsPasswordSwitch(args[i])) continue;
    std::string& value = args[++i];
    value.resize(value.capacity());
    crypto::SecureZero(value.data(), value.size());
    value.clear();
  }
}

void HidePasswordArguments(int argc, char** argv) {
  std::vector<int> values;
  for (int i = 1; i + 1 < argc; ++i) {
    if (IsEndOfSwitches(argv[i])) break;
    if (IsPasswordSwitch(argv[i])) values.push_back(++i);
  }
  platform::HideArguments(argc, argv, values);
}

namespace {

// The switch a word of the command line is, upper-cased and trimmed, or empty for a path. After
// "--" every word is a path. A word that names an existing file is a switch only when it is one
// exactly as written ("-W", not "-w" or " -W"): a file that another user named like a switch in
// a shared folder reaches a glob such as "qk -E *" as a path.
std::string SwitchOf(const std::string& given, bool optionsEnded, const std::string& startDir) {
  if (optionsEnded) return std::string();
  std::string word = Trim(given);
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  static constexpr std::array<const char*, 8> kSwitches{"-E", "-D", "-W", "-F",
                                                        "-I", "-P", "-H", "-A"};
  if (std::find_if(kSwitches.begin(), kSwitches.end(),
                   [&](const char* known) { return word == known; }) == kSwitches.end()) {
    return std::string();
  }
  if (given != word && platform::FileExists(platform::MakeAbsolute(given, startDir))) {
    return std::string();
  }
  return word;
}

bool TakesValue(const std::string& word) {
  return word == "-P" || word == "-H" || word == "-A";
}

// Goes through the arguments in order: a switch goes to onSwitch with its value (the next
// argument, trimmed, for the switches that take one; empty otherwise), every other argument, and
// every argument after the end of switches, to onPath.
void WalkArguments(const std::vector<std::string>& args, const std::string& startDir,
                   const std::function<void(const std::string&, std::string&)>& onSwitch,
                   const std::function<void(const std::string&)>& onPath) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!optionsEnded && args[i] == kEndOfSwitches) {
      optionsEnded = true;
      continue;
    }
    const std::string word = SwitchOf(args[i], optionsEnded, startDir);
    if (word.empty()) {
      onPath(args[i]);
      continue;
    }
    std::string value = TakesValue(word) && i + 1 < args.size() ? Trim(args[++i]) : std::string();
    onSwitch(word, value);
  }
}

} // namespace

bool IsEndOfSwitches(const std::string& word) {
  return word == kEndOfSwitches;
}

StartAction ParseCommandLine(const std::vector<std::string>& args, const std::string& startDir,
                             engine::BatchRun& run, TFindFile& finder,
                             std::vector<std::string>* missing) {
  using engine::OperationMode;
  engine::RunState& state = run.State();
  state.Mode = OperationMode::Encrypt;
  const auto onSwitch = [&](const std::string& word, std::string& value) {
    if (word == "-E") {
      state.Mode = OperationMode::Encrypt;
    } else if (word == "-D") {
      state.Mode = OperationMode::Decrypt;
    } else if (word == "-W") {
      state.Mode = OperationMode::Wipe;
    } else if (word == "-F") {
      state.AutoRun = true;
    } else if (word == "-I") {
      state.ExitAfterRun = true;
    } else if (word == "-P") {
      state.Password = platform::SecretText::Taking(value);
    } else if (word == "-H") {
      state.PasswordHint = value;
    } else if (word == "-A") {
      const std::string& output = value;
      state.OutputNameOverride = output.empty() ? output : platform::MakeAbsolute(output, startDir);
      // The output's folder is held to the one named now, as the sources' folders are.
      if (!output.empty())
        platform::NoteFolder(platform::ExtractFilePath(state.OutputNameOverride));
    }
  };
  const auto onPath = [&](const std::string& given) {
    const std::string path = platform::MakeAbsolute(given, startDir);
    if (missing != nullptr && !platform::FileExists(path)) missing->push_back(given);
    AddPaths(
        finder, {path}, [&](const std::string& file) { run.AddFile(file); },
        [&](const std::string& folder, int error) { run.AddUnreadableFolder(folder, error); });
  };
  WalkArguments(args, startDir, onSwitch, onPath);

  if (state.Mode != OperationMode::Wipe && state.Password.Empty()) state.AutoRun = false;
  if (!state.OutputNameOverride.empty()) {
    return run.Entries().size() == 1 ? StartAction::SingleOutput : StartAction::Close;
  }
  if (run.Entries().empty()) {
    switch (state.Mode) {
    case OperationMode::Encrypt:
      return StartAction::EncryptDialog;
    case OperationMode::Decrypt:
      return StartAction::DecryptDialog;
    case OperationMode::Wipe:
      return StartAction::OptionsDialog;
    }
  }
  return StartAction::ShowList;
}

bool AsksForUnattendedRun(const std::vector<std::string>& args, const std::string& startDir) {
  bool wipe = false;
  bool autoRun = false;
  bool password = false;
  bool output = false;
  const auto onSwitch = [&](const std::string& word, const std::string& value) {
    if (word == "-E" || word == "-D" || word == "-W") wipe = word == "-W";
    if (word == "-F") autoRun = true;
    if (word == "-P") password = !value.empty();
    if (word == "-A") output = !value.empty();
  };
  WalkArguments(args, startDir, onSwitch, [](const std::string&) {});
  return output || (autoRun && (wipe || password));
}

void RunSingleOutput(engine::BatchRun& run) {
  engine::RunState& state = run.State();
  state.AutoRun = true;
  state.KeepSources = true;
  run.RunBatch();
}

} // namespace qk::core
