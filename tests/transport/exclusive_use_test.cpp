// Exclusive use of a drive: the mount table, the explanations of a failed open, the
// exclusive open against an operating system of the test's own, and the tray lock.
#include "transport/exclusive_use.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/scripted_backend.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

TEST(MountTableTest, FindsTheMountPointByDeviceNumberAndDecodesEscapes) {
  const std::string table =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 11:1 / /mnt/other rw - iso9660 /dev/sr1 ro\n"
      "41 22 11:0 / /media/user/My\\040Disc\\134x rw - iso9660 /dev/sr0 ro\n"
      "42 22 11:0 / /second rw - iso9660 /dev/sr0 ro\n"
      "broken line\n"
      "43 22 111:0 / /wrong rw - x y z";
  const struct {
    unsigned major, minor;
    const char* point;
  } cases[] = {
      {11, 0, "/media/user/My Disc\\x"},  // the first mount of 11:0, escapes decoded
      {11, 1, "/mnt/other"},
      {1, 0, ""},   // "111:0" and "11:0" are not "1:0"
      {11, 2, ""},  // not mounted
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindMountPoint(table, c.major, c.minor), c.point) << c.major << ":" << c.minor;
  }
  EXPECT_EQ(FindMountPoint("", 11, 0), "");
  EXPECT_EQ(FindMountPoint("1 2 11:0 / /a\\04", 11, 0), "/a\\04");  // a cut escape stays
}

// An operating system with one optical drive, /dev/sr0 (block device 11:0, group `group`),
// whose open answers with `open_error` (0: a descriptor of /dev/null).
class FakeSystemTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    Install();
  }
  void TearDown() override {
    SetSystemAccess({});
    TransportTest::TearDown();
  }
  void Install() {
    SystemAccess access;
    access.open = [this](const char* path, int flags) {
      opens.push_back({path, flags});
      if (open_error != 0) {
        errno = open_error;
        return -1;
      }
      return ::open("/dev/null", O_RDWR | O_CLOEXEC);
    };
    access.stat = [](const char* path, struct stat* info) {
      if (std::string(path) != "/dev/sr0") {
        errno = ENOENT;
        return -1;
      }
      *info = {};
      info->st_mode = S_IFBLK | 0660;
      info->st_rdev = makedev(11, 0);
      info->st_gid = 24;
      return 0;
    };
    access.mount_table = [this] { return mounts; };
    access.group_name = [](gid_t gid) { return gid == 24 ? std::string("cdrom") : "?"; };
    access.sysfs_root = "/nonexistent-sysfs";
    SetSystemAccess(access);
  }

  struct Open {
    std::string path;
    int flags;
  };
  std::vector<Open> opens;
  int open_error = 0;
  std::string mounts = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
};

TEST_F(FakeSystemTest, OpenErrorsEachHaveTheirOwnLine) {
  const struct {
    int error;
    const char* line;
  } cases[] = {
      {EACCES,
       "/dev/sr0: permission denied; the device node belongs to the group cdrom: add your user "
       "to the group cdrom and log in again"},
      {EPERM,
       "/dev/sr0: permission denied; the device node belongs to the group cdrom: add your user "
       "to the group cdrom and log in again"},
      {EBUSY, "/dev/sr0: the drive is in use by another program"},
      {ENOMEDIUM, "/dev/sr0: there is no disc in the drive"},
      {ENODEV,
       "/dev/sr0: no drive answers behind the device node (it was removed or has no driver)"},
      {ENXIO, "/dev/sr0: the drive is gone (unplugged or removed from the system)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExplainOpenError("/dev/sr0", c.error), c.line);
  // A node that cannot even be looked at still gets the remedy in words.
  EXPECT_EQ(ExplainOpenError("/dev/sr9", EACCES),
            "/dev/sr9: permission denied; ask for read-write access to the device node");
}

TEST_F(FakeSystemTest, ClaimOpensExclusivelyOrSaysWhyNot) {
  DevicePaths[0] = "/dev/sr0";
  const struct {
    const char* mounts;
    int open_error;
    std::size_t opens;
    const char* refusal;
  } cases[] = {
      {"", 0, 1, ""},
      // Mounted: refused from the mount table, before the node is even opened.
      {"41 22 11:0 / /media/u/DISC\\0401 ro - iso9660 /dev/sr0 ro\n", 0, 0,
       "the disc in /dev/sr0 is mounted at /media/u/DISC 1; unmount it first"},
      {"", EBUSY, 1, "/dev/sr0: the drive is in use by another program"},
      {"", EACCES, 1,
       "/dev/sr0: permission denied; the device node belongs to the group cdrom: add your user "
       "to the group cdrom and log in again"},
  };
  for (const auto& c : cases) {
    opens.clear();
    mounts = c.mounts;
    open_error = c.open_error;
    std::string refusal = "stale";
    auto claim = ExclusiveUse::Claim(0, &refusal);
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_EQ(claim != nullptr, *c.refusal == '\0');
    EXPECT_EQ(IsDeviceHeld(0), claim != nullptr);
    ASSERT_EQ(opens.size(), c.opens) << c.refusal;
    if (c.opens == 1) {
      EXPECT_EQ(opens[0].path, "/dev/sr0");
      EXPECT_EQ(opens[0].flags & (O_EXCL | O_RDWR | O_NONBLOCK), O_EXCL | O_RDWR | O_NONBLOCK);
    }
  }
  EXPECT_FALSE(IsDeviceHeld(0));  // the last claim ended with its scope
}

class TrayLockTest : public test::TransportTest {
 protected:
  std::int32_t Send(std::uint8_t opcode, std::uint8_t close_after = 1) {
    std::uint8_t cdb[12] = {opcode};
    return ExecuteCdb(cdb, 0, 0, 0, 0, nullptr, kDataNone, close_after);
  }
};

TEST_F(TrayLockTest, PreventBeforeTheFirstChangeAllowAtTheEndAndTheDeviceStaysOpen) {
  auto drive = Attach(0);
  drive->SetDefault({});
  std::string refusal;
  {
    auto claim = ExclusiveUse::Claim(0, &refusal);
    ASSERT_NE(claim, nullptr) << refusal;
    std::string again;
    EXPECT_EQ(ExclusiveUse::Claim(0, &again), claim);  // one claim per drive and program
    EXPECT_TRUE(IsClaimed(0));
    Send(0x00);  // TEST UNIT READY: the tray stays as it is
    Send(0x2A);  // WRITE: locked first
    Send(0x2A);
    Send(0x5B);
    EXPECT_EQ(drive->OpenCount(), 1);  // close_after 1 does not end the hold
  }
  EXPECT_FALSE(IsClaimed(0));
  EXPECT_FALSE(IsDeviceOpen(0));
  const std::vector<std::uint8_t> expected = {0x00, 0x1E, 0x2A, 0x2A, 0x5B, 0x1E};
  EXPECT_EQ(drive->Opcodes(), expected);
  const auto records = drive->Requests();
  EXPECT_EQ(records[1].cdb[4], 1);  // prevent
  EXPECT_EQ(records[5].cdb[4], 0);  // allow
}

TEST_F(TrayLockTest, ANeverLockedTrayIsNotUnlockedAndEachChangingOpcodeLocks) {
  auto drive = Attach(0);
  drive->SetDefault({});
  std::string refusal;
  { auto claim = ExclusiveUse::Claim(0, &refusal); }
  Send(0x00);
  for (std::uint8_t opcode : {0x2A, 0xAA, 0x2E, 0xA1, 0x04, 0x5B, 0x53}) {
    auto claim = ExclusiveUse::Claim(0, &refusal);
    Send(opcode);
  }
  const auto opcodes = drive->Opcodes();
  ASSERT_EQ(opcodes.size(), 1U + 7 * 3);
  for (std::size_t i = 1; i < opcodes.size(); i += 3) {
    EXPECT_EQ(opcodes[i], 0x1E);
    EXPECT_EQ(opcodes[i + 2], 0x1E);
  }
}

}  // namespace
}  // namespace zorvane
