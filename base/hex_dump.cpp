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
  if (console == nullptr) return;
  ConsoleLog(console, "      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n");
  ConsoleLog(console, "\n");
  // Each row is put together by hand and handed over whole: a 64 KiB reply is 4,096 rows,
  // and formatting them field by field took longer than the pane takes to show them.
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line;
  for (int row = 0; row < rows; ++row) {
    const std::uint8_t* b = data + 16 * row;
    // The offset in at least four digits.
    line.clear();
    const auto offset = static_cast<unsigned>(16 * row);
    int digits = 4;
    while (digits < 8 && (offset >> (4 * digits)) != 0) ++digits;
    for (int d = digits - 1; d >= 0; --d) line += kDigits[(offset >> (4 * d)) & 15];
    line += ": ";
    for (int i = 0; i < 16; ++i) {
      line += kDigits[b[i] >> 4];
      line += kDigits[b[i] & 15];
      line += ' ';
    }
    line += "  ";
    line += DumpCharacters(b);
    line += '\n';
    console->Append(line);
  }
  ConsoleLog(console, "\n");
}

}  // namespace zorvane
