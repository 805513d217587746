#include "info/media.h"
#include "info/commands.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/polling.h"

namespace zorvane {

alignas(16) std::uint8_t ReplyBuffer[kReplyBufferSize];

namespace {

constexpr std::int32_t kBecomingReady = 0x020401;
constexpr std::int32_t kMediumMayHaveChanged = 0x062800;

struct MediumText {
  std::uint8_t code;
  const char* text;
};

constexpr MediumText kMediumTexts[] = {
    {0x00, "光碟設備中不知是哪種光碟片\n"},
    {0x01, "光碟設備中存在120mm的CD-ROM\n"},
    {0x02, "光碟設備中存在120mm的CD-DA\n"},
    {0x03, "光碟設備中存在120mm的Mixed-mode CD\n"},
    {0x10, "光碟設備中存在CD-R\n"},
    {0x11, "光碟設備中存在120mm的CD-ROM(CD-R)\n"},
    {0x12, "光碟設備中存在120mm的CD-DA(CD-R)\n"},
    {0x15, "光碟設備中存在80mm的CD-R\n"},
    {0x16, "光碟設備中存在80mm的CD-DA(CD-R)\n"},
    {0x17, "光碟設備中存在80mm的CD-ROM/CD-DA(CD-R)\n"},
    {0x18, "光碟設備中存在80mm的CD-ROM(CD-R)\n"},
    {0x21, "光碟設備中存在120mm的CD-ROM(CD-RW)\n"},
    {0x24, "光碟設備中存在120mm的CD-ROM(CD-RW) Hybrid disc(Photo CD)\n"},
    {0x41, "光碟設備中存在120mm的DVD\n"},
    {0x70, "光碟設備門己關上, 且不存在光碟片\n"},
    {0x71, "光碟設備門己開啟\n"},
};

struct ProfileEntry {
  std::uint8_t profile;
  const char* name;
};

constexpr ProfileEntry kProfiles[] = {
    {0x01, "Non-removable disk"},
    {0x02, "Removable disk"},
    {0x03, "MO"},
    {0x04, "Optical Write Once"},
    {0x05, "AS-MO"},
    {0x08, "CD-ROM"},
    {0x09, "CD-R"},
    {0x0A, "CD-RW"},
    {0x10, "DVD-ROM"},
    {0x11, "DVD-R"},
    {0x12, "DVD-RAM"},
    {0x13, "DVD-RW(Restricted Overwrite)"},
    {0x14, "DVD-RW(Sequential Recording)"},
    {0x15, "DVD-R DL(Sequential Recording)"},
    {0x16, "DVD-R DL(Jump Recording)"},
    {0x1A, "DVD+RW"},
    {0x1B, "DVD+R"},
    {0x20, "DDCD-ROM"},
    {0x21, "DDCD-R"},
    {0x22, "DDCD-RW"},
    {0x28, "MRW"},
    {0x2A, "DVD+RW DL"},
    {0x2B, "DVD+R DL"},
    // The BD family as MMC numbers it.
    {0x40, "BD-ROM"},
    {0x41, "BD-R SRM"},
    {0x42, "BD-R RRM"},
    {0x43, "BD-RE"},
    {0x50, "HD DVD-ROM"},
    {0x51, "HD DVD-R"},
    {0x52, "HD DVD-RAM"},
};

std::int32_t SendTestUnitReady(std::uint8_t close_after) {
  return ExecuteOnCurrent(cdb::kTestUnitReady, 0, nullptr, kDataNone, close_after);
}

// The medium-type code when MODE SENSE ended with a sense and left no header to read.
std::uint8_t CodeFromRefusal(std::int32_t sense) {
  const int key = (sense >> 16) & 0x0F;
  const int asc = (sense >> 8) & 0xFF;
  if (key == 0x02 && asc == 0x3A) return (sense & 0xFF) == 0x02 ? kMediumDoorOpen : kMediumNoDisc;
  return kMediumUnknown;
}

bool InList(std::uint16_t value, std::initializer_list<std::uint16_t> list) {
  for (const std::uint16_t item : list) {
    if (item == value) return true;
  }
  return false;
}

// Many drives leave the medium-type byte at 00h, and some answer 70h or 71h whatever the
// tray holds (QEMU's ATAPI drive answers 70h with a disc loaded). With such a byte the
// class is taken from what the drive says otherwise: a disc that TEST UNIT READY finds
// ready gets its class from the current profile (and a CD-R or CD-RW from its disc
// status); no disc gets 70h or 71h from the tray. Commands go to a buffer of their own,
// so the mode data stays in the caller's reply buffer.
std::uint8_t ClassWithoutMediumType(std::uint8_t code, std::int32_t ready) {
  std::uint8_t data[256] = {};
  if (ready == 0) {
    if (ExecuteOnCurrent(cdb::kGetCurrentProfile, sizeof data, data, kDataIn, 0) != 0) return code;
    const std::uint16_t profile = static_cast<std::uint16_t>(data[6] << 8 | data[7]);
    if (InList(profile, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x1A, 0x1B, 0x2A, 0x2B})) {
      return 0x41;  // a 120 mm DVD
    }
    if (profile == 0x08) return 0x01;  // a pressed CD
    if (profile != 0x09 && profile != 0x0A) return code;
    // A recordable CD: blank (type not known yet) or holding data.
    std::memset(data, 0, sizeof data);
    if (ExecuteOnCurrent(cdb::kReadDiscInformation, sizeof data, data, kDataIn, 0) != 0) {
      return code;
    }
    const bool blank = (data[2] & 0x03) == 0;
    const std::uint8_t base = profile == 0x09 ? 0x10 : 0x20;
    return blank ? base : static_cast<std::uint8_t>(base | 0x01);
  }
  const int key = (ready >> 16) & 0x0F;
  const int asc = (ready >> 8) & 0xFF;
  if (key != 0x02 || asc != 0x3A) return code;
  if ((ready & 0xFF) == 0x01) return kMediumNoDisc;
  if ((ready & 0xFF) == 0x02) return kMediumDoorOpen;
  // "Medium not present" without the tray state: the media event status tells it.
  if (ExecuteOnCurrent(cdb::kMediaEventStatus, 8, data, kDataIn, 0) != 0) return code;
  if ((data[2] & 0x07) != 0x04) return code;  // not the media class
  return (data[5] & 0x01) != 0 ? kMediumDoorOpen : kMediumNoDisc;
}

}  // namespace

const char* MediumTypeText(std::uint8_t code) {
  for (const MediumText& entry : kMediumTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

std::uint8_t ProbeMediumType(int report, std::uint8_t* reply) {
  TraceEnabled.store(0);
  if (SendTestUnitReady(1) == -1 ||
      RepeatWhile([] { return SendTestUnitReady(0); }, {kBecomingReady}) == -1) {
    TraceEnabled.store(1);
    return kMediumNoDevice;
  }
  std::memset(reply, 0, 8);  // a short reply must not leave an old header behind
  const std::int32_t sense = RepeatWhile(
      [reply] { return ExecuteOnCurrent(cdb::kModeSenseCapabilities, 0xFFFF, reply, kDataIn, 0); },
      {kMediumMayHaveChanged, kBecomingReady});
  if (sense == -1) {
    TraceEnabled.store(1);
    return kMediumNoDevice;
  }
  const std::int32_t ready = SendTestUnitReady(0);
  std::uint8_t code = sense == 0 ? reply[2] : CodeFromRefusal(sense);
  // A header byte that says nothing is replaced by what the profile or the tray tells; a
  // MODE SENSE refused for "medium not present" is believed, whatever TEST UNIT READY says
  // a moment later.
  const bool header_read = sense == 0;
  if (ready != -1 && (header_read || ready != 0) &&
      (code == kMediumUnknown || code == kMediumNoDisc || code == kMediumDoorOpen)) {
    code = ClassWithoutMediumType(code, ready);
  }
  TraceEnabled.store(1);
  if (report == 1) PrintMediumType(InfoConsole.load(), code);
  return code;
}

void PrintMediumType(Console* console, std::uint8_t code) {
  ConsoleLog(console, "Media Code=%02X, ", code);
  if (const char* text = MediumTypeText(code)) ConsoleLog(console, "%s", text);
}

void MediumTypeJson(JsonWriter& json, std::uint8_t code) {
  json.Key("medium_code").Unsigned(code);
  json.Key("description");
  if (const char* text = MediumTypeText(code)) {
    std::string_view line(text);
    while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    json.String(line);
  } else {
    json.Null();
  }
  const char* state = code == kMediumNoDevice   ? "no_device"
                      : code == kMediumNoDisc   ? "no_disc"
                      : code == kMediumDoorOpen ? "door_open"
                      : code == kMediumUnknown  ? "unknown_medium"
                      : IsDvdMedium(code)       ? "dvd"
                                                : "cd";
  json.Key("state").String(state);
}

const char* ProfileNameText(std::uint8_t profile) {
  for (const ProfileEntry& entry : kProfiles) {
    if (entry.profile == profile) return entry.name;
  }
  return "不知道";
}

void ProfileName(std::uint8_t profile, char* text, std::size_t size) {
  if (size == 0) return;
  std::snprintf(text, size, "%s", ProfileNameText(profile));
}

}  // namespace zorvane
