// Exclusive use of a drive by a job that changes its disc, and the lines that explain why a
// device node cannot be opened.
//
// A job that writes, blanks, formats or closes a session claims its drive first. For a
// device node the claim looks the node's device number up in the mount table (a mounted
// disc is refused with its mount point, before any command reaches the drive) and opens
// the node with O_EXCL, which the kernel refuses while the disc is mounted or another
// program holds the drive exclusively. The claim keeps that descriptor for the whole job,
// whatever the commands' close_after says. Before the first command that changes the disc
// (WRITE, BLANK, FORMAT UNIT, CLOSE TRACK/SESSION, RESERVE TRACK) the transport sends
// PREVENT MEDIUM REMOVAL, and the claim's end sends ALLOW MEDIUM REMOVAL again, on every
// way out of the job (success, failure, a stop, a signal that ends the job's loop).
// Reports and reads never claim: they keep sharing the drive with the desktop.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zorvane {

// The calls of the operating system a claim and its explanations use. Tests put their
// own in place; an empty member is the real call.
struct SystemAccess {
  std::function<int(const char* path, int flags)> open;  // -1 with errno set on failure
  std::function<int(const char* path, struct stat* info)> stat;
  std::function<std::string()> mount_table;  // the text of /proc/self/mountinfo
  std::function<std::string(gid_t group)> group_name;
  std::string sysfs_root;  // where the drives are looked for; "" is /sys
};
void SetSystemAccess(SystemAccess access);
// open(2) and the sysfs root of the SystemAccess in force.
int SystemOpen(const char* path, int flags);
std::string SysfsRoot();

// The mount point of the first filesystem mounted from device major:minor in a mount
// table in the form of /proc/self/mountinfo, with its escapes (\040 for a space, any \ooo)
// decoded; "" when the device is not mounted.
std::string FindMountPoint(std::string_view mountinfo, unsigned major, unsigned minor);

// One line that says why `node` could not be opened with system error `error`: for a
// permission refusal the group that owns the node and how to join it, and a line of its
// own for EBUSY, ENOMEDIUM, ENODEV and ENXIO; the system's text for any other.
std::string ExplainOpenError(const std::string& node, int error);
// The same line without "NODE: " in front.
std::string OpenErrorText(const std::string& node, int error);

// "the disc in NODE is mounted at POINT; unmount it first" when the block device behind
// `node` is mounted, else "".
std::string MountedRefusal(const std::string& node);

class ExclusiveUse {
 public:
  // Claims the slot's drive for a job that changes its disc. A claim of a slot this
  // program already holds hands back that claim (the command line claims before it opens
  // a job's dialog, and the job's worker claims again). Null with `refusal` set when the
  // drive cannot be had.
  static std::shared_ptr<ExclusiveUse> Claim(std::uint8_t slot, std::string* refusal);

  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  // Allows medium removal again when the tray was locked, and closes the exclusive
  // descriptor (the next command opens the node shared again).
  ~ExclusiveUse();

  std::uint8_t slot() const { return slot_; }

 private:
  explicit ExclusiveUse(std::uint8_t slot) : slot_(slot) {}
  std::uint8_t slot_;
};

// True while a job holds the slot's drive (the window's open-tray button asks).
bool IsClaimed(std::uint8_t slot);

}  // namespace zorvane
