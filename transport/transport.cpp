#include "transport/transport.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/sgio_backend.h"
#include "transport/vocabulary.h"

namespace zorvane {

std::atomic<std::int32_t> TraceEnabled{1};

namespace {

struct Slot {
  std::mutex mutex;  // held for the whole of one ExecuteCdb call
  std::unique_ptr<DeviceHandle> handle;
  bool held = false;         // a job that changes the disc holds the device
  bool tray_tried = false;   // PREVENT MEDIUM REMOVAL was sent during the hold
  bool tray_locked = false;  // ... and the drive took it
  bool gone_said = false;    // the device's disappearance is on the command console
};

std::array<Slot, kSlotCount>& Slots() {
  static std::array<Slot, kSlotCount> slots;
  return slots;
}

std::mutex& SchemeMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, DeviceOpener, std::less<>>& Schemes() {
  static std::map<std::string, DeviceOpener, std::less<>> schemes;
  return schemes;
}

// Said after the error code when the operating system, not the drive, turned the
// request down: without administrator rights Linux lets only some commands through,
// and fewer still on a device node opened read-only.
constexpr const char* kRefusedHint =
    "(refused by the system, not by the drive: this command may need read-write access to "
    "the device node or administrator rights)";

void TraceCdb(const std::uint8_t* cdb, std::uint8_t length) {
  Console* console = CommandConsole.load();
  const char* name = CommandName(cdb[0]);
  if (length == 6) {
    ConsoleLog(console, "%s  %02X %02X %02X %02X %02X %02X\n", name, cdb[0], cdb[1], cdb[2], cdb[3],
               cdb[4], cdb[5]);
  } else if (length == 10) {
    ConsoleLog(console, "%s  %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n", name, cdb[0],
               cdb[1], cdb[2], cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9]);
  } else {
    ConsoleLog(console, "%s  %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n", name,
               cdb[0], cdb[1], cdb[2], cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9],
               cdb[10], cdb[11]);
  }
}

}  // namespace

void RegisterDeviceScheme(const std::string& scheme, DeviceOpener opener) {
  std::lock_guard lock(SchemeMutex());
  Schemes()[scheme] = std::move(opener);
}

std::unique_ptr<DeviceHandle> OpenDevice(std::string_view spec, std::uint8_t slot,
                                         int* system_error) {
  *system_error = 0;
  if (spec.empty()) {
    *system_error = ENOENT;
    return nullptr;
  }
  const std::size_t colon = spec.find(':');
  if (colon != std::string_view::npos) {
    DeviceOpener opener;
    {
      std::lock_guard lock(SchemeMutex());
      const auto it = Schemes().find(spec.substr(0, colon));
      if (it != Schemes().end()) opener = it->second;
    }
    if (opener) {
      std::unique_ptr<DeviceHandle> handle = opener(spec.substr(colon + 1), slot, system_error);
      if (!handle && *system_error == 0) *system_error = ENODEV;
      return handle;
    }
  }
  return OpenSgIoDevice(std::string(spec), system_error);
}

bool IsDeviceNode(std::string_view spec) {
  if (spec.empty()) return false;
  const std::size_t colon = spec.find(':');
  if (colon == std::string_view::npos) return true;
  std::lock_guard lock(SchemeMutex());
  return Schemes().find(spec.substr(0, colon)) == Schemes().end();
}

void ToFixedSense(const std::uint8_t* sense, std::size_t length, std::uint8_t fixed[kSenseLength]) {
  std::memset(fixed, 0, kSenseLength);
  if (sense == nullptr || length == 0) return;
  const std::uint8_t response = sense[0] & 0x7F;
  if (response == 0x70 || response == 0x71) {
    std::memcpy(fixed, sense, length < kSenseLength ? length : kSenseLength);
    return;
  }
  if (response != 0x72 && response != 0x73) return;  // not sense data we know
  fixed[0] = response == 0x72 ? 0x70 : 0x71;
  if (length > 1) fixed[2] = sense[1] & 0x0F;
  if (length > 2) fixed[12] = sense[2];
  if (length > 3) fixed[13] = sense[3];
  fixed[7] = 10;  // additional sense length of the fixed form up to byte 17
  // Walk the descriptors, bounded by both the additional length and the bytes we have.
  std::size_t end = 8 + (length > 7 ? sense[7] : 0);
  if (end > length) end = length;
  std::size_t at = 8;
  while (at + 2 <= end) {
    const std::uint8_t type = sense[at];
    const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
    if (at + size > end) break;
    const std::uint8_t* d = sense + at;
    switch (type) {
      case 0x00:  // information: the low four bytes of the 8-byte field
        if (size >= 12) {
          std::memcpy(fixed + 3, d + 8, 4);
          if (d[2] & 0x80) fixed[0] |= 0x80;  // VALID
        }
        break;
      case 0x01:  // command-specific information
        if (size >= 12) std::memcpy(fixed + 8, d + 8, 4);
        break;
      case 0x02:  // sense-key specific
        if (size >= 7) std::memcpy(fixed + 15, d + 4, 3);
        break;
      case 0x03:  // field replaceable unit
        if (size >= 4) fixed[14] = d[3];
        break;
      case 0x04:  // stream commands: FILEMARK, EOM, ILI
        if (size >= 4) fixed[2] |= d[3] & 0xE0;
        break;
      case 0x05:  // block commands: ILI
        if (size >= 4) fixed[2] |= d[3] & 0x20;
        break;
      default:
        break;
    }
    at += size;
  }
}

std::uint8_t CdbLength(std::uint8_t opcode) {
  if (opcode < 0x20) return 6;
  if (opcode < 0x60) return 10;
  if (opcode < 0xC0) return 12;
  if (opcode < 0xD0) return 10;
  if (opcode < 0xE0) return 12;
  return 10;
}

std::uint32_t CommandTimeout(std::uint8_t opcode) {
  // BLANK is sent without Immed and holds the command until the disc is blank: a full blank
  // of an 80-minute CD-RW at 1x takes 4,800 s, of a DVD-RW at 1x about 3,300 s.
  if (opcode == 0xA1) return 5400;
  // SYNCHRONIZE CACHE drains the whole buffer at the recording speed, and CLOSE TRACK/SESSION
  // without Immed writes a lead-out or a border (minutes on a DVD-R at 1x): both are waited
  // out, since the writers count a failed flush or close as a failed write.
  if (opcode == 0x35 || opcode == 0x5B) return 600;
  return opcode == 0x54 ? 120 : 10;
}

namespace {

constexpr std::uint8_t kPreventRemoval[6] = {0x1E, 0, 0, 0, 0x01, 0};
constexpr std::uint8_t kAllowRemoval[6] = {0x1E, 0, 0, 0, 0x00, 0};

// One command without data to an open device, traced as any other: for the tray lock.
SenseCode SendPlain(DeviceHandle& handle, const std::uint8_t* cdb, std::uint8_t slot, bool traced) {
  PassThroughRequest request;
  request.cdb_length = 6;
  std::memcpy(request.cdb, cdb, 6);
  request.path_id = slot;
  if (traced && TraceEnabled.load() == 1) TraceCdb(request.cdb, request.cdb_length);
  if (const int error = handle.Execute(request); error != 0) {
    if (traced && TraceEnabled.load() == 1) {
      ConsoleLog(CommandConsole.load(), "GetLastError was %d\n", error);
    }
    return -1;
  }
  const SenseCode code = SenseCodeOf(request.sense);
  if (traced && TraceEnabled.load() != 0) {
    Console* console = CommandConsole.load();
    ConsoleLog(console, "SK/ASC/ASCQ=%lXh, ", static_cast<unsigned long>(code));
    LogSenseText(console, code);
  }
  return code;
}

std::int32_t Execute(const std::uint8_t* cdb, std::uint8_t slot, std::uint32_t lun,
                     std::uint32_t transfer_length, void* buffer, std::uint8_t direction,
                     std::uint8_t close_after, bool traced) {
  // What the trace shows of this call: the CDB and failures (1), the sense line (non-zero).
  auto trace = [traced] { return traced ? TraceEnabled.load() : 0; };
  if (slot >= kSlotCount || cdb == nullptr) return -1;
  Slot& entry = Slots()[slot];
  int open_error = 0;
  {
    std::lock_guard lock(entry.mutex);
    if (!entry.handle) {
      entry.handle = OpenDevice(DeviceSpec(slot), slot, &open_error);
      entry.gone_said = false;
    }
    if (entry.handle) {
      if (entry.held && !entry.tray_tried && ChangesDisc(cdb[0])) {
        entry.tray_tried = true;
        entry.tray_locked = SendPlain(*entry.handle, kPreventRemoval, slot, traced) == 0;
      }
      PassThroughRequest request;
      request.cdb_length = CdbLength(cdb[0]);
      std::memcpy(request.cdb, cdb, request.cdb_length);
      request.path_id = slot;
      request.target_id = 1;
      request.lun = static_cast<std::uint8_t>(lun & 0xFF);
      request.direction = direction;
      request.transfer_length = static_cast<std::uint16_t>(transfer_length & 0xFFFF);
      request.buffer = buffer;
      request.timeout_seconds = CommandTimeout(cdb[0]);

      if (trace() == 1) TraceCdb(request.cdb, request.cdb_length);
      const int error = entry.handle->Execute(request);
      if (error != 0) {
        if (trace() == 1) {
          Console* console = CommandConsole.load();
          ConsoleLog(console, "GetLastError was %d\n", error);
          if (error == EPERM || error == EACCES) ConsoleLog(console, "%s\n", kRefusedHint);
        }
        // A drive that went away (unplugged, removed) is said in words naming it; a shared
        // device is closed, so later commands fail at the open at once.
        if (error == ENODEV || error == ENXIO) {
          // Said whatever the trace level (a job that reads or writes untraced ends on it),
          // once per device.
          if (traced && !entry.gone_said) {
            ConsoleLog(CommandConsole.load(), "drive %s %s\n", DriveName(slot),
                       ExplainOpenError(DeviceSpec(slot), error).c_str());
          }
          entry.gone_said = true;
          if (!entry.held) entry.handle.reset();
        }
        return -1;
      }
      const SenseCode code = SenseCodeOf(request.sense);
      if (trace() != 0) {
        Console* console = CommandConsole.load();
        ConsoleLog(console, "SK/ASC/ASCQ=%lXh, ", static_cast<unsigned long>(code));
        LogSenseText(console, code);
      }
      if (close_after == 1 && !entry.held) entry.handle.reset();
      return code;
    }
  }
  // The message box is shown outside the slot lock, so a box waiting for the user does
  // not hold up other commands to this drive.
  if (trace() == 1) {
    ShowMessage("Error", "Error opening %s  Error: %d\n", DriveName(slot), open_error);
    // A device node the user may not open, or one in use or gone, is said in words.
    if (IsDeviceNode(DeviceSpec(slot)) &&
        (open_error == EACCES || open_error == EPERM || open_error == EBUSY ||
         open_error == ENOMEDIUM || open_error == ENODEV || open_error == ENXIO)) {
      ConsoleLog(CommandConsole.load(), "drive %s %s\n", DriveName(slot),
                 ExplainOpenError(DeviceSpec(slot), open_error).c_str());
    }
  }
  return -1;
}

}  // namespace

std::int32_t ExecuteCdb(const std::uint8_t* cdb, std::uint8_t slot, std::uint8_t target,
                        std::uint32_t lun, std::uint32_t transfer_length, void* buffer,
                        std::uint8_t direction, std::uint8_t close_after) {
  (void)target;  // the drive is addressed by its slot alone
  return Execute(cdb, slot, lun, transfer_length, buffer, direction, close_after, true);
}

std::int32_t ExecuteCdbUntraced(const std::uint8_t* cdb, std::uint8_t slot, std::uint8_t target,
                                std::uint32_t lun, std::uint32_t transfer_length, void* buffer,
                                std::uint8_t direction, std::uint8_t close_after) {
  (void)target;
  return Execute(cdb, slot, lun, transfer_length, buffer, direction, close_after, false);
}

void CloseAllDevices() {
  for (Slot& slot : Slots()) {
    std::lock_guard lock(slot.mutex);
    slot.handle.reset();
    slot.held = slot.tray_tried = slot.tray_locked = false;
  }
}

void HoldDevice(std::uint8_t slot, std::unique_ptr<DeviceHandle> handle) {
  if (slot >= kSlotCount) return;
  Slot& entry = Slots()[slot];
  std::lock_guard lock(entry.mutex);
  if (handle) entry.handle = std::move(handle);
  entry.held = true;
  entry.gone_said = false;
  entry.tray_tried = false;
  entry.tray_locked = false;
}

void ReleaseDevice(std::uint8_t slot) {
  if (slot >= kSlotCount) return;
  Slot& entry = Slots()[slot];
  std::lock_guard lock(entry.mutex);
  if (entry.tray_locked && entry.handle) SendPlain(*entry.handle, kAllowRemoval, slot, true);
  entry.held = false;
  entry.tray_tried = false;
  entry.tray_locked = false;
  entry.handle.reset();
}

bool IsDeviceHeld(std::uint8_t slot) {
  if (slot >= kSlotCount) return false;
  std::lock_guard lock(Slots()[slot].mutex);
  return Slots()[slot].held;
}

bool ChangesDisc(std::uint8_t opcode) {
  switch (opcode) {
    case 0x2A:  // WRITE (10)
    case 0xAA:  // WRITE (12)
    case 0x2E:  // WRITE AND VERIFY (10)
    case 0xA1:  // BLANK
    case 0x04:  // FORMAT UNIT
    case 0x5B:  // CLOSE TRACK/SESSION
    case 0x53:  // RESERVE TRACK
      return true;
    default:
      return false;
  }
}

bool IsDeviceOpen(std::uint8_t slot) {
  if (slot >= kSlotCount) return false;
  std::lock_guard lock(Slots()[slot].mutex);
  return static_cast<bool>(Slots()[slot].handle);
}

}  // namespace zorvane
