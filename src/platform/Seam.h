// Where file work meets what is outside it: the error every file operation raises, and the hooks
// through which tests make an operation fail (faults) or watch what it did to the disk (events).
// The file units (File, FileSystem, Listed, Durable) call into it; it calls none of them.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace qk::platform {

// An input/output failure; errorCode() is the errno value (0 when none applies).
class IoError : public std::runtime_error {
public:
  IoError(const std::string& message, int errorCode)
      : std::runtime_error(message), errorCode_(errorCode) {}
  int errorCode() const { return errorCode_; }

private:
  int errorCode_;
};

// Fault injection for tests. The hook is called before each system call of the operations named
// below, with the path concerned; a non-zero result is taken as the errno of that call, which
// then fails as the system would have failed it (IoError, or false for the FileSystem calls).
// Not for production use; set and clear it while no file work runs on other threads. Calls of
// the hook never overlap.
enum class FileOperation {
  Open,       // OpenShared, OpenExclusiveWrite
  Create,     // CreateNew, CreateAlways
  Read,       // Read, ReadExact
  Write,      // WriteAll, WriteSome
  Seek,       // Seek
  Size,       // Size
  Sync,       // Sync, SyncData
  Close,      // Close (the descriptor is released all the same)
  Delete,     // DeleteFile
  Rename,     // RenameFile
  SetDate,    // SetFileDate, SetModified
  Reserve,    // Reserve
  Nameless,   // CreateHidden: non-zero makes it use its fallback, as without nameless files
  List,       // OpenNotedFolder: the folder about to be listed (with its "/")
  Link,       // Publish: the file gets its name
  FolderSync, // SyncFolderOf (platform/Durable.h): a folder's entries flushed
  Hold,       // HoldAlone, once the lease is set: the moment another program's open would break
              // it (a hook may open the file here); a non-zero result fails the hold as the
              // lease's errno
  MayRemove,  // RemovalRefused: a non-zero result is the errno the removal would meet
};
using FaultHook = std::function<int(FileOperation operation, const std::string& path)>;
// Installs hook (an empty function removes it).
void SetFaultHook(FaultHook hook);
// The errno the installed hook gives for the operation, 0 when none is installed.
int InjectedFault(FileOperation operation, const std::string& path);

// What an operation did to the disk, reported after it succeeded, for tests that replay a run
// (a crash simulation): Create (a file made, named or not), Open (an existing file opened),
// Write, Sync, Link (a file given a name; also the fallback's move of its hidden name), Rename,
// Delete and FolderSync.
struct FileEvent {
  FileOperation operation = FileOperation::Open;
  std::string path;        // the name concerned; for a file without a name, its folder
  std::string target;      // Rename: the new name
  std::uint64_t inode = 0; // the file concerned, where the operation had it in hand
  bool exclusive = false;  // Open: held exclusively for writing (the wipe)
};
using EventHook = std::function<void(const FileEvent& event)>;
// Installs hook (an empty function removes it); the same rules as SetFaultHook.
void SetEventHook(EventHook hook);
// True while an event hook is installed.
bool EventsWanted();
// Reports event to the installed hook, if any.
void ReportEvent(const FileEvent& event);
// Reports an event on the file behind descriptor fd (its inode looked up only while a hook is
// installed).
void ReportEvent(FileOperation operation, int fd, const std::string& path,
                 const std::string& target = {}, bool exclusive = false);

} // namespace qk::platform
