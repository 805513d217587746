#include "info/capacity.h"

#include "base/utilities.h"
#include "info/checks.h"
#include "info/commands.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"

namespace zorvane {

namespace {

constexpr std::size_t kAllocation = 255;

enum class CdClass { kCdR, kCdRw, kUnknown, kOther };

CdClass ClassOf(std::uint8_t code) {
  if (code >= 0x10 && code <= 0x18) return CdClass::kCdR;
  if (code >= 0x20 && code <= 0x28) return CdClass::kCdRw;
  if (code == 0x00) return CdClass::kUnknown;
  return CdClass::kOther;
}

double Gigabytes(std::uint32_t blocks) {
  return static_cast<double>(static_cast<float>(blocks) * 2048.0F / 1024.0F / 1024.0F / 1024.0F);
}

double Megabytes(std::uint32_t blocks) {
  return static_cast<double>(static_cast<float>(blocks) * 2048.0F / 1024.0F / 1024.0F);
}

// One of three lines by the disc's class (other CDs get none), with a time and a count.
struct ClassLines {
  const char* cd_r;
  const char* cd_rw;
  const char* unknown;
};

void PrintClassLine(Console* console, CdClass cd_class, const ClassLines& lines, int minute,
                    int second, int frame, int blocks) {
  const char* format = cd_class == CdClass::kCdR       ? lines.cd_r
                       : cd_class == CdClass::kCdRw    ? lines.cd_rw
                       : cd_class == CdClass::kUnknown ? lines.unknown
                                                       : nullptr;
  if (format != nullptr) ConsoleLog(console, format, minute, second, frame, blocks);
}

constexpr ClassLines kLeadOutLines = {
    "CD-R光碟片容量為(由引出區Leat-out開始時間計算): %02i:%02i:%02i(%i個碟區) \n",
    "CD-RW光碟片容量為(由引出區Leat-out開始時間計算): %02i:%02i:%02i(%i個碟區)\n",
    "光碟片容量為(由引出區Leat-out開始時間計算): %02i:%02i:%02i(%i個碟區)\n"};

constexpr ClassLines kFreeBlockLines = {
    "CD-R光碟片容量為(由未燒錄區塊Free Block數計算): %02i:%02i:%02i(%i個碟區) \n",
    "CD-RW光碟片容量為(由未燒錄區塊Free Block數計算): %02i:%02i:%02i(%i個碟區)\n",
    "光碟片容量為(由未燒錄區塊Free Block數計算): %02i:%02i:%02i(%i個碟區)\n"};

Outcome ShowDvdCapacity(Console* console, std::uint8_t* reply) {
  if (const std::int32_t result = Query(cdb::kGetCurrentProfile, reply, kAllocation); result != 0) {
    return CommandFailed(cdb::kGetCurrentProfile, result);
  }
  if (reply[7] == 0) {
    ConsoleLog(console, "現在未放入光碟片\n");
    return Failed("no disc in the drive (current profile 0)");
  }
  const char* name = ProfileNameText(reply[7]);
  if (Query(cdb::kReadTrackInformation, reply, kAllocation) == 0) {
    const std::uint32_t free_blocks = ReadBe32(reply + 16);
    if (free_blocks != 0) {
      ConsoleLog(console, "%s光碟片容量為: %i個碟區(%.2fGB)\n", name, static_cast<int>(free_blocks),
                 Gigabytes(free_blocks));
    }
  }
  if (Query(cdb::kReadCapacity, reply, 8) == 0) {
    const std::uint32_t last = ReadBe32(reply);
    if (last != 0) {
      ConsoleLog(console, "%s光碟片共寫入: %i個碟區(%.2fGB)\n", name, static_cast<int>(last),
                 Gigabytes(last));
    }
  }
  return Succeeded();
}

// Whether the disc information says the disc is closed (disc status 10b, complete): a
// disc whose last session is still open, or whose status cannot be read, is not.
bool DiscIsClosed(std::uint8_t* reply) {
  if (Query(cdb::kReadDiscInformation, reply, kAllocation) != 0) return false;
  if (AnsweredLength(reply, 2, kAllocation) < 3) return false;
  return (reply[2] & 0x03) == 0x02;
}

void ShowCdCapacity(Console* console, std::uint8_t* reply, std::uint8_t code) {
  const CdClass cd_class = ClassOf(code);
  bool from_disc_information = false;
  bool have_lead_out = false;
  int minute = 0;
  int second = 0;
  int frame = 0;
  if (Query(cdb::kReadAtip, reply, kAllocation) == 0) {
    minute = reply[12];
    second = reply[13];
    frame = reply[14];
    have_lead_out = true;
  } else if (Query(cdb::kReadDiscInformation, reply, kAllocation) == 0 && reply[21] != 0xFF) {
    from_disc_information = true;
    minute = reply[21];
    second = reply[22];
    frame = reply[23];
    have_lead_out = true;
  }
  if (have_lead_out) {
    PrintClassLine(console, cd_class, kLeadOutLines, minute, second, frame,
                   (minute * 60 + second) * 75 + frame);
  }
  if (Query(cdb::kReadTrackInformation, reply, kAllocation) == 0) {
    const std::uint32_t free_blocks = ReadBe32(reply + 16);
    if (free_blocks != 0) {
      const int blocks = static_cast<int>(free_blocks);
      PrintClassLine(console, cd_class, kFreeBlockLines, blocks / 4500, blocks % 4500 / 75,
                     blocks % 4500 % 75, blocks);
    }
  }
  if (Query(cdb::kReadCapacity, reply, 8) != 0 || reply[0] == 0xFF || reply[1] == 0xFF) return;
  const std::uint32_t last = ReadBe32(reply);
  if (last == 0) return;
  if (cd_class == CdClass::kCdR || cd_class == CdClass::kCdRw) {
    ConsoleLog(console,
               cd_class == CdClass::kCdR ? "CD-R光碟片共寫入: %i個碟區\n"
                                         : "CD-RW光碟片共寫入: %i個碟區\n",
               static_cast<int>(last));
    if (!from_disc_information && DiscIsClosed(reply)) ConsoleLog(console, "光碟片已Close Disc\n");
    return;
  }
  ConsoleLog(console, "光碟片中共存在: %i個碟區(%.2fMB)\n", static_cast<int>(last),
             Megabytes(last));
}

}  // namespace

Outcome ShowCapacity(Dialog& window) {
  Console* console = InfoConsole.load();
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return ProbeFailed(code);
  if (IsDvdMedium(code)) return ShowDvdCapacity(console, ReplyBuffer);
  // A blank disc has no written size: the report is complete without it.
  ShowCdCapacity(console, ReplyBuffer, code);
  return Succeeded();
}

}  // namespace zorvane
