#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"

namespace zorvane {
namespace {

using test::TransportTest;

class DiscoveryTest : public TransportTest {};

TEST_F(DiscoveryTest, DrivesOnlyAtFAndHGiveTwoRowsInSlotOrder) {
  Attach(4)->On({0x12}, {test::InquiryData("HL-DT-ST", "DVDRAM GH24NSD1", "LG00")});
  Attach(2)->On({0x12}, {test::InquiryData("ZORVANE", "VIRTUAL DVD-RW", "1.00")});
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 2);
  EXPECT_EQ(DeviceTable[0].slot, 2);
  EXPECT_EQ(DeviceTable[0].target, 2);
  EXPECT_STREQ(DeviceTable[0].description, "ZORVANE VIRTUAL DVD-RW  1.00");
  EXPECT_EQ(DeviceTable[1].slot, 4);
  EXPECT_STREQ(DeviceTable[1].description, "HL-DT-STDVDRAM GH24NSD1 LG00");
  EXPECT_STREQ(DriveName(DeviceTable[0].slot), "f:");
  EXPECT_STREQ(DriveName(DeviceTable[1].slot), "h:");
  // Tracing was off for the scan and is on again; absent slots raised nothing.
  EXPECT_EQ(TraceEnabled.load(), 1);
  EXPECT_EQ(command_console_.Text(), "");
  EXPECT_EQ(messages_.Count(), 0);
}

TEST_F(DiscoveryTest, InquiryIsSentAsTheStartupScanSendsIt) {
  auto drive = Attach(0);
  drive->On({0x12}, {test::InquiryData("A", "B", "C")});
  DiscoverDevices();
  const auto records = drive->Requests();
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0xFF, 0}));
  EXPECT_EQ(records[0].transfer_length, 256);
  EXPECT_EQ(records[0].direction, kDataIn);
  EXPECT_FALSE(IsDeviceOpen(0));  // closed after the INQUIRY
}

TEST_F(DiscoveryTest, AnyPeripheralTypeIsListedButAnySenseIsNot) {
  auto data = test::InquiryData("DISK", "NOT OPTICAL", "0001");
  data[0] = 0x00;  // direct-access device: byte 0 is not examined
  Attach(0)->On({0x12}, {data});
  Attach(1)->On({0x12}, {test::InquiryData("X", "Y", "Z"), 0x062900});  // unit attention
  Attach(3)->On({0x12}, {{}, 0, 5});                                    // request fails
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 1);
  EXPECT_EQ(DeviceTable[0].slot, 0);
}

TEST_F(DiscoveryTest, DescriptionKeepsBlanksAndEndsAtAZeroByte) {
  Attach(0)->On({0x12}, {test::InquiryData("ZORVANE", "SHORT", "1.00")});
  auto zero_inside = test::InquiryData("AB", "PRODUCT", "0001");
  zero_inside[10] = 0;  // zero inside the vendor field
  Attach(1)->On({0x12}, {zero_inside});
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 2);
  EXPECT_STREQ(DeviceTable[0].description, "ZORVANE SHORT           1.00");
  EXPECT_STREQ(DeviceTable[1].description, "AB");
}

// Identification goes to the consoles and to standard output: control characters and
// bytes that are no text show as ".".
TEST_F(DiscoveryTest, DescriptionShowsBytesOutsidePrintableAsciiAsDots) {
  auto data = test::InquiryData("EVIL", "DRIVE", "1.00");
  data[12] = 0x1B;  // escape
  data[13] = '[';
  data[16] = 0xE4;  // a lead byte with nothing after it
  data[20] = 0x7F;
  data[35] = 0x0A;  // a line end
  Attach(0)->On({0x12}, {data});
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 1);
  EXPECT_STREQ(DeviceTable[0].description, "EVIL.[  .RIV.           1.0.");
}

TEST_F(DiscoveryTest, ShortInquiryShowsNoLeftoversOfThePreviousDrive) {
  Attach(0)->On({0x12}, {test::InquiryData("FIRST", "DRIVE WITH LONG", "9.99")});
  // The second drive sends only vendor and the start of the product.
  auto shorter = test::InquiryData("SECOND", "DR", "");
  shorter.resize(20);
  Attach(1)->On({0x12}, {shorter});
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 2);
  EXPECT_STREQ(DeviceTable[1].description, "SECOND  DR  ");
}

TEST_F(DiscoveryTest, NoDriveGivesAnEmptyTable) {
  DiscoverDevices();
  EXPECT_EQ(DeviceCount, 0);
  EXPECT_EQ(messages_.Count(), 0);
}

TEST(DriveOptionTest, ParsesLettersAndRejectsOthers) {
  DriveMapping mapping;
  std::string error;
  ASSERT_TRUE(ParseDriveOption("f=/dev/sg3", &mapping, &error));
  EXPECT_EQ(mapping.slot, 2);
  EXPECT_EQ(mapping.spec, "/dev/sg3");
  ASSERT_TRUE(ParseDriveOption("J:=virtual:cdrom,quirk=noatip", &mapping, &error));
  EXPECT_EQ(mapping.slot, 6);
  EXPECT_EQ(mapping.spec, "virtual:cdrom,quirk=noatip");
  EXPECT_FALSE(ParseDriveOption("c=/dev/sr0", &mapping, &error));
  EXPECT_FALSE(ParseDriveOption("k=/dev/sr0", &mapping, &error));
  EXPECT_FALSE(ParseDriveOption("d=", &mapping, &error));
  EXPECT_FALSE(ParseDriveOption("/dev/sr0", &mapping, &error));
  EXPECT_FALSE(ParseDriveOption("de=/dev/sr0", &mapping, &error));
}

TEST(DriveOptionTest, AnyMappingReplacesTheDefaultMap) {
  SetDefaultDeviceMap();
  EXPECT_EQ(DevicePaths[0], "/dev/sr0");
  EXPECT_EQ(DevicePaths[6], "/dev/sr6");
  ApplyDriveMappings({});
  EXPECT_EQ(DevicePaths[3], "/dev/sr3");
  ApplyDriveMappings({{4, "/dev/sg1"}});
  EXPECT_EQ(DevicePaths[4], "/dev/sg1");
  for (int slot : {0, 1, 2, 3, 5, 6}) EXPECT_EQ(DevicePaths[slot], "") << slot;
  SetDefaultDeviceMap();
}

// A sysfs tree in a temporary folder: sr drives, SCSI generic nodes of several types, and
// a node the user may not open.
TEST_F(DiscoveryTest, SysfsListsEveryOpticalDriveOnceWithWhyOneCannotBeOpened) {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/zorvane-sysfs-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  auto write = [](const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  };
  auto device = [&](const std::string& folder, const std::string& vendor, const std::string& model,
                    const std::string& rev, const std::string& type) {
    write(root / folder / "device" / "vendor", vendor);
    write(root / folder / "device" / "model", model);
    write(root / folder / "device" / "rev", rev);
    write(root / folder / "device" / "type", type);
  };
  device("class/block/sr0", "QEMU    \n", "QEMU DVD-ROM    \n", "2.5+\n", "5\n");
  device("class/block/sr10", "PLEXTOR \n", "DVDR   PX-716A  \n", "1.11\n", "5\n");
  device("class/block/sr2", "HL-DT-ST\n", "DVDRAM GH24NSD1 \n", "LG00\n", "5\n");
  device("class/scsi_generic/sg0", "QEMU    \n", "QEMU DVD-ROM    \n", "2.5+\n", "5\n");
  fs::create_directories(root / "class/scsi_generic/sg0/device/block/sr0");  // listed as sr0
  device("class/scsi_generic/sg1", "ATA     \n", "QEMU HARDDISK   \n", "2.5+\n", "0\n");
  device("class/scsi_generic/sg3", "PIONEER \n", "BD-RW BDR-209M  \n", "1.10\n", "5\n");
  fs::create_directories(root / "class/block/sda/device");

  SystemAccess access;
  access.open = [](const char* path, int) {
    if (std::string(path) == "/dev/sr2") {
      errno = EACCES;
      return -1;
    }
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  };
  access.stat = [](const char*, struct stat* info) {
    *info = {};
    info->st_gid = 24;
    return 0;
  };
  access.group_name = [](gid_t) { return std::string("cdrom"); };
  SetSystemAccess(access);
  const std::vector<OpticalDrive> drives = FindOpticalDrives(root.string());
  fs::remove_all(root);

  const struct {
    const char* node;
    const char* vendor;
    const char* model;
    const char* revision;
    bool accessible;
  } expected[] = {
      {"/dev/sr0", "QEMU", "QEMU DVD-ROM", "2.5+", true},
      {"/dev/sr2", "HL-DT-ST", "DVDRAM GH24NSD1", "LG00", false},
      {"/dev/sr10", "PLEXTOR", "DVDR   PX-716A", "1.11", true},
      {"/dev/sg3", "PIONEER", "BD-RW BDR-209M", "1.10", true},
  };
  ASSERT_EQ(drives.size(), std::size(expected));
  for (std::size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i].node, expected[i].node);
    EXPECT_EQ(drives[i].vendor, expected[i].vendor);
    EXPECT_EQ(drives[i].model, expected[i].model);
    EXPECT_EQ(drives[i].revision, expected[i].revision);
    EXPECT_EQ(drives[i].accessible, expected[i].accessible) << drives[i].node;
    EXPECT_EQ(drives[i].reason.empty(), expected[i].accessible) << drives[i].node;
  }
  EXPECT_EQ(drives[1].reason,
            "permission denied; the device node belongs to the group cdrom: add your user to the "
            "group cdrom and log in again");
  EXPECT_TRUE(FindOpticalDrives("/nonexistent-sysfs").empty());
}

}  // namespace
}  // namespace zorvane
