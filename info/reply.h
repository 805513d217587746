// Sending a query into a reply buffer and knowing how much of the answer is real.
//
// The transport reports only the sense of a command, not how many bytes the drive sent,
// and the kernel's residual count cannot be trusted for short answers. So each query
// clears the part of the buffer its allocation length covers before it is sent, and a
// reply is read only as far as its own length field says, never past the allocation
// length or the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvane {

// Clears the first `cleared` bytes of `reply` and sends the data-in command to the current
// drive with a data phase of `transfer_length` bytes (`reply` must hold that many).
// Returns the transport's result.
std::int32_t Query(const std::uint8_t* cdb, std::uint8_t* reply, std::size_t cleared,
                   std::uint32_t transfer_length = 0xFFFF, std::uint8_t close_after = 1);

// Bytes of a reply that are answer, from a big-endian length field of `field_size` bytes
// at the start that counts the bytes after itself; bounded by `limit`.
std::size_t AnsweredLength(const std::uint8_t* reply, std::size_t field_size, std::size_t limit);

// Sends a 10-byte READ TOC/PMA/ATIP whose allocation length (bytes 7-8) is 255 and, when
// the table is longer than that, sends it again with an allocation length that takes the
// whole table. `*length` receives the bytes of the answer that may be read (header
// included). Returns the transport's result.
std::int32_t QueryWholeTable(const std::uint8_t* cdb, std::uint8_t* reply, std::size_t* length);

// A byte of drive-supplied text as a console shows it: printable ASCII as itself, any
// other byte (a control character, a byte of no character set) as ".".
inline char PrintableByte(std::uint8_t byte) {
  return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

// `count` bytes of drive-supplied text (identification, serial numbers, maker ids), each
// through PrintableByte.
std::string PrintableText(const std::uint8_t* bytes, std::size_t count);

}  // namespace zorvane
