#include "engine/BatchRun.h"

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Listed.h"
#include "platform/PathText.h"

#include <algorithm>

namespace qk::engine {

namespace {

constexpr std::size_t kMaxNameBytes = 199;

bool NameTooLong(const std::string& path) {
  return platform::SystemByteLength(platform::ExtractFileName(path)) > kMaxNameBytes;
}

bool ExistsReadOnly(const std::string& path) {
  return platform::FileExists(path) && platform::IsReadOnly(path);
}

// For each entry, how many of those right after it are in its folder: the outputs still to
// come there when it runs.
std::vector<std::size_t> FollowersInFolder(const std::vector<ListEntry>& entries) {
  std::vector<std::size_t> followers(entries.size(), 0);
  for (std::size_t i = entries.size(); i-- > 1;) {
    if (platform::ExtractFilePath(entries[i].Path) ==
        platform::ExtractFilePath(entries[i - 1].Path))
      followers[i - 1] = followers[i] + 1;
  }
  return followers;
}

} // namespace

std::string FinishedText(int failures) {
  return failures != 0 ? "終了しました。　失敗数 : " + std::to_string(failures) + "個"
                       : std::string(kAllDone);
}

BatchRun::BatchRun(BatchHost& host, BatchOptions& options, Random& random)
    : host_(host), options_(options), random_(random),
      engine_(host, state_, options.Engine, random) {
  engine_.GroupOutputs(&durable_);
}

void BatchRun::Touch(std::size_t index) {
  if (touched_.first == touched_.last) {
    touched_.first = index;
    touched_.last = index + 1;
  } else {
    touched_.first = std::min(touched_.first, index);
    touched_.last = std::max(touched_.last, index + 1);
  }
}

void BatchRun::ClearList() {
  entries_.clear();
  touched_.reshaped = true;
  // A new list gets its own question, count and captions when it is shown.
  state_.ListShown = false;
  // What earlier walks listed no longer stands for anything in the list.
  platform::ForgetListed();
  host_.Changed();
}

void BatchRun::AddFile(const std::string& path) {
  ListEntry entry;
  entry.Caption = path;
  entry.Path = path;
  if (state_.Mode == OperationMode::Decrypt && host_.ShowsList())
    entry.Sub1 = engine_.ReadStoredHint(path).Text();
  entries_.push_back(std::move(entry));
  Touch(entries_.size() - 1);
  host_.Changed();
}

void BatchRun::AddUnreadableFolder(const std::string& path, int error) {
  ListEntry entry;
  entry.Caption = path;
  entry.Path = path;
  entry.FolderError = error;
  entries_.push_back(std::move(entry));
  Touch(entries_.size() - 1);
  host_.Changed();
}

void BatchRun::ShowList() {
  if (state_.ListShown) return;
  state_.ListEditable = true;
  dialog_.CloseCaption = "キャンセル";
  dialog_.OKVisible = true;
  // An empty list has nothing to run: OK stays off rather than ask for a password in vain.
  dialog_.OKEnabled = !entries_.empty();
  dialog_.ReEncVisible = false;
  dialog_.ReEncEnabled = false;
  const std::string n = std::to_string(entries_.size());
  switch (state_.Mode) {
  case OperationMode::Encrypt:
    dialog_.Caption = "ファイルの暗号化";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルを暗号化します。暗号化されたファイルは復号するまで他のアプリケーシ"
        "ョンからはアクセスできなくなります。よろしいですか？";
    dialog_.Column1Caption.clear();
    dialog_.Column2Caption.clear();
    break;
  case OperationMode::Decrypt:
    dialog_.Caption = "ファイルの復号";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルを復号します。これらのファイルが正しいパスワードで暗号化されたもの"
        "であることを確認してください。よろしいですか？";
    dialog_.Column1Caption = "パスワードヒント";
    dialog_.Column2Caption = "復号後ファイル名";
    break;
  case OperationMode::Wipe:
    dialog_.Caption = "ファイルの抹消";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルをディスクから完全に抹消(wipe)します。抹消されたファイルは復元が不"
        "可能となります。よろしいですか？";
    dialog_.Column1Caption.clear();
    dialog_.Column2Caption.clear();
    break;
  }
  state_.ListShown = true;
  host_.ShowProgress(dialog_.Label1);
  if (state_.AutoRun) {
    host_.Changed();
    RunBatch();
    return;
  }
  dialog_.KeepOnTop = true;
  host_.Changed();
}

void BatchRun::SetCaption(std::size_t index, const char* suffix) {
  std::string caption = "[";
  caption += std::to_string(index + 1);
  caption += '/';
  caption += std::to_string(entries_.size());
  caption += "Files]";
  caption += entries_[index].Path;
  caption += suffix;
  dialog_.Caption = std::move(caption);
  host_.Changed();
}

void BatchRun::RunBatch() {
  if (entries_.empty() && !state_.AutoRun && !state_.ReEncrypting) return;
  if (state_.Mode == OperationMode::Wipe && !state_.AutoRun) {
    if (!host_.Confirm("これは抹消モードです！本当によろしいですか？")) return;
  }
  if (state_.Mode != OperationMode::Wipe && !state_.AutoRun && !state_.ReEncrypting) {
    auto answer = host_.AskPassword(state_.Mode == OperationMode::Decrypt);
    if (!answer) return;
    state_.Password = std::move(answer->password);
    // Only an encryption takes a hint: the dialog of a decryption has none to give, and the
    // remembered hint stays as it was.
    if (state_.Mode == OperationMode::Encrypt) state_.PasswordHint = answer->hint;
    host_.ClearPasswordFields(!options_.DontClearPassBox, !options_.SaveHint);
  }

  dialog_.DialogEnabled = false;
  dialog_.ListEnabled = false;
  dialog_.OKEnabled = false;
  dialog_.CloseEnabled = false;
  failures_ = 0;
  running_ = true;
  host_.Changed();

  // Small outputs wait nameless in the group only while the run goes: between runs, the engine
  // that Engine() gives out names what it writes before it returns.
  engine_.HoldOutputs(true);
  const std::vector<std::size_t> followers = FollowersInFolder(entries_);
  // The output of the entry under way, nameless until the group holds it.
  std::optional<FileEngine::Held> held;
  try {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      ListEntry& entry = entries_[i];
      // A re-encryption takes only what its decryption wrote; the rest keep what it said.
      if (state_.ReEncrypting && entry.Sub2.empty()) continue;
      engine_.ExpectOutputs(followers[i]);
      FileResult result;
      Settling settling;
      held.reset();
      if (entry.FolderError != 0) {
        result = FileResult{Outcome::FolderUnreadable, entry.Path, {}, entry.FolderError, {}};
      } else
        switch (state_.Mode) {
        case OperationMode::Encrypt:
          SetCaption(i, "を暗号化中");
          host_.ProcessMessages();
          result = EncryptEntry(entry, settling, held);
          break;
        case OperationMode::Decrypt:
          result = DecryptEntry(entry, settling, held);
          break;
        case OperationMode::Wipe:
          SetCaption(i, "を抹消中");
          host_.ProcessMessages();
          result = WipeEntry(entry);
          break;
        }
      const bool settle = state_.Mode != OperationMode::Wipe && Succeeded(result.outcome);
      entry.Result.reset(); // what an earlier run left (a re-encryption follows a decryption)
      Record(i, std::move(result));
      if (held) {
        Hold(i, settling, *std::exchange(held, std::nullopt));
      } else if (settle) {
        Settle(i, settling);
      }
    }
    // Every output durable, every source wiped that waited for it, before the run ends.
    durable_.Flush();
  } catch (...) {
    // Sources whose outputs were not yet proved durable stay; outputs that wait nameless go as
    // a failed one does.
    const auto drop = [this](platform::DurableGroup::Output& output) {
      engine_.DropNameless(output.file);
    };
    if (held) drop(held->output);
    durable_.Discard(drop);
    engine_.HoldOutputs(false);
    throw;
  }
  engine_.HoldOutputs(false);

  if (state_.Mode == OperationMode::Decrypt && options_.ReEnc) {
    dialog_.ReEncVisible = true;
    dialog_.ReEncEnabled = true;
  }
  Finish();
  if (state_.ExitAfterRun || state_.AutoRun) {
    Close();
    host_.EndProgram();
  }
}

void BatchRun::Record(std::size_t index, FileResult result) {
  ListEntry& entry = entries_[index];
  const bool failedBefore = entry.Result && Failed(*entry.Result);
  if (Failed(result) && !failedBefore) ++failures_;
  entry.Caption = ResultText(result) + entry.Path;
  entry.Result = std::move(result);
  Touch(index);
  host_.Changed();
}

void BatchRun::Settle(std::size_t index, const Settling& settling) {
  const bool holding = settling.wipe;
  durable_.AfterDurable([this, index, settling](int error) { Settled(index, settling, error); },
                        holding);
}

void BatchRun::Hold(std::size_t index, const Settling& settling, FileEngine::Held held) {
  Settling waiting = settling;
  waiting.renameAfterOfHeld = held.renameAfter;
  // A source that is to be wiped waits for its output's proof, which reads the output back.
  held.output.readBack = settling.wipe;
  durable_.Hold(std::move(held.output),
                [this, index, waiting](int error, platform::DurableGroup::Output& output) {
                  Landed(index, waiting, error, output);
                });
}

void BatchRun::Landed(std::size_t index, Settling settling, int error,
                      platform::DurableGroup::Output& output) {
  ListEntry& entry = entries_[index];
  const bool decrypting = state_.Mode == OperationMode::Decrypt;
  const auto failed = [&](int why) {
    FileResult result = *entry.Result;
    result.outcome = decrypting ? Outcome::DecryptFailed : Outcome::EncryptFailed;
    result.output.clear();
    result.error = why;
    if (decrypting) entry.Sub2.clear();
    Record(index, std::move(result));
  };
  if (error != 0 && !output.file.Published()) {
    // Its data or its name failed: the output never had a name and goes; its source stays.
    engine_.DropNameless(output.file);
    failed(error);
    return;
  }
  // The name it got, which a name taken meanwhile may have changed.
  entry.Result->output = output.path;
  if (decrypting) entry.Sub2 = output.path;
  if (settling.renameAfterOfHeld) {
    settling.renameAfter = *settling.renameAfterOfHeld;
    entry.Result->renameAfter = settling.renameAfter;
  }
  if (error == 0 && settling.wipe) {
    // The source goes only once its output is proved from the disk.
    const bool proved =
        decrypting ? engine_.VerifyDecryption(output.path, &settling.digest, output.readBack)
                   : engine_.VerifyEncryption(output.path, state_.Password, &settling.digest,
                                              output.readBack);
    if (!proved) {
      RemoveOutput(output.path);
      failed(0);
      return;
    }
  }
  Settled(index, settling, error);
}

void BatchRun::Settled(std::size_t index, const Settling& settling, int flushError) {
  ListEntry& entry = entries_[index];
  FileResult result = *entry.Result;
  if (flushError != 0) {
    // The output may not be on the disk: its source stays, and the entry has failed.
    if (settling.wipe) {
      result.sourceWipe = SourceWipe::Failed;
    } else {
      // A failed entry leaves no output behind; the source it came from is whole.
      RemoveOutput(result.output);
      result.output.clear();
      result.outcome =
          state_.Mode == OperationMode::Decrypt ? Outcome::DecryptFailed : Outcome::EncryptFailed;
    }
    result.error = flushError;
    Record(index, std::move(result));
    return;
  }
  if (settling.wipe) {
    WipeSource(index, settling);
    return;
  }
  Completed(index, settling, std::move(result));
}

void BatchRun::Completed(std::size_t index, const Settling& settling, FileResult result) {
  ListEntry& entry = entries_[index];
  // The decrypted file takes the container's name once the container is gone.
  if (settling.renameAfter && platform::RenameFile(result.output, result.path)) {
    result.output = result.path;
    entry.Sub2 = result.output;
  }
  Record(index, std::move(result));
}

// An output that is not to stay: a decrypted file is plaintext and is wiped, a container is
// removed.
void BatchRun::RemoveOutput(const std::string& output) {
  if (state_.Mode == OperationMode::Decrypt) {
    try {
      engine_.WipeFile(output);
      return;
    } catch (const std::exception&) {
    }
  }
  platform::DeleteFile(output);
}

bool BatchRun::WipesSources() const {
  if (state_.KeepSources) return false;
  return state_.Mode == OperationMode::Decrypt ? options_.WipeDecSource : options_.WipeSource;
}

FileResult BatchRun::EncryptEntry(ListEntry& entry, Settling& settling,
                                  std::optional<FileEngine::Held>& held) {
  const std::string& path = entry.Path;
  const auto refused = [&](Outcome outcome) {
    return FileResult{outcome, path, {}, 0, SourceWipe::NotAsked};
  };
  if (state_.ReEncrypting) state_.PasswordHint = entry.Sub1;
  if (NameTooLong(path)) return refused(Outcome::EncryptNameTooLong);
  std::string output;
  // A forced output path (the command line's single-file switch) replaces the naming mode.
  if (!state_.OutputNameOverride.empty()) {
    output = state_.OutputNameOverride;
  } else
    switch (options_.NameMode) {
    case 0:
      output = path + ".enc";
      break;
    case 1:
      output = path + options_.OwnExtStr;
      break;
    case 2:
      output = MakeRandomName(path, options_.OwnExtStr, random_);
      break;
    default:
      return refused(Outcome::UnexpectedError);
    }
  // A re-encrypted container is as readable as the container its file was decrypted from: the
  // decrypted file was its owner's alone only while it was out.
  std::optional<std::uint32_t> mode;
  if (state_.ReEncrypting && entry.Result && entry.Result->sourceMode != 0)
    mode = entry.Result->sourceMode;
  FileResult result = engine_.EncryptFile(path, output, state_.Password, state_.PasswordHint,
                                          options_.Algorithm, options_.AddHMAC, mode);
  if (!Succeeded(result.outcome)) {
    if (ExistsReadOnly(path)) result.outcome = Outcome::EncryptReadOnly;
    return result;
  }
  held = engine_.TakeHeld();
  // A container is a file made anew, never one that was there: it can be its source only by name.
  if (WipesSources() && result.path != result.output) {
    // The source goes only once its container is proved from the disk; a held one is proved
    // once it is durable (Landed).
    settling.digest = engine_.LastPlainDigest();
    if (!held && !engine_.VerifyEncryption(result.output, state_.Password)) {
      RemoveOutput(result.output);
      result.outcome = Outcome::EncryptFailed;
      result.output.clear();
      return result;
    }
    // The source goes once its container is durable (Settle).
    settling.wipe = true;
    settling.stamp = engine_.LastSourceStamp();
  }
  return result;
}

FileResult BatchRun::DecryptEntry(ListEntry& entry, Settling& settling,
                                  std::optional<FileEngine::Held>& held) {
  const std::string& path = entry.Path;
  const std::size_t index = static_cast<std::size_t>(&entry - entries_.data());
  if (NameTooLong(path)) return FileResult{Outcome::DecryptNameTooLong, path, {}, 0, {}};
  SetCaption(index, "を復号中");
  FileResult result = engine_.DecryptFile(path, state_.Password);
  if (!Succeeded(result.outcome)) {
    if (ExistsReadOnly(path)) result.outcome = Outcome::DecryptReadOnly;
    return result;
  }
  held = engine_.TakeHeld();
  if (WipesSources()) {
    // The container goes only once the output is proved from the disk; a held one is proved
    // once it is durable (Landed).
    settling.digest = engine_.LastPlainDigest();
    if (!held && !engine_.VerifyDecryption(result.output)) {
      RemoveOutput(result.output);
      result.outcome = Outcome::DecryptFailed;
      result.output.clear();
      return result;
    }
    // The container goes once its output is durable (Settle).
    settling.wipe = true;
    settling.stamp = engine_.LastSourceStamp();
  }
  host_.ProcessMessages();
  if (result.fileDate != -1) {
    // A held output is dated through its descriptor, before its data is flushed.
    if (held) {
      const std::int64_t seconds = platform::UnpackFileDate(result.fileDate);
      if (seconds != -1) held->output.file.SetModified(seconds);
    } else {
      platform::SetFileDate(result.output, result.fileDate);
    }
  }
  settling.renameAfter = result.renameAfter;
  entry.Sub2 = result.output;
  return result;
}

FileResult BatchRun::WipeEntry(ListEntry& entry) {
  FileResult result{Outcome::Wiped, entry.Path, {}, 0, SourceWipe::NotAsked};
  try {
    engine_.WipeFile(entry.Path);
  } catch (const platform::IoError& e) {
    result.outcome = Outcome::WipeFailed;
    result.error = e.errorCode();
  } catch (const std::exception&) {
    result.outcome = Outcome::WipeFailed;
  }
  return result;
}

// During the wipe the skip button is the only live control: the dialog comes alive for it while
// the list, OK and Close stay off, and they stay off after it until the run has ended.
void BatchRun::WipeSource(std::size_t index, const Settling& settling) {
  dialog_.ListEnabled = false;
  dialog_.OKEnabled = false;
  dialog_.CloseEnabled = false;
  dialog_.DialogEnabled = true;
  dialog_.SkipWipeVisible = true;
  dialog_.SkipWipeEnabled = true;
  host_.Changed();
  FileResult result = *entries_[index].Result;
  platform::File overwritten;
  bool ended = true;
  // Only the file that was read goes, and only as it was read: whatever changed it since is in
  // neither file.
  try {
    overwritten = engine_.OverwriteFile(entries_[index].Path, &settling.stamp);
    ended = false;
  } catch (const ChangedBeforeWipeError&) {
    result.sourceWipe = SourceWipe::Changed;
  } catch (const platform::IoError& e) {
    result.sourceWipe = SourceWipe::Failed;
    result.error = e.errorCode();
  } catch (const std::exception&) {
    result.sourceWipe = SourceWipe::Failed;
  }
  dialog_.DialogEnabled = false;
  dialog_.SkipWipeVisible = false;
  dialog_.SkipWipeEnabled = false;
  host_.Changed();
  if (ended) {
    Completed(index, settling, std::move(result));
    return;
  }
  // A skipped wipe deletes at once. Otherwise the name goes once the overwrite is on the disk,
  // flushed together with the others of the group.
  if (state_.SkipWipe) {
    overwritten = platform::File();
    SourceOverwritten(index, settling, 0);
    return;
  }
  durable_.AfterOverwrite(std::move(overwritten), [this, index, settling](int error) {
    SourceOverwritten(index, settling, error);
  });
}

void BatchRun::SourceOverwritten(std::size_t index, const Settling& settling, int flushError) {
  FileResult result = *entries_[index].Result;
  // An overwrite that may not be on the disk keeps the name: the source is not wiped.
  if (flushError != 0) {
    result.sourceWipe = SourceWipe::Failed;
    result.error = flushError;
  } else {
    platform::DeleteFile(entries_[index].Path);
    result.sourceWipe = SourceWipe::Wiped;
  }
  Completed(index, settling, std::move(result));
}

void BatchRun::Finish() {
  if (!options_.ReEnc) state_.Password.Clear();
  if (!options_.SaveHint) state_.PasswordHint.clear();
  state_.ListEditable = false;
  dialog_.Caption = FinishedText(failures_);
  // The hint column keeps its caption: its cells still hold the hints.
  dialog_.Label1 = dialog_.Caption;
  host_.ShowProgress(dialog_.Label1);
  dialog_.CloseCaption = "閉じる";
  dialog_.DialogEnabled = true;
  dialog_.ListEnabled = true;
  dialog_.OKEnabled = true;
  dialog_.OKVisible = false;
  dialog_.CloseEnabled = true;
  dialog_.CloseFocused = true;
  state_.ReEncrypting = false;
  running_ = false;
  host_.Changed();
}

void BatchRun::DeleteSelected() {
  if (!state_.ListEditable) return;
  bool any = false;
  for (const auto& e : entries_) any = any || e.Selected;
  if (!any) return;
  std::erase_if(entries_, [](const ListEntry& e) { return e.Selected; });
  touched_.reshaped = true;
  state_.ListShown = false;
  ShowList();
}

void BatchRun::ReEncrypt() {
  if (!options_.ReEnc) return;
  if (!host_.Confirm(
          "これらの復号済みのファイルを復号時のパスワードとヒントで再暗号化します。よろしい"
          "ですか？\r\n（※注意！：再暗号化の際は当該ファイルが使用中であったり、削除、"
          "移動、置き換え等されていないかご確認下さい。）")) {
    return;
  }
  for (auto& entry : entries_) {
    if (entry.Sub2.empty()) continue;
    entry.Caption = entry.Sub2;
    entry.Path = entry.Sub2;
  }
  touched_.reshaped = true;
  state_.ReEncrypting = true;
  state_.Mode = OperationMode::Encrypt;
  dialog_.ReEncVisible = false;
  dialog_.ReEncEnabled = false;
  host_.Changed();
  RunBatch();
}

void BatchRun::Close() {
  state_.ListShown = false;
  state_.ListEditable = false;
  dialog_.KeepOnTop = false;
  host_.Changed();
  host_.ShowReturnForm();
}

} // namespace qk::engine
