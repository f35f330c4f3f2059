// The system code page of the containers (CP932) at the boundary with the UTF-8 desktop.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk::platform {

// UTF-8 text as CP932 bytes; text with a character CP932 lacks stays UTF-8, whole.
std::string ToSystemCodePage(std::string_view utf8);
// Stored bytes back to UTF-8: ASCII as it is, valid UTF-8 as UTF-8, anything else as CP932.
std::string FromSystemCodePage(std::string_view bytes);
// Byte length of the text in the system code page (a full-width character counts two).
std::size_t SystemByteLength(std::string_view utf8);

} // namespace qk::platform
