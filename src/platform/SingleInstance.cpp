#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qk::platform {

namespace {

// An environment variable that names an absolute folder, with one "/" at its end; empty otherwise.
std::string AbsoluteFolder(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::string();
  std::string dir(value);
  if (dir.back() != '/') dir += '/';
  return dir;
}

// Creates the folders of path's folder that are missing, each 0700.
void CreateFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

} // namespace

std::string SingleInstanceLockPath() {
  if (std::string runtime = AbsoluteFolder("XDG_RUNTIME_DIR"); !runtime.empty()) {
    return runtime + kSingleInstanceName;
  }
  // Not a shared folder such as /tmp, where another user could take the name first: the user's
  // own cache folder.
  std::string cache = AbsoluteFolder("XDG_CACHE_HOME");
  if (cache.empty()) {
    if (std::string home = AbsoluteFolder("HOME"); !home.empty() && home != "/") {
      cache = home + ".cache/";
    }
  }
  if (!cache.empty()) return cache + "qk/" + kSingleInstanceName;
  return std::string("/tmp/") + kSingleInstanceName + "-" + std::to_string(::getuid());
}

SingleInstanceLock::SingleInstanceLock(std::string path) : path_(std::move(path)) {}

SingleInstanceLock::~SingleInstanceLock() {
  Release();
}

SingleInstanceLock::State SingleInstanceLock::Acquire() {
  if (state_ == State::Held) return state_;
  Release();
  const auto open = [this] {
    int fd = -1;
    do {
      // O_NONBLOCK: a named pipe planted at the name would otherwise hold the open until
      // somebody writes to it. It is refused below like anything else that is not a regular file.
      fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
  };
  int fd = open();
  if (fd < 0 && errno == ENOENT) {
    // The folder is missing (a cache folder not made yet): made, the user's alone.
    CreateFolders(path_);
    fd = open();
  }
  if (fd < 0) return state_ = State::Unavailable;

  // A second name would be another's way to the same lock: a hard link that someone made to the
  // file, where the system does not protect hard links, lets them hold it.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_nlink != 1) {
    ::close(fd);
    return state_ = State::Unavailable;
  }
  int rc = -1;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    ::close(fd);
    return state_ = (err == EWOULDBLOCK) ? State::HeldElsewhere : State::Unavailable;
  }
  fd_ = fd;
  return state_ = State::Held;
}

void SingleInstanceLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_); // closing the only descriptor of the open file description drops the lock
    fd_ = -1;
  }
  state_ = State::Unlocked;
}

bool MayRun(bool dbChk, SingleInstanceLock& lock) {
  if (!dbChk) return true;
  return lock.Acquire() != SingleInstanceLock::State::HeldElsewhere;
}

} // namespace qk::platform
