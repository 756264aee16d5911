// Little-endian integers in byte buffers: the one place where stored numbers are encoded.
// Works on any alignment. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <cstring>

namespace vdb {

inline std::uint16_t vuGetU16(const std::uint8_t* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t vuGetU32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t vuGetU64(const std::uint8_t* p) noexcept {
  return static_cast<std::uint64_t>(vuGetU32(p)) |
         (static_cast<std::uint64_t>(vuGetU32(p + 4)) << 32);
}
inline void vuPutU16(std::uint8_t* p, std::uint16_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void vuPutU32(std::uint8_t* p, std::uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void vuPutU64(std::uint8_t* p, std::uint64_t v) noexcept {
  vuPutU32(p, static_cast<std::uint32_t>(v));
  vuPutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace vdb
