#include "platform/Utf8.h"

namespace qk::platform::utf8 {

std::size_t Decode(std::string_view s, char32_t& c) {
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

bool IsValid(std::string_view text) {
  while (!text.empty()) {
    char32_t c = 0;
    const std::size_t length = Decode(text, c);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

} // namespace qk::platform::utf8
