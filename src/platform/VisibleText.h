// Texts shown on a terminal as they are, never as what they would make the terminal do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk::platform {

// The text with every character that could move the cursor, end a line, change the terminal or
// reorder what is shown made visible as an escape: "\n", "\t", "\r", "\\" for a backslash,
// "\x1b" for other C0 controls and DEL, "\u009b" for C1 controls, line and paragraph separators
// and the bidirectional controls, and "\xff" for each byte that is not part of valid UTF-8.
// Everything else, Japanese text included, is kept.
std::string VisibleText(std::string_view text);

// Length of the valid UTF-8 sequence at the start of s (1 to 4) and its code point in c; 0 when
// s is empty or does not start with one (overlong forms and surrogates are not valid).
std::size_t DecodeUtf8(std::string_view s, char32_t& c);
// Whether the whole text is valid UTF-8.
bool IsValidUtf8(std::string_view text);
// Characters that change what a terminal shows beyond one visible character: C0 controls, DEL,
// C1 controls, line and paragraph separators and the bidirectional controls.
bool ActsOnTerminal(char32_t c);

} // namespace qk::platform
