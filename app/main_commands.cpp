#include "app/main_commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/shared_commands.h"
#include "base/templates.h"
#include "base/utilities.h"
#include "info/capabilities.h"
#include "info/commands.h"
#include "info/manufacturer.h"
#include "info/toc.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/polling.h"

namespace zorvane {

std::string StartDirectory;

namespace {

constexpr std::int32_t kBecomingReady = 0x020401;
constexpr std::int32_t kRemovalPrevented = 0x055302;

constexpr const char* kTrayHeldMessage = "寫入中，無法退出光碟\n";

constexpr std::uint8_t kEject[6] = {0x1B, 0x01, 0x00, 0x00, 0x02, 0x00};
constexpr std::uint8_t kLoad[6] = {0x1B, 0x01, 0x00, 0x00, 0x03, 0x00};
constexpr std::uint8_t kPreventRemoval[6] = {0x1E, 0x00, 0x00, 0x00, 0x01, 0x00};
constexpr std::uint8_t kAllowRemoval[6] = {0x1E, 0x00, 0x00, 0x00, 0x00, 0x00};

constexpr const char* kMrwMessage =
    "為CD-MRW格式，請改用「指定寫入」，或「抹除」為空白CD-RW後再進行「寫入」!\n";
constexpr const char* kAddressWriteOnlyMessage =
    "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n";

Console* Info() {
  return InfoConsole.load();
}

std::int32_t SendNoData(const std::uint8_t* cdb, std::uint8_t close_after) {
  return ExecuteOnCurrent(cdb, 0, nullptr, kDataNone, close_after);
}

// Sends a data-in command of the window into the reply buffer. The part of the buffer the
// allocation length covers is cleared first, so a short answer leaves zeros, not the
// bytes of an earlier command.
std::int32_t SendDataIn(const std::uint8_t* cdb, std::size_t cleared, std::uint8_t close_after) {
  std::memset(ReplyBuffer, 0, cleared);
  return ExecuteOnCurrent(cdb, 0xFFFF, ReplyBuffer, kDataIn, close_after);
}

bool IsCdRwForMrw(std::uint8_t code) {
  return code >= 0x20 && code <= 0x29;
}

// GET CONFIGURATION with RT = 2 answers the header (8 bytes) and the one feature
// descriptor asked for. The descriptor's bytes count only as far as the header's data
// length says the drive sent them.
bool ConfigurationHas(std::size_t offset) {
  const std::uint32_t data_length = ReadBe32(ReplyBuffer);
  return offset < 4 + static_cast<std::size_t>(data_length) && offset < 256;
}

// MRW feature (0028h) descriptor at byte 8: code in bytes 8-9, Current in byte 10 bit 0,
// the write bit in byte 12 bit 0.
bool MrwFeaturePresent() {
  return ConfigurationHas(9) && ReplyBuffer[9] == 0x28;
}
bool MrwWritable() {
  return ConfigurationHas(12) && (ReplyBuffer[12] & 0x01) != 0;
}
bool MrwCurrent() {
  return ConfigurationHas(10) && (ReplyBuffer[10] & 0x01) != 0;
}

void OpenWriteDialog(JobDialogs& dialogs, int template_id) {
  SendNoData(kPreventRemoval, 1);
  dialogs.Open(template_id);
  SendNoData(kAllowRemoval, 1);
}

// A drive's description as the device list shows it: its first 24 characters.
std::string ShortDescription(const DeviceEntry& entry) {
  const std::string_view description(entry.description);
  return std::string(description.substr(0, Utf8PrefixLength(description, 24)));
}

}  // namespace

std::shared_ptr<ExclusiveUse> ClaimCurrentDrive(std::string* refusal) {
  std::shared_ptr<ExclusiveUse> claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), refusal);
  if (!claim) ShowMessage("Error", "%s\n", refusal->c_str());
  return claim;
}

void StartMainWindow(Dialog& window) {
  std::vector<char> cwd(4096);
  if (::getcwd(cwd.data(), cwd.size()) != nullptr) StartDirectory = cwd.data();
  window.SetChecked(kClearInfoPane, true);
  window.SetChecked(kClearCommandPane, true);
  window.ClearItems(kDeviceList);
  for (int row = 0; row < DeviceCount; ++row) {
    const DeviceEntry& entry = DeviceTable[row];
    ConsoleLog(CommandConsole.load(), "%s %s\n", DriveName(entry.slot), entry.description);
    // The letter first: two drives of one model differ only by it.
    window.AddItem(kDeviceList, FormatText(kConsoleTextLimit, "%s %s", DriveName(entry.slot),
                                           ShortDescription(entry).c_str()));
  }
  // Drives of the system that cannot be opened are shown too, after the usable ones, so
  // that a missing permission reads as one; choosing such a row changes nothing.
  for (const OpticalDrive& drive : FindOpticalDrives()) {
    if (drive.accessible) continue;
    ConsoleLog(CommandConsole.load(), "%s %s %s: %s\n", drive.node.c_str(), drive.vendor.c_str(),
               drive.model.c_str(), drive.reason.c_str());
    window.AddItem(kDeviceList,
                   FormatText(kConsoleTextLimit, "%s %s %s (not accessible)", drive.node.c_str(),
                              drive.vendor.c_str(), drive.model.c_str()));
  }
  if (DeviceCount > 0) SelectDevice(DeviceTable[0]);
  window.SelectItem(kDeviceList, 0);
}

Outcome OpenTray(Dialog& window) {
  // A job of this program that changes the disc holds the tray shut until it ends.
  if (IsClaimed(CurrentDevice.slot.load())) {
    ConsoleLog(Info(), "%s", kTrayHeldMessage);
    return Failed("a job is writing to the disc: the tray stays shut until it ends");
  }
  ApplyClearRule(window);
  const std::uint8_t code = ProbeMediumType(0);
  if (code == kMediumNoDevice) return ProbeFailed(code);
  if (code == kMediumDoorOpen) return Succeeded();
  ConsoleLog(Info(), "將光碟設備的門開啟\n");
  if (const std::int32_t result = SendNoData(kEject, 1); result != 0) {
    if (result == kRemovalPrevented) {
      return Failed(
          "the tray is locked (MEDIUM REMOVAL PREVENTED): a program that writes to the disc "
          "keeps it shut until its job ends");
    }
    return CommandFailed(kEject, result);
  }
  return Succeeded();
}

Outcome CloseTray(Dialog& window) {
  ApplyClearRule(window);
  const std::uint8_t code = ProbeMediumType(1);
  if (code == kMediumNoDevice) return ProbeFailed(code);
  if (code != kMediumDoorOpen && code != kMediumUnknown) return Succeeded();
  ConsoleLog(Info(), "將光碟設備的門關上\n");
  ConsoleLog(Info(), "請稍候...\n");
  TraceEnabled.store(0);
  const std::int32_t loaded = SendNoData(kLoad, 1);
  RepeatWhile([] { return SendNoData(cdb::kTestUnitReady, 1); }, {kBecomingReady});
  TraceEnabled.store(1);
  SendNoData(cdb::kTestUnitReady, 1);
  ConsoleLog(Info(), "完成\n");
  return loaded == 0 ? Succeeded() : CommandFailed(kLoad, loaded);
}

void SwitchDevice(Dialog& /*window*/, int index) {
  if (index < 0 || index >= DeviceCount) return;
  SelectDevice(DeviceTable[index]);
  if (Console* console = Info()) console->Clear();
  const std::string line =
      FormatText(kConsoleTextLimit, "裝備切換至 %s %s", DriveName(DeviceTable[index].slot),
                 ShortDescription(DeviceTable[index]).c_str());
  ConsoleLog(Info(), "%s\n", line.c_str());
  WaitUntilReady(true);
}

Outcome CloseSession(Dialog& window) {
  std::string refusal;
  const std::shared_ptr<ExclusiveUse> claim = ClaimCurrentDrive(&refusal);
  if (!claim) return Failed(refusal);
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return ProbeFailed(code);
  window.Enable(kCloseSessionButton, false);
  ConsoleLog(Info(), "請稍候...\n");
  CloseTrackSessionCommand.Set(2, 0x02);
  std::uint8_t cdb[12];
  CloseTrackSessionCommand.Snapshot(cdb);
  const std::int32_t result = SendNoData(cdb, 1);
  window.Enable(kCloseSessionButton, true);
  // A refused or failed close is said to be one, never reported as done.
  if (result != 0) {
    ConsoleLog(Info(), "關閉節區失敗.\n");
    return CommandFailed(cdb, result);
  }
  ConsoleLog(Info(), "已完成\n");
  return Succeeded();
}

Outcome PressCapabilities(Dialog& window) {
  ApplyClearRule(window);
  if (const std::uint8_t code = ProbeMediumType(0); code == kMediumNoDevice) {
    return ProbeFailed(code);
  }
  return ShowCapabilities();
}

Outcome PressManufacturer(Dialog& window) {
  ApplyClearRule(window);
  return ShowManufacturer(Info());
}

void PressRead(Dialog& window, JobDialogs& dialogs) {
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return;
  TrackList.Clear();
  ShowTableOfContents(window);
  if (TrackList.Get(0).track == 0) return;
  dialogs.Open(IsDvdMedium(code) ? kDvdReadDialog : kCdReadDialog);
}

void PressWrite(Dialog& window, JobDialogs& dialogs) {
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return;
  if (IsCdRwForMrw(code)) {
    if (SendDataIn(cdb::kGetMrwFeature, 256, 1) == 0 && MrwFeaturePresent() && MrwCurrent() &&
        MrwWritable()) {
      ConsoleLog(Info(), "%s", kMrwMessage);
      return;
    }
  }
  if (SendDataIn(cdb::kGetCurrentProfile, 256, 1) != 0) {
    OpenWriteDialog(dialogs, kDvdWriteDialog);
    return;
  }
  const std::uint8_t profile = ReplyBuffer[7];
  ConsoleLog(Info(), "%s\n", ProfileNameText(profile));
  switch (profile) {
    case 0x08:
      ConsoleLog(Info(), "CD-ROM 無法寫入\n");
      return;
    case 0x09:
    case 0x0A:
      OpenWriteDialog(dialogs, kCdWriteDialog);
      return;
    case 0x10:
      ConsoleLog(Info(), "DVD-ROM 無法寫入\n");
      return;
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x1A:
    case 0x1B:
    case 0x2A:
    case 0x2B:
      OpenWriteDialog(dialogs, kDvdWriteDialog);
      return;
    case 0x40:
      ConsoleLog(Info(), "BD-ROM 無法寫入\n");
      return;
    case 0x50:
      ConsoleLog(Info(), "HD DVD-ROM 無法寫入\n");
      return;
    default:
      return;
  }
}

void PressAddressWrite(Dialog& window, JobDialogs& dialogs) {
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return;
  if (IsCdRwForMrw(code)) {
    if (SendDataIn(cdb::kGetMrwFeature, 256, 1) != 0) {
      ConsoleLog(Info(), "無法瞭解燒錄機是否支援MRW\n");
      return;
    }
    // Whether MRW is the current format is not asked here: a writer that can write MRW
    // is offered the dialog.
    if (MrwFeaturePresent() && MrwWritable()) {
      dialogs.Open(kMrwAddressWriteDialog);
    } else {
      ConsoleLog(Info(), "燒錄機並不支援MRW\n");
    }
    return;
  }
  if (IsDvdMedium(code)) {
    if (SendDataIn(cdb::kGetCurrentProfile, 256, 1) != 0) {
      ConsoleLog(Info(), "無法辨別DVD光碟片種類\n");
      return;
    }
    const std::uint8_t profile = ReplyBuffer[7];
    if (profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A) {
      dialogs.Open(kDvdAddressWriteDialog);
    } else {
      ConsoleLog(Info(), "%s", kAddressWriteOnlyMessage);
    }
    return;
  }
  ConsoleLog(Info(), "%s", kAddressWriteOnlyMessage);
}

Outcome PressC2Scan(Dialog& window, JobDialogs& dialogs) {
  ApplyClearRule(window);
  std::uint8_t cdb[12];
  ReadCdC2Command.Snapshot(cdb);
  // A drive refuses the C2 test as well when the disc has nothing to read: the drive is
  // blamed only once the medium checks have found a written CD.
  const std::int32_t c2_test = SendDataIn(cdb, 0, 0);
  const std::uint8_t code = ProbeMediumType(0);
  if (code == kMediumNoDevice) return ProbeFailed(code);
  if (code == kMediumNoDisc) {
    ConsoleLog(Info(), "%s", kNoDiscMessage);
    return ProbeFailed(code);
  }
  if (code == kMediumDoorOpen) {
    ConsoleLog(Info(), "%s", kDoorOpenMessage);
    return ProbeFailed(code);
  }
  if (IsDvdMedium(code)) {
    ConsoleLog(Info(), "此一指令僅使用於CD光碟片, 非使用於DVD光碟片\n");
    return Failed("the C2 scan is for CDs, and the disc is a DVD");
  }
  if (const std::int32_t result = SendDataIn(cdb::kReadCapacity, 8, 1); result != 0) {
    ConsoleLog(Info(), "光碟片容量讀取失敗.\n");
    return CommandFailed(cdb::kReadCapacity, result);
  }
  if (ReadBe32(ReplyBuffer) == 0) {
    ConsoleLog(Info(), "光碟片尚未寫入資料.\n");
    return Failed("the disc has nothing written to scan");
  }
  if (c2_test != 0) {
    ConsoleLog(Info(), "光碟設備不支援ReadCD指令檢測C2!\n");
    return Failed("the drive does not read the C2 error flags: " +
                  CommandFailed(cdb, c2_test).reason);
  }
  dialogs.Open(kC2ScanDialog);
  return Succeeded();
}

void PressErase(Dialog& window, JobDialogs& dialogs) {
  ApplyClearRule(window);
  if (ProbeMediumType(0) == kMediumNoDevice) return;
  dialogs.Open(kEraseDialog);
}

}  // namespace zorvane
