#include "platform/CodePage.h"

#include "platform/Utf8.h"

#include <cerrno>
#include <iconv.h>
#include <optional>

namespace qk::platform {

namespace {

// glibc's CP932 is the Windows-31J table: 0x5C is the backslash, 0x8160 is U+FF5E, NEC and IBM
// extensions included. Encoding also takes the usual look-alikes of the JIS tables (U+301C wave
// dash, U+2212 minus, U+00A5 yen, ...) to the bytes a Japanese Windows system types for them.
constexpr const char* kSystemCodePage = "CP932";

bool IsAscii(std::string_view bytes) {
  for (const unsigned char c : bytes) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The whole input converted, or nothing when any part of it cannot be. One conversion
// descriptor per call keeps it safe to use from several threads.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input) {
  const iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  // Between UTF-8 and CP932 one input byte never needs more than three output bytes.
  std::string output(input.size() * 3 + 8, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  bool ok = ::iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) &&
            inLeft == 0 &&
            ::iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1);
  ::iconv_close(cd);
  if (!ok) return std::nullopt;
  output.resize(output.size() - outLeft);
  return output;
}

// The CP932 bytes of a non-ASCII UTF-8 text when they read back as exactly that text: the table
// gives the text back, and the bytes are not also UTF-8 of a text kept in UTF-8 (which the
// reading would prefer). The recursion ends: the bytes are never longer than the text, and
// they are as long only when every character takes two bytes in both, which in CP932 begins
// with 0x81 to 0x84, never the first byte of a UTF-8 sequence.
std::optional<std::string> Cp932Storage(std::string_view text) {
  auto bytes = Convert(kSystemCodePage, "UTF-8", text);
  if (!bytes) return std::nullopt;
  const auto back = Convert("UTF-8", kSystemCodePage, *bytes);
  if (!back || *back != text) return std::nullopt;
  if (utf8::IsValid(*bytes) && !IsAscii(*bytes) && !Cp932Storage(*bytes)) return std::nullopt;
  return bytes;
}

} // namespace

std::string ToStoredText(std::string_view utf8) {
  if (IsAscii(utf8) || !utf8::IsValid(utf8)) return std::string(utf8);
  if (auto bytes = Cp932Storage(utf8)) return std::move(*bytes);
  return std::string(utf8);
}

std::string FromStoredText(std::string_view bytes) {
  if (IsAscii(bytes)) return std::string(bytes);
  if (utf8::IsValid(bytes) && !Cp932Storage(bytes)) return std::string(bytes);
  if (auto text = Convert("UTF-8", kSystemCodePage, bytes)) return std::move(*text);
  return std::string(bytes);
}

std::string ToSystemCodePage(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  if (!utf8::IsValid(utf8)) return std::string(utf8);
  if (auto converted = Convert(kSystemCodePage, "UTF-8", utf8)) return std::move(*converted);
  return std::string(utf8);
}

std::string FromSystemCodePage(std::string_view bytes) {
  if (IsAscii(bytes) || utf8::IsValid(bytes)) return std::string(bytes);
  if (auto converted = Convert("UTF-8", kSystemCodePage, bytes)) return std::move(*converted);
  return std::string(bytes);
}

std::size_t SystemByteLength(std::string_view utf8) {
  return ToSystemCodePage(utf8).size();
}

} // namespace qk::platform
