// UTF-8 as the program takes it: well-formed sequences only (no overlong forms, no surrogates,
// nothing above U+10FFFF).
#pragma once

#include <cstddef>
#include <string_view>

namespace qk::platform::utf8 {

// Length of the valid sequence at the start of s (1 to 4) and its code point in c; 0 when s is
// empty or does not start with one.
std::size_t Decode(std::string_view s, char32_t& c);
// Whether the whole text is valid UTF-8.
bool IsValid(std::string_view text);

} // namespace qk::platform::utf8
