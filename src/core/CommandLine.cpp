#include "core/CommandLine.h"

#include "crypto/CryptoBase.h"
#include "platform/FileSystem.h"
#include "platform/Listed.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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
    if (!IsPasswordSwitch(args[i])) continue;
    std::string& value = args[++i];
    value.resize(value.capacity());
    crypto::SecureZero(value.data(), value.size());
    value.clear();
  }
}

void HidePasswordArguments(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (!IsPasswordSwitch(argv[i])) continue;
    ++i;
    crypto::SecureZero(argv[i], std::strlen(argv[i]));
  }
}

StartAction ParseCommandLine(const std::vector<std::string>& args, const std::string& startDir,
                             engine::BatchRun& run, TFindFile& finder) {
  using engine::OperationMode;
  engine::RunState& state = run.State();
  state.Mode = OperationMode::Encrypt;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string word = Trim(args[i]);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto value = [&]() { return i + 1 < args.size() ? Trim(args[++i]) : std::string(); };
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
      std::string given = value();
      state.Password = platform::SecretText::Taking(given);
    } else if (word == "-H") {
      state.PasswordHint = value();
    } else if (word == "-A") {
      const std::string output = value();
      state.OutputNameOverride = output.empty() ? output : platform::MakeAbsolute(output, startDir);
      // The output's folder is held to the one named now, as the sources' folders are.
      if (!output.empty())
        platform::NoteFolder(platform::ExtractFilePath(state.OutputNameOverride));
    } else {
      AddPaths(
          finder, {platform::MakeAbsolute(args[i], startDir)},
          [&](const std::string& file) { run.AddFile(file); },
          [&](const std::string& folder, int error) { run.AddUnreadableFolder(folder, error); });
    }
  }

  if (state.Mode != OperationMode::Wipe && state.Password.Empty()) state.AutoRun = false;
  if (!state.OutputNameOverride.empty()) {
    return run.Entries().size() == 1 ? StartAction::ProcessSingle : StartAction::Close;
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

std::optional<engine::FileResult> ProcessSingle(engine::BatchRun& run,
                                                const engine::BatchOptions& options) {
  engine::RunState& state = run.State();
  const std::string& path = run.Entries().front().Path;
  switch (state.Mode) {
  case engine::OperationMode::Encrypt:
    return run.Engine().EncryptFile(path, state.OutputNameOverride, state.Password,
                                    state.PasswordHint, options.Algorithm, options.AddHMAC);
  case engine::OperationMode::Decrypt:
    return run.Engine().DecryptFile(path, state.Password);
  case engine::OperationMode::Wipe:
    break;
  }
  return std::nullopt;
}

} // namespace qk::core
