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

Outcome DecodeDvdCapacity(std::uint8_t* reply, CapacityReport* report) {
  if (const std::int32_t result = Query(cdb::kGetCurrentProfile, reply, kAllocation); result != 0) {
    return CommandFailed(cdb::kGetCurrentProfile, result);
  }
  report->profile_read = true;
  report->profile = reply[7];
  if (report->profile == 0) return Failed("no disc in the drive (current profile 0)");
  if (Query(cdb::kReadTrackInformation, reply, kAllocation) == 0) {
    if (const std::uint32_t free_blocks = ReadBe32(reply + 16); free_blocks != 0) {
      report->free_blocks = free_blocks;
    }
  }
  if (Query(cdb::kReadCapacity, reply, 8) == 0) {
    if (const std::uint32_t last = ReadBe32(reply); last != 0) report->last_block = last;
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

void DecodeCdCapacity(std::uint8_t* reply, CapacityReport* report) {
  const CdClass cd_class = ClassOf(report->medium_code);
  if (Query(cdb::kReadAtip, reply, kAllocation) == 0) {
    report->lead_out_minute = reply[12];
    report->lead_out_second = reply[13];
    report->lead_out_frame = reply[14];
    report->has_lead_out = true;
  } else if (Query(cdb::kReadDiscInformation, reply, kAllocation) == 0 && reply[21] != 0xFF) {
    report->lead_out_from_disc_information = true;
    report->lead_out_minute = reply[21];
    report->lead_out_second = reply[22];
    report->lead_out_frame = reply[23];
    report->has_lead_out = true;
  }
  if (Query(cdb::kReadTrackInformation, reply, kAllocation) == 0) {
    if (const std::uint32_t free_blocks = ReadBe32(reply + 16); free_blocks != 0) {
      report->free_blocks = free_blocks;
    }
  }
  if (Query(cdb::kReadCapacity, reply, 8) != 0 || reply[0] == 0xFF || reply[1] == 0xFF) return;
  const std::uint32_t last = ReadBe32(reply);
  if (last == 0) return;
  report->last_block = last;
  if ((cd_class == CdClass::kCdR || cd_class == CdClass::kCdRw) &&
      !report->lead_out_from_disc_information) {
    report->closed = DiscIsClosed(reply);
  }
}

void PrintDvdCapacity(Console* console, const CapacityReport& report) {
  if (report.profile == 0) {
    ConsoleLog(console, "現在未放入光碟片\n");
    return;
  }
  const char* name = ProfileNameText(report.profile);
  if (report.free_blocks) {
    ConsoleLog(console, "%s光碟片容量為: %i個碟區(%.2fGB)\n", name,
               static_cast<int>(*report.free_blocks), Gigabytes(*report.free_blocks));
  }
  if (report.last_block) {
    ConsoleLog(console, "%s光碟片共寫入: %i個碟區(%.2fGB)\n", name,
               static_cast<int>(*report.last_block), Gigabytes(*report.last_block));
  }
}

void PrintCdCapacity(Console* console, const CapacityReport& report) {
  const CdClass cd_class = ClassOf(report.medium_code);
  if (report.has_lead_out) {
    PrintClassLine(console, cd_class, kLeadOutLines, report.lead_out_minute, report.lead_out_second,
                   report.lead_out_frame, report.LeadOutBlocks());
  }
  if (report.free_blocks) {
    const int blocks = static_cast<int>(*report.free_blocks);
    PrintClassLine(console, cd_class, kFreeBlockLines, blocks / 4500, blocks % 4500 / 75,
                   blocks % 4500 % 75, blocks);
  }
  if (!report.last_block) return;
  const int last = static_cast<int>(*report.last_block);
  if (cd_class == CdClass::kCdR || cd_class == CdClass::kCdRw) {
    ConsoleLog(console,
               cd_class == CdClass::kCdR ? "CD-R光碟片共寫入: %i個碟區\n"
                                         : "CD-RW光碟片共寫入: %i個碟區\n",
               last);
    if (report.closed.value_or(false)) ConsoleLog(console, "光碟片已Close Disc\n");
    return;
  }
  ConsoleLog(console, "光碟片中共存在: %i個碟區(%.2fMB)\n", last, Megabytes(*report.last_block));
}

}  // namespace

Outcome DecodeCapacity(std::uint8_t code, CapacityReport* report) {
  *report = CapacityReport{};
  report->medium_code = code;
  report->dvd = IsDvdMedium(code);
  if (report->dvd) return DecodeDvdCapacity(ReplyBuffer, report);
  // A blank disc has no written size: the report is complete without it.
  DecodeCdCapacity(ReplyBuffer, report);
  return Succeeded();
}

void PrintCapacity(Console* console, const CapacityReport& report) {
  if (report.dvd) {
    PrintDvdCapacity(console, report);
  } else {
    PrintCdCapacity(console, report);
  }
}

void CapacityJson(JsonWriter& json, const CapacityReport& report) {
  json.Key("medium_code").Unsigned(report.medium_code);
  json.Key("disc").String(report.dvd ? "dvd" : "cd");
  if (report.dvd) {
    json.Key("profile").Unsigned(report.profile);
    json.Key("profile_name").String(report.profile == 0 ? "" : ProfileNameText(report.profile));
  }
  json.Key("lead_out");
  if (report.has_lead_out) {
    json.BeginObject()
        .Key("minute")
        .Number(std::int64_t{report.lead_out_minute})
        .Key("second")
        .Number(std::int64_t{report.lead_out_second})
        .Key("frame")
        .Number(std::int64_t{report.lead_out_frame})
        .Key("blocks")
        .Number(std::int64_t{report.LeadOutBlocks()})
        .Key("source")
        .String(report.lead_out_from_disc_information ? "disc_information" : "atip")
        .EndObject();
  } else {
    json.Null();
  }
  json.Key("free_blocks");
  report.free_blocks ? json.Unsigned(*report.free_blocks) : json.Null();
  json.Key("last_block");
  report.last_block ? json.Unsigned(*report.last_block) : json.Null();
  json.Key("closed");
  report.closed ? json.Bool(*report.closed) : json.Null();
}

Outcome ShowCapacity(Dialog& window) {
  Console* console = InfoConsole.load();
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return ProbeFailed(code);
  CapacityReport report;
  Outcome outcome = DecodeCapacity(code, &report);
  if (!report.dvd || report.profile_read) PrintCapacity(console, report);
  return outcome;
}

}  // namespace zorvane
