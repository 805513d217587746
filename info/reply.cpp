#include "info/reply.h"

#include <algorithm>
#include <cstring>

#include "info/media.h"
#include "transport/discovery.h"

namespace zorvane {

std::int32_t Query(const std::uint8_t* cdb, std::uint8_t* reply, std::size_t cleared,
                   std::uint32_t transfer_length, std::uint8_t close_after) {
  std::memset(reply, 0, std::min<std::size_t>(cleared, transfer_length));
  return ExecuteOnCurrent(cdb, transfer_length, reply, kDataIn, close_after);
}

std::size_t AnsweredLength(const std::uint8_t* reply, std::size_t field_size, std::size_t limit) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < field_size; ++i) length = length << 8 | reply[i];
  return std::min(length + field_size, limit);
}

std::int32_t QueryWholeTable(const std::uint8_t* cdb, std::uint8_t* reply, std::size_t* length) {
  std::uint8_t command[10];
  std::memcpy(command, cdb, sizeof command);
  std::size_t allocation = static_cast<std::size_t>(command[7]) << 8 | command[8];
  std::int32_t result = Query(command, reply, allocation);
  *length = 0;
  if (result != 0) return result;
  const std::size_t whole = (static_cast<std::size_t>(reply[0]) << 8 | reply[1]) + 2;
  if (whole > allocation) {
    allocation = std::min<std::size_t>(whole, 0xFFFF);
    command[7] = static_cast<std::uint8_t>(allocation >> 8);
    command[8] = static_cast<std::uint8_t>(allocation);
    result = Query(command, reply, allocation);
    if (result != 0) return result;
  }
  *length = AnsweredLength(reply, 2, allocation);
  return result;
}

std::string PrintableText(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) text.push_back(PrintableByte(bytes[i]));
  return text;
}

}  // namespace zorvane
