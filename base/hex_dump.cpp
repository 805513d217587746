#include "base/hex_dump.h"

namespace zorvane {

std::string DumpCharacters(const std::uint8_t* row) {
  std::string characters;
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t c = row[i];
    if (c >= 0x20 && c <= 0x7F) {
      characters.push_back(static_cast<char>(c));
    } else if (c == 0x80) {
      characters.append("\xC2\x80");  // U+0080 in UTF-8
    } else {
      characters.push_back('.');
    }
  }
  return characters;
}

void HexDump(Console* console, const std::uint8_t* data, int rows) {
  ConsoleLog(console, "      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n");
  ConsoleLog(console, "\n");
  for (int row = 0; row < rows; ++row) {
    const std::uint8_t* b = data + 16 * row;
    ConsoleLog(console, "%04X: ", 16 * row);
    ConsoleLog(console,
               "%2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X %2.2X "
               "%2.2X %2.2X %2.2X   ",
               b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
               b[13], b[14], b[15]);
    ConsoleLog(console, "%s\n", DumpCharacters(b).c_str());
  }
  ConsoleLog(console, "\n");
}

}  // namespace zorvane
