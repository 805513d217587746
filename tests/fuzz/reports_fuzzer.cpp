// Random drive answers, of random lengths and contents, to every report and to the
// window's medium checks. Each command the drive receives takes the next piece of input:
//   byte 0: what happens (0-3 good, 4 a sense, 5 the request fails)
//   byte 1-2: length of the answer, big-endian (at most what is left)
//   then that many bytes of answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "app/main_commands.h"
#include "base/dialog.h"
#include "base/json_writer.h"
#include "base/templates.h"
#include "info/capabilities.h"
#include "info/capacity.h"
#include "info/manufacturer.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/scripted_backend.h"

namespace {

using namespace zorvane;

class FuzzedAnswers {
 public:
  FuzzedAnswers(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  ScriptedDrive::Reply Next() {
    std::lock_guard lock(mutex_);
    ScriptedDrive::Reply reply;
    if (at_ + 3 > size_) {
      reply.sense = 0x052000;  // input used up: the drive refuses
      return reply;
    }
    const std::uint8_t kind = data_[at_] % 6;
    std::size_t length = static_cast<std::size_t>(data_[at_ + 1]) << 8 | data_[at_ + 2];
    at_ += 3;
    length = std::min(length, size_ - at_);
    reply.data.assign(data_ + at_, data_ + at_ + length);
    at_ += length;
    if (kind == 4) {
      const std::int32_t senses[] = {0x020401, 0x062800, 0x023A01, 0x023A02, 0x052400, 0x256400};
      reply.sense = senses[length % 6];
    }
    if (kind == 5) reply.error = 5;
    return reply;
  }

 private:
  std::mutex mutex_;
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class NoDialogs : public JobDialogs {
 public:
  bool CanOpen(int) const override { return true; }
  void Open(int) override {}
  bool CanStartQualityScan() const override { return false; }
  void StartQualityScan() override {}
};

StringConsole* command_console = nullptr;
StringConsole* info_console = nullptr;

int Initialize() {
  SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
  command_console = new StringConsole;
  info_console = new StringConsole;
  CommandConsole = command_console;
  InfoConsole = info_console;
  for (std::string& path : DevicePaths) path.clear();
  DevicePaths[0] = "script:fuzz";
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int initialized = Initialize();
  (void)initialized;
  if (size < 1) return 0;
  const std::uint8_t which = data[0];
  auto answers = std::make_shared<FuzzedAnswers>(data + 1, size - 1);
  auto drive = std::make_shared<ScriptedDrive>();
  drive->OnCall({}, [answers](const PassThroughRequest&) { return answers->Next(); });
  AttachScriptedDrive("fuzz", drive);
  CloseAllDevices();
  command_console->Clear();
  info_console->Clear();
  MemoryDialog window;
  NoDialogs dialogs;
  // Bit 6: the reports' JSON members from the same answers; the document is always whole.
  if ((which & 0x40) != 0 && which % 10 <= 4) {
    JsonWriter json(0);
    json.BeginObject();
    switch (which % 10) {
      case 0: {
        CapabilitiesReport report;
        DecodeCapabilities(&report);
        CapabilitiesJson(json, report);
        break;
      }
      case 1: {
        CapacityReport report;
        DecodeCapacity(ProbeMediumType(0), &report);
        CapacityJson(json, report);
        break;
      }
      case 2: {
        TocReport report;
        DecodeTableOfContents(ProbeMediumType(0), &report);
        TableOfContentsJson(json, report);
        break;
      }
      case 3: {
        ManufacturerReport report;
        DecodeManufacturer(&report);
        ManufacturerJson(json, report);
        break;
      }
      default: {
        std::vector<WriteSpeedEntry> entries;
        QueryWriteSpeeds(which & 0x10, &entries);
        WriteSpeedsJson(json, which & 0x10, entries);
        break;
      }
    }
    json.EndObject();
    if (!json.Complete()) std::abort();
    return 0;
  }
  switch (which % 10) {
    case 0:
      ShowCapabilities();
      break;
    case 1:
      ShowCapacity(window);
      break;
    case 2:
      ShowTableOfContents(window);
      break;
    case 3:
      ShowManufacturer(info_console);
      break;
    case 4:
      ListWriteSpeeds(which & 0x10);
      break;
    case 5:
      PressRead(window, dialogs);
      break;
    case 6:
      PressWrite(window, dialogs);
      break;
    case 7:
      PressAddressWrite(window, dialogs);
      break;
    case 8:
      PressC2Scan(window, dialogs);
      break;
    default:
      DiscoverDevices();
      break;
  }
  return 0;
}
