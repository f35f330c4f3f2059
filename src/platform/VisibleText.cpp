#include "platform/VisibleText.h"

#include <cstdint>
#include <cstdio>

namespace qk::platform {

std::size_t DecodeUtf8(std::string_view s, char32_t& c) {
  if (s.empty()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  std::size_t length;
  char32_t low;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
    low = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    low = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    low = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i) & 0x3F);
  }
  if (c < low || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

bool ActsOnTerminal(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
         c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(text, c);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
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
    const std::size_t length = DecodeUtf8(text, c);
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

} // namespace qk::platform
