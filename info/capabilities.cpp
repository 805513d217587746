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
  const char* text;  // as the console shows it
  const char* key;   // the JSON member
};

constexpr Bit kReadBits[] = {{5, "DVD-RAM, ", "dvd_ram"}, {4, "DVD-R, ", "dvd_r"},
                             {3, "DVD-ROM, ", "dvd_rom"}, {2, "Methord 2, ", "method_2"},
                             {1, "CD-RW, ", "cd_rw"},     {0, "CD-R ", "cd_r"}};
constexpr Bit kWriteBits[] = {{5, "DVD-RAM, ", "dvd_ram"},
                              {4, "DVD-R, ", "dvd_r"},
                              {2, "Test Write, ", "test_write"},
                              {1, "CD-RW, ", "cd_rw"},
                              {0, "CD-R ", "cd_r"}};
constexpr Bit kSupportBits[] = {{7, "防BUR, ", "buffer_underrun_protection"},
                                {6, "多節區, ", "multi_session"},
                                {5, "Mode2 Form2, ", "mode2_form2"},
                                {4, "Mode2 Form1, ", "mode2_form1"},
                                {3, "Digital埠(2), ", "digital_port_2"},
                                {2, "Digital埠(1), ", "digital_port_1"},
                                {1, "Mixed Mode, ", "composite"},
                                {0, "Audio Play ", "audio_play"}};
constexpr Bit kCdBits[] = {{7, "Read Bar Code, ", "read_bar_code"},
                           {6, "UPC, ", "upc"},
                           {5, "ISRC, ", "isrc"},
                           {4, "C2 Pointers, ", "c2_pointers"},
                           {3, "R-W Deinterleaved & corrected, ", "rw_deinterleaved_corrected"},
                           {2, "R-W Supported, ", "rw_supported"},
                           {1, "CD-DA讀取可精確接續, ", "cdda_stream_accurate"},
                           {0, "Read CD指令可讀取D-DA", "cdda_commands"}};
constexpr Bit kAudioBits[] = {{1, "可分聲道靜音, ", "separate_channel_mute"},
                              {0, "音量可調大小, ", "separate_volume_levels"}};

template <std::size_t N>
void PrintBits(Console* console, std::uint8_t value, const Bit (&bits)[N]) {
  for (const Bit& b : bits) {
    if ((value >> b.bit) & 1) ConsoleLog(console, "%s", b.text);
  }
}

template <std::size_t N>
void BitsJson(JsonWriter& json, const char* name, std::uint8_t value, const Bit (&bits)[N]) {
  json.Key(name).BeginObject();
  for (const Bit& b : bits) json.Key(b.key).Bool(((value >> b.bit) & 1) != 0);
  json.EndObject();
}

std::optional<std::string> ReadSerialNumber(std::uint8_t* reply) {
  TraceEnabled.store(0);
  if (Query(kGetSerialNumber, reply, kAllocation) != 0) return std::nullopt;
  const std::size_t answered = AnsweredLength(reply, 4, kAllocation);
  // Only the Logical Unit Serial Number feature carries the serial: a drive that ignores
  // RT = 2 answers with its first feature (the Profile List) instead.
  if (answered < 12 || ReadBe16(reply + 8) != 0x0108) return std::nullopt;
  std::size_t length = reply[11];
  if (length == 0) return std::nullopt;
  // The serial runs from byte 12 for the feature's additional length, as far as the drive
  // sent it; a text field holds at most 127 characters.
  length = std::min({length, answered > 12 ? answered - 12 : std::size_t{0}, std::size_t{127}});
  return PrintableText(reply + 12, ::strnlen(reinterpret_cast<const char*>(reply + 12), length));
}

void PrintSpeed(Console* console, const char* format, std::uint16_t speed) {
  ConsoleLog(console, format, speed, CapabilitySpeedFactor(speed));
}

const char* MechanismName(std::uint8_t bits) {
  switch (bits >> 5) {
    case 0:
      return "caddy";
    case 1:
      return "tray";
    case 2:
      return "popup";
    default:
      return "other";
  }
}

}  // namespace

int CapabilitySpeedFactor(std::uint16_t speed) {
  return speed % 176 < 36 ? speed / 176 : speed / 1385;
}

Outcome DecodeCapabilities(CapabilitiesReport* report) {
  *report = CapabilitiesReport{};
  std::uint8_t* reply = ReplyBuffer;

  report->serial = ReadSerialNumber(reply);

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
  report->page_read = true;
  report->page.assign(page, page + (answered > p ? std::min<std::size_t>(answered - p, 32) : 0));
  report->read_bits = page[2];
  report->write_bits = page[3];
  report->support_bits = page[4];
  report->cd_bits = page[5];
  report->mechanism_bits = page[6];
  report->audio_bits = page[7];
  report->volume_levels = ReadBe16(page + 10);
  report->buffer_kb = ReadBe16(page + 12);
  report->max_read_speed = ReadBe16(page + 8);
  report->current_read_speed = ReadBe16(page + 14);
  report->max_write_speed = ReadBe16(page + 18);
  report->current_write_speed = ReadBe16(page + 20);

  // Write-speed descriptors: as many as the page says, but only those the drive sent.
  const std::size_t descriptors = ReadBe16(page + 30);
  for (std::size_t i = 0; i < descriptors; ++i) {
    const std::size_t at = p + 32 + 4 * i;
    if (at + 4 > answered) break;
    report->write_speeds.push_back({reply[at + 1], ReadBe16(reply + at + 2)});
  }

  std::memset(reply, 0, 65535);
  TraceEnabled.store(0);
  if (const std::int32_t result = Query(cdb::kGetCurrentProfile, reply, kAllocation); result != 0) {
    TraceEnabled.store(1);
    return CommandFailed(cdb::kGetCurrentProfile, result);
  }
  report->profiles_read = true;
  report->current_profile = reply[7];
  // Profile List feature at byte 8: its descriptors, 4 bytes each, from byte 12, as many as
  // its additional length holds and the drive sent.
  const std::size_t sent = AnsweredLength(reply, 4, kAllocation);
  const std::size_t listed = std::min<std::size_t>(reply[11] / 4, sent > 12 ? (sent - 12) / 4 : 0);
  for (std::size_t i = 0; i < listed; ++i) report->profiles.push_back(reply[13 + 4 * i]);
  if (Query(cdb::kGetMrwFeature, reply, kAllocation) == 0) {
    const std::size_t mrw_sent = AnsweredLength(reply, 4, kAllocation);
    if (mrw_sent > 12 && reply[9] == 0x28 && (reply[12] & 0x01) != 0) {
      report->mrw = true;
      report->mrw_current = (reply[10] & 0x01) != 0;  // Current, any version
    }
  }
  TraceEnabled.store(1);
  return Succeeded();
}

void PrintCapabilities(Console* console, const CapabilitiesReport& report) {
  if (report.serial) ConsoleLog(console, "設備序號: %s\n", report.serial->c_str());
  if (!report.page_read) return;

  ConsoleLog(console, "可讀取: ");
  PrintBits(console, report.read_bits, kReadBits);
  ConsoleLog(console, "\n");
  ConsoleLog(console, "可寫入: ");
  PrintBits(console, report.write_bits, kWriteBits);
  ConsoleLog(console, "\n");
  ConsoleLog(console, "支  援: ");
  PrintBits(console, report.support_bits, kSupportBits);
  ConsoleLog(console, "\n");
  PrintBits(console, report.cd_bits, kCdBits);
  ConsoleLog(console, "\n");
  const std::uint8_t mechanism = report.mechanism_bits;
  switch (mechanism >> 5) {
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
             (mechanism & 0x08) != 0 ? "提供Start/Stop Unit指令, " : "不提供Start/Stop Unit指令, ");
  ConsoleLog(console, "%s",
             (mechanism & 0x04) != 0 ? "Prevent Jumper已未被插上, " : "Prevent Jumper未被插上, ");
  ConsoleLog(console, "\n");
  ConsoleLog(console, "%s", (mechanism & 0x02) != 0 ? "現禁止被開啟, " : "現允許被開啟, ");
  ConsoleLog(console, "%s",
             (mechanism & 0x01) != 0 ? "提供Prevent/Allow Media Removal指令"
                                     : "不提供Prevent/Allow Media Removal指令");
  ConsoleLog(console, "\n");
  PrintBits(console, report.audio_bits, kAudioBits);
  if (report.volume_levels != 0) ConsoleLog(console, "音量共分%i段", report.volume_levels);
  ConsoleLog(console, "\n");

  // MMC gives the buffer size in kilobytes; the line names its unit Bytes, so the
  // figure is shown in bytes.
  ConsoleLog(console, "暫存記憶體大小為 %i Bytes\n", report.buffer_kb * 1024);
  PrintSpeed(console, "支援最大讀取速率為 %5i KB/s(%2iX倍速)\n", report.max_read_speed);
  PrintSpeed(console, "現在讀取速率被設為 %5i KB/s(%2iX倍速)\n", report.current_read_speed);
  PrintSpeed(console, "支援最大寫入速率為 %5i KB/s(%2iX倍速)\n", report.max_write_speed);
  PrintSpeed(console, "現在寫入速度被設為 %5i KB/s(%2iX倍速)\n", report.current_write_speed);

  for (const CapabilitiesReport::WriteSpeed& w : report.write_speeds) {
    const char* format = w.rotation == 0 ? "支援 %5i KB/s(%2iX倍速) 以CLV或Non-pure CAV方式寫入\n"
                         : w.rotation == 1 ? "支援 %5i KB/s(%2iX倍速) 以Pure CAV方式寫入\n"
                                           : "支援 %5i KB/s(%2iX倍速)寫入\n";
    ConsoleLog(console, format, w.speed, CapabilitySpeedFactor(w.speed));
  }
  if (!report.profiles_read) return;

  ConsoleLog(console, "支援: ");
  const std::size_t listed = report.profiles.size();
  for (std::size_t i = 0; i < listed; ++i) {
    const std::uint8_t profile = report.profiles[i];
    if (profile != 0) ConsoleLog(console, "%s", ProfileNameText(profile));
    if (i + 1 < listed && report.profiles[i + 1] != 0) ConsoleLog(console, ", ");
  }
  if (report.mrw) {
    ConsoleLog(console, ", MRW");
    if (report.mrw_current) ConsoleLog(console, " 作用中");
  }
  ConsoleLog(console, "\n");
  if (report.current_profile == 0) {
    ConsoleLog(console, "現在未放入光碟片\n");
  } else {
    ConsoleLog(console, "現在所放入的是 %s\n", ProfileNameText(report.current_profile));
  }
}

void CapabilitiesJson(JsonWriter& json, const CapabilitiesReport& report) {
  json.Key("serial");
  report.serial ? json.String(*report.serial) : json.Null();
  json.Key("capabilities");
  if (!report.page_read) {
    json.Null();
  } else {
    json.BeginObject();
    BitsJson(json, "reads", report.read_bits, kReadBits);
    BitsJson(json, "writes", report.write_bits, kWriteBits);
    BitsJson(json, "supports", report.support_bits, kSupportBits);
    BitsJson(json, "cd", report.cd_bits, kCdBits);
    BitsJson(json, "audio", report.audio_bits, kAudioBits);
    const std::uint8_t m = report.mechanism_bits;
    json.Key("loading_mechanism").String(MechanismName(m));
    json.Key("eject").Bool((m & 0x08) != 0);
    json.Key("prevent_jumper").Bool((m & 0x04) != 0);
    json.Key("locked").Bool((m & 0x02) != 0);
    json.Key("lock").Bool((m & 0x01) != 0);
    json.Key("volume_levels").Unsigned(report.volume_levels);
    json.Key("buffer_bytes").Unsigned(std::uint64_t{report.buffer_kb} * 1024);
    json.Key("max_read_speed").Unsigned(report.max_read_speed);
    json.Key("current_read_speed").Unsigned(report.current_read_speed);
    json.Key("max_write_speed").Unsigned(report.max_write_speed);
    json.Key("current_write_speed").Unsigned(report.current_write_speed);
    json.Key("write_speeds").BeginArray();
    for (const CapabilitiesReport::WriteSpeed& w : report.write_speeds) {
      json.BeginObject()
          .Key("kb_per_s")
          .Unsigned(w.speed)
          .Key("factor")
          .Number(std::int64_t{CapabilitySpeedFactor(w.speed)})
          .Key("rotation")
          .String(w.rotation == 0   ? "clv"
                  : w.rotation == 1 ? "pure_cav"
                                    : "other")
          .EndObject();
    }
    json.EndArray();
    json.Key("raw").Hex(report.page.data(), report.page.size());
    json.EndObject();
  }
  json.Key("profiles");
  if (!report.profiles_read) {
    json.Null();
  } else {
    json.BeginArray();
    for (const std::uint8_t profile : report.profiles) {
      if (profile == 0) continue;
      json.BeginObject()
          .Key("profile")
          .Unsigned(profile)
          .Key("name")
          .String(ProfileNameText(profile))
          .EndObject();
    }
    json.EndArray();
    json.Key("current_profile").Unsigned(report.current_profile);
    json.Key("mrw").Bool(report.mrw);
    json.Key("mrw_current").Bool(report.mrw_current);
  }
}

Outcome ShowCapabilities() {
  CapabilitiesReport report;
  Outcome outcome = DecodeCapabilities(&report);
  PrintCapabilities(InfoConsole.load(), report);
  return outcome;
}

}  // namespace zorvane
