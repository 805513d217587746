// Byte order of drive replies (big-endian) and image headers (little-endian), and CD
// time addresses.
#pragma once

#include <cstdint>

namespace zorvane {

// Reads 4 bytes most significant first into `value`.
inline void ReadBe32(std::uint32_t& value, const std::uint8_t* bytes) {
  value = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
          static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

inline std::uint32_t ReadBe32(const std::uint8_t* bytes) {
  std::uint32_t value;
  ReadBe32(value, bytes);
  return value;
}

inline std::uint16_t ReadBe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void WriteBe32(std::uint32_t value, std::uint8_t* bytes);
void WriteLe32(std::uint32_t value, std::uint8_t* bytes);

// Minute, second, frame to a logical block address: m*4500 + s*75 + f - 150. Negative
// before 00:02:00; no range check (lead-in times give large values).
std::int32_t MsfToLba(const std::uint8_t* msf);

}  // namespace zorvane
