// Texts shown on a terminal as they are, never as what they would make the terminal do, and the
// program's notes on its standard error, shown so.
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

// Characters that change what a terminal shows beyond one visible character: C0 controls, DEL,
// C1 controls, line and paragraph separators and the bidirectional controls.
bool ActsOnTerminal(char32_t c);

// One line for whoever watches the program's standard error (the terminal, or the desktop
// session's log): the program's name, ": " and text.
void LogNote(const std::string& text);

} // namespace qk::platform
