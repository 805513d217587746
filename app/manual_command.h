// The manual command area: a CDB typed in hexadecimal (and data for commands that send
// data), sent to the current drive, the answer dumped in hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/dialog.h"
#include "base/hex_dump.h"
#include "transport/console.h"

namespace zorvane {

// 0..15 for 0-9, A-F, a-f; 255 for any other character.
std::uint8_t HexDigitValue(char c);
bool IsHexDigit(char c);

// Parses hexadecimal text into bytes: blanks and other characters are skipped, two
// adjacent digits make a byte, a digit standing alone (before a blank or at the end)
// makes a byte of its own, and a digit left pending at the end is dropped. The text ends
// at its first zero character. At most `capacity` bytes are written; returns their count.
std::size_t ParseHexBytes(std::string_view text, std::uint8_t* out, std::size_t capacity);

// How a manual command moves data.
enum class ManualDataGroup {
  kFromDrive,       // data in, dumped
  kToDriveCounted,  // data out, as many bytes as were typed
  kToDriveFull,     // data out, a full 65,535-byte buffer
  kNoData,
};

ManualDataGroup DataGroupOf(std::uint8_t opcode);

// Transfer length of a data-in manual command: 65,535 bytes, but for READ(10) and
// READ(12) exactly the blocks asked for, 2,048 bytes each (the data block of CD, DVD and
// BD; a phase shorter than what the drive sends fails as an overrun), up to 65,535.
std::uint32_t ManualTransferLength(const std::uint8_t* cdb);

// Blocks a READ(10) or READ(12) CDB asks for (its transfer length field); 0 for any
// other opcode.
std::uint32_t ManualReadBlocks(const std::uint8_t* cdb);

// Bytes of one block of a manual READ(10) or READ(12).
inline constexpr std::uint32_t kManualReadBlockSize = 2048;

// Rows of 16 bytes dumped after a data-in command, whether the information console is
// emptied first, and whether a failed command is dumped too.
struct DumpRule {
  int rows;
  bool empty_console;
  bool dump_on_failure;
};
DumpRule DumpRuleOf(const std::uint8_t* cdb);

// Longest CDB text typed into the edit field, and the longest data texts by group.
inline constexpr std::size_t kCdbTextLimit = 79;
inline constexpr std::size_t kCountedDataTextLimit = 254;
inline constexpr std::size_t kFullDataTextLimit = 79;
inline constexpr std::size_t kCdbBufferSize = 80;

// The longest data text the opcode's group reads: 254 characters for the counted group,
// 79 for the full-buffer group, 0 for opcodes that send no data.
std::size_t DataTextLimit(std::uint8_t opcode);

// Said in the information console when the data text is longer than its group reads;
// nothing is sent then (a cut text would send other bytes than the ones typed).
inline constexpr const char* kDataTooLongMessage = "資料區最多%i個字元, 指令未送出!\n";

// Runs the command typed in the main window: applies the clear-before-run rule, parses
// combo box 1009 (its selected item, else its edit text) and edit 1011, sends the CDB to
// the current drive and dumps what came back. A request that could not be carried out
// (-1) brought no data and is not dumped. Returns the transport's result (-1 as well when
// the data text was too long and nothing was sent).
std::int32_t ExecuteManualCommand(Dialog& window);

}  // namespace zorvane
