// The drives behind the seven slots d: to j:, found once at start.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transport/transport.h"

namespace zorvane {

// The device spec of each slot: a device node ("/dev/sr0") or "SCHEME:..." for a drive
// of another kind. An empty spec is a slot without a device. Set before discovery.
extern std::array<std::string, kSlotCount> DevicePaths;

// The spec of a slot ("" for a slot out of range).
const std::string& DeviceSpec(std::uint8_t slot);

// The drive name of a slot as messages print it: "d:" ... "j:".
const char* DriveName(std::uint8_t slot);

// Slot of a drive letter d..j (either case); -1 for any other character.
int SlotOfLetter(char letter);

// Default map: d: to j: are /dev/sr0 to /dev/sr6.
void SetDefaultDeviceMap();

// One "L=SPEC" option: the letter's slot and its spec.
struct DriveMapping {
  int slot = -1;
  std::string spec;
};

// Parses "L=SPEC". Returns false and an explanation for a malformed option.
bool ParseDriveOption(std::string_view option, DriveMapping* mapping, std::string* error);

// Applies --drive options: any mapping replaces the whole default map, so the slots not
// named have no device. No mappings leaves the map as it is.
void ApplyDriveMappings(const std::vector<DriveMapping>& mappings);

struct DeviceEntry {
  std::uint8_t target = 0;  // equal to the slot
  std::uint8_t slot = 0;
  char description[34] = {};  // INQUIRY bytes 8..35: vendor, product, revision
};

extern std::array<DeviceEntry, kSlotCount> DeviceTable;
extern int DeviceCount;

// The drive that every command addresses. The UI thread changes it; workers read it.
struct CurrentDeviceState {
  std::atomic<std::uint8_t> slot{0};
  std::atomic<std::uint8_t> target{0};
  std::atomic<std::uint32_t> lun{0};
};
extern CurrentDeviceState CurrentDevice;

// Makes a table row the current device.
void SelectDevice(const DeviceEntry& entry);

// Sends INQUIRY to every slot with tracing off and lists each drive that answers with
// good status, in slot order.
void DiscoverDevices();

// An optical drive of the system as sysfs shows it, whether or not a slot maps to it.
struct OpticalDrive {
  std::string node;  // "/dev/sr0", or "/dev/sg3" for a drive without the sr driver
  std::string vendor;
  std::string model;
  std::string revision;
  bool accessible = false;  // the node opens read-write
  std::string reason;       // why it does not, in words ("" when it does)
};

// Every optical drive under `sysfs_root` ("" for SysfsRoot()): the block devices class/block/sr*,
// and the SCSI generic nodes class/scsi_generic/sg* of peripheral type 5 that have no block device
// of their own (a drive the sr driver holds is listed once, by its sr node). Vendor, model and
// revision come from each one's device/vendor, device/model and device/rev, without their
// padding; the node is `dev_root` and the name. Each node is tried with a non-blocking
// open (through SystemAccess), so a drive the user may not open is listed with the reason.
// In name order, sr before sg.
std::vector<OpticalDrive> FindOpticalDrives(const std::string& sysfs_root = "",
                                            const std::string& dev_root = "/dev");

// Sends one command to the current device (slot, target and LUN of CurrentDevice).
inline std::int32_t ExecuteOnCurrent(const std::uint8_t* cdb, std::uint32_t transfer_length,
                                     void* buffer, std::uint8_t direction,
                                     std::uint8_t close_after) {
  return ExecuteCdb(cdb, CurrentDevice.slot.load(), CurrentDevice.target.load(),
                    CurrentDevice.lun.load(), transfer_length, buffer, direction, close_after);
}

}  // namespace zorvane
