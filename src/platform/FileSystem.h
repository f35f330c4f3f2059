// Facts about what paths name and whole-file operations: sizes, attributes, packed dates, delete,
// rename. The text of paths is platform/PathText.h's.
#pragma once

#include <cstdint>
#include <string>

namespace qk::platform {

// Size of a file (symbolic links followed); -1 when the path is missing or names a folder.
std::int64_t GetFileSize64(const std::string& path);
// Anything exists at path (a dangling symbolic link counts).
bool FileExists(const std::string& path);
// path names a folder (symbolic links followed).
bool IsDirectory(const std::string& path);
// path exists and lacks the owner-write bit.
bool IsReadOnly(const std::string& path);
// path exists (links not followed) and belongs to another user than this process's.
bool OwnedByAnotherUser(const std::string& path);
// folder exists and this process may make files in it (write and search permission).
bool FolderWritable(const std::string& folder);

// Last-write time as a packed date and time in local time (year-1980, month, day, hour, minute,
// seconds/2, date in the upper 16 bits); -1 when unreadable or outside 1980..2107.
std::int32_t GetFileDate(const std::string& path);
// Sets the last-write time from a packed value (the access time is kept); false when the file is
// missing, the value names no valid date, or it fails. A symbolic link at path is dated itself,
// never the file it leads to.
bool SetFileDate(const std::string& path, std::int32_t packed);
// Seconds since the epoch as a packed local date and time (odd seconds rounded down); -1 outside
// 1980..2107. Values from 2044 on are negative as int32; only -1 itself means "no date".
std::int32_t PackFileDate(std::int64_t unixSeconds);
// A packed local date and time back to seconds since the epoch; -1 for a value that names no
// valid date (-1 itself, month 0 or 13..15, 31 February, hour 24 and the like).
std::int64_t UnpackFileDate(std::int32_t packed);

// Removes the name path; false (errno set) when it could not be removed.
bool DeleteFile(const std::string& path);
// 0 when this process may remove the name path, as far as can be told without removing it, else
// the errno that its removal would meet: a folder it may not write (EACCES; EROFS on a read-only
// file system), a folder that lets no name go (EPERM: append-only or immutable), or another
// user's file in a folder with the sticky bit that is not this user's either (EPERM).
int RemovalRefused(const std::string& path);
// Renames without ever replacing an existing file; false when to exists or the rename fails.
bool RenameFile(const std::string& from, const std::string& to);
// Two paths name one file: same device and inode when both exist (symbolic links followed), the
// exact text otherwise.
bool SamePath(const std::string& a, const std::string& b);

// The current working directory; raises IoError when it cannot be found (removed, say).
std::string CurrentDirectory();

} // namespace qk::platform
