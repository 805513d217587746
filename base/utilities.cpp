#include "base/utilities.h"

namespace zorvane {

void WriteBe32(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

void WriteLe32(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
  bytes[2] = static_cast<std::uint8_t>(value >> 16);
  bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

std::int32_t MsfToLba(const std::uint8_t* msf) {
  return static_cast<std::int32_t>(msf[0]) * 4500 + static_cast<std::int32_t>(msf[1]) * 75 +
         static_cast<std::int32_t>(msf[2]) - 150;
}

}  // namespace zorvane
