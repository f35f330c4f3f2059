#include "platform/Durable.h"

#include "platform/Listed.h"
#include "platform/PathText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace qk::platform {

namespace {

// The threads a group's flushes wait on at most.
constexpr std::size_t kFlushLanes = 16;

} // namespace

void SyncFolderOf(const std::string& path) {
  const std::string action = "flush the folder of";
  if (const int err = InjectedFault(FileOperation::FolderSync, path)) {
    throw IoError("Cannot " + action + " \"" + path + "\"", err);
  }
  // A path in a listed folder has that folder's descriptor at hand; any other is opened by name.
  const detail::Anchor at(path);
  if (at.Error() != 0) throw IoError("Cannot " + action + " \"" + path + "\"", at.Error());
  // The descriptor a folder is held by may serve for paths only (O_PATH): the flush takes one of
  // its own.
  const std::string folder = ExtractFilePath(path);
  const bool held = at.Dir() != AT_FDCWD;
  const int dir = ::openat(at.Dir(), held ? "." : (folder.empty() ? "." : folder.c_str()),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) throw IoError("Cannot " + action + " \"" + path + "\"", errno);
  int err = 0;
  while (::fsync(dir) != 0) {
    if (errno == EINTR) continue;
    if (errno != EINVAL) err = errno;
    break;
  }
  ::close(dir);
  if (err != 0) throw IoError("Cannot " + action + " \"" + path + "\"", err);
  ReportEvent({FileOperation::FolderSync, path, {}, 0, false});
}

std::vector<int> FlushTogether(const std::vector<File*>& files, bool dataOnly) {
  // Started together, the writes reach the disk in one go, and the file system's commit of the
  // first flush carries what the others need: their flushes then find nothing left to wait for.
  if (files.size() > 1)
    for (File* file : files) file->StartFlush();
  std::vector<int> errors(files.size(), 0);
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  std::exception_ptr raised;
  // Each flush still ends with an emptying of the disk's cache; waiting together, the flushes
  // that ask for one while another is under way share the next.
  const auto lane = [&] {
    for (std::size_t i = next++; i < files.size(); i = next++) {
      try {
        if (dataOnly) {
          files[i]->SyncData();
        } else {
          files[i]->Sync();
        }
      } catch (const IoError& e) {
        errors[i] = e.errorCode() != 0 ? e.errorCode() : EIO;
      } catch (...) {
        const std::lock_guard guard(lock);
        if (!raised) raised = std::current_exception();
      }
    }
  };
  std::vector<std::thread> lanes;
  try {
    while (lanes.size() + 1 < std::min(files.size(), kFlushLanes)) lanes.emplace_back(lane);
  } catch (const std::system_error&) {
    // Fewer threads, or none: the flushes wait in turn.
  }
  lane();
  for (std::thread& t : lanes) t.join();
  if (raised) std::rethrow_exception(raised);
  return errors;
}

int NameOutput(File& file, std::string& path, Naming naming,
               const std::function<std::string()>& another) {
  // A name taken meanwhile is replaced by another, never overwritten.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (attempt > 0) path = another();
    errno = 0;
    if (file.Publish(path, naming)) return 0;
    if (naming == Naming::Replacing || errno != EEXIST || !another) break;
  }
  return errno != 0 ? errno : EEXIST;
}

namespace {

// The output's data flushed, then its name given.
bool SyncAndName(File& file, const std::string& path, Naming naming) {
  file.Sync();
  return file.Publish(path, naming);
}

} // namespace

bool PublishDurably(File& file, const std::string& path, Naming naming) {
  if (!SyncAndName(file, path, naming)) return false;
  SyncFolderOf(path);
  return true;
}

DurableGroup::DurableGroup(std::size_t limit) : limit_(limit == 0 ? 1 : limit) {}

DurableGroup::~DurableGroup() {
  Discard();
}

void DurableGroup::Enter(const std::string& path) {
  const bool waiting = owed_ || !waiting_.empty();
  if (waiting && !lastPath_.empty() && ExtractFilePath(path) != ExtractFilePath(lastPath_)) Flush();
  lastPath_ = path;
}

void DurableGroup::Count(bool holding) {
  if (holding && ++holding_ >= limit_) Flush();
}

bool DurableGroup::Publish(File& file, const std::string& path, Naming naming) {
  Enter(path);
  if (!SyncAndName(file, path, naming)) return false;
  owed_ = true;
  return true;
}

void DurableGroup::Hold(Output output, Landed landed) {
  Waiting w;
  w.landed = std::move(landed);
  w.output.emplace(std::move(output));
  const std::string path = w.output->path;
  std::exception_ptr raised;
  try {
    Enter(path);
  } catch (...) {
    // The flush before it ran all its work and raised: the output waits all the same, alone in
    // its folder, for the next flush or a Discard.
    raised = std::current_exception();
    lastPath_ = path;
  }
  waiting_.push_back(std::move(w));
  ++KeptFiles();
  if (raised) std::rethrow_exception(raised);
  // The process's descriptors are a limit too.
  if (KeptFiles() >= DescriptorShare()) {
    Flush();
    return;
  }
  Count(true);
}

void DurableGroup::AfterDurable(Work work, bool holding) {
  if (!owed_ && waiting_.empty()) {
    work(0);
    return;
  }
  Waiting w;
  w.work = std::move(work);
  waiting_.push_back(std::move(w));
  Count(holding);
}

void DurableGroup::AfterOverwrite(File file, Work done) {
  overwrites_.push_back({std::move(file), std::move(done)});
  ++KeptFiles();
  // Within a flush they wait to be flushed together, as far as the process's share of
  // descriptors goes.
  if (flushing_ && KeptFiles() < DescriptorShare()) return;
  std::exception_ptr raised;
  FlushOverwrites(raised);
  if (raised) std::rethrow_exception(raised);
}

void DurableGroup::FlushOverwrites(std::exception_ptr& raised) {
  std::vector<Overwrite> overwrites = std::move(overwrites_);
  overwrites_.clear();
  // Each stays counted until it is closed, as the held outputs do.
  std::vector<File*> files;
  for (Overwrite& o : overwrites) files.push_back(&o.file);
  const std::vector<int> errors = FlushTogether(files, true);
  for (std::size_t i = 0; i < overwrites.size(); ++i) {
    int error = errors[i];
    // Another program that opened the file during the overwrite may have changed it since.
    if (error == 0 && !overwrites[i].file.StillHeldAlone()) error = EBUSY;
    try {
      overwrites[i].file.Close();
    } catch (const IoError& e) {
      if (error == 0) error = e.errorCode() != 0 ? e.errorCode() : EIO;
    }
    --KeptFiles();
    try {
      overwrites[i].done(error);
    } catch (...) {
      if (!raised) raised = std::current_exception();
    }
  }
}

void DurableGroup::Flush() {
  std::vector<Waiting> waiting = std::move(waiting_);
  waiting_.clear();
  holding_ = 0;
  // The held outputs' data together, then their names: none is named before its data is on the
  // disk.
  // Each stays counted among the files kept open until it is closed: the files made ahead on
  // another thread meanwhile are made within what is left.
  std::vector<File*> files;
  for (Waiting& w : waiting)
    if (w.output) files.push_back(&w.output->file);
  const std::vector<int> errors = FlushTogether(files, false);
  std::size_t next = 0;
  for (Waiting& w : waiting) {
    if (!w.output) continue;
    w.error = errors[next++];
    if (w.error == 0)
      w.error = NameOutput(w.output->file, w.output->path, w.output->naming, w.output->another);
    if (w.error == 0) owed_ = true;
    // Named, it needs its descriptor no more: the overwrites that follow take their own. Its
    // data is on the disk already, whatever the close says.
    if (w.error == 0) {
      if (w.output->readBack) w.output->file.DropCache(true);
      try {
        w.output->file.Close();
      } catch (const IoError&) {
      }
      --KeptFiles();
    }
  }
  int error = 0;
  if (owed_) {
    try {
      SyncFolderOf(lastPath_);
    } catch (const IoError& e) {
      error = e.errorCode() != 0 ? e.errorCode() : EIO;
    }
    owed_ = false;
  }
  flushing_ = true;
  std::exception_ptr raised;
  for (Waiting& w : waiting) {
    try {
      if (w.output) {
        w.landed(w.error != 0 ? w.error : error, *w.output);
      } else {
        w.work(error);
      }
    } catch (...) {
      if (!raised) raised = std::current_exception();
    }
  }
  flushing_ = false;
  // The outputs that were not named go with their work done.
  for (Waiting& w : waiting) {
    if (!w.output || w.error == 0) continue;
    w.output->file = File();
    --KeptFiles();
  }
  FlushOverwrites(raised);
  if (raised) std::rethrow_exception(raised);
}

void DurableGroup::Discard(const std::function<void(Output&)>& drop) {
  for (Waiting& w : waiting_) {
    if (!w.output) continue;
    --KeptFiles();
    if (drop) drop(*w.output);
  }
  KeptFiles() -= overwrites_.size();
  waiting_.clear();
  overwrites_.clear();
  holding_ = 0;
  if (!owed_) return;
  owed_ = false;
  try {
    SyncFolderOf(lastPath_);
  } catch (const std::exception&) {
  }
}

} // namespace qk::platform
