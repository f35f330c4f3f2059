#include "platform/FileSystem.h"

#include "platform/Listed.h"
#include "platform/PathText.h"
#include "platform/Seam.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace qk::platform {

namespace {

constexpr int kFirstYear = 1980;
constexpr int kLastYear = 2107; // 7 bits of years

// Facts about what at names: links followed, except in a listed folder (where none is).
bool StatAt(const detail::Anchor& at, struct stat& st) {
  if (at.Error() != 0) return false;
  return ::fstatat(at.Dir(), at.Name(), &st, at.Confined() ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

bool StatPath(const std::string& path, struct stat& st) {
  const detail::Anchor at(path);
  return StatAt(at, st);
}

// Renames from to to, failing with EEXIST instead of replacing. Returns 0 or an errno value.
int RenameNoReplace(const detail::Anchor& from, const detail::Anchor& to) {
  if (from.Error() != 0) return from.Error();
  if (to.Error() != 0) return to.Error();
  if (!from.Matches(-1)) return ESTALE;
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, from.Dir(), from.Name(), to.Dir(), to.Name(), RENAME_NOREPLACE) ==
      0) {
    return 0;
  }
  const int err = errno;
  // ENOSYS: an old kernel; EINVAL: a file system without RENAME_NOREPLACE.
  if (err != ENOSYS && err != EINVAL) return err;
#endif
  // A hard link refuses an existing target atomically; then drop the old name.
  if (::linkat(from.Dir(), from.Name(), to.Dir(), to.Name(), 0) == 0) {
    if (::unlinkat(from.Dir(), from.Name(), 0) != 0) {
      const int err = errno;
      ::unlinkat(to.Dir(), to.Name(), 0);
      return err;
    }
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // Folders, and file systems without hard links: check, then rename (not atomic).
  struct stat st {};
  if (::fstatat(to.Dir(), to.Name(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(from.Dir(), from.Name(), to.Dir(), to.Name()) == 0 ? 0 : errno;
}

} // namespace

std::int64_t GetFileSize64(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, st) || S_ISDIR(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
  const detail::Anchor at(path);
  struct stat st {};
  return at.Error() == 0 && ::fstatat(at.Dir(), at.Name(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && (st.st_mode & S_IWUSR) == 0;
}

bool OwnedByAnotherUser(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

bool FolderWritable(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 && IsDirectory(folder);
}

std::int32_t PackFileDate(std::int64_t unixSeconds) {
  if (unixSeconds < std::numeric_limits<time_t>::min() ||
      unixSeconds > std::numeric_limits<time_t>::max()) {
    return -1;
  }
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  if (::localtime_r(&t, &local) == nullptr) return -1;
  const int year = local.tm_year + 1900;
  if (year < kFirstYear || year > kLastYear) return -1;
  const int seconds = local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second
  const std::uint32_t packed = static_cast<std::uint32_t>(year - kFirstYear) << 25 |
                               static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
                               static_cast<std::uint32_t>(local.tm_mday) << 16 |
                               static_cast<std::uint32_t>(local.tm_hour) << 11 |
                               static_cast<std::uint32_t>(local.tm_min) << 5 |
                               static_cast<std::uint32_t>(seconds / 2);
  // Years from 2044 on set the top bit: such values are negative, but never -1 (month 15).
  return static_cast<std::int32_t>(packed);
}

std::int64_t UnpackFileDate(std::int32_t packed) {
  const auto bits = static_cast<std::uint32_t>(packed);
  const int year = static_cast<int>(bits >> 25) + kFirstYear;
  const int month = static_cast<int>((bits >> 21) & 0x0F);
  const int day = static_cast<int>((bits >> 16) & 0x1F);
  const int hour = static_cast<int>((bits >> 11) & 0x1F);
  const int minute = static_cast<int>((bits >> 5) & 0x3F);
  const int seconds = static_cast<int>(bits & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || seconds > 59) {
    return -1;
  }
  struct tm fields {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = seconds;
  // The date as if it were universal time, then moved by the zone's offset as it was on that
  // day. localtime_r keeps the zone it has read, where mktime reads its file again each time.
  const time_t universal = ::timegm(&fields);
  // timegm moves 31 February on to March; such a date does not exist.
  if (fields.tm_mday != day || fields.tm_mon != month - 1) return -1;
  const auto offsetAt = [](time_t at, long& offset) {
    struct tm local {};
    if (::localtime_r(&at, &local) == nullptr) return false;
    offset = local.tm_gmtoff;
    return true;
  };
  long offset = 0;
  if (!offsetAt(universal, offset)) return -1;
  // Near a change of the offset the first guess lies on the other side of it: the offset at the
  // guessed moment is the one that holds there.
  long at = 0;
  if (!offsetAt(universal - offset, at)) return -1;
  return static_cast<std::int64_t>(universal - at);
}

std::int32_t GetFileDate(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, st)) return -1;
  return PackFileDate(static_cast<std::int64_t>(st.st_mtim.tv_sec));
}

bool SetFileDate(const std::string& path, std::int32_t packed) {
  if (InjectedFault(FileOperation::SetDate, path) != 0) return false;
  const std::int64_t seconds = UnpackFileDate(packed);
  if (seconds == -1) return false;
  struct timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT; // access time unchanged
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  const detail::Anchor at(path);
  if (at.Error() != 0 || !at.Matches(-1)) return false;
  // A date is never set through a link: the file dated is the one at that name.
  return ::utimensat(at.Dir(), at.Name(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool DeleteFile(const std::string& path) {
  if (const int injected = InjectedFault(FileOperation::Delete, path)) {
    errno = injected;
    return false;
  }
  // A listed file is removed from its folder's descriptor, and only while it is the one listed.
  const detail::Anchor at(path);
  if (at.Error() != 0) {
    errno = at.Error();
    return false;
  }
  if (!at.Matches(-1)) {
    errno = ESTALE;
    return false;
  }
  if (::unlinkat(at.Dir(), at.Name(), 0) != 0) return false;
  ForgetNotedFile(path);
  ReportEvent({FileOperation::Delete, path, {}, 0, false});
  return true;
}

int RemovalRefused(const std::string& path) {
  if (const int injected = InjectedFault(FileOperation::MayRemove, path)) return injected;
  // The folder the name is removed from: a listed file's through its folder's descriptor.
  const detail::Anchor at(path);
  if (at.Error() != 0) return at.Error();
  std::string folderPath = ExtractFilePath(path);
  if (folderPath.empty()) folderPath = ".";
  const int dir = at.Confined() ? ::openat(at.Dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                : ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return errno;
  struct stat folder {};
  struct stat file {};
  int flags = 0;
  int refused = 0;
  if (::faccessat(dir, ".", W_OK | X_OK, AT_EACCESS) != 0 || ::fstat(dir, &folder) != 0 ||
      ::fstatat(dir, ExtractFileName(path).c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
    refused = errno;
  } else if (::ioctl(dir, FS_IOC_GETFLAGS, &flags) == 0 &&
             (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    // A folder that is append-only or immutable lets no name go, for root too.
    refused = EPERM;
  } else if (const uid_t me = ::geteuid(); (folder.st_mode & S_ISVTX) != 0 && me != 0 &&
                                           me != file.st_uid && me != folder.st_uid) {
    // In a folder with the sticky bit, only the file's owner, the folder's owner and root may
    // remove a name.
    refused = EPERM;
  }
  ::close(dir);
  return refused;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (InjectedFault(FileOperation::Rename, from) != 0) return false;
  const detail::Anchor fromAt(from);
  const detail::Anchor toAt(to);
  if (RenameNoReplace(fromAt, toAt) != 0) return false;
  ForgetNotedFile(from);
  ForgetNotedFile(to);
  ReportEvent({FileOperation::Rename, from, to, 0, false});
  return true;
}

bool SamePath(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (StatPath(a, sa) && StatPath(b, sb)) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return a == b;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE) {
      throw IoError("Cannot get the current directory: " + std::system_category().message(errno),
                    errno);
    }
    buffer.resize(buffer.size() * 2);
  }
}

} // namespace qk::platform
