#include "platform/Durable.h"

#include "platform/Listed.h"
#include "platform/PathText.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <mutex>
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
  if (files.empty()) return errors;
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
  // As many lanes as the process's helper threads allow: with fewer, or none, the flushes wait
  // in turn.
  std::vector<HelperThread> lanes(std::min(files.size(), kFlushLanes) - 1);
  for (HelperThread& t : lanes)
    if (!t.Start(lane)) break;
  lane();
  for (HelperThread& t : lanes) t.Join();
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

} // namespace qk::platform
