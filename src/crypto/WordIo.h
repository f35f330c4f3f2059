// Little-endian 32-bit words in byte buffers, as every cipher here reads and writes them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qk::crypto {

inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  if constexpr (std::endian::native == std::endian::big)
    w = (w >> 24) | ((w >> 8) & 0xFF00) | ((w << 8) & 0xFF0000) | (w << 24);
  return w;
}

inline void Store32(std::uint8_t* p, std::uint32_t w) {
  if constexpr (std::endian::native == std::endian::big)
    w = (w >> 24) | ((w >> 8) & 0xFF00) | ((w << 8) & 0xFF0000) | (w << 24);
  std::memcpy(p, &w, 4);
}

} // namespace qk::crypto
