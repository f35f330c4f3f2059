#include "platform/Listed.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace qk::platform {

namespace {

struct NotedFolder {
  bool root = false;
  std::string parent; // the noted folder it was found in, with its "/"
  std::string name;
  FileIdentity identity;
};

std::mutex notedMutex;
std::unordered_map<std::string, NotedFolder> notedFolders; // keys end with "/"
std::unordered_map<std::string, FileIdentity> notedFiles;

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string WithSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + '/';
}

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

// Opens the noted folder key through descriptors, from the start of its walk; notedMutex held.
int OpenFolderLocked(const std::string& key, int& error) {
  const auto found = notedFolders.find(key);
  if (found == notedFolders.end()) {
    error = ENOENT;
    return -1;
  }
  const NotedFolder& folder = found->second;
  int fd;
  if (folder.root) {
    do {
      fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  } else {
    const int parent = OpenFolderLocked(folder.parent, error);
    if (parent < 0) return -1;
    do {
      fd = ::openat(parent, folder.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      error = errno;
      // A link where the folder was: O_DIRECTORY answers first, but the link is the reason.
      struct stat st {};
      if (error == ENOTDIR &&
          ::fstatat(parent, folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode))
        error = ELOOP;
    }
    ::close(parent);
  }
  if (fd < 0) {
    if (folder.root) error = errno;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || IdentityOf(st) != folder.identity) {
    ::close(fd);
    error = ESTALE;
    return -1;
  }
  return fd;
}

} // namespace

int OpenWalkRoot(const std::string& folder) {
  const std::string key = WithSeparator(folder);
  int fd;
  do {
    fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    CloseKeepingErrno(fd);
    return -1;
  }
  std::lock_guard lock(notedMutex);
  NotedFolder& noted = notedFolders[key];
  noted = NotedFolder{};
  noted.root = true;
  noted.identity = IdentityOf(st);
  return fd;
}

void NoteListed(const std::string& path, const FileIdentity& identity, bool isFolder) {
  std::lock_guard lock(notedMutex);
  if (isFolder) {
    NotedFolder& noted = notedFolders[WithSeparator(path)];
    noted.root = false;
    noted.parent = ExtractFilePath(path);
    noted.name = ExtractFileName(path);
    noted.identity = identity;
  } else {
    notedFiles[path] = identity;
  }
}

int OpenNotedFolder(const std::string& folder) {
  int error = 0;
  std::lock_guard lock(notedMutex);
  const int fd = OpenFolderLocked(WithSeparator(folder), error);
  if (fd < 0) errno = error;
  return fd;
}

void ForgetNotedFile(const std::string& path) {
  std::lock_guard lock(notedMutex);
  notedFiles.erase(path);
}

void ForgetListed() {
  std::lock_guard lock(notedMutex);
  notedFolders.clear();
  notedFiles.clear();
}

namespace detail {

Anchor::Anchor(const std::string& path) : dir_(AT_FDCWD), name_(path) {
  const std::string folder = ExtractFilePath(path);
  std::lock_guard lock(notedMutex);
  if (folder.empty() || notedFolders.find(folder) == notedFolders.end()) return;
  confined_ = true;
  name_ = ExtractFileName(path);
  if (const auto file = notedFiles.find(path); file != notedFiles.end()) {
    listed_ = true;
    identity_ = file->second;
  }
  dir_ = OpenFolderLocked(folder, error_);
}

Anchor::~Anchor() {
  if (dir_ >= 0) ::close(dir_);
}

bool Anchor::Matches(int fd) const {
  if (!listed_) return true;
  struct stat st {};
  const int result =
      fd >= 0 ? ::fstat(fd, &st) : ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW);
  return result == 0 && IdentityOf(st) == identity_;
}

int NotedFolderFd(const std::string& folder, int& error) {
  error = 0;
  const std::string key = WithSeparator(folder);
  std::lock_guard lock(notedMutex);
  if (notedFolders.find(key) == notedFolders.end()) return -1;
  return OpenFolderLocked(key, error);
}

} // namespace detail

} // namespace qk::platform
