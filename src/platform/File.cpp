#include "platform/File.h"

#include "platform/Listed.h"
#include "platform/PathText.h"
#include "platform/VisibleText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace qk::platform {

namespace {

// Outputs may hold plaintext: nobody but their owner reads them unless the caller says so.
constexpr mode_t kCreateMode = 0600;

// Largest count handed to one read or write call.
constexpr std::size_t kMaxChunk = static_cast<std::size_t>(SSIZE_MAX) & ~std::size_t{0xFFF};

std::string ErrorText(int err) {
  return std::system_category().message(err);
}

[[noreturn]] void Fail(const std::string& action, const std::string& path, int err,
                       const std::string& detail = {}) {
  std::string message = "Cannot " + action + " \"" + path + "\": " + ErrorText(err);
  if (!detail.empty()) {
    message += " (" + detail + ")";
  } else if (err == ESTALE) {
    message += " (not the file or folder that was listed)";
  } else if (err == ELOOP) {
    message += " (symbolic links are not followed)";
  }
  throw IoError(message, err);
}

// Closes fd keeping errno of the failure being reported.
void CloseQuietly(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

// Checks an opened descriptor for the rules every QK open shares and takes its lock:
// only regular files, no file without the owner-write bit (unless the caller created it just
// now), and a non-blocking flock of the given kind. With listed, what was opened must be the file
// listed at its name (ESTALE otherwise). A file the caller created just now (created) is a new
// regular file of its own: it is only locked. st: what the checks saw (left as it is for a file
// created). On failure fd is closed and IoError raised.
void CheckAndLock(int fd, const std::string& path, const std::string& action, int lockKind,
                  bool checkWritable, const detail::Anchor* listed, bool created, struct stat& st) {
  if (!created) {
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      CloseQuietly(fd);
      Fail(action, path, err);
    }
    // One look at the file serves the listing's check and the rules below.
    if (listed != nullptr && !listed->Matches(st)) {
      CloseQuietly(fd);
      Fail(action, path, ESTALE);
    }
    if (S_ISDIR(st.st_mode)) {
      CloseQuietly(fd);
      Fail(action, path, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      CloseQuietly(fd);
      Fail(action, path, ENXIO, "not a regular file");
    }
    if (checkWritable && (st.st_mode & S_IWUSR) == 0) {
      CloseQuietly(fd);
      Fail(action, path, EACCES, "the file is read-only");
    }
  }
  while (::flock(fd, lockKind | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    // File systems without flock support: the lock is advisory anyway, go on without it.
    if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS) break;
    CloseQuietly(fd);
    if (err == EWOULDBLOCK) Fail(action, path, err, "the file is in use by another program");
    Fail(action, path, err);
  }
  // O_NONBLOCK only kept the open itself from hanging on a FIFO or device.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

FileStamp StampOf(const struct stat& st) {
  return {
      static_cast<std::uint64_t>(st.st_dev),         static_cast<std::uint64_t>(st.st_ino),
      static_cast<std::int64_t>(st.st_size),         static_cast<std::int64_t>(st.st_mtim.tv_sec),
      static_cast<std::int64_t>(st.st_mtim.tv_nsec), static_cast<std::int64_t>(st.st_ctim.tv_sec),
      static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
}

// Opens what at (for path) names; in a noted folder no link is followed. An existing file is
// checked against the listing by CheckAndLock. A file made here with O_EXCL is this program's
// own: whatever was once listed at its name is gone, and the name now stands for the new file.
// A device or FIFO is opened without waiting and without becoming the controlling terminal, so
// that CheckAndLock can refuse it.
int OpenRaw(const detail::Anchor& at, const std::string& path, int flags, mode_t mode = 0) {
  if (at.Error() != 0) {
    errno = at.Error();
    return -1;
  }
  if (at.Confined()) flags |= O_NOFOLLOW;
  int fd;
  do {
    fd = ::openat(at.Dir(), at.Name(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
    if (at.Listed()) ForgetNotedFile(path);
  }
  return fd;
}

} // namespace

File::~File() {
  DropTemporaryName();
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)),
      hidden_(std::exchange(other.hidden_, false)),
      published_(std::exchange(other.published_, false)), held_(std::exchange(other.held_, false)),
      temporary_(std::move(other.temporary_)), opened_(std::exchange(other.opened_, {})),
      openedMode_(std::exchange(other.openedMode_, 0)) {
  other.temporary_.clear();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    DropTemporaryName();
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    hidden_ = std::exchange(other.hidden_, false);
    published_ = std::exchange(other.published_, false);
    held_ = std::exchange(other.held_, false);
    temporary_ = std::move(other.temporary_);
    other.temporary_.clear();
    opened_ = std::exchange(other.opened_, {});
    openedMode_ = std::exchange(other.openedMode_, 0);
  }
  return *this;
}

void File::DropTemporaryName() {
  if (temporary_.empty()) return;
  const detail::Anchor at(temporary_);
  if (at.Error() == 0 && ::unlinkat(at.Dir(), at.Name(), 0) == 0)
    ReportEvent({FileOperation::Delete, temporary_, {}, 0, false});
  temporary_.clear();
}

File File::OpenShared(const std::string& path) {
  const std::string action = "open for reading and writing";
  if (const int err = InjectedFault(FileOperation::Open, path)) Fail(action, path, err);
  const detail::Anchor at(path);
  const int fd = OpenRaw(at, path, O_RDWR);
  if (fd < 0) Fail(action, path, errno);
  struct stat st {};
  CheckAndLock(fd, path, action, LOCK_SH, true, &at, false, st);
  ReportEvent(FileOperation::Open, fd, path);
  File file(fd, path);
  file.Opened(st);
  return file;
}

File File::CreateNew(const std::string& path) {
  const std::string action = "create";
  if (const int err = InjectedFault(FileOperation::Create, path)) Fail(action, path, err);
  const detail::Anchor at(path);
  const int fd = OpenRaw(at, path, O_RDWR | O_CREAT | O_EXCL, kCreateMode);
  if (fd < 0) Fail(action, path, errno);
  try {
    struct stat st {};
    CheckAndLock(fd, path, action, LOCK_SH, false, nullptr, true, st);
  } catch (const IoError&) {
    ::unlinkat(at.Dir(), at.Name(), 0); // ours: O_EXCL made it
    throw;
  }
  ReportEvent(FileOperation::Create, fd, path);
  return File(fd, path);
}

namespace {

// A hidden name for a file of this process in folder: ".qk-" and twelve random characters.
std::string HiddenName(const std::string& folder) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::string name = ".qk-";
  std::lock_guard lock(mutex);
  for (int i = 0; i < 12; ++i) name += kChars[generator() % (sizeof kChars - 1)];
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

// The extended attribute that marks a file under a hidden name as QK's own: its value is that
// name. A user's own file given a name of that shape (an output named so) has no such mark, and a
// renamed hidden file carries another name in it; neither is ever taken for a leftover.
constexpr const char* kHiddenMark = "user.qk.hidden";

// Marks the file behind fd as QK's own under the hidden name (its last part). Where the file
// system keeps no extended attributes the file stays unmarked, and a later run leaves it.
void MarkHidden(int fd, const std::string& name) {
  const std::string last = name.substr(name.rfind('/') + 1);
  ::fsetxattr(fd, kHiddenMark, last.data(), last.size(), 0);
}

// True when the file behind fd carries the mark of QK's hidden file named name.
bool MarkedHidden(int fd, const char* name) {
  char value[32];
  const ssize_t n = ::fgetxattr(fd, kHiddenMark, value, sizeof value);
  return n > 0 && std::string_view(value, static_cast<std::size_t>(n)) == name;
}

// Links the file behind descriptor fd at (dir, name); the /proc entry names it for linkat without
// any special privilege.
int LinkDescriptor(int fd, int dir, const char* name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), dir, name, AT_SYMLINK_FOLLOW);
}

// True when what is at (dir, name) may be replaced by an output: a regular file of this user's
// own, not read-only, not held exclusively by another opener. Links are not followed.
bool Replaceable(int dir, const char* name) {
  int fd;
  do {
    fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & S_IWUSR) != 0;
  if (!ok) errno = EPERM;
  if (ok && ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    const int err = errno;
    ok = err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS;
    if (!ok) errno = err;
  }
  CloseQuietly(fd);
  return ok;
}

} // namespace

namespace {

// True for a name HiddenName makes: ".qk-" and twelve characters of a-z and 0-9.
bool HiddenNameShape(const char* name) {
  if (std::strncmp(name, ".qk-", 4) != 0 || std::strlen(name) != 16) return false;
  for (const char* c = name + 4; *c != '\0'; ++c) {
    if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))) return false;
  }
  return true;
}

// True when nobody but this user (or root) can make, rename or move a file into the folder
// behind dir: it belongs to one of them and neither its group nor others may write it. Only there
// does a file of the hidden names' shape prove to be a leftover of QK's own: elsewhere another
// user could have renamed any file of this user's into that shape.
bool OnlyOursCanWrite(int dir) {
  struct stat st {};
  if (::fstat(dir, &st) != 0) return false;
  const bool owner = st.st_uid == ::geteuid() || st.st_uid == 0;
  return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Overwrites and removes the leftover at name in the folder dir when it is one: a hidden file of
// QK's own making that no live QK holds. A live one is held under a shared lock from the moment
// it is made readable (mode 0600) until it is named or gone.
void ClearLeftover(int dir, const char* name) {
  int fd;
  do {
    fd = ::openat(dir, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                    (st.st_mode & 07777) == kCreateMode && st.st_nlink == 1 &&
                    MarkedHidden(fd, name);
  if (!ours || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  static const std::vector<unsigned char> pattern(64 * 1024, 0x4E);
  bool overwritten = true;
  for (off_t at = 0; at < st.st_size && overwritten;) {
    const auto n = static_cast<std::size_t>(
        std::min<off_t>(st.st_size - at, static_cast<off_t>(pattern.size())));
    const ssize_t put = ::pwrite(fd, pattern.data(), n, at);
    if (put < 0 && errno == EINTR) continue;
    overwritten = put > 0;
    at += put > 0 ? put : 0;
  }
  if (overwritten && ::fsync(fd) == 0) {
    // Only while the name still leads to the file that was overwritten.
    struct stat now {};
    if (::fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino) {
      ::unlinkat(dir, name, 0);
    }
  }
  ::close(fd);
}

// Clears the leftovers of killed runs from the folder at (at, path), once per folder and process:
// hidden files of QK's own (HiddenNameShape, this user's, mode 0600, one name, regular, marked
// with their name: MarkHidden) that no live QK holds. They can hold plaintext; they are overwritten
// before they go. In a folder that others can write they are left as they are (OnlyOursCanWrite),
// and the report stream says so once for the folder (shown: its name as the caller gave it).
void ClearLeftovers(int at, const char* path, const std::string& shown) {
  // A folder is known by its device, inode and birth time (where the file system keeps one):
  // an inode number may come back for a new folder once the old one is gone.
  struct Known {
    FileIdentity id;
    std::int64_t born = 0;
    std::uint32_t bornNanoseconds = 0;
    bool operator==(const Known&) const = default;
  };
  static std::mutex mutex;
  static std::vector<Known> cleared;
  const int dir = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  struct statx sx {};
  if (::statx(dir, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) != 0) {
    ::close(dir);
    return;
  }
  Known known{{(std::uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor, sx.stx_ino}, 0, 0};
  if ((sx.stx_mask & STATX_BTIME) != 0) {
    known.born = sx.stx_btime.tv_sec;
    known.bornNanoseconds = sx.stx_btime.tv_nsec;
  }
  {
    std::lock_guard lock(mutex);
    if (std::find(cleared.begin(), cleared.end(), known) != cleared.end()) {
      ::close(dir);
      return;
    }
    if (cleared.size() >= 4096) cleared.clear();
    cleared.push_back(known);
  }
  const int listFd = ::dup(dir);
  DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (list == nullptr) {
    if (listFd >= 0) ::close(listFd);
    ::close(dir);
    return;
  }
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(list)) {
    if (HiddenNameShape(entry->d_name)) found.emplace_back(entry->d_name);
  }
  ::closedir(list);
  if (OnlyOursCanWrite(dir)) {
    for (const std::string& name : found) ClearLeftover(dir, name.c_str());
  } else if (!found.empty()) {
    LogNote(shown + ": " + std::to_string(found.size()) +
            " hidden file(s) of an interrupted run left as they are: others can write to this "
            "folder, so they may not be QK's own");
  }
  ::close(dir);
}

} // namespace

File File::CreateHidden(const std::string& folder) {
  const std::string action = "create a file in";
  const std::string dir = folder.empty() ? std::string(".") : folder;
  if (const int err = InjectedFault(FileOperation::Create, dir)) Fail(action, dir, err);
  // In a listed folder, the file is made through the folder's descriptor.
  int err = 0;
  bool firstUse = true;
  const int folderFd = detail::NotedFolderFd(dir, err, &firstUse);
  if (err != 0) Fail(action, dir, err);
  const int at = folderFd >= 0 ? folderFd : AT_FDCWD;
  // A held folder is looked at once while it is held: the files made in it after that are this
  // run's own.
  if (firstUse) ClearLeftovers(at, folderFd >= 0 ? "." : dir.c_str(), dir);
  int fd = -1;
  err = InjectedFault(FileOperation::Nameless, dir);
  if (err == 0) {
    do {
      fd = ::openat(at, folderFd >= 0 ? "." : dir.c_str(),
                    O_RDWR | O_TMPFILE | O_CLOEXEC | O_NONBLOCK, kCreateMode);
    } while (fd < 0 && errno == EINTR);
    err = fd < 0 ? errno : 0;
  }
  std::string temporary;
  // File systems without nameless files refuse O_TMPFILE with one of these.
  if (fd < 0 && err != 0 && err != ENOENT && err != ENOTDIR && err != EACCES && err != EROFS &&
      err != ENOSPC) {
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temporary = HiddenName(dir);
      const std::string name = temporary.substr(temporary.rfind('/') + 1);
      // Made with no permission but the owner's write (which its mark needs), and given its mode
      // only once it is locked and marked (below): a leftover check of another QK never takes it
      // for a leftover while it is being made.
      do {
        fd = ::openat(at, folderFd >= 0 ? name.c_str() : temporary.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, S_IWUSR);
      } while (fd < 0 && errno == EINTR);
      err = fd < 0 ? errno : 0;
      if (fd < 0 && err != EEXIST) break;
    }
    if (fd < 0) temporary.clear();
  }
  if (folderFd >= 0) ::close(folderFd);
  if (fd < 0) Fail(action, dir, err);
  File file(fd, dir, true);
  file.temporary_ = temporary;
  struct stat st {};
  CheckAndLock(file.fd_, dir, action, LOCK_SH, false, nullptr, true, st);
  if (!temporary.empty()) {
    MarkHidden(file.fd_, temporary);
    if (::fchmod(file.fd_, kCreateMode) != 0) Fail(action, dir, errno);
  }
  ReportEvent(FileOperation::Create, file.fd_, temporary.empty() ? dir : temporary);
  return file;
}

bool HasHiddenNameShape(const std::string& path) {
  return HiddenNameShape(path.c_str() +
                         (path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1));
}

std::size_t DescriptorShare() {
  static const std::size_t share = [] {
    struct rlimit limit {};
    rlim_t open = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
      open = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur;
    // Even at a low limit the share stays a quarter: the folders' descriptors (a sixteenth,
    // platform/Listed.h) and the files being worked on need the rest.
    return std::max<std::size_t>(2, static_cast<std::size_t>(open) / 4);
  }();
  return share;
}

std::atomic<std::size_t>& KeptFiles() {
  static std::atomic<std::size_t> kept{0};
  return kept;
}

HiddenAhead::~HiddenAhead() {
  {
    const std::lock_guard guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.Join();
  KeptFiles() -= made_.size();
}

File HiddenAhead::Take(const std::string& folder, std::size_t more) {
  File file;
  std::vector<File> others; // made for another folder: they go once the lock is left
  {
    std::unique_lock guard(lock_);
    if (folder != folder_) {
      others = std::exchange(made_, {});
      folder_ = folder;
    } else {
      // Files asked for are waited for, unless no thread makes them.
      changed_.wait(
          guard, [this] { return !made_.empty() || (!asked_ && !making_) || !thread_.Running(); });
    }
    if (!made_.empty()) {
      file = std::move(made_.back());
      made_.pop_back();
      --KeptFiles();
    }
  }
  KeptFiles() -= others.size();
  others.clear();
  if (!file.IsOpen()) {
    file = File::CreateHidden(folder);
    if (!file.temporary_.empty()) return file;
  }
  {
    const std::lock_guard guard(lock_);
    wanted_ = std::min(more, kAhead);
    // Asked for again only once half of what is wanted is gone: the thread makes them in a few
    // goes, not one at a time.
    if (asked_ || making_ || wanted_ == 0 || made_.size() * 2 > wanted_) return file;
    asked_ = true;
    if (!started_) {
      started_ = true;
      // Without a helper thread every file is made when it is asked for.
      thread_.Start([this] { Make(); });
    }
  }
  changed_.notify_all();
  return file;
}

void HiddenAhead::Make() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return stopping_ || asked_; });
    if (stopping_) return;
    asked_ = false;
    making_ = true;
    const std::string folder = folder_;
    std::size_t count = wanted_ - std::min(wanted_, made_.size());
    // Within half of what is left of the process's share of descriptors, the rest being for the
    // outputs held: what is over it is given back.
    const std::size_t before = KeptFiles().fetch_add(count);
    const std::size_t room = (DescriptorShare() - std::min(DescriptorShare(), before)) / 2;
    if (count > room) {
      KeptFiles() -= count - room;
      count = room;
    }
    guard.unlock();
    std::vector<File> files;
    for (std::size_t i = 0; i < count; ++i) {
      File file;
      try {
        file = File::CreateHidden(folder);
      } catch (const std::exception&) {
        // The taker makes its own, and meets the same failure then if it lasts.
        break;
      }
      // A hidden name is not left waiting.
      if (!file.temporary_.empty()) break;
      files.push_back(std::move(file));
    }
    KeptFiles() -= count - files.size();
    guard.lock();
    making_ = false;
    if (folder == folder_) {
      for (File& file : files) made_.push_back(std::move(file));
      files.clear();
    }
    KeptFiles() -= files.size();
    changed_.notify_all();
    if (!files.empty()) {
      guard.unlock();
      files.clear();
      guard.lock();
    }
  }
}

namespace {

// Moves the name from to to, failing with EEXIST rather than replacing anything. Returns 0 or
// an errno value.
int MoveNoReplace(const detail::Anchor& from, const detail::Anchor& to) {
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, from.Dir(), from.Name(), to.Dir(), to.Name(), RENAME_NOREPLACE) ==
      0) {
    return 0;
  }
  // ENOSYS: an old kernel; EINVAL: a file system without RENAME_NOREPLACE.
  if (errno != ENOSYS && errno != EINVAL) return errno;
#endif
  // A second name, then the hidden one dropped: for a moment the file has both.
  if (::linkat(from.Dir(), from.Name(), to.Dir(), to.Name(), 0) != 0) return errno;
  ::unlinkat(from.Dir(), from.Name(), 0);
  return 0;
}

// Gives the file behind fd, hidden as temporary ("" for a nameless file), the name at (path)
// where nothing is: a nameless file is linked there, a hidden name moved there.
bool NameNew(int fd, const std::string& temporary, const detail::Anchor& at,
             const std::string& path) {
  if (temporary.empty()) {
    if (LinkDescriptor(fd, at.Dir(), at.Name()) != 0) return false;
    ReportEvent(FileOperation::Link, fd, path);
    return true;
  }
  // The hidden name becomes the name, unless something is there; no moment with both names.
  const detail::Anchor from(temporary);
  const int err = from.Error() != 0 ? from.Error() : MoveNoReplace(from, at);
  if (err != 0) {
    errno = err;
    return false;
  }
  ReportEvent(FileOperation::Rename, fd, temporary, path);
  return true;
}

// The same over the file at (path), when Replaceable.
bool NameOver(int fd, const std::string& temporary, const detail::Anchor& at,
              const std::string& path) {
  if (!Replaceable(at.Dir(), at.Name())) return false;
  // A name of the output's own beside the target, then one rename over it. rename replaces a link
  // put there meanwhile rather than following it. A run killed in between leaves the hidden name,
  // which the next file made in this folder clears (ClearLeftovers).
  std::string staged = temporary;
  if (staged.empty()) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate = HiddenName(ExtractFilePath(path));
      const detail::Anchor near(candidate);
      if (near.Error() != 0) return false;
      MarkHidden(fd, candidate);
      if (LinkDescriptor(fd, near.Dir(), near.Name()) == 0) {
        staged = candidate;
        ReportEvent(FileOperation::Link, fd, staged);
        break;
      }
      if (errno != EEXIST) return false;
    }
    if (staged.empty()) return false;
  }
  const detail::Anchor from(staged);
  if (const int err = InjectedFault(FileOperation::Rename, staged)) {
    if (staged != temporary && from.Error() == 0) ::unlinkat(from.Dir(), from.Name(), 0);
    errno = err;
    return false;
  }
  if (from.Error() != 0 || ::renameat(from.Dir(), from.Name(), at.Dir(), at.Name()) != 0) {
    const int err = errno;
    if (staged != temporary && from.Error() == 0) ::unlinkat(from.Dir(), from.Name(), 0);
    errno = err;
    return false;
  }
  ReportEvent(FileOperation::Rename, fd, staged, path);
  return true;
}

} // namespace

bool File::Publish(const std::string& path, Naming naming) {
  if (fd_ < 0 || !hidden_) return false;
  if (const int err = InjectedFault(FileOperation::Link, path)) {
    errno = err;
    return false;
  }
  const detail::Anchor at(path);
  if (at.Error() != 0) {
    errno = at.Error();
    return false;
  }
  bool over = false;
  if (naming == Naming::Replacing) {
    struct stat st {};
    over = ::fstatat(at.Dir(), at.Name(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!over && errno != ENOENT) return false;
  }
  if (!(over ? NameOver(fd_, temporary_, at, path) : NameNew(fd_, temporary_, at, path)))
    return false;
  // The mark of a hidden name goes with it.
  if (over || !temporary_.empty()) ::fremovexattr(fd_, kHiddenMark);
  temporary_.clear();
  ForgetNotedFile(path);
  path_ = path;
  hidden_ = false;
  published_ = true;
  return true;
}

File File::CreateAlways(const std::string& path) {
  const std::string action = "create";
  if (const int err = InjectedFault(FileOperation::Create, path)) Fail(action, path, err);
  // Create when nothing is there; otherwise open what is there, check it as an existing file
  // and cut it only once the lock is held, so that a file another QK holds is left intact.
  const detail::Anchor at(path);
  for (int attempt = 0;; ++attempt) {
    int fd = OpenRaw(at, path, O_RDWR | O_CREAT | O_EXCL, kCreateMode);
    struct stat st {};
    if (fd >= 0) {
      try {
        CheckAndLock(fd, path, action, LOCK_SH, false, nullptr, true, st);
      } catch (const IoError&) {
        ::unlinkat(at.Dir(), at.Name(), 0);
        throw;
      }
      ReportEvent(FileOperation::Create, fd, path);
      return File(fd, path);
    }
    if (errno != EEXIST) Fail(action, path, errno);
    fd = OpenRaw(at, path, O_RDWR);
    if (fd < 0) {
      // Gone again in between: try once more. A dangling symbolic link ends up here each time.
      if (errno == ENOENT && attempt < 2) continue;
      Fail(action, path, errno);
    }
    CheckAndLock(fd, path, action, LOCK_SH, true, &at, false, st);
    while (::ftruncate(fd, 0) != 0) {
      const int err = errno;
      if (err == EINTR) continue;
      CloseQuietly(fd);
      Fail(action, path, err);
    }
    ReportEvent(FileOperation::Open, fd, path);
    ReportEvent(FileOperation::Write, fd, path);
    return File(fd, path);
  }
}

File File::OpenExclusiveWrite(const std::string& path) {
  const std::string action = "open exclusively";
  if (const int err = InjectedFault(FileOperation::Open, path)) Fail(action, path, err);
  const detail::Anchor at(path);
  const int fd = OpenRaw(at, path, O_WRONLY | O_NOFOLLOW);
  if (fd < 0) Fail(action, path, errno);
  struct stat st {};
  CheckAndLock(fd, path, action, LOCK_EX, true, &at, false, st);
  ReportEvent(FileOperation::Open, fd, path, {}, true);
  File file(fd, path);
  file.Opened(st);
  return file;
}

namespace {
// Writes all n bytes at offset, or at the file's position when offset is negative.
void PutAll(int fd, const std::string& path, const unsigned char* in, std::size_t n,
            std::int64_t offset) {
  std::size_t done = 0;
  while (done < n) {
    const std::size_t step = std::min(n - done, kMaxChunk);
    const ssize_t put =
        offset < 0 ? ::write(fd, in + done, step)
                   : ::pwrite(fd, in + done, step,
                              static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail("write", path, errno);
    }
    // A regular file accepts nothing only when there is no room left.
    if (put == 0) Fail("write", path, ENOSPC);
    done += static_cast<std::size_t>(put);
  }
}
} // namespace

int File::CheckedFd(const char* action) const {
  if (fd_ < 0) Fail(action, path_, EBADF, "the file is not open");
  return fd_;
}

std::size_t File::Read(void* buffer, std::size_t n) {
  const int fd = CheckedFd("read");
  if (const int err = InjectedFault(FileOperation::Read, path_)) Fail("read", path_, err);
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::read(fd, out + done, std::min(n - done, kMaxChunk));
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail("read", path_, errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void File::ReadExact(void* buffer, std::size_t n) {
  const std::size_t got = Read(buffer, n);
  if (got != n) {
    Fail("read", path_, EIO,
         "the file ends after " + std::to_string(got) + " of " + std::to_string(n) + " bytes");
  }
}

void File::WriteAll(const void* buffer, std::size_t n) {
  const int fd = CheckedFd("write");
  if (const int err = InjectedFault(FileOperation::Write, path_)) Fail("write", path_, err);
  PutAll(fd, path_, static_cast<const unsigned char*>(buffer), n, -1);
  ReportEvent(FileOperation::Write, fd, path_);
}

void File::WriteAllAt(const void* buffer, std::size_t n, std::int64_t offset) {
  const int fd = CheckedFd("write");
  if (const int err = InjectedFault(FileOperation::Write, path_)) Fail("write", path_, err);
  if (offset < 0) Fail("write", path_, EINVAL, "negative offset");
  PutAll(fd, path_, static_cast<const unsigned char*>(buffer), n, offset);
  ReportEvent(FileOperation::Write, fd, path_);
}

std::size_t File::WriteSome(const void* buffer, std::size_t n) {
  const int fd = CheckedFd("write");
  if (const int err = InjectedFault(FileOperation::Write, path_)) Fail("write", path_, err);
  for (;;) {
    const ssize_t put = ::write(fd, buffer, std::min(n, kMaxChunk));
    if (put > 0) ReportEvent(FileOperation::Write, fd, path_);
    if (put >= 0) return static_cast<std::size_t>(put);
    if (errno != EINTR) Fail("write", path_, errno);
  }
}

void File::Seek(std::int64_t offset) {
  const int fd = CheckedFd("seek in");
  if (const int err = InjectedFault(FileOperation::Seek, path_)) Fail("seek in", path_, err);
  if (offset < 0) Fail("seek in", path_, EINVAL, "negative offset");
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) Fail("seek in", path_, errno);
}

std::int64_t File::Size() const {
  const int fd = CheckedFd("get the size of");
  if (const int err = InjectedFault(FileOperation::Size, path_)) {
    Fail("get the size of", path_, err);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail("get the size of", path_, errno);
  return static_cast<std::int64_t>(st.st_size);
}

FileStamp File::Stamp(std::uint64_t* links) const {
  const int fd = CheckedFd("get the state of");
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail("get the state of", path_, errno);
  if (links != nullptr) *links = static_cast<std::uint64_t>(st.st_nlink);
  return StampOf(st);
}

void File::Opened(const struct stat& st) {
  opened_ = StampOf(st);
  openedMode_ = static_cast<std::uint32_t>(st.st_mode & 0777);
}

std::vector<File::Range> File::DataRanges(std::int64_t known) const {
  const std::int64_t size = known >= 0 ? known : Size();
  std::vector<Range> whole{{0, size}};
  std::vector<Range> ranges;
  off_t at = 0;
  while (at < size) {
    const off_t data = ::lseek(fd_, at, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break; // nothing but a hole up to the end
      return whole;
    }
    const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
    if (hole < 0 || hole <= data) return whole;
    ranges.push_back({data, std::min<std::int64_t>(hole, size) - data});
    at = hole;
  }
  return ranges;
}

std::uint32_t File::Mode() const {
  const int fd = CheckedFd("get the permissions of");
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail("get the permissions of", path_, errno);
  return static_cast<std::uint32_t>(st.st_mode & 0777);
}

void File::SetMode(std::uint32_t mode) {
  const int fd = CheckedFd("set the permissions of");
  if (::fchmod(fd, static_cast<mode_t>(mode & 0777)) != 0)
    Fail("set the permissions of", path_, errno);
}

bool File::GiveTo(std::uint32_t owner, std::uint32_t group) {
  return fd_ >= 0 && ::fchown(fd_, static_cast<uid_t>(owner), static_cast<gid_t>(group)) == 0;
}

bool File::SetModified(std::int64_t seconds) {
  if (fd_ < 0 || InjectedFault(FileOperation::SetDate, path_) != 0) return false;
  struct timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT; // access time unchanged
  times[1].tv_sec = static_cast<time_t>(seconds);
  return ::futimens(fd_, times) == 0;
}

void File::Sync() {
  const int fd = CheckedFd("flush");
  if (const int err = InjectedFault(FileOperation::Sync, path_)) Fail("flush", path_, err);
  while (::fsync(fd) != 0) {
    if (errno != EINTR) Fail("flush", path_, errno);
  }
  ReportEvent(FileOperation::Sync, fd, path_);
}

void File::SyncData() {
  const int fd = CheckedFd("flush");
  if (const int err = InjectedFault(FileOperation::Sync, path_)) Fail("flush", path_, err);
  while (::fdatasync(fd) != 0) {
    if (errno != EINTR) Fail("flush", path_, errno);
  }
  ReportEvent(FileOperation::Sync, fd, path_);
}

void File::StartFlush() {
  if (fd_ >= 0) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void File::DropCache(bool readAgain) {
  // Dirty pages stay cached until written back; callers Sync first. Failure only costs a
  // cached read.
  if (fd_ < 0) return;
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
  if (readAgain) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_WILLNEED);
}

bool File::HoldAlone() {
  const int fd = CheckedFd("hold");
  // Setting the lease makes this process the one told of its break, by SIGIO unless another
  // signal is named, and SIGIO ends a process by default: the break is told by SIGURG instead,
  // which is ignored by default, before the lease exists. No signal is wanted at all: an open
  // that breaks the lease waits for the descriptor to close.
  ::fcntl(fd, F_SETSIG, SIGURG);
  // A write lease is granted only while no other open file of any process (a shared mapping's
  // included) refers to the file, and later opens wait for it to be given back.
  if (::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
    const int err = errno;
    if (err == EAGAIN || err == EBUSY)
      Fail("hold", path_, EWOULDBLOCK, "the file is in use by another program");
    // No leases on this file system, or not the owner's file: nothing is known either way.
    return false;
  }
  if (const int injected = InjectedFault(FileOperation::Hold, path_)) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    Fail("hold", path_, injected);
  }
  held_ = true;
  ::fcntl(fd, F_SETOWN, 0);
  return true;
}

bool File::StillHeldAlone() const {
  if (!held_ || fd_ < 0) return true;
  // A lease broken by a reader is lowered to a read lease, one broken by a writer taken away:
  // a writer waits, or has the file.
  const int lease = ::fcntl(fd_, F_GETLEASE);
  return lease == F_WRLCK || lease == F_RDLCK;
}

bool File::Reserve(std::int64_t offset, std::int64_t length) {
  if (fd_ < 0 || offset < 0 || length <= 0) return false;
  if (InjectedFault(FileOperation::Reserve, path_)) return false;
  // A file system in memory has no extents to set aside: it would allocate and clear every page
  // now, serially, that the writes allocate anyway. A full one still refuses those writes.
  struct statfs fs {};
  if (::fstatfs(fd_, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC))
    return false;
  int result;
  do {
    result = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, offset, length);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void File::Close() {
  DropTemporaryName();
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  const int injected = InjectedFault(FileOperation::Close, path_);
  // Never retried: on Linux the descriptor is gone whatever close reports.
  const int result = ::close(fd);
  if (injected) Fail("close", path_, injected);
  if (result != 0) Fail("close", path_, errno);
}

} // namespace qk::platform
