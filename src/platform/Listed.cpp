#include "platform/Listed.h"

#include "platform/PathText.h"
#include "platform/Seam.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace qk::platform {

namespace detail {

// A folder's descriptor, closed with the last holder.
class HeldFolder {
public:
  explicit HeldFolder(int fd) : fd_(fd) {}
  ~HeldFolder() { ::close(fd_); }
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  int Fd() const { return fd_; }
  // True the first time it is asked: whoever asks first does the work done once per folder held
  // (the descriptor pins the folder, so it stays the same folder while held).
  bool FirstUse() const { return !used_.exchange(true); }

private:
  int fd_;
  mutable std::atomic<bool> used_{false};
};

} // namespace detail

namespace {

using detail::HeldFolder;
using Held = std::shared_ptr<const HeldFolder>;

// Folder descriptors kept at most: 64, and no more than a sixteenth of what the process may open
// (the files kept open take a quarter, see platform/File.h); those in use stay open with their
// users beyond that.
std::size_t MaxHeldFolders() {
  static const std::size_t most = [] {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 64ul;
    return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur) / 16, 1, 64);
  }();
  return most;
}

// A folder on the way to the one acted in needs search permission only, not read permission.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct NotedFolder {
  std::string parent; // key of the noted folder it is in; empty for "/"
  std::string name;   // its name there
  FileIdentity identity;
  // Paths in it are reached through it (a walked or named folder, not one merely on the way).
  bool confined = false;
  // Non-zero: it could not be resolved when it was noted, and nothing in it is reached.
  int error = 0;
};

struct HeldEntry {
  Held folder;
  std::uint64_t lastUse = 0;
};

std::mutex notedMutex;
// A folder as named (with its "/") whose path led through links: the key it was resolved to.
std::unordered_map<std::string, std::string> aliases;
std::unordered_map<std::string, NotedFolder> notedFolders; // keys end with "/", but for ""
std::unordered_map<std::string, FileIdentity> notedFiles;
std::unordered_map<std::string, HeldEntry> heldFolders; // by resolved key
std::uint64_t useClock = 0;

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string WithSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + '/';
}

// The key a folder named so is noted under; notedMutex held.
const std::string& KeyOf(const std::string& folder) {
  const auto alias = aliases.find(folder);
  return alias == aliases.end() ? folder : alias->second;
}

// Keeps folder's descriptor for key, letting the least recently used one go when there are too
// many; notedMutex held.
void Hold(const std::string& key, Held folder) {
  if (heldFolders.size() >= MaxHeldFolders() && heldFolders.find(key) == heldFolders.end()) {
    const auto oldest =
        std::min_element(heldFolders.begin(), heldFolders.end(), [](const auto& a, const auto& b) {
          return a.second.lastUse < b.second.lastUse;
        });
    heldFolders.erase(oldest);
  }
  heldFolders[key] = HeldEntry{std::move(folder), ++useClock};
}

int OpenFolderIn(int at, const std::string& name) {
  int fd;
  do {
    fd = ::openat(at, name.c_str(), kFolderFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Why name in at could not be opened as a folder: a link there is the reason, though O_DIRECTORY
// answers first.
int FolderOpenError(int at, const std::string& name, int error) {
  struct stat st {};
  if (error == ENOTDIR && ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode))
    return ELOOP;
  return error;
}

// The descriptor of the noted folder key, kept or opened from its parent's and checked;
// notedMutex held.
Held ReachLocked(const std::string& named, int& error) {
  const std::string key = KeyOf(named);
  if (const auto held = heldFolders.find(key); held != heldFolders.end()) {
    held->second.lastUse = ++useClock;
    return held->second.folder;
  }
  const auto found = notedFolders.find(key);
  if (found == notedFolders.end()) {
    error = ENOENT;
    return nullptr;
  }
  const NotedFolder folder = found->second;
  if (folder.error != 0) {
    error = folder.error;
    return nullptr;
  }
  int fd;
  if (folder.parent.empty()) {
    do {
      fd = ::open(key.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
  } else {
    const Held parent = ReachLocked(folder.parent, error);
    if (!parent) return nullptr;
    fd = OpenFolderIn(parent->Fd(), folder.name);
    if (fd < 0) {
      error = FolderOpenError(parent->Fd(), folder.name, errno);
      return nullptr;
    }
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || IdentityOf(st) != folder.identity) {
    ::close(fd);
    error = ESTALE;
    return nullptr;
  }
  Held held = std::make_shared<const HeldFolder>(fd);
  Hold(key, held);
  return held;
}

// Notes every folder from "/" down to resolved (an absolute path without links, "." or "..",
// as realpath gives it), opening each from the one before without following a link, and keeps
// their descriptors. The last one is confined when asked. Returns its key, or "" with error set;
// notedMutex held.
std::string NoteChainLocked(const std::string& resolved, bool confined, int& error) {
  int fd;
  do {
    fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return {};
  }
  std::string key = "/";
  std::string parent;
  std::string name;
  std::size_t at = 1;
  for (;;) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      error = errno;
      ::close(fd);
      return {};
    }
    NotedFolder& noted = notedFolders[key];
    noted.parent = parent;
    noted.name = name;
    noted.identity = IdentityOf(st);
    noted.error = 0;
    aliases.erase(key);
    Hold(key, std::make_shared<const HeldFolder>(fd));
    while (at < resolved.size() && resolved[at] == '/') ++at;
    if (at >= resolved.size()) {
      noted.confined = noted.confined || confined;
      return key;
    }
    const std::size_t slash = std::min(resolved.find('/', at), resolved.size());
    name = resolved.substr(at, slash - at);
    at = slash;
    parent = key;
    key += name + '/';
    const int next = OpenFolderIn(fd, name);
    if (next < 0) {
      error = FolderOpenError(fd, name, errno);
      return {};
    }
    fd = next;
  }
}

// The path of folder ("" for the current one) with every link resolved; "" with error set.
std::string Resolve(const std::string& folder, int& error) {
  char* resolved = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr);
  if (resolved == nullptr) {
    error = errno;
    return {};
  }
  std::string path(resolved);
  std::free(resolved); // NOLINT(cppcoreguidelines-no-malloc): realpath's own buffer
  return path;
}

// Notes folder (with its "/", or "" for the current folder) as named, resolving it; its held
// descriptor, or none with error set (and every path in it then fails with that error).
Held NoteNamedFolder(const std::string& folder, int& error) {
  {
    // A folder already reached in this listing is not resolved again.
    std::lock_guard lock(notedMutex);
    const std::string& key = KeyOf(folder);
    const auto noted = notedFolders.find(key);
    const auto held = heldFolders.find(key);
    if (noted != notedFolders.end() && noted->second.confined && held != heldFolders.end()) {
      held->second.lastUse = ++useClock;
      return held->second.folder;
    }
  }
  const std::string resolved = Resolve(folder, error);
  std::lock_guard lock(notedMutex);
  std::string key;
  if (!resolved.empty()) key = NoteChainLocked(resolved, true, error);
  if (key.empty()) {
    aliases.erase(folder);
    NotedFolder& failed = notedFolders[folder];
    failed = NotedFolder{};
    failed.confined = true;
    failed.error = error;
    return nullptr;
  }
  if (key != folder) aliases[folder] = key;
  return heldFolders[key].folder;
}

// A descriptor of a held folder that its entries can be read through (a held one may be
// path-only), for the caller to close.
int OpenForReading(const Held& held) {
  int fd;
  do {
    fd = ::openat(held->Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

} // namespace

int OpenWalkRoot(const std::string& folder) {
  int error = 0;
  const Held held = NoteNamedFolder(WithSeparator(folder), error);
  if (!held) {
    errno = error;
    return -1;
  }
  return OpenForReading(held);
}

void NoteListed(const std::string& path, const FileIdentity& identity, bool isFolder) {
  std::lock_guard lock(notedMutex);
  if (isFolder) {
    const std::string key = WithSeparator(path);
    aliases.erase(key);
    NotedFolder& noted = notedFolders[key];
    if (noted.identity != identity) heldFolders.erase(key);
    noted = NotedFolder{};
    noted.parent = ExtractFilePath(path);
    noted.name = ExtractFileName(path);
    noted.identity = identity;
    noted.confined = true;
  } else {
    notedFiles[path] = identity;
  }
}

int NoteNamed(const std::string& path) {
  int error = 0;
  const Held folder = NoteNamedFolder(ExtractFilePath(path), error);
  if (!folder) return error;
  struct stat st {};
  if (::fstatat(folder->Fd(), ExtractFileName(path).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  std::lock_guard lock(notedMutex);
  notedFiles[path] = IdentityOf(st);
  return 0;
}

int NoteFolder(const std::string& folder) {
  int error = 0;
  return NoteNamedFolder(folder, error) ? 0 : error;
}

int OpenNotedFolder(const std::string& folder) {
  int error = InjectedFault(FileOperation::List, WithSeparator(folder));
  Held held;
  if (error == 0) {
    std::lock_guard lock(notedMutex);
    held = ReachLocked(WithSeparator(folder), error);
  }
  if (!held) {
    errno = error;
    return -1;
  }
  return OpenForReading(held);
}

void ForgetNotedFile(const std::string& path) {
  std::lock_guard lock(notedMutex);
  notedFiles.erase(path);
}

void ReleaseFolders() {
  std::lock_guard lock(notedMutex);
  heldFolders.clear();
}

void ForgetListed() {
  std::lock_guard lock(notedMutex);
  aliases.clear();
  notedFolders.clear();
  notedFiles.clear();
  heldFolders.clear();
}

namespace detail {

Anchor::Anchor(const std::string& path) : dir_(AT_FDCWD), name_(path) {
  const std::string folder = ExtractFilePath(path);
  std::lock_guard lock(notedMutex);
  const auto found = notedFolders.find(KeyOf(folder));
  if (found == notedFolders.end() || !found->second.confined) return;
  confined_ = true;
  dir_ = -1;
  name_ = ExtractFileName(path);
  if (const auto file = notedFiles.find(path); file != notedFiles.end()) {
    listed_ = true;
    identity_ = file->second;
  }
  folder_ = ReachLocked(folder, error_);
  if (folder_) dir_ = folder_->Fd();
}

Anchor::~Anchor() = default;

bool Anchor::Matches(int fd) const {
  if (!listed_) return true;
  struct stat st {};
  const int result =
      fd >= 0 ? ::fstat(fd, &st) : ::fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW);
  return result == 0 && IdentityOf(st) == identity_;
}

bool Anchor::Matches(const struct stat& seen) const {
  return !listed_ || IdentityOf(seen) == identity_;
}

int NotedFolderFd(const std::string& folder, int& error, bool* firstUse) {
  error = 0;
  // The current folder is "" when it is noted, as ExtractFilePath gives it.
  const std::string key = folder.empty() || folder == "." ? std::string() : WithSeparator(folder);
  Held held;
  {
    std::lock_guard lock(notedMutex);
    const auto found = notedFolders.find(KeyOf(key));
    if (found == notedFolders.end() || !found->second.confined) return -1;
    held = ReachLocked(key, error);
  }
  if (!held) return -1;
  const int fd = ::fcntl(held->Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) error = errno;
  if (fd >= 0 && firstUse != nullptr) *firstUse = held->FirstUse();
  return fd;
}

} // namespace detail

} // namespace qk::platform
