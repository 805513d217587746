#include "app/manual_command.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/main_commands.h"
#include "base/templates.h"
#include "info/media.h"
#include "transport/discovery.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kFromDriveOpcodes[] = {0x03, 0x08, 0x12, 0x1A, 0x1D, 0x23, 0x25, 0x28, 0x3C,
                                              0x42, 0x43, 0x46, 0x4A, 0x51, 0x52, 0x5A, 0x5C, 0xA4,
                                              0xA8, 0xAB, 0xAC, 0xAD, 0xB9, 0xBD, 0xBE, 0xD4, 0xD8,
                                              0xDF, 0xEA, 0xF0, 0xF3, 0xF8, 0xFD, 0xFF};
constexpr std::uint8_t kToDriveCountedOpcodes[] = {0x04, 0x3B, 0x54, 0x5D, 0xA3,
                                                   0xAA, 0xB6, 0xBF, 0xF9};
constexpr std::uint8_t kToDriveFullOpcodes[] = {0x15, 0x2A, 0x2E, 0x55};

template <std::size_t N>
bool Contains(const std::uint8_t (&list)[N], std::uint8_t opcode) {
  return std::find(list, list + N, opcode) != list + N;
}

// The first `limit` bytes of a control's text (a Windows edit gives no more than its
// buffer holds).
std::string Limited(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

}  // namespace

std::uint8_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return 255;
}

bool IsHexDigit(char c) {
  return HexDigitValue(c) != 255;
}

std::size_t ParseHexBytes(std::string_view text, std::uint8_t* out, std::size_t capacity) {
  const std::size_t end = std::min(text.find('\0'), text.size());
  std::size_t count = 0;
  bool pending = false;
  std::uint8_t high = 0;
  for (std::size_t i = 0; i < end && count < capacity; ++i) {
    const std::uint8_t value = HexDigitValue(text[i]);
    if (value == 255) continue;  // blanks and any other character
    if (pending) {
      out[count++] = static_cast<std::uint8_t>(high * 16 + value);
      pending = false;
    } else if (i + 1 == end || text[i + 1] == ' ') {
      out[count++] = value;  // a digit standing alone
    } else {
      high = value;
      pending = true;
    }
  }
  return count;
}

ManualDataGroup DataGroupOf(std::uint8_t opcode) {
  if (Contains(kFromDriveOpcodes, opcode)) return ManualDataGroup::kFromDrive;
  if (Contains(kToDriveCountedOpcodes, opcode)) return ManualDataGroup::kToDriveCounted;
  if (Contains(kToDriveFullOpcodes, opcode)) return ManualDataGroup::kToDriveFull;
  return ManualDataGroup::kNoData;
}

std::uint32_t ManualReadBlocks(const std::uint8_t* cdb) {
  if (cdb[0] == 0x28) return static_cast<std::uint32_t>(cdb[7]) << 8 | cdb[8];
  if (cdb[0] == 0xA8) {
    return static_cast<std::uint32_t>(cdb[6]) << 24 | static_cast<std::uint32_t>(cdb[7]) << 16 |
           static_cast<std::uint32_t>(cdb[8]) << 8 | cdb[9];
  }
  return 0;
}

std::uint32_t ManualTransferLength(const std::uint8_t* cdb) {
  if (cdb[0] != 0x28 && cdb[0] != 0xA8) return 65535U;
  const std::uint64_t bytes = std::uint64_t{kManualReadBlockSize} * ManualReadBlocks(cdb);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 65535U));
}

std::size_t DataTextLimit(std::uint8_t opcode) {
  switch (DataGroupOf(opcode)) {
    case ManualDataGroup::kToDriveCounted:
      return kCountedDataTextLimit;
    case ManualDataGroup::kToDriveFull:
      return kFullDataTextLimit;
    default:
      return 0;
  }
}

DumpRule DumpRuleOf(const std::uint8_t* cdb) {
  switch (cdb[0]) {
    case 0x28:
    case 0xA8:
    case 0xAD:
      return {129, true, false};
    case 0xBE:
      return {(cdb[9] == 0x02 || cdb[9] == 0x04) ? 19 : 148, true, false};
    case 0x46:
      return {16 * cdb[7] + (cdb[8] + 1) / 16, false, true};
    default:
      return {16, false, true};
  }
}

std::int32_t ExecuteManualCommand(Dialog& window) {
  ApplyClearRule(window);
  const int selected = window.SelectedItem(kCdbInput);
  // A picked list item is taken whole (as far as the CDB buffer goes); typed text is read
  // as the edit field holds it, 79 characters at most.
  const std::string text = selected >= 0 ? window.ItemText(kCdbInput, selected)
                                         : Limited(window.Text(kCdbInput), kCdbTextLimit);
  std::uint8_t cdb[kCdbBufferSize] = {};
  ParseHexBytes(text, cdb, sizeof cdb);
  // A command that changes the disc is a job of its own: the drive is held exclusively,
  // with the tray locked, for the one command. The claim lives here, not in the transport,
  // because only the console sends opcodes it did not choose, and the window and the
  // command line both come through here.
  std::shared_ptr<ExclusiveUse> claim;
  if (ChangesDisc(cdb[0])) {
    std::string refusal;
    claim = ClaimCurrentDrive(&refusal);
    if (!claim) return -1;
  }

  Console* info = InfoConsole.load();
  std::uint8_t* reply = ReplyBuffer;
  switch (DataGroupOf(cdb[0])) {
    case ManualDataGroup::kFromDrive: {
      std::memset(reply, 0, 65535);
      const std::int32_t result =
          ExecuteOnCurrent(cdb, ManualTransferLength(cdb), reply, kDataIn, 1);
      const DumpRule rule = DumpRuleOf(cdb);
      if (rule.empty_console && info != nullptr) info->Clear();
      // Nothing came from a request that could not be carried out: no dump of zeros.
      if (result == -1 || (result != 0 && !rule.dump_on_failure)) return result;
      HexDump(info, reply, rule.rows);
      return result;
    }
    case ManualDataGroup::kToDriveCounted:
    case ManualDataGroup::kToDriveFull: {
      const bool counted = DataGroupOf(cdb[0]) == ManualDataGroup::kToDriveCounted;
      const std::string data = window.Text(kDataInput);
      if (data.size() > DataTextLimit(cdb[0])) {
        ConsoleLog(info, kDataTooLongMessage, static_cast<int>(DataTextLimit(cdb[0])));
        return -1;
      }
      const std::size_t count = ParseHexBytes(data, reply, kReplyBufferSize);
      Console* trace = CommandConsole.load();
      for (std::size_t i = 0; i < count; ++i) {
        ConsoleLog(trace, "%2.2X ", reply[i]);
        if ((i + 1) % 16 == 0) ConsoleLog(trace, "\n");
      }
      ConsoleLog(trace, "\n");
      return ExecuteOnCurrent(cdb, counted ? static_cast<std::uint32_t>(count) : 65535U, reply,
                              kDataOut, 1);
    }
    case ManualDataGroup::kNoData:
      break;
  }
  return ExecuteOnCurrent(cdb, 0, nullptr, kDataNone, 1);
}

}  // namespace zorvane
