// Files as the engine uses them: opened with read and write access while others may read and
// write, created for output, or opened exclusively for the wipe. Every POSIX file call of the
// program goes through this unit.
#pragma once

#include <cstddef>
#include <cstdint>
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

class File {
public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // An existing regular file with read and write access, sharing read and write with other
  // openers. Fails for a missing file, a folder, a file without the owner-write bit (read-only,
  // also for root) and a file that another opener holds exclusively.
  static File OpenShared(const std::string& path);
  // A new file for output (read and write); fails when anything exists at path.
  static File CreateNew(const std::string& path);
  // A file for output, replacing the contents of an existing file at path.
  static File CreateAlways(const std::string& path);
  // An existing file for writing only, held exclusively: fails while any other opener holds it.
  // Symbolic links are not followed.
  static File OpenExclusiveWrite(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Reads up to n bytes; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t n);
  // Reads exactly n bytes or raises IoError (a file cut short).
  void ReadExact(void* buffer, std::size_t n);
  // Writes all n bytes or raises IoError.
  void WriteAll(const void* buffer, std::size_t n);
  // One write call: returns the count written (0 when nothing could be written); raises on error.
  std::size_t WriteSome(const void* buffer, std::size_t n);
  void Seek(std::int64_t offset);
  std::int64_t Size() const;
  // Flushes the contents to the disk.
  void Sync();
  // Asks the kernel to drop cached pages, so that the next read comes from the disk.
  void DropCache();
  // Closes and reports a failing close; the destructor closes silently.
  void Close();

private:
  File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  int fd_ = -1;
  std::string path_;
};

} // namespace qk::platform
