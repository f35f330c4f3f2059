#include "core/FindFile.h"

#include "platform/FileSystem.h"

#include "platform/Listed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::core {

namespace {

std::string WithSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + '/';
}

// An open folder listing over a folder's descriptor (taken over), closed on destruction.
class Folder {
public:
  explicit Folder(int fd) : dir_(fd >= 0 ? ::fdopendir(fd) : nullptr) {
    if (fd >= 0 && dir_ == nullptr) ::close(fd);
  }
  ~Folder() {
    if (dir_) ::closedir(dir_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return dir_ != nullptr; }
  int Fd() const { return ::dirfd(dir_); }

  // Every name except "." and "..", in byte order; false (errno set) when the listing broke off.
  bool Names(std::vector<std::string>& names) {
    names.clear();
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (entry == nullptr) break;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      names.emplace_back(name);
    }
    if (errno != 0) return false;
    std::sort(names.begin(), names.end()); // char_traits<char> compares as unsigned bytes
    return true;
  }

private:
  DIR* dir_;
};

// The attributes of name inside the open folder (ffHidden, ffDirectory); false when the entry has
// gone meanwhile. The entry itself (a link, not what it names) is noted as listed.
bool ReadEntry(int folderFd, const std::string& folder, const std::string& name,
               std::uint8_t& attributes) {
  struct stat st {};
  if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  platform::NoteListed(
      folder + name, {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
      S_ISDIR(st.st_mode));
  attributes = name.front() == '.' ? static_cast<std::uint8_t>(ffHidden) : 0;
  if (S_ISLNK(st.st_mode) && ::fstatat(folderFd, name.c_str(), &st, 0) != 0) {
    return true; // a dangling link: a plain entry
  }
  if (S_ISDIR(st.st_mode)) attributes |= static_cast<std::uint8_t>(ffDirectory);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void TFindFile::Execute() {
  mask_ = Attributes.Mask();
  Files.clear();
  Folders.clear();
  Unreadable.clear();
  if (!Directory.empty()) {
    // The folder named is opened by its path; everything below it is reached from its
    // descriptor (platform/Listed.h).
    const int root = platform::OpenWalkRoot(Directory);
    if (root >= 0) {
      ::close(root);
    } else if (errno != ENOTDIR) {
      // (A file given as the folder lists nothing, as a missing folder does.)
      NoteUnreadable(WithSeparator(Directory), errno);
    }
    if (Recurse) {
      ScanTree(Directory);
    } else {
      ScanFolder(Directory);
    }
  }
}

void TFindFile::NoteUnreadable(const std::string& folder, int error) {
  // A folder that is not there holds nothing to miss.
  if (error == ENOENT) return;
  if (!Unreadable.empty() && Unreadable.back().path == folder) return;
  Unreadable.push_back({folder, error});
}

bool TFindFile::ReadFolder(const std::string& folder, int& fd, std::vector<std::string>& names) {
  fd = platform::OpenNotedFolder(folder);
  if (fd < 0) {
    NoteUnreadable(folder, errno);
    return false;
  }
  Folder listing(fd);
  if (!listing.IsOpen() || !listing.Names(names)) {
    NoteUnreadable(folder, errno);
    fd = -1;
    return false;
  }
  fd = ::fcntl(listing.Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) NoteUnreadable(folder, errno);
  return fd >= 0;
}

void TFindFile::ScanFolder(const std::string& folder) {
  const std::string path = WithSeparator(folder);
  int fd = -1;
  std::vector<std::string> names;
  if (!ReadFolder(path, fd, names)) return;
  ListEntries(path, fd, names);
  ::close(fd);
}

void TFindFile::ListEntries(const std::string& path, int fd,
                            const std::vector<std::string>& names) {
  // Attributes that keep an entry out of the listing unless the mask has them.
  constexpr std::uint8_t kExcluding =
      static_cast<std::uint8_t>(ffHidden) | static_cast<std::uint8_t>(ffDirectory);
  for (const std::string& name : names) {
    std::uint8_t attributes = 0;
    if (!ReadEntry(fd, path, name, attributes)) continue;
    if ((attributes & kExcluding & ~mask_) != 0) continue;
    Files.push_back(path + name);
    Folders.push_back((attributes & static_cast<std::uint8_t>(ffDirectory)) != 0);
  }
}

void TFindFile::ScanTree(const std::string& start) {
  // Breadth first: a folder's subfolders join the end of the queue before the folder is listed.
  // Each folder is read once, for its subfolders and its entries.
  std::deque<std::string> queue{WithSeparator(start)};
  std::vector<std::string> names;
  do {
    const std::string folder = WithSeparator(queue.front());
    int fd = -1;
    if (ReadFolder(folder, fd, names)) {
      ListSubfolders(folder, fd, names, queue);
      ListEntries(folder, fd, names);
      ::close(fd);
    }
    queue.pop_front();
  } while (!queue.empty());
}

void TFindFile::ListSubfolders(const std::string& folder, int fd,
                               const std::vector<std::string>& names,
                               std::deque<std::string>& queue) {
  for (const std::string& name : names) {
    struct stat st {};
    // Not following links keeps a link to a folder out of the walk, so no walk can loop.
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      platform::NoteListed(
          folder + name,
          {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}, true);
      queue.push_back(folder + name);
    }
  }
}

void AddFolder(TFindFile& finder, const std::string& path, const AddFileEvent& addFile,
               const AddUnreadableEvent& addUnreadable) {
  finder.Directory = path;
  finder.Execute();
  // Copies, so that the events may use the finder again.
  const std::vector<std::string> files = finder.Files;
  const std::vector<bool> folders = finder.Folders;
  const std::vector<TFindFile::UnreadableFolder> unreadable = finder.Unreadable;
  for (std::size_t i = 0; i < files.size(); ++i) {
    // As the walk found it: no second look at each file.
    if (!folders[i]) addFile(files[i]);
  }
  if (addUnreadable) {
    for (const auto& folder : unreadable) addUnreadable(folder.path, folder.error);
  }
  // The run opens and checks its folders again when it begins.
  platform::ReleaseFolders();
}

void AddPaths(TFindFile& finder, const std::vector<std::string>& paths, const AddFileEvent& addFile,
              const AddUnreadableEvent& addUnreadable) {
  for (const std::string& path : paths) {
    // Decided on the paths themselves, whatever was noted before: a link to a folder is walked,
    // anything else that is there is one file.
    struct stat st {};
    if (IsFolder(path) || ::lstat(path.c_str(), &st) != 0) {
      AddFolder(finder, path, addFile, addUnreadable);
    } else {
      // Reached from here on like a walked file; a failure to note it fails its operations.
      platform::NoteNamed(path);
      addFile(path);
    }
  }
  platform::ReleaseFolders();
}

} // namespace qk::core
