#include "crypto/Base64.h"

#include "crypto/CryptoBase.h"

#include <cstdint>

namespace qk::crypto {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// "/" is not recognised here: it decodes as 63 like every other character outside A-Z, a-z,
// 0-9 and "+", which gives the same value.
constexpr std::uint32_t CharValue(char ch) {
  if (ch >= 'A' && ch <= 'Z') return static_cast<std::uint32_t>(ch - 'A');
  if (ch >= 'a' && ch <= 'z') return static_cast<std::uint32_t>(ch - 'a') + 26;
  if (ch >= '0' && ch <= '9') return static_cast<std::uint32_t>(ch - '0') + 52;
  if (ch == '+') return 62;
  return 63;
}

} // namespace

std::string Base64Encode(std::string_view data) {
  const std::size_t n = data.size();
  std::string out;
  out.reserve(4 * ((n + 2) / 3));
  // The work group is not cleared between groups: a short final group keeps the trailing bytes
  // of the group before it, and those bits show in the character in front of the padding.
  std::uint8_t g[3] = {0, 0, 0};
  for (std::size_t i = 0; i < n; i += 3) {
    const std::size_t take = n - i < 3 ? n - i : 3;
    for (std::size_t j = 0; j < take; ++j) g[j] = static_cast<std::uint8_t>(data[i + j]);
    out.push_back(kAlphabet[g[0] >> 2]);
    out.push_back(kAlphabet[((g[0] & 3) << 4) | (g[1] >> 4)]);
    out.push_back(kAlphabet[((g[1] & 15) << 2) | (g[2] >> 6)]);
    out.push_back(kAlphabet[g[2] & 63]);
  }
  if (n % 3 == 1) {
    out[out.size() - 2] = '=';
    out[out.size() - 1] = '=';
  } else if (n % 3 == 2) {
    out[out.size() - 1] = '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  const std::size_t m = text.size();
  if (m % 4 != 0) throw CryptoError("Base64: Incorrect string format");
  std::string out;
  if (m == 0) return out;
  out.reserve(3 * (m / 4));
  for (std::size_t i = 0; i < m; i += 4) {
    const std::uint32_t d0 = CharValue(text[i]);
    const std::uint32_t d1 = CharValue(text[i + 1]);
    const std::uint32_t d2 = CharValue(text[i + 2]);
    const std::uint32_t d3 = CharValue(text[i + 3]);
    // Only the last group looks at "=": a third "=" leaves one byte, a fourth leaves two.
    std::size_t bytes = 3;
    if (i + 4 == m) {
      if (text[i + 2] == '=') {
        bytes = 1;
      } else if (text[i + 3] == '=') {
        bytes = 2;
      }
    }
    out.push_back(static_cast<char>(((d0 << 2) | (d1 >> 4)) & 0xFF));
    if (bytes >= 2) out.push_back(static_cast<char>(((d1 << 4) | (d2 >> 2)) & 0xFF));
    if (bytes == 3) out.push_back(static_cast<char>(((d2 << 6) | d3) & 0xFF));
  }
  return out;
}

} // namespace qk::crypto
