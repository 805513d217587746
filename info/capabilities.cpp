#include "info/capabilities.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/utilities.h"
#include "info/commands.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kGetSerialNumber[10] = {0x46, 0x02, 0x01, 0x08, 0x00,
                                               0x00, 0x00, 0x00, 0xFF, 0x00};
constexpr std::size_t kAllocation = 255;

struct Bit {
  int bit;
  const char* text;
};

void PrintBits(Console* console, std::uint8_t value, std::initializer_list<Bit> bits) {
  for (const Bit& b : bits) {
    if ((value >> b.bit) & 1) ConsoleLog(console, "%s", b.text);
  }
}

void PrintSerialNumber(Console* console, std::uint8_t* reply) {
  TraceEnabled.store(0);
  if (Query(kGetSerialNumber, reply, kAllocation) != 0) return;
  const std::size_t answered = AnsweredLength(reply, 4, kAllocation);
  // Only the Logical Unit Serial Number feature carries the serial: a drive that ignores
  // RT = 2 answers with its first feature (the Profile List) instead.
  if (answered < 12 || ReadBe16(reply + 8) != 0x0108) return;
  std::size_t length = reply[11];
  if (length == 0) return;
  // The serial runs from byte 12 for the feature's additional length, as far as the drive
  // sent it; a text field holds at most 127 characters.
  length = std::min({length, answered > 12 ? answered - 12 : std::size_t{0}, std::size_t{127}});
  const std::string serial =
      PrintableText(reply + 12, ::strnlen(reinterpret_cast<const char*>(reply + 12), length));
  ConsoleLog(console, "設備序號: %s\n", serial.c_str());
}

void PrintSpeed(Console* console, const char* format, const std::uint8_t* field) {
  const std::uint16_t speed = ReadBe16(field);
  ConsoleLog(console, format, speed, CapabilitySpeedFactor(speed));
}

}  // namespace

int CapabilitySpeedFactor(std::uint16_t speed) {
  return speed % 176 < 36 ? speed / 176 : speed / 1385;
}

Outcome ShowCapabilities() {
  Console* console = InfoConsole.load();
  std::uint8_t* reply = ReplyBuffer;

  PrintSerialNumber(console, reply);

  TraceEnabled.store(1);
  if (const std::int32_t result = Query(cdb::kModeSenseCapabilities, reply, kAllocation);
      result != 0) {
    return CommandFailed(cdb::kModeSenseCapabilities, result);
  }
  // The mode data as far as its length says the drive sent it.
  const std::size_t answered = AnsweredLength(reply, 2, kAllocation);
  const std::size_t p = reply[7] == 8 ? 16 : 8;
  const std::uint8_t* page = reply + p;
  if (page[0] != 0x2A) return Failed("the drive's mode data holds no capabilities page (2Ah)");

  ConsoleLog(console, "可讀取: ");
  PrintBits(console, page[2],
            {{5, "DVD-RAM, "},
             {4, "DVD-R, "},
             {3, "DVD-ROM, "},
             {2, "Methord 2, "},
             {1, "CD-RW, "},
             {0, "CD-R "}});
  ConsoleLog(console, "\n");
  ConsoleLog(console, "可寫入: ");
  PrintBits(console, page[3],
            {{5, "DVD-RAM, "}, {4, "DVD-R, "}, {2, "Test Write, "}, {1, "CD-RW, "}, {0, "CD-R "}});
  ConsoleLog(console, "\n");
  ConsoleLog(console, "支  援: ");
  PrintBits(console, page[4],
            {{7, "防BUR, "},
             {6, "多節區, "},
             {5, "Mode2 Form2, "},
             {4, "Mode2 Form1, "},
             {3, "Digital埠(2), "},
             {2, "Digital埠(1), "},
             {1, "Mixed Mode, "},
             {0, "Audio Play "}});
  ConsoleLog(console, "\n");
  PrintBits(console, page[5],
            {{7, "Read Bar Code, "},
             {6, "UPC, "},
             {5, "ISRC, "},
             {4, "C2 Pointers, "},
             {3, "R-W Deinterleaved & corrected, "},
             {2, "R-W Supported, "},
             {1, "CD-DA讀取可精確接續, "},
             {0, "Read CD指令可讀取D-DA"}});
  ConsoleLog(console, "\n");
  switch (page[6] >> 5) {
    case 0:
      ConsoleLog(console, "提供片匣裝置, ");
      break;
    case 1:
      ConsoleLog(console, "提供拖盤裝置, ");
      break;
    case 2:
      ConsoleLog(console, "Popup type loading mechanism, ");
      break;
    default:
      break;
  }
  ConsoleLog(console, "%s",
             (page[6] & 0x08) != 0 ? "提供Start/Stop Unit指令, " : "不提供Start/Stop Unit指令, ");
  ConsoleLog(console, "%s",
             (page[6] & 0x04) != 0 ? "Prevent Jumper已未被插上, " : "Prevent Jumper未被插上, ");
  ConsoleLog(console, "\n");
  ConsoleLog(console, "%s", (page[6] & 0x02) != 0 ? "現禁止被開啟, " : "現允許被開啟, ");
  ConsoleLog(console, "%s",
             (page[6] & 0x01) != 0 ? "提供Prevent/Allow Media Removal指令"
                                   : "不提供Prevent/Allow Media Removal指令");
  ConsoleLog(console, "\n");
  PrintBits(console, page[7], {{1, "可分聲道靜音, "}, {0, "音量可調大小, "}});
  const std::uint16_t volume_levels = ReadBe16(page + 10);
  if (volume_levels != 0) ConsoleLog(console, "音量共分%i段", volume_levels);
  ConsoleLog(console, "\n");

  // MMC gives the buffer size in kilobytes; the line names its unit Bytes, so the
  // figure is shown in bytes.
  ConsoleLog(console, "暫存記憶體大小為 %i Bytes\n", ReadBe16(page + 12) * 1024);
  PrintSpeed(console, "支援最大讀取速率為 %5i KB/s(%2iX倍速)\n", page + 8);
  PrintSpeed(console, "現在讀取速率被設為 %5i KB/s(%2iX倍速)\n", page + 14);
  PrintSpeed(console, "支援最大寫入速率為 %5i KB/s(%2iX倍速)\n", page + 18);
  PrintSpeed(console, "現在寫入速度被設為 %5i KB/s(%2iX倍速)\n", page + 20);

  // Write-speed descriptors: as many as the page says, but only those the drive sent.
  const std::size_t descriptors = ReadBe16(page + 30);
  for (std::size_t i = 0; i < descriptors; ++i) {
    const std::size_t at = p + 32 + 4 * i;
    if (at + 4 > answered) break;
    const std::uint8_t rotation = reply[at + 1];
    const std::uint16_t speed = ReadBe16(reply + at + 2);
    const char* format = rotation == 0 ? "支援 %5i KB/s(%2iX倍速) 以CLV或Non-pure CAV方式寫入\n"
                         : rotation == 1 ? "支援 %5i KB/s(%2iX倍速) 以Pure CAV方式寫入\n"
                                         : "支援 %5i KB/s(%2iX倍速)寫入\n";
    ConsoleLog(console, format, speed, CapabilitySpeedFactor(speed));
  }

  std::memset(reply, 0, 65535);
  TraceEnabled.store(0);
  if (const std::int32_t result = Query(cdb::kGetCurrentProfile, reply, kAllocation); result != 0) {
    TraceEnabled.store(1);
    return CommandFailed(cdb::kGetCurrentProfile, result);
  }
  const std::uint8_t current_profile = reply[7];
  // Profile List feature at byte 8: its descriptors, 4 bytes each, from byte 12, as many as
  // its additional length holds and the drive sent.
  const std::size_t sent = AnsweredLength(reply, 4, kAllocation);
  const std::size_t listed = std::min<std::size_t>(reply[11] / 4, sent > 12 ? (sent - 12) / 4 : 0);
  ConsoleLog(console, "支援: ");
  for (std::size_t i = 0; i < listed; ++i) {
    const std::uint8_t profile = reply[13 + 4 * i];
    if (profile != 0) ConsoleLog(console, "%s", ProfileNameText(profile));
    if (i + 1 < listed && reply[17 + 4 * i] != 0) ConsoleLog(console, ", ");
  }
  if (Query(cdb::kGetMrwFeature, reply, kAllocation) == 0) {
    const std::size_t mrw_sent = AnsweredLength(reply, 4, kAllocation);
    if (mrw_sent > 12 && reply[9] == 0x28 && (reply[12] & 0x01) != 0) {
      ConsoleLog(console, ", MRW");
      if ((reply[10] & 0x01) != 0) ConsoleLog(console, " 作用中");  // Current, any version
    }
  }
  TraceEnabled.store(1);
  ConsoleLog(console, "\n");
  if (current_profile == 0) {
    ConsoleLog(console, "現在未放入光碟片\n");
  } else {
    ConsoleLog(console, "現在所放入的是 %s\n", ProfileNameText(current_profile));
  }
  return Succeeded();
}

}  // namespace zorvane
