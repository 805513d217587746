#include "info/write_speeds.h"

#include <cstdlib>

#include "base/utilities.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"

namespace zorvane {

namespace {
constexpr std::uint8_t kGetWriteSpeeds[12] = {0xAC, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0xFF, 0x03, 0x00};
// The walk looks at the first 256 bytes (15 descriptors). The data phase holds all that
// the command may return (255 descriptors): a transport that checks the data phase
// against the CDB (virtio-scsi does) refuses a shorter one as an overrun.
constexpr std::size_t kReplyArea = 256;
constexpr std::size_t kDataPhase = 8 + 255 * 16;
}  // namespace

double WriteSpeedFactor(std::uint32_t speed, bool is_dvd) {
  // Single precision for DVD and double for CD give the same figure at one decimal.
  if (is_dvd) return static_cast<double>(static_cast<float>(speed) / 1385.0F);
  return speed / 176.5;
}

bool QueryWriteSpeeds(bool is_dvd, std::vector<WriteSpeedEntry>* entries) {
  entries->clear();
  std::uint8_t reply[kDataPhase] = {};
  if (Query(kGetWriteSpeeds, reply, sizeof reply, sizeof reply) != 0) return false;
  // Descriptors count only as far as the performance data length says they were sent.
  const std::size_t answered = AnsweredLength(reply, 4, kReplyArea);
  for (std::size_t o = 20; o + 4 <= answered && o < kReplyArea; o += 16) {
    if (reply[o + 2] == 0) break;  // an empty descriptor, or a speed below 256 KB/s
    const std::uint32_t speed = ReadBe32(reply + o);
    entries->push_back(WriteSpeedEntry{
        speed, FormatText(kConsoleTextLimit, "%4.1fx (%i KB/s)\n", WriteSpeedFactor(speed, is_dvd),
                          static_cast<int>(speed))});
  }
  return true;
}

void ListWriteSpeeds(int is_dvd) {
  std::vector<WriteSpeedEntry> entries;
  if (!QueryWriteSpeeds(is_dvd != 0, &entries)) return;
  PrintWriteSpeeds(InfoConsole.load(), entries);
}

void PrintWriteSpeeds(Console* console, const std::vector<WriteSpeedEntry>& entries) {
  ConsoleLog(console, "\n");
  ConsoleLog(console, "光碟片寫入速率:\n");
  for (const WriteSpeedEntry& entry : entries) ConsoleLog(console, "%s", entry.line.c_str());
}

void WriteSpeedsJson(JsonWriter& json, bool is_dvd, const std::vector<WriteSpeedEntry>& entries) {
  json.Key("write_speeds").BeginArray();
  for (const WriteSpeedEntry& entry : entries) {
    // The factor as the line shows it, to one decimal.
    const double factor =
        std::strtod(FormatText(32, "%.1f", WriteSpeedFactor(entry.speed, is_dvd)).c_str(), nullptr);
    json.BeginObject()
        .Key("kb_per_s")
        .Unsigned(entry.speed)
        .Key("factor")
        .Number(factor)
        .EndObject();
  }
  json.EndArray();
}

}  // namespace zorvane
