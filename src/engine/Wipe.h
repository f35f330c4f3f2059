// The secure wipe: a file overwritten in place with 'N' bytes, then deleted.
#pragma once

#include "engine/Host.h"
#include "engine/Random.h"
#include "engine/RunState.h"
#include "platform/File.h"

#include <string>

namespace qk::engine {

// Overwrites the file at path with blocks of 2048 'N' bytes and deletes it. A file whose name this
// process may not remove (platform::RemovalRefused) is refused before anything is written; a
// removal that fails after the overwrite, and a hold on the file lost during it
// (File::StillHeldAlone), raise. skipWipe is cleared
// first; once set (the skip button, seen while pending window events run) the overwrite ends
// after the current block and the file is still deleted, without waiting for the overwrite so far
// to reach the disk. Progress and event draws go through
// host and random. Raises platform::IoError when the file cannot be opened or the overwrite
// fails before its end.
//
// With expected, the file is wiped only while it is still the file it stamps: the same device
// and inode at path, the same size, modification time and change time. Otherwise nothing is written
// and ChangedBeforeWipeError is raised.
void WipeFile(const std::string& path, EngineHost& host, const EngineSettings& settings,
              Random& random, bool& skipWipe, const platform::FileStamp* expected = nullptr);

// The first part of WipeFile: the file held, checked and overwritten, raising as WipeFile does.
// Returns the file, still held, its overwrite not yet flushed: the caller flushes it (it may
// flush many together, platform::FlushTogether), checks that it is still held
// (File::StillHeldAlone) and closes it before the name goes (platform::DeleteFile, whose failure
// fails the wipe).
platform::File OverwriteFile(const std::string& path, EngineHost& host,
                             const EngineSettings& settings, Random& random, bool& skipWipe,
                             const platform::FileStamp* expected = nullptr);

// A file that is no longer the one its stamp describes (it was changed, or swapped for another).
class ChangedBeforeWipeError : public platform::IoError {
public:
  ChangedBeforeWipeError() : platform::IoError(kSourceChangedText, 0) {}
  static constexpr const char* kSourceChangedText = "the source changed after it was encrypted";
};

// The messages of the errors raised when the name cannot be removed, and when another program
// opened the file during the overwrite.
inline constexpr const char* kWipeNameStays = "ファイルの名前を消せません";
inline constexpr const char* kWipeOpenedMeanwhile = "抹消中に他のプログラムが開きました";
// The message of the error raised when the exclusive open fails.
inline constexpr const char* kWipeOpenFailed = "ファイルが開けません";
// What a wipe raises when its overwrite did not reach the file or the disk.
inline constexpr const char* kWipeWriteFailed = "抹消中に書き込みに失敗しました";

} // namespace qk::engine
