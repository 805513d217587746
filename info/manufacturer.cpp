#include "info/manufacturer.h"

#include <string>

#include "base/hex_dump.h"
#include "base/utilities.h"
#include "info/commands.h"
#include "info/media.h"
#include "info/reply.h"
#include "info/write_speeds.h"
#include "transport/transport.h"

namespace zorvane {

// Each maker's lead-in start times (minute 97 but for two rows). The order decides which
// of two rows with the same time is found: the first.
const AtipMaker AtipMakerTable[kAtipMakerCount] = {
    {97, 22, 60, "達信 Daxon"},
    {97, 45, 20, "Acer"},
    {97, 22, 20, "Advanced Digital Media"},
    {97, 42, 20, "Advanced Digital Media"},
    {97, 25, 50, "AMS"},
    {97, 23, 30, "AUDIO DISTRIBUTORS"},
    {97, 28, 30, "達緻 Auvistar"},
    {97, 46, 50, "達緻 Auvistar"},
    {97, 22, 40, "亞瑟 CIS Technology"},
    {97, 45, 40, "亞瑟 CIS Technology"},
    {97, 26, 60, "中環 CMC Magnetics"},
    {97, 46, 60, "中環 CMC Magnetics"},
    {97, 23, 60, "Customer Pressing Oosterhout"},
    {97, 28, 50, "DELPHI"},
    {97, 27, 0, "DIGITAL STORAGE"},
    {97, 48, 40, "DIGITAL STORAGE"},
    {97, 23, 10, "Doremi"},
    {97, 13, 30, "DST"},
    {97, 22, 30, "EXIMPO"},
    {97, 26, 0, "FORNET"},
    {97, 45, 0, "FORNET"},
    {97, 26, 40, "FUJI"},
    {97, 46, 40, "FUJI"},
    {97, 29, 50, "General Magnetics"},
    {97, 28, 10, "GIGASTORAGE"},
    {97, 49, 10, "GIGASTORAGE"},
    {97, 16, 30, "Grand Advance"},
    {97, 31, 30, "Grand Advance"},
    {97, 51, 10, "Grand Advance"},
    {97, 45, 50, "Guann Yinn"},
    {97, 24, 50, "Guann Yinn"},
    {97, 24, 60, "Harmonic Hall"},
    {97, 29, 0, "Harmonic Hall"},
    {97, 29, 30, "Hile Optical Disc"},
    {97, 51, 50, "Hile Optical Disc"},
    {97, 25, 20, "Hitachi Maxell"},
    {97, 47, 10, "Hitachi Maxell"},
    {97, 25, 30, "INFODISC"},
    {97, 51, 20, "INFODISC"},
    {97, 24, 40, "kdg mediatech"},
    {97, 28, 40, "King Pro"},
    {97, 49, 20, "King Pro"},
    {97, 27, 40, "Kodak"},
    {97, 48, 10, "Kodak"},
    {97, 26, 50, "利碟 Lead Data"},
    {97, 48, 60, "利碟 Lead Data"},
    {97, 23, 0, "Matsushita"},
    {97, 49, 60, "Matsushita"},
    {97, 15, 20, "Mitsubishi Chemical"},
    {97, 34, 20, "Mitsubishi Chemical"},
    {97, 50, 20, "Mitsubishi Chemical"},
    {97, 27, 50, "Mitsui"},
    {97, 48, 50, "Mitsui"},
    {97, 17, 0, "Moser Baer India"},
    {97, 25, 0, "MPO"},
    {97, 28, 20, "MultiMediaMasters & Machinary"},
    {97, 46, 20, "MultiMediaMasters & Machinary"},
    {97, 23, 20, "Nacar Media srl"},
    {97, 15, 30, "NAN-YA"},
    {97, 28, 0, "Opti.Me.S. S.p.A."},
    {97, 49, 30, "Opti.Me.S. S.p.A."},
    {97, 21, 40, "Optical Disc Manuf."},
    {97, 26, 30, "OPTICAL DISC CORPRATION"},
    {97, 23, 50, "OPTROM.INC."},
    {97, 27, 30, "Pioneer"},
    {97, 48, 30, "Pioneer"},
    {97, 27, 10, "Plasmon"},
    {97, 48, 20, "Plasmon"},
    {97, 26, 10, "博新 POSTECH"},
    {97, 47, 40, "博新 POSTECH"},
    {97, 27, 20, "巨擘 Princo"},
    {97, 47, 20, "巨擘 Princo"},
    {96, 43, 20, "精碟 Prodisc"},
    {96, 43, 30, "精碟 Prodisc"},
    {97, 32, 10, "精碟 Prodisc"},
    {97, 47, 60, "精碟 Prodisc"},
    {97, 27, 60, "Ricoh"},
    {97, 48, 0, "Ricoh"},
    {97, 15, 10, "錸德 RiTEX"},
    {97, 31, 0, "錸德 RiTEX"},
    {97, 47, 50, "Ritek"},
    {97, 22, 10, "Seantram"},
    {97, 16, 20, "SHENZEN SG&GAST"},
    {97, 26, 20, "世高 SKC"},
    {97, 24, 10, "SONY"},
    {97, 46, 10, "SONY"},
    {97, 29, 0, "Taeil Media"},
    {97, 24, 0, "Taiyo Yuden"},
    {97, 46, 0, "Taiyo Yuden"},
    {97, 18, 60, "TAROKO"},
    {97, 15, 0, "TDK Corporation"},
    {97, 32, 0, "TDK Corporation"},
    {97, 49, 0, "TDK Corporation"},
    {97, 29, 20, "UNIDISC"},
    {97, 24, 30, "UNITECH"},
    {97, 45, 10, "UNITECH"},
    {97, 29, 10, "Vanguard"},
    {97, 50, 10, "Vanguard"},
    {97, 49, 40, "VICTOR"},
    {97, 23, 40, "VICTOR"},
    {97, 29, 40, "VIVA MAGNETICS"},
    {97, 25, 40, "VIVASTAR"},
    {97, 25, 60, "Xcitec"},
    {97, 45, 60, "Xcitec"},
    {0, 0, 0, "UNKNOWN"},
};

namespace {

constexpr std::uint8_t kPhysicalFormat[12] = {0xAD, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0xFF, 0x00, 0x00};
constexpr std::uint8_t kPreRecorded[12] = {0xAD, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x0E, 0x00, 0xFF, 0x00, 0x00};
constexpr std::size_t kAllocation = 255;

Console* Out() {
  return InfoConsole.load();
}

// `count` bytes from `at` as text, a zero byte shown as a blank and any other byte outside
// printable ASCII as ".".
std::string MakerText(const std::uint8_t* at, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(at[i] == 0 ? ' ' : PrintableByte(at[i]));
  return text;
}

void PrintChoice(Console* console, unsigned value,
                 std::initializer_list<std::pair<unsigned, const char*>> texts) {
  for (const auto& [key, text] : texts) {
    if (key == value) {
      ConsoleLog(console, "%s", text);
      return;
    }
  }
  ConsoleLog(console, "\n");
}

void PrintWriteStrategy(Console* console, const std::uint8_t* r, std::initializer_list<int> bytes) {
  int b[10] = {};
  int i = 0;
  for (int at : bytes) b[i++] = r[at];
  ConsoleLog(console, "Write Strategy Code: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02Xh\n",
             b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9]);
}

double Beta(std::uint8_t opc) {
  return (opc >> 4) * 0.01 - 0.03;
}
double DvdRPower(std::uint8_t opc) {
  return (opc & 0x0F) * 0.5 + 5.5;
}

struct OpcBlock {
  int opc;
  int wavelength;
  std::initializer_list<int> strategy;
};

void PrintOpcBlock(Console* console, const std::uint8_t* r, const OpcBlock& block, bool first) {
  const std::uint8_t opc = r[block.opc];
  const std::uint8_t wavelength = r[block.wavelength];
  if (!first && opc == 0 && wavelength == 0) return;
  if (opc == 0) {
    ConsoleLog(console, "OPC Suggested Code: not specified\n");
  } else if (first || (opc >> 4) != 0) {
    ConsoleLog(console, "OPC Suggested Code: β value=%.2f, power codes=%.1fmW\n", Beta(opc),
               DvdRPower(opc));
  } else {
    ConsoleLog(console, "OPC Suggested Code: power codes=%.1fmW\n", DvdRPower(opc));
  }
  if (wavelength == 0) {
    ConsoleLog(console, "Wavelength Code: not specified\n");
  } else {
    ConsoleLog(console, "Wavelength Code: %inm\n", wavelength + 644);
  }
  PrintWriteStrategy(console, r, block.strategy);
}

// A blank disc's lead-in starts in minute 97, or in minute 96 for the makers whose rows
// carry it.
bool IsLeadInMinute(std::uint8_t minute) {
  return minute == 97 || minute == 96;
}

// Finds the CD lead-in start time from the ATIP, the raw TOC's C0h point, or the disc
// information; false when none gives it.
bool FindLeadInTime(std::uint8_t* reply, int* minute, int* second, int* frame) {
  if (Query(cdb::kReadAtip, reply, kAllocation) == 0 && IsLeadInMinute(reply[8])) {
    *minute = reply[8];
    *second = reply[9];
    *frame = reply[10];
    return true;
  }
  std::size_t answered = 0;
  if (QueryWholeTable(cdb::kReadRawToc, reply, &answered) == 0) {
    const std::size_t count = answered >= 4 ? (answered - 4) / 11 : 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* d = reply + 4 + 11 * i;
      if (d[3] != 0xC0) continue;
      *minute = d[8];
      *second = d[9];
      *frame = d[10];
      return true;
    }
  }
  if (Query(cdb::kReadDiscInformation, reply, kAllocation) == 0 && IsLeadInMinute(reply[17])) {
    *minute = reply[17];
    *second = reply[18];
    *frame = reply[19];
    return true;
  }
  return false;
}

}  // namespace

const char* AtipMakerName(std::uint8_t second, std::uint8_t frame) {
  for (const AtipMaker& row : AtipMakerTable) {
    if (row.second == second && row.frame / 10 == frame / 10) return row.name;
  }
  return AtipMakerTable[kAtipMakerCount - 1].name;
}

void HexDump128(Console* console, const std::uint8_t* reply) {
  ConsoleLog(console, "\n");
  HexDump(console, reply, 8);
}

namespace {

PhysicalFormat DecodePhysicalFormat(const std::uint8_t* r) {
  PhysicalFormat f;
  f.book_type = r[4] >> 4;
  f.part_version = r[4] & 0x0F;
  f.disc_size = r[5] >> 4;
  f.maximum_rate = r[5] & 0x0F;
  f.layers = (r[6] >> 5) & 0x03;
  f.opposite_track_path = (r[6] & 0x10) != 0;
  f.layer_type = r[6] & 0x07;
  f.linear_density = r[7] >> 4;
  f.track_density = r[7] & 0x0F;
  f.data_start = ReadBe32(r + 8);
  f.data_end = ReadBe32(r + 12);
  f.layer0_end = ReadBe32(r + 16);
  f.burst_cutting_area = (r[20] & 0x80) != 0;
  return f;
}

// READ DISC STRUCTURE format 00h into the report; false when it is refused.
bool QueryPhysicalFormat(ManufacturerReport* report) {
  std::uint8_t* r = ReplyBuffer;
  if (Query(kPhysicalFormat, r, kAllocation) != 0) return false;
  report->physical = DecodePhysicalFormat(r);
  report->physical_raw.assign(r, r + 128);
  return true;
}

bool QueryPrePit(ManufacturerReport* report) {
  std::uint8_t* r = ReplyBuffer;
  if (Query(kPreRecorded, r, kAllocation) != 0) return false;
  report->pre_recorded.assign(r, r + 128);
  return true;
}

void PrintPhysicalFormat(Console* console, const PhysicalFormat& f) {
  ConsoleLog(console, "Book Type: ");
  PrintChoice(console, f.book_type,
              {{0, "DVD-ROM\n"},
               {1, "DVD-RAM\n"},
               {2, "DVD-R\n"},
               {3, "DVD-RW\n"},
               {9, "DVD+RW\n"},
               {10, "DVD+R\n"}});
  ConsoleLog(console, "Part Version: %i\n", f.part_version);
  ConsoleLog(console, "Disc Size: ");
  PrintChoice(console, f.disc_size, {{0, "120 mm\n"}, {1, "80 mm\n"}});
  ConsoleLog(console, "Maximum Rate: ");
  PrintChoice(
      console, f.maximum_rate,
      {{0, "2.52 Mbps\n"}, {1, "5.04 Mbps\n"}, {2, "10.08 Mbps\n"}, {15, "not specified\n"}});
  ConsoleLog(console, "Number of Layers: ");
  PrintChoice(console, f.layers, {{0, "1\n"}, {1, "2\n"}});
  ConsoleLog(console, "Track Path: ");
  ConsoleLog(
      console, "%s",
      !f.opposite_track_path ? "Parallel Track Path (PTP)\n" : "Opposite Track Path (OTP)\n");
  ConsoleLog(console, "Layer Type: ");
  if (f.layer_type & 0x01) ConsoleLog(console, "Layer contains embossed data\n");
  if (f.layer_type & 0x02) ConsoleLog(console, "Layer contains recordable area\n");
  if (f.layer_type & 0x04) ConsoleLog(console, "Layer contains rewritable area\n");
  ConsoleLog(console, "Linear Density: ");
  PrintChoice(console, f.linear_density,
              {{0, "0.267 um/bit\n"},
               {1, "0.293 um/bit\n"},
               {2, "0.409 to 0.435 um/bit\n"},
               {4, "0.280 to 0.291 um/bit\n"},
               {8, "0.353 um/bit\n"}});
  ConsoleLog(console, "Track Density: ");
  PrintChoice(console, f.track_density,
              {{0, "0.74 μm/track\n"}, {1, "0.80 μm/track\n"}, {2, "0.615 μm/track\n"}});
  ConsoleLog(console, "Starting Physical Sector Number of Data Area: %Xh\n", f.data_start);
  ConsoleLog(console, "End Physical Sector Number of Data Area: %Xh\n", f.data_end);
  ConsoleLog(console, "End Physical Sector Number in Layer 0: %Xh\n", f.layer0_end);
  ConsoleLog(console, "Burst Cutting Area: ");
  ConsoleLog(console, "%s", f.burst_cutting_area ? "exist\n" : "not exist\n");
}

void PrintPrePit(Console* console, const std::uint8_t* r, std::uint8_t profile) {
  ConsoleLog(console, "製造商及編號為: %s\n", MakerText(r + 21, 14).c_str());
  ConsoleLog(console, "\n");

  const std::uint8_t application = r[5];
  ConsoleLog(console, "Disc Application code: %02Xh\n", application);
  if (application & 0x40) {
    ConsoleLog(console, "     Disc for unrestricted use,\n");
    if ((application & 0x3F) == 0) {
      ConsoleLog(console, "     Consumer purpose disk for use in consumer purpose drives\n");
    }
  } else {
    ConsoleLog(console, "     Disc for restricted use, \n");
    ConsoleLog(console, "%s",
               (application & 0x3F) != 0
                   ? "     Special purpose disc for use only in special drives\n"
                   : "     Gener general purpose disc for use in general purpose drives\n");
  }

  const std::uint8_t physical = r[6];
  ConsoleLog(console, "Disc Physical code: %02Xh\n", physical);
  if (physical & 0x80) ConsoleLog(console, "     The track pitch is 0.74 μm\n");
  if (physical & 0x40) ConsoleLog(console, "     The reference velocity is 3.49 m/s\n");
  ConsoleLog(console, "%s",
             (physical & 0x20) != 0 ? "     The disc diameter is 80 mm\n"
                                    : "     The disc diameter is 120 mm\n");
  ConsoleLog(console, (physical & 0x10) != 0 ? "     The reflectivity is 18%% to 30%%\n"
                                             : "     The reflectivity is 45%% to 85%%\n");
  ConsoleLog(console, "%s", (physical & 0x04) != 0 ? "     Phase change\n" : "     Organic dye\n");
  ConsoleLog(console, "%s",
             (physical & 0x02) != 0 ? "     Re-recordable media\n" : "     Recordable media\n");

  ConsoleLog(console, "Last address of Data Recordable Area: %02X%02X%02Xh\n", r[7], r[8], r[9]);
  ConsoleLog(console, "Part Version: %02Xh\n", r[10] >> 4);
  ConsoleLog(console, "Extension code: %02Xh\n", r[10] & 0x0F);

  if (profile == 0x13 || profile == 0x14) {
    if (r[13] == 0) {
      ConsoleLog(console, "OPC Suggested Code(Recording Power): not specified\n");
    } else {
      ConsoleLog(console, "OPC Suggested Code(Recording Power): power codes=%.1fmW\n",
                 r[13] * 0.5 + 6.5);
    }
    ConsoleLog(console, "OPC suggested code(Erasing power ratio): %.2f\n", r[14] * 0.02 + 0.36);
    PrintWriteStrategy(console, r, {15, 16, 17, 18, 37, 38, 39, 40, 41, 42});
  } else if (profile == 0x11 || profile == 0x15 || profile == 0x16) {
    PrintOpcBlock(console, r, {13, 14, {15, 16, 17, 18, 37, 38, 39, 40, 41, 42}}, true);
    PrintOpcBlock(console, r, {45, 46, {47, 48, 49, 50, 53, 54, 55, 56, 57, 58}}, false);
    PrintOpcBlock(console, r, {61, 62, {63, 64, 65, 66, 69, 70, 71, 72, 73, 74}}, false);
    PrintOpcBlock(console, r, {86, 87, {88, 89, 90, 91, 94, 95, 96, 97, 98, 99}}, false);
  }
  HexDump128(console, r);
}

bool IsDvdMinus(std::uint8_t profile) {
  return profile == 0x11 || profile == 0x13 || profile == 0x14 || profile == 0x15 ||
         profile == 0x16;
}
bool IsDvdPlus(std::uint8_t profile) {
  return profile == 0x1A || profile == 0x1B || profile == 0x2A || profile == 0x2B;
}
bool IsPressed(std::uint8_t profile) {
  return profile == 0x10 || profile == 0x20 || profile == 0x30 || profile == 0x40 ||
         profile == 0x50;
}

Outcome DecodeDvdMaker(ManufacturerReport* report) {
  std::uint8_t* reply = ReplyBuffer;
  TraceEnabled.store(0);
  const std::int32_t result = Query(cdb::kGetCurrentProfile, reply, kAllocation);
  TraceEnabled.store(1);
  if (result != 0) return CommandFailed(cdb::kGetCurrentProfile, result);
  report->profile_read = true;
  report->profile = reply[7];
  const std::uint8_t profile = report->profile;
  if (profile == 0) return Failed("no disc in the drive (current profile 0)");
  Outcome outcome;
  if (IsDvdMinus(profile)) {
    QueryPrePit(report);
    QueryPhysicalFormat(report);
  } else if (profile == 0x12) {
    QueryPhysicalFormat(report);
  } else if (IsDvdPlus(profile)) {
    if (const std::int32_t failed = Query(kPhysicalFormat, reply, kAllocation); failed != 0) {
      report->physical_refused = true;
      return CommandFailed(kPhysicalFormat, failed);
    }
    report->maker_id = MakerText(reply + 23, 12);
    QueryPhysicalFormat(report);
  } else if (IsPressed(profile)) {
    QueryPhysicalFormat(report);
    outcome = Failed("a pressed disc names no maker");
  }
  std::copy(reply, reply + report->dump.size(), report->dump.begin());
  report->speeds_read = QueryWriteSpeeds(true, &report->speeds);
  return outcome;
}

void PrintDvdMaker(Console* console, const ManufacturerReport& report) {
  if (!report.profile_read) return;
  const std::uint8_t profile = report.profile;
  if (profile == 0) {
    ConsoleLog(console, "現在未放入光碟片\n");
    return;
  }
  ConsoleLog(console, "%s光碟片", ProfileNameText(profile));
  if (report.physical_refused) return;
  if (IsDvdMinus(profile)) {
    if (!report.pre_recorded.empty()) PrintPrePit(console, report.pre_recorded.data(), profile);
  } else if (profile == 0x12) {
    ConsoleLog(console, "\n");
  } else if (IsDvdPlus(profile)) {
    ConsoleLog(console, "製造商及編號為: %s\n", report.maker_id.value_or("").c_str());
    ConsoleLog(console, "\n");
  } else if (IsPressed(profile)) {
    ConsoleLog(console, "為非燒錄用的光碟片, 無法查詢製造商\n");
    ConsoleLog(console, "\n");
  }
  if (report.physical) PrintPhysicalFormat(console, *report.physical);
  HexDump128(console, report.dump.data());
  if (report.speeds_read) PrintWriteSpeeds(console, report.speeds);
}

}  // namespace

void ShowDvdPhysicalFormat() {
  ManufacturerReport report;
  if (QueryPhysicalFormat(&report)) PrintPhysicalFormat(Out(), *report.physical);
}

void ShowDvdPrePitInfo(std::uint8_t profile) {
  ManufacturerReport report;
  if (QueryPrePit(&report)) PrintPrePit(Out(), report.pre_recorded.data(), profile);
}

Outcome DecodeManufacturer(ManufacturerReport* report) {
  *report = ManufacturerReport{};
  const std::uint8_t code = ProbeMediumType(0);
  report->medium_code = code;
  if (code == kMediumNoDevice) return ProbeFailed(code);
  if (code >= 0x01 && code <= 0x09) {
    report->kind = ManufacturerReport::Kind::kPressedCd;
    return Failed("a pressed disc names no maker");
  }
  if (code == kMediumNoDisc || code == kMediumDoorOpen) {
    report->kind = code == kMediumNoDisc ? ManufacturerReport::Kind::kNoDisc
                                         : ManufacturerReport::Kind::kDoorOpen;
    return ProbeFailed(code);
  }
  if (IsDvdMedium(code)) {
    report->kind = ManufacturerReport::Kind::kDvd;
    return DecodeDvdMaker(report);
  }
  report->kind = ManufacturerReport::Kind::kCd;
  report->lead_in_found = FindLeadInTime(ReplyBuffer, &report->lead_in_minute,
                                         &report->lead_in_second, &report->lead_in_frame);
  if (!report->lead_in_found) {
    return Failed(
        "no lead-in start time found (the drive reads no ATIP and the disc is not blank)");
  }
  report->speeds_read = QueryWriteSpeeds(false, &report->speeds);
  return Succeeded();
}

void PrintManufacturer(Console* console, const ManufacturerReport& report) {
  using Kind = ManufacturerReport::Kind;
  switch (report.kind) {
    case Kind::kNoDevice:
      return;
    case Kind::kPressedCd:
      ConsoleLog(console, "非燒錄用的光碟片, 無法查詢製造商\n");
      return;
    case Kind::kNoDisc:
      ConsoleLog(console, "尚未放入光碟片!\n");
      return;
    case Kind::kDoorOpen:
      ConsoleLog(console, "門沒關!\n");
      return;
    case Kind::kDvd:
      PrintDvdMaker(console, report);
      return;
    case Kind::kCd:
      break;
  }
  const std::uint8_t code = report.medium_code;
  if (!report.lead_in_found) {
    if (code >= 0x10 && code <= 0x18) {
      ConsoleLog(console, "您的光碟設備並不支援READ ATIP指令, 且放入的CD-R亦非空白片\n");
    } else if (code >= 0x20 && code <= 0x28) {
      ConsoleLog(console, "您的光碟設備並不支援READ ATIP指令, 且放入的CD-RW亦非空白片\n");
    }
    ConsoleLog(console, "請您放入一片空白片再試試\n");
    return;
  }
  const std::string atip = FormatText(
      kConsoleTextLimit, "ATIP Start Time of lead-in: %02d:%02d:%02d(%s)\n", report.lead_in_minute,
      report.lead_in_second, report.lead_in_frame, report.LeadInMaker());
  ConsoleLog(console, "製造商是: %s\n", atip.c_str());
  if (report.speeds_read) PrintWriteSpeeds(console, report.speeds);
}

void ManufacturerJson(JsonWriter& json, const ManufacturerReport& report) {
  using Kind = ManufacturerReport::Kind;
  json.Key("medium_code").Unsigned(report.medium_code);
  const char* disc = report.kind == Kind::kDvd         ? "dvd"
                     : report.kind == Kind::kCd        ? "cd"
                     : report.kind == Kind::kPressedCd ? "pressed_cd"
                     : report.kind == Kind::kNoDisc    ? "no_disc"
                     : report.kind == Kind::kDoorOpen  ? "door_open"
                                                       : "no_device";
  json.Key("disc").String(disc);
  json.Key("maker");
  if (report.kind == Kind::kCd && report.lead_in_found) {
    json.String(report.LeadInMaker());
  } else if (report.maker_id) {
    json.String(*report.maker_id);
  } else if (!report.pre_recorded.empty()) {
    json.String(MakerText(report.pre_recorded.data() + 21, 14));
  } else {
    json.Null();
  }
  if (report.kind == Kind::kCd) {
    json.Key("lead_in");
    if (report.lead_in_found) {
      json.BeginObject()
          .Key("minute")
          .Number(std::int64_t{report.lead_in_minute})
          .Key("second")
          .Number(std::int64_t{report.lead_in_second})
          .Key("frame")
          .Number(std::int64_t{report.lead_in_frame})
          .EndObject();
    } else {
      json.Null();
    }
  }
  if (report.kind == Kind::kDvd) {
    json.Key("profile").Unsigned(report.profile);
    json.Key("profile_name").String(report.profile == 0 ? "" : ProfileNameText(report.profile));
    json.Key("physical_format");
    if (report.physical) {
      const PhysicalFormat& f = *report.physical;
      json.BeginObject()
          .Key("book_type")
          .Unsigned(f.book_type)
          .Key("part_version")
          .Unsigned(f.part_version)
          .Key("disc_size_mm")
          .Unsigned(f.disc_size == 0   ? 120U
                    : f.disc_size == 1 ? 80U
                                       : 0U)
          .Key("maximum_rate")
          .Unsigned(f.maximum_rate)
          .Key("layers")
          .Unsigned(f.layers + 1U)
          .Key("opposite_track_path")
          .Bool(f.opposite_track_path)
          .Key("layer_type")
          .Unsigned(f.layer_type)
          .Key("linear_density")
          .Unsigned(f.linear_density)
          .Key("track_density")
          .Unsigned(f.track_density)
          .Key("data_start")
          .Unsigned(f.data_start)
          .Key("data_end")
          .Unsigned(f.data_end)
          .Key("layer0_end")
          .Unsigned(f.layer0_end)
          .Key("burst_cutting_area")
          .Bool(f.burst_cutting_area)
          .Key("raw")
          .Hex(report.physical_raw.data(), report.physical_raw.size())
          .EndObject();
    } else {
      json.Null();
    }
    json.Key("pre_recorded");
    if (!report.pre_recorded.empty()) {
      const std::uint8_t* r = report.pre_recorded.data();
      json.BeginObject()
          .Key("application_code")
          .Unsigned(r[5])
          .Key("physical_code")
          .Unsigned(r[6])
          .Key("last_recordable_address")
          .Unsigned(std::uint32_t{r[7]} << 16 | std::uint32_t{r[8]} << 8 | r[9])
          .Key("part_version")
          .Unsigned(r[10] >> 4U)
          .Key("extension_code")
          .Unsigned(r[10] & 0x0FU)
          .Key("raw")
          .Hex(r, report.pre_recorded.size())
          .EndObject();
    } else {
      json.Null();
    }
  }
  json.Key("write_speeds_read").Bool(report.speeds_read);
  WriteSpeedsJson(json, report.kind == Kind::kDvd, report.speeds);
}

Outcome ShowManufacturer(Console* console) {
  ManufacturerReport report;
  Outcome outcome = DecodeManufacturer(&report);
  PrintManufacturer(console, report);
  return outcome;
}

}  // namespace zorvane
