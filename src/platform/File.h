// Files as the engine uses them: opened with read and write access while others may read and
// write, created for output, or opened exclusively for the wipe. Every file the engine and the
// file hash read or write goes through this unit. A few places outside it make their own POSIX
// calls: the settings file's reading and saving (settings/IniUnit.cpp), the folder walk of the
// file collection (core/FindFile.cpp), and qk-cli's password file and standard input
// (cli/Cli.cpp).
//
// Sharing is built from advisory flock(2) locks, which every QK process honours: the shared
// opens take LOCK_SH, the exclusive open takes LOCK_EX, both without waiting. A file without the
// owner-write bit counts as read-only and is refused by every open that writes, for root too.
#pragma once

#include "platform/Seam.h"
#include "platform/Threads.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct stat;

namespace qk::platform {

// What tells one state of a file from another: its identity, size, and modification and change
// times to the nanosecond.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = -1;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  // The time of the last change to the file or its state: moves with any write, also one whose
  // modification time was put back afterwards.
  std::int64_t changedSeconds = 0;
  std::int64_t changedNanoseconds = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// How a file is given its name (File::Publish).
enum class Naming {
  New,       // never over anything that exists
  Replacing, // over a regular file of the user's own
};

class File {
public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // An existing regular file with read and write access, sharing read and write with other
  // openers. Fails for a missing file, a folder (EISDIR), anything else that is not a regular file
  // (ENXIO, as the system says for a socket: a FIFO, a device), a file without the owner-write
  // bit (read-only, also for root) and a file that another opener holds exclusively.
  static File OpenShared(const std::string& path);
  // New files are created readable and writable by their owner alone (mode 0600, narrowed
  // further by the umask); SetMode widens them where that is wanted.

  // A new file for output (read and write); fails when anything exists at path (a dangling
  // symbolic link too).
  static File CreateNew(const std::string& path);
  // A file for output, replacing the contents of an existing file at path. Fails like OpenShared
  // for an existing read-only file, a folder, or a file held exclusively; the contents are cut
  // only once the lock is held. An existing file keeps its permissions.
  static File CreateAlways(const std::string& path);
  // A new file in folder ("" is the current folder) that has no name yet: nothing else can see
  // it, and it goes with its last descriptor unless Publish names it. Where the file system has
  // no nameless files, it is made under a hidden name of its own in folder (".qk-" and random
  // characters, created exclusively), and that name is removed again when the file is closed or
  // released without Publish.
  static File CreateHidden(const std::string& folder);
  // An existing file for writing only, held exclusively: fails while any other opener holds it.
  // Symbolic links are not followed; read-only files are refused.
  static File OpenExclusiveWrite(const std::string& path);

  // Gives a file from CreateHidden the name path, in its folder. New: unless something exists
  // there already. Replacing: replacing what is there only when it is a regular file of this
  // user's own that is not read-only and that no other opener holds exclusively; a symbolic link
  // there is never followed nor replaced, and the replacement is one rename: the old contents are
  // never cut. False (errno set) when it could not: the file stays nameless then.
  bool Publish(const std::string& path, Naming naming = Naming::New);

  bool IsOpen() const { return fd_ >= 0; }
  // True once Publish gave the file its name, also after it was closed.
  bool Published() const { return published_; }
  const std::string& Path() const { return path_; }

  // Reads up to n bytes; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t n);
  // Reads exactly n bytes or raises IoError (a file cut short).
  void ReadExact(void* buffer, std::size_t n);
  // Writes all n bytes or raises IoError.
  void WriteAll(const void* buffer, std::size_t n);
  // Writes all n bytes at offset bytes from the beginning, leaving the position where it was; safe
  // beside other positioned writes to the same file from another thread. Raises IoError.
  void WriteAllAt(const void* buffer, std::size_t n, std::int64_t offset);
  // One write call: returns the count written (0 when nothing could be written); raises on error.
  std::size_t WriteSome(const void* buffer, std::size_t n);
  // Moves to offset bytes from the beginning.
  void Seek(std::int64_t offset);
  std::int64_t Size() const;
  // The file's stamp as it is now; with links, its count of names (hard links) too.
  FileStamp Stamp(std::uint64_t* links = nullptr) const;
  // What the open of an existing file (OpenShared, OpenExclusiveWrite) saw of it, before anything
  // was read or written through it: its stamp and permission bits. The one look the open took
  // serves them all; a file created here has none (a size of -1).
  const FileStamp& OpenedStamp() const { return opened_; }
  std::uint32_t OpenedMode() const { return openedMode_; }
  // A range of bytes of the file.
  struct Range {
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };
  // The ranges that hold data, in order (SEEK_DATA / SEEK_HOLE); everything between them is a
  // hole. The whole file as one range where the file system cannot tell. Moves the position.
  // size: the file's size when the caller knows it (looked up otherwise).
  std::vector<Range> DataRanges(std::int64_t size = -1) const;
  // The permission bits (rwx for owner, group and others; 0777 at most).
  std::uint32_t Mode() const;
  // Sets the permission bits to mode & 0777, whatever the umask says.
  void SetMode(std::uint32_t mode);
  // Gives the file to owner and group; false when the system refuses (only a privileged process
  // may give a file away).
  bool GiveTo(std::uint32_t owner, std::uint32_t group);
  // Sets the modification time to seconds since 1970 (the access time stays); false when it
  // could not be set.
  bool SetModified(std::int64_t seconds);
  // Flushes the contents to the disk.
  void Sync();
  // Flushes the contents and what it takes to read them back (the size, where the blocks are),
  // not the rest of the file's state (its times): enough for bytes overwritten in place, and
  // cheaper where the file system would otherwise commit its log for the times alone.
  void SyncData();
  // Starts writing the file's dirty data to the disk and returns without waiting: what Sync or
  // SyncData then waits for is under way already, so that the flushes of many files issued one
  // after another cost the file system one commit. Promises nothing; best effort.
  void StartFlush();
  // Asks the kernel to drop cached pages, so that the next read comes from the disk; with
  // readAgain, to begin that reading at once, without waiting for it, so that files read back
  // one after another have their reads under way together.
  void DropCache(bool readAgain = false);
  // Makes sure that no other open file refers to this one (another process that can still
  // change it, through a descriptor or a shared mapping) and keeps it so until this one is
  // closed: later opens by others wait until then. Raises IoError (EWOULDBLOCK, in use) when one
  // does. False when the system cannot tell here (a file system without leases, a file of
  // another owner): nothing is known either way then. Another program's open while the file is
  // held never ends this process (no SIGIO).
  bool HoldAlone();
  // False once the hold of HoldAlone is lost: another program opened the file for writing and
  // waits for it, or waited past the system's lease-break time and got it. True while the file
  // is still held alone, while only readers wait, and for a file that was never held.
  bool StillHeldAlone() const;
  // Sets aside disk space for length bytes from offset without changing the file's size, so that
  // writing them later is quicker. False when the space could not be set aside (a file system
  // without the call, a full disk) or is not worth setting aside (a file system in memory):
  // nothing has changed then, and the writes still work or fail on their own.
  bool Reserve(std::int64_t offset, std::int64_t length);
  // Closes and reports a failing close; the destructor closes silently. Closing a closed file
  // does nothing.
  void Close();

private:
  friend class HiddenAhead;
  File(int fd, std::string path, bool hidden = false)
      : fd_(fd), path_(std::move(path)), hidden_(hidden) {}
  int CheckedFd(const char* action) const;
  // Removes the hidden name of an unpublished file from CreateHidden's fallback.
  void DropTemporaryName();
  // Keeps what the open saw of the file (OpenedStamp).
  void Opened(const struct stat& st);

  int fd_ = -1;
  std::string path_; // for a nameless file, its folder
  bool hidden_ = false;
  bool published_ = false;
  bool held_ = false;     // HoldAlone set a lease
  std::string temporary_; // the hidden name standing in for a nameless file, when it has one
  FileStamp opened_;
  std::uint32_t openedMode_ = 0;
};

// True when the last part of path has the shape of the hidden names of CreateHidden (".qk-" and
// twelve characters of a-z and 0-9). Outputs are not given such names: the hidden files of
// killed runs are looked for by them.
bool HasHiddenNameShape(const std::string& path);

// Files kept open for later in the whole process (held outputs, overwrites waiting for their
// flush, files made ahead), counted together: they take at most DescriptorShare() descriptors, a
// quarter of what the process may open (two at least), so that they leave the rest to the folders
// kept open (platform/Listed.h) and the files being read and written.
std::atomic<std::size_t>& KeptFiles();
std::size_t DescriptorShare();

// A place among the files kept open for later, given back when it goes.
struct KeptFilesBudget {
  static std::atomic<std::size_t>& Count() { return KeptFiles(); }
  static std::size_t Limit() { return DescriptorShare(); }
};
using KeptFile = Place<KeptFilesBudget>;

// Makes the next nameless files of a folder on a thread of its own while the caller fills the
// ones before, so that what the file system spends on making a file (much, in a folder of many
// files) overlaps the caller's own work. A few are made at a time, so that the thread wakes
// seldom. Files made ahead and never taken go as any nameless file that is closed, leaving
// nothing behind. Only nameless files are made ahead: where CreateHidden falls back to a hidden
// name, each file is made when it is asked for.
class HiddenAhead {
public:
  HiddenAhead() = default;
  // Waits for the files being made, and drops them.
  ~HiddenAhead();
  HiddenAhead(const HiddenAhead&) = delete;
  HiddenAhead& operator=(const HiddenAhead&) = delete;

  // The most files made ahead.
  static constexpr std::size_t kAhead = 64;

  // What File::CreateHidden(folder) gives, raising as it does: a file made ahead in folder when
  // there is one, else one made now. more: how many files are still to be asked for in folder
  // after this one; that many, up to kAhead, are made ahead.
  File Take(const std::string& folder, std::size_t more);

private:
  void Make();

  std::mutex lock_;
  std::condition_variable changed_;
  std::string folder_;     // the folder of the files made and asked for
  std::vector<File> made_; // taken from the back
  std::size_t wanted_ = 0; // how many made_ is to hold
  bool asked_ = false;     // more are asked for
  bool making_ = false;
  bool stopping_ = false;
  bool started_ = false;
  HelperThread thread_;
};

} // namespace qk::platform
