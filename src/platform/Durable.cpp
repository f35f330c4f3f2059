#include "platform/Durable.h"

#include "platform/FileSystem.h"
#include "platform/Listed.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace qk::platform {

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

namespace {

// The output's data flushed, then its name given.
bool SyncAndName(File& file, const std::string& path, Naming naming) {
  file.Sync();
  return naming == Naming::New ? file.Publish(path) : file.PublishReplacing(path);
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

bool DurableGroup::Publish(File& file, const std::string& path, Naming naming) {
  if (owed_ && ExtractFilePath(path) != ExtractFilePath(lastPath_)) Flush();
  if (!SyncAndName(file, path, naming)) return false;
  owed_ = true;
  lastPath_ = path;
  return true;
}

void DurableGroup::AfterDurable(Work work, bool holding) {
  if (!owed_) {
    work(0);
    return;
  }
  waiting_.push_back(std::move(work));
  if (holding && ++holding_ >= limit_) Flush();
}

void DurableGroup::Flush() {
  int error = 0;
  if (owed_) {
    try {
      SyncFolderOf(lastPath_);
    } catch (const IoError& e) {
      error = e.errorCode() != 0 ? e.errorCode() : EIO;
    }
    owed_ = false;
  }
  std::vector<Work> work = std::move(waiting_);
  waiting_.clear();
  holding_ = 0;
  std::exception_ptr raised;
  for (Work& w : work) {
    try {
      w(error);
    } catch (...) {
      if (!raised) raised = std::current_exception();
    }
  }
  if (raised) std::rethrow_exception(raised);
}

void DurableGroup::Discard() {
  waiting_.clear();
  holding_ = 0;
  if (!owed_) return;
  owed_ = false;
  try {
    SyncFolderOf(lastPath_);
  } catch (const std::exception&) {
  }
}

} // namespace qk::platform
