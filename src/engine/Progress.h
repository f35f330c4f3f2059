// What a long operation shows while it runs: the progress line, and when pending window events
// get their turn.
#pragma once

#include "engine/Random.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qk::engine {

// Progress line: word + done + "/" + total + "バイト　" + percent + "%".
std::string ProgressText(std::string_view word, std::int64_t done, std::int64_t total);

// True when pending window events should run after this block.
bool ShouldPump(Random& random, std::int32_t processMsgInterval);

} // namespace qk::engine
