// Files and folders a run acts on, and how they are reached again.
//
// Every folder a run works in is noted when it is listed: a walk's own folder, each folder found
// below it, and the folder of each file named one by one (command line, drop, chooser). A folder
// named by a path is resolved once, when it is noted (links the user wrote, such as /home leading
// to /usr/home, are followed then), and opened from "/" down, one part at a time, never following
// a link; every folder on the way is noted with the device and inode it had. A folder found by a
// walk is noted with its parent and identity. Files are noted with the identity they were listed
// with. From then on every operation of this layer on a path in a noted folder (a listed file, or
// an output written beside one) reaches it through that folder's descriptor: the folder is opened
// from its parent's descriptor without following a link and checked to be the folder noted, and
// the last part is opened, created, renamed, dated or removed relative to it, without following
// a link, and checked when it was listed. A folder swapped for a link or for another folder, or a
// file swapped for another, makes the operation fail: nothing outside the folders given is
// reached through a noted path. Paths keep the form they were named in; results name them so.
//
// A folder's descriptor, once opened and checked, is kept (a bounded number of them, the least
// recently used going first), so that the cost of an operation does not grow with the folder's
// depth. ReleaseFolders lets them go (the end of a listing); the next operation opens and checks
// them again.
//
// Paths are noted as they are written: a folder with its trailing "/", a file as folder + name.
// Safe to use from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct stat;

namespace qk::platform {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Notes folder as the start of a walk (resolved and opened from "/" as described above) and
// returns a read-only descriptor of it that the caller closes; -1 (errno set) when it cannot be
// resolved, reached or read.
int OpenWalkRoot(const std::string& folder);
// Notes an entry found in the noted folder ExtractFilePath(path) with the identity it was listed
// with (links not followed); a folder is noted under path + "/".
void NoteListed(const std::string& path, const FileIdentity& identity, bool isFolder);
// Notes a file named one by one: its folder as described above, the file (a link itself, not
// what it leads to) with its identity. 0, or the errno that kept it from being noted; every
// later operation on path then fails with that errno.
int NoteNamed(const std::string& path);
// Notes a folder named as the place of an output (with its "/", or "" for the current folder),
// as the folder of a named file is noted. 0 or the errno that kept it from being noted.
int NoteFolder(const std::string& folder);
// A fresh read-only descriptor of a noted folder (given with its trailing "/"), reached as
// described above, for listing it; the caller closes it. -1 with errno set when it cannot be
// reached or is no longer the folder that was noted.
int OpenNotedFolder(const std::string& folder);
// The name path no longer stands for the file that was listed there: this program removed or
// renamed that file, or made a new one at the name. Operations on the name then act on what is
// there now, still through descriptors and without following a link.
void ForgetNotedFile(const std::string& path);
// Closes the kept folder descriptors; the notes stay.
void ReleaseFolders();
// Forgets everything noted: a new list begins.
void ForgetListed();

namespace detail {

class HeldFolder;

// Where an operation on path acts. For a path in a noted folder: that folder's descriptor, the
// last part of the path, and the identity it was listed with when it was. For any other path:
// AT_FDCWD and the path itself.
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
  // The same for what a look at the file (fstat, lstat) saw.
  bool Matches(const struct stat& seen) const;

private:
  std::shared_ptr<const HeldFolder> folder_;
  int dir_;
  std::string name_;
  int error_ = 0;
  bool confined_ = false;
  bool listed_ = false;
  FileIdentity identity_;
};

// A descriptor of folder (with or without its trailing "/") that the caller closes, when it is
// noted; else -1 with error 0; -1 with an errno in error when it is noted but cannot be reached.
// With firstUse: whether this is the first descriptor asked for with firstUse since the folder's
// descriptor was opened and checked (it is kept for a while, see ReleaseFolders).
int NotedFolderFd(const std::string& folder, int& error, bool* firstUse = nullptr);

} // namespace detail

} // namespace qk::platform
