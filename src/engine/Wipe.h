// The secure wipe: a file overwritten in place with 'N' bytes, then deleted.
#pragma once

#include "engine/Host.h"
#include "engine/Random.h"
#include "engine/RunState.h"

#include <string>

namespace qk::engine {

// Overwrites the file at path with blocks of 2048 'N' bytes and deletes it. skipWipe is cleared
// first; once set (the skip button, seen while pending window events run) the overwrite ends
// after the current block and the file is still deleted. Progress and event draws go through
// host and random. Raises platform::IoError when the file cannot be opened or the overwrite
// fails before its end.
void WipeFile(const std::string& path, EngineHost& host, const EngineSettings& settings,
              Random& random, bool& skipWipe);

// The message of the error raised when the exclusive open fails.
inline constexpr const char* kWipeOpenFailed = "ファイルが開けません";

} // namespace qk::engine
