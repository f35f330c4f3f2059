// Files and folders found by walking a folder, and how they are reached again.
//
// A walk begins at a folder that was named to the program; that folder is opened by its path,
// symbolic links and all. Everything found below it is noted with the device and inode it had
// when it was listed. From then on every operation of this layer on a noted path, or on a path
// in a noted folder (an output written beside a listed file), reaches it through descriptors:
// the walk's folder is opened by its path and checked, each folder below it is opened from its
// parent's descriptor without following a link and checked, and the last part is opened,
// created or removed relative to its folder, without following a link, and checked when it was
// listed. A folder swapped for a link, or a file swapped for another, makes the operation fail:
// nothing outside the walk's folder is reached through a noted path.
//
// Paths are noted as the walk writes them: a folder with its trailing "/", a file as folder +
// name. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <string>

namespace qk::platform {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Opens folder (links followed) as the start of a walk, notes it with its identity, and returns
// a read-only descriptor of it that the caller closes; -1 (errno set) when it cannot be opened.
int OpenWalkRoot(const std::string& folder);
// Notes an entry found in the noted folder ExtractFilePath(path) with the identity it was listed
// with (links not followed); a folder is noted under path + "/".
void NoteListed(const std::string& path, const FileIdentity& identity, bool isFolder);
// Opens a noted folder (given with its trailing "/") through descriptors as described above;
// -1 with errno set when it cannot be reached or is no longer the folder that was listed.
int OpenNotedFolder(const std::string& folder);
// The name path no longer stands for the file that was listed there: this program removed or
// renamed that file, or made a new one at the name. Operations on the name then act on what is
// there now, still through descriptors and without following a link.
void ForgetNotedFile(const std::string& path);
// Forgets everything noted: a new list begins.
void ForgetListed();

namespace detail {

// Where an operation on path acts. For a path in a noted folder: that folder's descriptor
// (owned), the last part of the path, and the identity it was listed with when it was. For any
// other path: AT_FDCWD and the path itself, as before.
class Anchor {
public:
  explicit Anchor(const std::string& path);
  ~Anchor();
  Anchor(const Anchor&) = delete;
  Anchor& operator=(const Anchor&) = delete;

  // 0, or the errno of a noted folder that could not be reached (nothing may be done then).
  int Error() const { return error_; }
  int Dir() const { return dir_; }
  const char* Name() const { return name_.c_str(); }
  // In a noted folder: no link may be followed at the last part either.
  bool Confined() const { return confined_; }
  // The path was listed: what is found there must be what was listed.
  bool Listed() const { return listed_; }
  // fd (or, with fd < 0, the entry at Name() in Dir(), links not followed) is what was listed;
  // always true for a path that was not listed.
  bool Matches(int fd) const;

private:
  int dir_;
  std::string name_;
  int error_ = 0;
  bool confined_ = false;
  bool listed_ = false;
  FileIdentity identity_;
};

// The folder descriptor for folder (with or without its trailing "/") when it is noted, else -1
// with error 0; -1 with an errno in error when it is noted but cannot be reached.
int NotedFolderFd(const std::string& folder, int& error);

} // namespace detail

} // namespace qk::platform
