#include "engine/ChunkRun.h"

#include "engine/BatchRun.h"
#include "engine/OutputNames.h"
#include "platform/CodePage.h"
#include "platform/Durable.h"
#include "platform/FileSystem.h"
#include "platform/PathText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace qk::engine {

namespace {

using Step = ChunkRun::Step;

constexpr std::size_t kMaxNameBytes = 199;

bool NameTooLong(const std::string& path) {
  return platform::SystemByteLength(platform::ExtractFileName(path)) > kMaxNameBytes;
}

bool ExistsReadOnly(const std::string& path) {
  return platform::FileExists(path) && platform::IsReadOnly(path);
}

int ErrorOf(const platform::IoError& e) {
  return e.errorCode() != 0 ? e.errorCode() : EIO;
}

} // namespace

ChunkRun::ChunkRun(FileEngine& engine, RunState& state, const BatchOptions& options, Random& random,
                   ChunkHost& host)
    : engine_(engine), state_(state), options_(options), random_(random), host_(host) {}

void ChunkRun::Move(Item& item, Step from, Step to) {
  if (item.step != from) {
    std::fprintf(stderr, "qk: entry %zu moved to step %d from %d, not from %d\n", item.index,
                 static_cast<int>(to), static_cast<int>(item.step), static_cast<int>(from));
    std::abort();
  }
  item.step = to;
}

bool ChunkRun::Decrypting() const {
  return state_.Mode == OperationMode::Decrypt;
}

bool ChunkRun::WipesSources() const {
  if (state_.KeepSources) return false;
  return Decrypting() ? options_.WipeDecSource : options_.WipeSource;
}

bool ChunkRun::Stopping() const {
  return state_.Stopping();
}

// A failed entry leaves no output behind, and its source is whole.
void ChunkRun::End(Item& item, Outcome failed, int error) {
  item.result.outcome = failed;
  item.result.output.clear();
  item.result.error = error;
  item.step = Step::Ended;
}

void ChunkRun::RemoveOutput(const std::string& output) {
  if (Decrypting()) {
    try {
      engine_.WipeFile(output);
      return;
    } catch (const std::exception&) {
    }
  }
  platform::DeleteFile(output);
}

std::size_t ChunkRun::Run(const std::vector<ListEntry>& list, std::size_t first, std::size_t last,
                          std::vector<Finished>& done) {
  items_.clear();
  std::size_t next = first;
  try {
    next = Write(list, first, last);
    FlushData();
    Name();
    FlushFolder();
    Prove();
    Overwrite();
    FlushOverwrites();
    Remove();
  } catch (...) {
    Discard();
    throw;
  }
  Complete(done);
  return next;
}

// Write: each entry's operation, its output left nameless.
std::size_t ChunkRun::Write(const std::vector<ListEntry>& list, std::size_t first,
                            std::size_t last) {
  std::size_t i = first;
  for (; i < last; ++i) {
    const ListEntry& entry = list[i];
    // A re-encryption takes only what its decryption wrote; the rest keep what it said.
    if (state_.ReEncrypting && entry.Sub2.empty()) continue;
    if (Stopping()) break;
    Item item;
    item.index = i;
    item.entry = &entry;
    // Outputs wait open until their names are given: only as many as the process's share of
    // descriptors allows; the rest are begun in the next pass.
    if (state_.Mode != OperationMode::Wipe && entry.FolderError == 0) {
      item.kept = platform::KeptFile::TryTake();
      if (!item.kept && !items_.empty()) break;
    }
    engine_.ExpectOutputs(last - i - 1);
    try {
      if (entry.FolderError != 0) {
        item.result = FileResult{Outcome::FolderUnreadable, entry.Path, {}, entry.FolderError, {}};
      } else {
        switch (state_.Mode) {
        case OperationMode::Encrypt:
          item.result = Encrypt(item);
          break;
        case OperationMode::Decrypt:
          item.result = Decrypt(item);
          break;
        case OperationMode::Wipe:
          item.result = WipeOnly(item);
          break;
        }
      }
    } catch (const RunStopped&) {
      // The entry under way ends at its block; its nameless output went with it.
      break;
    }
    if (item.step == Step::Planned) item.step = Step::Ended;
    if (!item.held) item.kept.Release();
    items_.push_back(std::move(item));
  }
  return i;
}

FileResult ChunkRun::Encrypt(Item& item) {
  const ListEntry& entry = *item.entry;
  const std::string& path = entry.Path;
  const auto refused = [&](Outcome outcome) {
    return FileResult{outcome, path, {}, 0, SourceWipe::NotAsked};
  };
  host_.Began(item.index, "を暗号化中");
  if (NameTooLong(path)) return refused(Outcome::EncryptNameTooLong);
  std::string output;
  // A forced output path (the command line's single-file switch) replaces the naming mode.
  if (!state_.OutputNameOverride.empty()) {
    output = state_.OutputNameOverride;
  } else {
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
  }
  if (auto before = DoneBefore(item, output)) return *before;
  // A re-encrypted container is as readable as the container its file was decrypted from, and
  // carries the hint it had.
  std::optional<std::uint32_t> mode;
  if (state_.ReEncrypting && entry.Result && entry.Result->sourceMode != 0)
    mode = entry.Result->sourceMode;
  const std::string& hint = state_.ReEncrypting ? entry.Sub1 : state_.PasswordHint;
  FileResult result = engine_.EncryptFile(path, output, state_.Password, hint, options_.Algorithm,
                                          options_.AddHMAC, mode);
  if (!Succeeded(result.outcome)) {
    if (ExistsReadOnly(path)) result.outcome = Outcome::EncryptReadOnly;
    return result;
  }
  item.held = engine_.TakeHeld();
  Move(item, Step::Planned, item.held ? Step::Written : Step::Named);
  // A container is a file made anew, never one that was there: it can be its source only by name.
  if (WipesSources() && result.path != result.output) {
    item.wipe = true;
    item.digest = engine_.LastPlainDigest();
    item.stamp = engine_.LastSourceStamp();
  }
  return result;
}

FileResult ChunkRun::Decrypt(Item& item) {
  const std::string& path = item.entry->Path;
  if (NameTooLong(path)) return FileResult{Outcome::DecryptNameTooLong, path, {}, 0, {}};
  host_.Began(item.index, "を復号中");
  if (auto before = DoneBefore(item, {})) return *before;
  FileResult result = engine_.DecryptFile(path, state_.Password);
  if (!Succeeded(result.outcome)) {
    if (ExistsReadOnly(path)) result.outcome = Outcome::DecryptReadOnly;
    return result;
  }
  item.held = engine_.TakeHeld();
  Move(item, Step::Planned, item.held ? Step::Written : Step::Named);
  if (WipesSources()) {
    item.wipe = true;
    item.digest = engine_.LastPlainDigest();
    item.stamp = engine_.LastSourceStamp();
  }
  // The output is dated through its descriptor, before its data is flushed.
  if (result.fileDate != -1 && item.held) {
    const std::int64_t seconds = platform::UnpackFileDate(result.fileDate);
    if (seconds != -1) item.held->output.file.SetModified(seconds);
  }
  return result;
}

FileResult ChunkRun::WipeOnly(Item& item) {
  const ListEntry& entry = *item.entry;
  host_.Began(item.index, "を抹消中");
  FileResult result{Outcome::Wiped, entry.Path, {}, 0, SourceWipe::NotAsked};
  try {
    engine_.WipeFile(entry.Path);
    if (state_.SkipWipe) result.sourceWipe = SourceWipe::Skipped;
  } catch (const platform::IoError& e) {
    result.outcome = Outcome::WipeFailed;
    result.error = e.errorCode();
  } catch (const std::exception&) {
    result.outcome = Outcome::WipeFailed;
  }
  return result;
}

std::optional<FileResult> ChunkRun::DoneBefore(Item& item, const std::string& output) {
  const ListEntry& entry = *item.entry;
  if (!options_.Resume || !entry.FromFolder || !state_.OutputNameOverride.empty() ||
      state_.ReEncrypting)
    return std::nullopt;
  FileResult result{Outcome::EncryptFailed, entry.Path, {}, 0, SourceWipe::NotAsked};
  std::optional<FileEngine::DoneBefore> before;
  if (!Decrypting()) {
    if (engine_.IsContainer(entry.Path) == true) {
      result.outcome = Outcome::SkippedContainer;
      return result;
    }
    // Random names cannot be found again.
    if (options_.NameMode == 2) return std::nullopt;
    before = engine_.EncryptedBefore(entry.Path, output, state_.Password);
    result.outcome = Outcome::AlreadyEncrypted;
  } else {
    bool notContainer = false;
    before = engine_.DecryptedBefore(entry.Path, state_.Password, notContainer);
    if (notContainer) {
      result.outcome = Outcome::SkippedPlain;
      return result;
    }
    result.outcome = Outcome::AlreadyDecrypted;
  }
  if (!before) return std::nullopt;
  result.output = before->output;
  if (WipesSources()) {
    // Only the wipe is left: the output, there already, is made durable and proved from the
    // disk as a new one is.
    item.wipe = true;
    item.digest = before->digest;
    item.stamp = before->stamp;
    item.step = Step::Named;
  }
  return result;
}

// Flush: the data of every output written, together.
void ChunkRun::FlushData() {
  std::vector<platform::File*> files;
  std::vector<Item*> written;
  for (Item& item : items_) {
    if (item.step != Step::Written) continue;
    files.push_back(&item.held->output.file);
    written.push_back(&item);
  }
  const std::vector<int> errors = platform::FlushTogether(files, false);
  for (std::size_t i = 0; i < written.size(); ++i) {
    if (errors[i] == 0) continue;
    // Its data may not be on the disk: it goes without a name, and its source stays.
    Item& item = *written[i];
    engine_.DropNameless(item.held->output.file);
    item.held.reset();
    item.kept.Release();
    End(item, Decrypting() ? Outcome::DecryptFailed : Outcome::EncryptFailed, errors[i]);
  }
}

// Name: each output linked under its name, now that its data is on the disk.
void ChunkRun::Name() {
  for (Item& item : items_) {
    if (item.step != Step::Written) continue;
    platform::HeldOutput& output = item.held->output;
    const int error = platform::NameOutput(output.file, output.path, output.naming, output.another);
    if (error != 0) {
      engine_.DropNameless(output.file);
      item.held.reset();
      item.kept.Release();
      End(item, Decrypting() ? Outcome::DecryptFailed : Outcome::EncryptFailed, error);
      continue;
    }
    // The name it got, which a name taken meanwhile may have changed.
    item.result.output = output.path;
    if (item.held->renameAfter) item.result.renameAfter = *item.held->renameAfter;
    // A proof reads it back from the disk: its pages go now, and its reading begins together
    // with the others'.
    if (item.wipe) {
      output.file.DropCache(true);
      item.readBackBegun = true;
    }
    // Named, it needs its descriptor no more: its data is on the disk already.
    try {
      output.file.Close();
    } catch (const platform::IoError&) {
    }
    item.held.reset();
    item.kept.Release();
    Move(item, Step::Written, Step::Named);
  }
}

// Folder: the names made durable by one flush of their folder.
void ChunkRun::FlushFolder() {
  std::string folderOf;
  for (const Item& item : items_)
    if (item.step == Step::Named) folderOf = item.result.output;
  if (folderOf.empty()) return;
  int error = 0;
  try {
    platform::SyncFolderOf(folderOf);
  } catch (const platform::IoError& e) {
    error = ErrorOf(e);
  }
  for (Item& item : items_) {
    if (item.step != Step::Named) continue;
    if (error == 0) {
      Move(item, Step::Named, Step::Durable);
      continue;
    }
    // The output may not be on the disk: its source stays, and the entry has failed.
    item.result.error = error;
    if (item.wipe) {
      item.result.sourceWipe = SourceWipe::Failed;
      item.step = Step::Ended;
    } else {
      RemoveOutput(item.result.output);
      End(item, Decrypting() ? Outcome::DecryptFailed : Outcome::EncryptFailed, error);
    }
  }
}

// Prove: a source goes only once its output reads back from the disk as it must.
void ChunkRun::Prove() {
  for (Item& item : items_) {
    if (item.step != Step::Durable || !item.wipe) continue;
    if (Stopping()) {
      // A run that is to stop touches no source whose wipe has not begun.
      item.result.sourceWipe = SourceWipe::Stopped;
      item.step = Step::Ended;
      continue;
    }
    const std::string& output = item.result.output;
    bool proved = false;
    try {
      proved = Decrypting() ? engine_.VerifyDecryption(output, &item.digest, item.readBackBegun)
                            : engine_.VerifyEncryption(output, state_.Password, &item.digest,
                                                       item.readBackBegun);
    } catch (const RunStopped&) {
      item.result.sourceWipe = SourceWipe::Stopped;
      item.step = Step::Ended;
      continue;
    }
    if (!proved) {
      // An output that was there before this run is not this run's to remove.
      if (Succeeded(item.result.outcome)) RemoveOutput(output);
      End(item, Decrypting() ? Outcome::DecryptFailed : Outcome::EncryptFailed, 0);
      continue;
    }
    Move(item, Step::Durable, Step::Proved);
  }
}

// Overwrite: each proved source overwritten in place, only while it is still the file that was
// read; whatever changed it since is in neither file.
void ChunkRun::Overwrite() {
  for (Item& item : items_) {
    if (item.step != Step::Proved) continue;
    if (Stopping()) {
      item.result.sourceWipe = SourceWipe::Stopped;
      item.step = Step::Ended;
      continue;
    }
    // An overwrite waits open for the flush of them all within the process's share of
    // descriptors: when that is used up, those overwritten so far are flushed and removed first.
    item.kept = platform::KeptFile::TryTake();
    if (!item.kept) {
      FlushOverwrites();
      Remove();
      item.kept = platform::KeptFile::TryTake();
    }
    host_.Wiping(true);
    try {
      item.overwritten = engine_.OverwriteFile(item.entry->Path, &item.stamp);
      Move(item, Step::Proved, Step::Overwritten);
    } catch (const ChangedBeforeWipeError&) {
      item.result.sourceWipe = SourceWipe::Changed;
      item.step = Step::Ended;
    } catch (const platform::IoError& e) {
      item.result.sourceWipe = SourceWipe::Failed;
      item.result.error = e.errorCode();
      item.step = Step::Ended;
    } catch (const std::exception&) {
      item.result.sourceWipe = SourceWipe::Failed;
      item.step = Step::Ended;
    }
    host_.Wiping(false);
    // A skipped wipe deletes at once, without waiting for its overwrite to reach the disk.
    if (item.step == Step::Overwritten && state_.SkipWipe) {
      // Another program that opened it meanwhile may have changed it: its name stays then.
      const bool alone = item.overwritten.StillHeldAlone();
      item.overwritten = platform::File();
      item.result.sourceWipe = alone ? SourceWipe::Skipped : SourceWipe::Failed;
      if (!alone) {
        item.result.error = EBUSY;
        item.step = Step::Ended;
      }
    }
    if (!item.overwritten.IsOpen()) item.kept.Release();
  }
}

// Flush: the overwrites together, before any of their names goes.
void ChunkRun::FlushOverwrites() {
  std::vector<platform::File*> files;
  std::vector<Item*> overwritten;
  for (Item& item : items_) {
    if (item.step != Step::Overwritten || !item.overwritten.IsOpen()) continue;
    files.push_back(&item.overwritten);
    overwritten.push_back(&item);
  }
  const std::vector<int> errors = platform::FlushTogether(files, true);
  for (std::size_t i = 0; i < overwritten.size(); ++i) {
    Item& item = *overwritten[i];
    int error = errors[i];
    // Another program that opened the file during the overwrite may have changed it since.
    if (error == 0 && !item.overwritten.StillHeldAlone()) error = EBUSY;
    try {
      item.overwritten.Close();
    } catch (const platform::IoError& e) {
      if (error == 0) error = ErrorOf(e);
    }
    item.kept.Release();
    // An overwrite that may not be on the disk keeps the name: the source is not wiped.
    if (error != 0) {
      item.result.sourceWipe = SourceWipe::Failed;
      item.result.error = error;
      item.step = Step::Ended;
    }
  }
}

// Remove: the overwritten sources' names go.
void ChunkRun::Remove() {
  for (Item& item : items_) {
    if (item.step != Step::Overwritten) continue;
    errno = 0;
    if (!platform::DeleteFile(item.entry->Path)) {
      // Its contents are gone, its name is not: the wipe did not end.
      item.result.sourceWipe = SourceWipe::Failed;
      item.result.error = errno != 0 ? errno : EIO;
      item.step = Step::Ended;
      continue;
    }
    if (item.result.sourceWipe != SourceWipe::Skipped) item.result.sourceWipe = SourceWipe::Wiped;
    Move(item, Step::Overwritten, Step::Removed);
  }
}

// The results, decided: the decrypted file takes the container's name once the container is
// gone.
void ChunkRun::Complete(std::vector<Finished>& done) {
  for (Item& item : items_) {
    FileResult& result = item.result;
    if (item.step == Step::Removed && result.renameAfter &&
        platform::RenameFile(result.output, result.path)) {
      result.output = result.path;
    }
    done.push_back({item.index, std::move(result)});
  }
  items_.clear();
}

void ChunkRun::Discard() {
  for (Item& item : items_) {
    if (item.held) engine_.DropNameless(item.held->output.file);
    item.held.reset();
    item.overwritten = platform::File();
  }
  items_.clear();
}

} // namespace qk::engine
