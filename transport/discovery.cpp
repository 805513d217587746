#include "transport/discovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "transport/exclusive_use.h"

namespace zorvane {

std::array<std::string, kSlotCount> DevicePaths = {"/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr3",
                                                   "/dev/sr4", "/dev/sr5", "/dev/sr6"};
std::array<DeviceEntry, kSlotCount> DeviceTable;
int DeviceCount = 0;
CurrentDeviceState CurrentDevice;

namespace {

// One line of a sysfs attribute, without the padding SCSI identification carries.
std::string Attribute(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  const std::size_t begin = text.find_first_not_of(" \t");
  return end == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// Names under a class folder that begin with `prefix`, sorted by their number (sr2 < sr10).
std::vector<std::string> ClassEntries(const std::filesystem::path& folder, const char* prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > std::strlen(prefix)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

OpticalDrive DriveAt(const std::filesystem::path& device, const std::string& node) {
  OpticalDrive drive;
  drive.node = node;
  drive.vendor = Attribute(device / "vendor");
  drive.model = Attribute(device / "model");
  drive.revision = Attribute(device / "rev");
  errno = 0;
  const int fd = SystemOpen(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    drive.accessible = true;
  } else {
    drive.reason = OpenErrorText(node, errno != 0 ? errno : ENODEV);
  }
  return drive;
}

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

std::vector<OpticalDrive> FindOpticalDrives(const std::string& sysfs_root,
                                            const std::string& dev_root) {
  namespace fs = std::filesystem;
  std::vector<OpticalDrive> drives;
  const fs::path root = sysfs_root.empty() ? SysfsRoot() : sysfs_root;
  const fs::path block = root / "class" / "block";
  for (const std::string& name : ClassEntries(block, "sr")) {
    drives.push_back(DriveAt(block / name / "device", (fs::path(dev_root) / name).string()));
  }
  const fs::path generic = root / "class" / "scsi_generic";
  for (const std::string& name : ClassEntries(generic, "sg")) {
    const fs::path device = generic / name / "device";
    std::error_code error;
    if (Attribute(device / "type") != "5" || fs::exists(device / "block", error)) continue;
    drives.push_back(DriveAt(device, (fs::path(dev_root) / name).string()));
  }
  return drives;
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
