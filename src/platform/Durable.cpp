#include "platform/Durable.h"

#include "platform/FileSystem.h"
#include "platform/Listed.h"

#include <cerrno>
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

bool PublishDurably(File& file, const std::string& path, Naming naming) {
  file.Sync();
  const bool named = naming == Naming::New ? file.Publish(path) : file.PublishReplacing(path);
  if (!named) return false;
  SyncFolderOf(path);
  return true;
}

} // namespace qk::platform
