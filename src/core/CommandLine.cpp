#include "core/CommandLine.h"

#include "crypto/CryptoBase.h"
#include "platform/ArgumentArea.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hardening.h"
#include "platform/Listed.h"
#include "platform/PathText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace qk::core {

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

namespace {

// The switch a word of the command line reads as, upper-cased and trimmed, or empty for a path.
std::string SwitchOf(const std::string& given) {
  std::string word = Trim(given);
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  static constexpr std::array<const char*, 8> kSwitches{"-E", "-D", "-W", "-F",
                                                        "-I", "-P", "-H", "-A"};
  if (std::find_if(kSwitches.begin(), kSwitches.end(),
                   [&](const char* known) { return word == known; }) == kSwitches.end()) {
    return std::string();
  }
  return word;
}

bool TakesValue(const std::string& word) {
  return word == "-P" || word == "-H" || word == "-A";
}

// Called for each switch: the switch (SwitchOf), its index in the arguments, and the index of
// its value (the next argument, for the switches that take one and when there is one).
using SwitchVisitor =
    std::function<void(const std::string&, std::size_t, std::optional<std::size_t>)>;

// Goes through the arguments in order: a switch goes to onSwitch, every other argument, and
// every argument after the end of switches, to onPath. The one reading of the command line: the
// parse, the refusal of ambiguous words and the hiding of the password all go through it.
void WalkArguments(const std::vector<std::string>& args, const SwitchVisitor& onSwitch,
                   const std::function<void(const std::string&)>& onPath) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!optionsEnded && IsEndOfSwitches(args[i])) {
      optionsEnded = true;
      continue;
    }
    const std::string word = optionsEnded ? std::string() : SwitchOf(args[i]);
    if (word.empty()) {
      onPath(args[i]);
      continue;
    }
    std::optional<std::size_t> value;
    if (TakesValue(word) && i + 1 < args.size()) value = i + 1;
    onSwitch(word, i, value);
    if (value) i = *value;
  }
}

} // namespace

std::vector<std::size_t> PasswordArguments(const std::vector<std::string>& args) {
  std::vector<std::size_t> values;
  WalkArguments(
      args,
      [&](const std::string& word, std::size_t, std::optional<std::size_t> value) {
        if (word == "-P" && value) values.push_back(*value);
      },
      [](const std::string&) {});
  return values;
}

void ClearPasswordArguments(std::vector<std::string>& args) {
  for (const std::size_t at : PasswordArguments(args)) platform::SecureClear(args[at]);
}

void HidePasswordArguments(int argc, char** argv) {
  if (argc < 2) return;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<int> values;
  for (const std::size_t at : PasswordArguments(args)) values.push_back(static_cast<int>(at) + 1);
  // The copies go as the values in the argument area do.
  for (std::string& arg : args) platform::SecureClear(arg);
  platform::HideArguments(argc, argv, values);
}

std::string AmbiguousSwitch(const std::vector<std::string>& args, const std::string& startDir) {
  std::string found;
  WalkArguments(
      args,
      [&](const std::string&, std::size_t at, std::optional<std::size_t>) {
        if (found.empty() && platform::FileExists(platform::MakeAbsolute(args[at], startDir)))
          found = args[at];
      },
      [](const std::string&) {});
  return found;
}

std::optional<Refusal> RefusalOf(const std::vector<std::string>& args,
                                 const std::string& startDir) {
  if (std::string word = AmbiguousSwitch(args, startDir); !word.empty())
    return Refusal{Refusal::Why::NamesAFile, std::move(word)};
  std::optional<Refusal> found;
  std::string mode;
  bool password = false;
  WalkArguments(
      args,
      [&](const std::string& word, std::size_t at, std::optional<std::size_t> value) {
        if (found) return;
        if (word == "-E" || word == "-D" || word == "-W") {
          if (!mode.empty() && mode != word) found = Refusal{Refusal::Why::OtherMode, args[at]};
          mode = word;
        } else if (word == "-P") {
          if (password) found = Refusal{Refusal::Why::PasswordTwice, args[at]};
          password = true;
        } else if (word == "-A" && value && platform::HasHiddenNameShape(Trim(args[*value]))) {
          found = Refusal{Refusal::Why::HiddenOutput, Trim(args[*value])};
        }
      },
      [](const std::string&) {});
  return found;
}

namespace {

// What a refusal says after the refused word, on the report stream and in the warning box; most
// go on with the way out, paths after "--".
struct RefusalText {
  const char* line;
  const char* warning;
  bool pathsAfterEnd = true;
};

RefusalText TextOf(Refusal::Why why) {
  switch (why) {
  case Refusal::Why::NamesAFile:
    return {"is a switch and also names a file here;",
            "はスイッチですが、同じ名前のファイルもあります。"};
  case Refusal::Why::OtherMode:
    return {"asks for a second, different mode;", "は二つめの、異なるモードのスイッチです。"};
  case Refusal::Why::PasswordTwice:
    return {"gives the password a second time;", "はパスワードを二度目に指定しています。"};
  case Refusal::Why::HiddenOutput:
    break;
  }
  return {
      "has the shape of QK's hidden working files (\".qk-\" and 12 letters or digits), which "
      "later runs clear away; nothing was done. Give -A another name.",
      "は QK の作業用の隠しファイル（「.qk-」と英小文字・数字12文字）と同じ形の名前です。何も処理"
      "していません。\n-A には別の名前を指定してください。",
      false};
}

} // namespace

std::string RefusalLine(const Refusal& refusal) {
  const RefusalText text = TextOf(refusal.why);
  std::string line = "qk: \"" + refusal.word + "\" " + text.line;
  if (text.pathsAfterEnd) line += " nothing was done. Put paths after \"--\" (qk -E -- *).";
  return line;
}

std::string RefusalWarning(const Refusal& refusal, const std::string& shownWord) {
  const RefusalText text = TextOf(refusal.why);
  std::string warning = "「" + shownWord + "」" + text.warning;
  if (text.pathsAfterEnd)
    warning += "何も処理していません。\nパスは「--」の後に書いてください（例：qk -E -- *）。";
  return warning;
}

bool IsEndOfSwitches(const std::string& word) {
  return word == kEndOfSwitches;
}

StartAction ParseCommandLine(const std::vector<std::string>& args, const std::string& startDir,
                             engine::BatchRun& run, TFindFile& finder,
                             std::vector<std::string>* missing, std::optional<Refusal>* refusal) {
  using engine::OperationMode;
  if (std::optional<Refusal> refused = RefusalOf(args, startDir)) {
    if (refusal != nullptr) *refusal = std::move(refused);
    return StartAction::Refuse;
  }
  engine::RunState& state = run.State();
  state.Mode = OperationMode::Encrypt;
  const auto onSwitch = [&](const std::string& word, std::size_t,
                            std::optional<std::size_t> valueAt) {
    std::string value = valueAt ? Trim(args[*valueAt]) : std::string();
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
  WalkArguments(args, onSwitch, onPath);

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

bool AsksForUnattendedRun(const std::vector<std::string>& args) {
  bool wipe = false;
  bool autoRun = false;
  bool password = false;
  bool output = false;
  const auto onSwitch = [&](const std::string& word, std::size_t,
                            std::optional<std::size_t> valueAt) {
    const bool hasValue = valueAt && !Trim(args[*valueAt]).empty();
    if (word == "-E" || word == "-D" || word == "-W") wipe = word == "-W";
    if (word == "-F") autoRun = true;
    if (word == "-P") password = hasValue;
    if (word == "-A") output = hasValue;
  };
  WalkArguments(args, onSwitch, [](const std::string&) {});
  return output || (autoRun && (wipe || password));
}

std::string InformationText(const std::vector<std::string>& args, const std::string& version) {
  if (args.size() != 1) return std::string();
  if (args[0] == "--version") return "qk " + version + "\n";
  if (args[0] != "--help") return std::string();
  return "usage: qk [SWITCH...] [--] [PATH...]\n"
         "  -E            encrypt the paths that follow (the default)\n"
         "  -D            decrypt them\n"
         "  -W            wipe them\n"
         "  -F            run at once without questions, then end (needs -P, except with -W)\n"
         "  -I            end after the run\n"
         "  -P PASSWORD   the password\n"
         "  -H HINT       the password hint\n"
         "  -A OUTPUT     the output of exactly one file, written without questions\n"
         "  --            every word after it is a path (qk -E -- *)\n"
         "  --help        print this and end\n"
         "  --version     print the version and end\n"
         "Switches may be in upper or lower case. While QK is open, a start with paths and no\n"
         "run without questions hands them to the open window. The manual: F1 in the main\n"
         "window.\n";
}

std::optional<platform::HandOverRequest> HandOverOf(const std::vector<std::string>& args,
                                                    const std::string& startDir) {
  if (AsksForUnattendedRun(args) || !AmbiguousSwitch(args, startDir).empty()) return std::nullopt;
  platform::HandOverRequest request;
  WalkArguments(
      args,
      [&](const std::string& word, std::size_t, std::optional<std::size_t>) {
        if (request.paths.empty() && (word == "-E" || word == "-D" || word == "-W"))
          request.mode = word[1];
      },
      [&](const std::string& given) {
        request.paths.push_back(platform::MakeAbsolute(given, startDir));
      });
  return request;
}

void RunSingleOutput(engine::BatchRun& run) {
  engine::RunState& state = run.State();
  state.AutoRun = true;
  state.KeepSources = true;
  run.RunBatch();
}

} // namespace qk::core
