// The hexadecimal dump of drive replies and parameter lists, as the consoles show it.
#pragma once

#include <cstdint>
#include <string>

#include "transport/console.h"

namespace zorvane {

// The character column of one 16-byte dump row.
std::string DumpCharacters(const std::uint8_t* row);

// Writes the hex dump of `rows` rows of `data` to the console: header, offset, sixteen
// bytes and their characters per row. Bytes 0x20..0x80 are shown as characters (0x7F and
// 0x80 as the Latin-1 characters U+007F and U+0080, so the text stays UTF-8), others as
// ".". `data` must hold 16 x rows bytes.
void HexDump(Console* console, const std::uint8_t* data, int rows);

}  // namespace zorvane
