#include "transport/discovery.h"

#include <cstring>

namespace zorvane {

std::array<std::string, kSlotCount> DevicePaths = {"/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr3",
                                                   "/dev/sr4", "/dev/sr5", "/dev/sr6"};
std::array<DeviceEntry, kSlotCount> DeviceTable;
int DeviceCount = 0;
CurrentDeviceState CurrentDevice;

namespace {
constexpr const char* kDriveNames[kSlotCount] = {"d:", "e:", "f:", "g:", "h:", "i:", "j:"};
}  // namespace

const std::string& DeviceSpec(std::uint8_t slot) {
  static const std::string none;
  return slot < kSlotCount ? DevicePaths[slot] : none;
}

const char* DriveName(std::uint8_t slot) {
  return slot < kSlotCount ? kDriveNames[slot] : "?:";
}

int SlotOfLetter(char letter) {
  if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
  if (letter < 'd' || letter > 'j') return -1;
  return letter - 'd';
}

void SetDefaultDeviceMap() {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    DevicePaths[slot] = "/dev/sr" + std::to_string(slot);
  }
}

bool ParseDriveOption(std::string_view option, DriveMapping* mapping, std::string* error) {
  // Accept "d=SPEC" and "d:=SPEC".
  std::size_t equals = option.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    *error = "expected L=SPEC with a drive letter d..j, got \"" + std::string(option) + "\"";
    return false;
  }
  std::string_view letter = option.substr(0, equals);
  if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
  const int slot = letter.size() == 1 ? SlotOfLetter(letter[0]) : -1;
  if (slot < 0) {
    *error =
        "drive letter must be one of d..j, got \"" + std::string(option.substr(0, equals)) + "\"";
    return false;
  }
  const std::string_view spec = option.substr(equals + 1);
  if (spec.empty()) {
    *error = "no device given for drive " + std::string(letter) + ":";
    return false;
  }
  mapping->slot = slot;
  mapping->spec = std::string(spec);
  return true;
}

void ApplyDriveMappings(const std::vector<DriveMapping>& mappings) {
  if (mappings.empty()) return;
  CloseAllDevices();
  for (std::string& path : DevicePaths) path.clear();
  for (const DriveMapping& mapping : mappings) {
    if (mapping.slot >= 0 && mapping.slot < kSlotCount) DevicePaths[mapping.slot] = mapping.spec;
  }
}

void SelectDevice(const DeviceEntry& entry) {
  CurrentDevice.slot.store(entry.slot);
  CurrentDevice.target.store(entry.target);
}

void DiscoverDevices() {
  DeviceCount = 0;
  TraceEnabled.store(0);
  static constexpr std::uint8_t kInquiry[6] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
  for (std::uint8_t slot = 0; slot < kSlotCount; ++slot) {
    // Cleared for each slot, so a drive that answers with fewer than 36 bytes shows no
    // leftovers of the previous drive's identification.
    std::uint8_t reply[256] = {};
    const std::int32_t result = ExecuteCdb(kInquiry, slot, CurrentDevice.target.load(),
                                           CurrentDevice.lun.load(), 256, reply, kDataIn, 1);
    reply[36] = 0;
    if (result != 0) continue;
    DeviceEntry& entry = DeviceTable[DeviceCount];
    entry = DeviceEntry{};
    entry.target = slot;
    entry.slot = slot;
    // Bytes 8..35 up to the first zero: vendor, product and revision. They are printed in
    // the consoles and on standard output, so a byte outside printable ASCII (a control
    // character, a byte of no character set) is kept as ".".
    const char* text = reinterpret_cast<const char*>(reply + 8);
    const std::size_t length = ::strnlen(text, 28);
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint8_t byte = reply[8 + i];
      entry.description[i] = byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    }
    ++DeviceCount;
  }
  TraceEnabled.store(1);
}

}  // namespace zorvane
