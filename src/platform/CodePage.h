// The system code page of the containers (CP932) at the boundary with the UTF-8 desktop.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk::platform {

// UTF-8 text as CP932 bytes through the table as it is, look-alikes mapped the way a Japanese
// Windows system types them (U+301C and U+FF5E both give 0x8160); a text with a character CP932
// lacks stays UTF-8, whole. This gives a password's key bytes, so it must never change.
std::string ToSystemCodePage(std::string_view utf8);
// Bytes of the settings file back to UTF-8: ASCII as it is, valid UTF-8 as UTF-8, anything else
// as CP932.
std::string FromSystemCodePage(std::string_view bytes);
// Byte length of the text in the system code page (a full-width character counts two).
std::size_t SystemByteLength(std::string_view utf8);

// A file name or hint as the bytes stored in a container: ASCII as it is; CP932 when those
// bytes read back (by FromStoredText) as exactly the same text; otherwise UTF-8, whole. Bytes
// that are not UTF-8 (a Linux name may hold any byte) are stored as they are.
std::string ToStoredText(std::string_view utf8);
// Stored name or hint bytes as UTF-8 text: ASCII as it is; UTF-8 when the bytes are valid UTF-8
// of a text that ToStoredText would not have stored in CP932; otherwise CP932 (what the Japanese
// Windows systems write); bytes that are neither as they are. Everything ToStoredText writes
// reads back exactly. CP932 bytes that happen to be UTF-8 of a text CP932 cannot hold (the
// half-width "ﾃｩ" is the bytes of "é") read as that UTF-8 text.
std::string FromStoredText(std::string_view bytes);

} // namespace qk::platform
