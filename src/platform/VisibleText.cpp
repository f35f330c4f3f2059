#include "platform/VisibleText.h"

#include "platform/Utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace qk::platform {

bool ActsOnTerminal(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
         c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

namespace {

std::string Escape(char32_t c) {
  switch (c) {
  case '\n':
    return "\\n";
  case '\t':
    return "\\t";
  case '\r':
    return "\\r";
  default:
    break;
  }
  char buffer[12];
  if (c < 0x80) {
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
  } else {
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
  }
  return buffer;
}

} // namespace

std::string VisibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t c = 0;
    const std::size_t length = utf8::Decode(text, c);
    if (length == 0) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(text[0]));
      out += buffer;
      text.remove_prefix(1);
      continue;
    }
    if (c == '\\') {
      out += "\\\\";
    } else if (ActsOnTerminal(c)) {
      out += Escape(c);
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

void LogNote(const std::string& text) {
  const std::string line =
      VisibleText(std::string(program_invocation_short_name) + ": " + text) + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

} // namespace qk::platform
