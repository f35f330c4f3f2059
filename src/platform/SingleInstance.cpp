#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qk::platform {

std::string SingleInstanceLockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string dir(runtime);
    if (dir.back() != '/') dir += '/';
    return dir + kSingleInstanceName;
  }
  return std::string("/tmp/") + kSingleInstanceName + "-" + std::to_string(::getuid());
}

SingleInstanceLock::SingleInstanceLock(std::string path) : path_(std::move(path)) {}

SingleInstanceLock::~SingleInstanceLock() {
  Release();
}

SingleInstanceLock::State SingleInstanceLock::Acquire() {
  if (state_ == State::Held) return state_;
  Release();
  int fd = -1;
  do {
    // O_NONBLOCK: a named pipe planted at the name would otherwise hold the open until somebody
    // writes to it. It is refused below like anything else that is not a regular file.
    fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return state_ = State::Unavailable;

  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
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
