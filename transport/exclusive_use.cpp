#include "transport/exclusive_use.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "transport/discovery.h"
#include "transport/sgio_backend.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

std::mutex& AccessMutex() {
  static std::mutex mutex;
  return mutex;
}

SystemAccess& Access() {
  static SystemAccess access;
  return access;
}

int RealOpen(const char* path, int flags) {
  return ::open(path, flags);
}

int RealStat(const char* path, struct stat* info) {
  return ::stat(path, info);
}

std::string RealMountTable() {
  std::ifstream file("/proc/self/mountinfo");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string RealGroupName(gid_t group) {
  std::array<char, 4096> buffer{};
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->gr_name != nullptr) {
    return found->gr_name;
  }
  // A statically linked build may have no name service: the group file itself.
  std::ifstream file("/etc/group");
  for (std::string line; std::getline(file, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::size_t third = line.find(':', second + 1);
    if (line.substr(second + 1, third - second - 1) == std::to_string(group)) {
      return line.substr(0, first);
    }
  }
  return std::to_string(group);
}

// The calls in force, with the real ones in the empty places.
SystemAccess Calls() {
  SystemAccess calls;
  {
    std::lock_guard lock(AccessMutex());
    calls = Access();
  }
  if (!calls.open) calls.open = RealOpen;
  if (!calls.stat) calls.stat = RealStat;
  if (!calls.mount_table) calls.mount_table = RealMountTable;
  if (!calls.group_name) calls.group_name = RealGroupName;
  return calls;
}

// \ooo escapes of the mount table (space, tab, line end, backslash).
std::string Unescape(std::string_view field) {
  const auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
        octal(field[i + 3])) {
      text += static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 |
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

std::mutex& ClaimMutex() {
  static std::mutex mutex;
  return mutex;
}

std::array<std::weak_ptr<ExclusiveUse>, kSlotCount>& Claims() {
  static std::array<std::weak_ptr<ExclusiveUse>, kSlotCount> claims;
  return claims;
}

}  // namespace

void SetSystemAccess(SystemAccess access) {
  std::lock_guard lock(AccessMutex());
  Access() = std::move(access);
}

int SystemOpen(const char* path, int flags) {
  return Calls().open(path, flags);
}

std::string SysfsRoot() {
  std::string root = Calls().sysfs_root;
  return root.empty() ? "/sys" : root;
}

std::string FindMountPoint(std::string_view mountinfo, unsigned major, unsigned minor) {
  const std::string device = std::to_string(major) + ":" + std::to_string(minor);
  while (!mountinfo.empty()) {
    const std::size_t end = mountinfo.find('\n');
    std::string_view line = mountinfo.substr(0, end);
    mountinfo = end == std::string_view::npos ? std::string_view() : mountinfo.substr(end + 1);
    // Mount ID, parent ID, major:minor, root, mount point, ...
    std::string_view fields[5];
    int count = 0;
    while (count < 5 && !line.empty()) {
      const std::size_t space = line.find(' ');
      fields[count++] = line.substr(0, space);
      line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    }
    if (count == 5 && fields[2] == device) return Unescape(fields[4]);
  }
  return {};
}

std::string OpenErrorText(const std::string& node, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: {
      struct stat info {};
      const SystemAccess calls = Calls();
      if (calls.stat(node.c_str(), &info) != 0) {
        return "permission denied; ask for read-write access to the device node";
      }
      const std::string group = calls.group_name(info.st_gid);
      return "permission denied; the device node belongs to the group " + group +
             ": add your user to the group " + group + " and log in again";
    }
    case EBUSY:
      return "the drive is in use by another program";
    case ENOMEDIUM:
      return "there is no disc in the drive";
    case ENODEV:
      return "no drive answers behind the device node (it was removed or has no driver)";
    case ENXIO:
      return "the drive is gone (unplugged or removed from the system)";
    default:
      return std::strerror(error);
  }
}

std::string ExplainOpenError(const std::string& node, int error) {
  return node + ": " + OpenErrorText(node, error);
}

std::string MountedRefusal(const std::string& node) {
  const SystemAccess calls = Calls();
  struct stat info {};
  if (calls.stat(node.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return {};
  const std::string point =
      FindMountPoint(calls.mount_table(), major(info.st_rdev), minor(info.st_rdev));
  if (point.empty()) return {};
  return "the disc in " + node + " is mounted at " + point + "; unmount it first";
}

std::shared_ptr<ExclusiveUse> ExclusiveUse::Claim(std::uint8_t slot, std::string* refusal) {
  refusal->clear();
  if (slot >= kSlotCount) {
    *refusal = "no such drive";
    return nullptr;
  }
  std::lock_guard lock(ClaimMutex());
  if (std::shared_ptr<ExclusiveUse> held = Claims()[slot].lock()) return held;
  const std::string spec = DeviceSpec(slot);
  if (spec.empty()) {
    *refusal = std::string("no device is mapped to drive ") + DriveName(slot);
    return nullptr;
  }
  std::unique_ptr<DeviceHandle> handle;
  if (IsDeviceNode(spec)) {
    // The mount table first: a mounted disc is refused before any command reaches it.
    if (std::string mounted = MountedRefusal(spec); !mounted.empty()) {
      *refusal = std::move(mounted);
      return nullptr;
    }
    const SystemAccess calls = Calls();
    errno = 0;
    const int fd = calls.open(spec.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno != 0 ? errno : ENODEV;
      // The kernel says EBUSY for a mount made since the look above, too.
      std::string mounted = error == EBUSY ? MountedRefusal(spec) : std::string();
      *refusal = mounted.empty() ? ExplainOpenError(spec, error) : std::move(mounted);
      return nullptr;
    }
    handle = WrapSgIoDescriptor(fd);
  }
  // The cached shared descriptor is closed: the job's commands go through this one.
  HoldDevice(slot, std::move(handle));
  std::shared_ptr<ExclusiveUse> claim(new ExclusiveUse(slot));
  Claims()[slot] = claim;
  return claim;
}

ExclusiveUse::~ExclusiveUse() {
  ReleaseDevice(slot_);
}

bool IsClaimed(std::uint8_t slot) {
  if (slot >= kSlotCount) return false;
  std::lock_guard lock(ClaimMutex());
  return !Claims()[slot].expired();
}

}  // namespace zorvane
