// The virtual drive behind the transport and in the front end.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

#include "cli/cli.h"
#include "info/media.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace zorvane {
namespace {

using test::TransportTest;

class VirtualBackendTest : public TransportTest {
 protected:
  std::int32_t Send(std::vector<std::uint8_t> cdb, std::uint8_t direction = kDataNone,
                    std::uint8_t close_after = 1) {
    cdb.resize(16, 0);
    return ExecuteCdb(cdb.data(), 0, 0, 0, sizeof buffer_, buffer_, direction, close_after);
  }
  std::uint8_t buffer_[65535] = {};
};

const std::vector<std::uint8_t> kTur = {0x00};

TEST_F(VirtualBackendTest, TheDriveKeepsItsStateAcrossCloseAndReopen) {
  DevicePaths[0] = "virtual:cdrom,attention";
  EXPECT_EQ(Send(kTur), 0x062800);
  EXPECT_FALSE(IsDeviceOpen(0));  // closed after the command
  EXPECT_EQ(Send(kTur), 0);       // the attention was reported once only
  EXPECT_EQ(Send({0x1B, 0, 0, 0, 0x02, 0}), 0);
  EXPECT_EQ(Send(kTur), 0x023A02);  // the tray stayed open
  EXPECT_EQ(Send({0x25}, kDataIn), 0x023A02);
  // A new spec for the slot is a new drive.
  DevicePaths[0] = "virtual:dvdrom";
  EXPECT_EQ(Send(kTur), 0);
  EXPECT_EQ(Send({0x25}, kDataIn), 0);
  EXPECT_EQ(buffer_[1] << 16 | buffer_[2] << 8 | buffer_[3], 2298495);
}

TEST_F(VirtualBackendTest, AnswersComeBackThroughTheTransport) {
  DevicePaths[0] = "virtual:cdrom";
  ASSERT_EQ(Send({0x12, 0, 0, 0, 36, 0}, kDataIn), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_ + 8), 8), "ZORVANE ");
  EXPECT_EQ(Send({0x28, 0, 0, 0x05, 0x14, 0xC8, 0, 0, 1, 0}, kDataIn), 0x052100);
  EXPECT_EQ(Send({0x5A, 0, 0x2A, 0, 0, 0, 0, 0xFF, 0xFF, 0}, kDataIn), 0);
  EXPECT_EQ(buffer_[2], 0x01);
  EXPECT_EQ(Send({0xE7}), 0x052000);
}

TEST_F(VirtualBackendTest, FailKeyMakesExecuteCdbReturnMinusOne) {
  DevicePaths[0] = "virtual:cdrom,fail=28x1";
  EXPECT_EQ(Send({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, kDataIn), -1);
  EXPECT_NE(command_console_.Text().find("GetLastError was 5"), std::string::npos);  // EIO
  EXPECT_EQ(Send({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, kDataIn), 0);
}

TEST_F(VirtualBackendTest, SpecsAreValidatedUpFront) {
  std::string error;
  EXPECT_TRUE(ValidateDeviceSpec("/dev/sr0", &error));
  EXPECT_TRUE(ValidateDeviceSpec("script:x", &error));
  EXPECT_TRUE(ValidateDeviceSpec("virtual:dvd+rw,quality=poor", &error));
  EXPECT_FALSE(ValidateDeviceSpec("virtual:cdrom,speed=48", &error));
  EXPECT_NE(error.find("unknown key \"speed\""), std::string::npos);
  // An invalid spec reaching the transport anyway does not open.
  DevicePaths[0] = "virtual:bogus";
  EXPECT_EQ(Send(kTur), -1);
  for (const DriveMapping& mapping : DemoDriveMappings()) {
    EXPECT_TRUE(ValidateDeviceSpec(mapping.spec, &error)) << mapping.spec;
  }
  EXPECT_EQ(DemoDriveMappings().size(), 4U);
}

class VirtualCliTest : public TransportTest {
 protected:
  using Run = test::CliRun;
  Run Cli(const std::vector<std::string>& args) {
    ResetVirtualDrives();  // each run is a program that has just started
    return test::RunCliCaptured(args);
  }
};

TEST_F(VirtualCliTest, ProbePrintsEachPresetsMediumCode) {
  const std::pair<const char*, std::uint8_t> presets[] = {
      {"nodisc", 0x70},    {"open", 0x71},       {"cdrom", 0x01},      {"cdda", 0x02},
      {"cdmixed", 0x03},   {"cdr-blank", 0x10},  {"cdr-open", 0x11},   {"cdr-closed", 0x11},
      {"cdr-multi", 0x11}, {"cdrw-blank", 0x20}, {"cdrw-mrw", 0x21},   {"dvdrom", 0x41},
      {"dvd-r", 0x41},     {"dvd-r-dl", 0x41},   {"dvd-rw-seq", 0x41}, {"dvd-rw-ro", 0x41},
      {"dvd-ram", 0x41},   {"dvd+r", 0x41},      {"dvd+r-dl", 0x41},   {"dvd+rw", 0x41},
      {"bdrom", 0x00},     {"hddvdrom", 0x00},
  };
  for (const auto& [preset, code] : presets) {
    const Run run = Cli({"--drive", std::string("d=virtual:") + preset, "probe"});
    char expected[128];
    const char* text = MediumTypeText(code);
    std::snprintf(expected, sizeof expected, "Media Code=%02X, %s", code, text ? text : "");
    EXPECT_EQ(run.status, 0) << preset;
    EXPECT_EQ(run.out, expected) << preset;
  }
  EXPECT_EQ(Cli({"--drive", "d=virtual:cdrom", "probe"}).out,
            "Media Code=01, 光碟設備中存在120mm的CD-ROM\n");
  EXPECT_EQ(Cli({"--drive", "d=virtual:nodisc", "probe"}).out,
            "Media Code=70, 光碟設備門己關上, 且不存在光碟片\n");
}

TEST_F(VirtualCliTest, ProbeFindsTheClassOnDrivesWithoutAMediumTypeByte) {
  const std::pair<const char*, const char*> cases[] = {
      {"dvd+r,mediumtype=qemu-atapi", "Media Code=41, 光碟設備中存在120mm的DVD\n"},
      {"dvdrom,mediumtype=zero", "Media Code=41, 光碟設備中存在120mm的DVD\n"},
      {"cdrom,mediumtype=qemu-atapi", "Media Code=01, 光碟設備中存在120mm的CD-ROM\n"},
      {"cdr-blank,mediumtype=zero", "Media Code=10, 光碟設備中存在CD-R\n"},
      {"cdr-closed,mediumtype=qemu-atapi", "Media Code=11, 光碟設備中存在120mm的CD-ROM(CD-R)\n"},
      {"cdrw-mrw,mediumtype=zero", "Media Code=21, 光碟設備中存在120mm的CD-ROM(CD-RW)\n"},
      {"open,mediumtype=qemu-atapi", "Media Code=71, 光碟設備門己開啟\n"},
      {"nodisc,mediumtype=zero", "Media Code=70, 光碟設備門己關上, 且不存在光碟片\n"},
      {"bdrom,mediumtype=zero", "Media Code=00, 光碟設備中不知是哪種光碟片\n"},
  };
  for (const auto& [spec, line] : cases) {
    const Run run = Cli({"--drive", std::string("d=virtual:") + spec, "probe"});
    EXPECT_EQ(run.status, 0) << spec;
    EXPECT_EQ(run.out, line) << spec;
  }
}

TEST_F(VirtualCliTest, ProbeWaitsOutReadinessAndAttention) {
  const Run run = Cli({"--drive", "d=virtual:dvd+r,ready=3,attention", "probe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Media Code=41, 光碟設備中存在120mm的DVD\n");
}

TEST_F(VirtualCliTest, BadVirtualSpecIsAUsageError) {
  const Run run = Cli({"--drive", "d=virtual:bogus", "probe"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unknown preset \"bogus\""), std::string::npos) << run.err;
  // A state file in a folder that is not there names the folder (not "no drive found").
  const Run state =
      Cli({"--drive", "d=virtual:dvd+r,state=/nonexistent-zorvane/disc.state", "probe"});
  EXPECT_EQ(state.status, 2);
  EXPECT_NE(state.err.find("folder /nonexistent-zorvane does not exist"), std::string::npos)
      << state.err;
  EXPECT_EQ(Cli({"--drive", "d=virtual:cdrom,ready=x", "devices"}).status, 2);
}

TEST_F(VirtualCliTest, DemoAttachesTheDemoSet) {
  Run run = Cli({"--demo", "devices"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "d: ZORVANE VIRTUAL DVD-RW  1.00\n"
            "e: ZORVANE VIRTUAL DVD-RW  1.00\n"
            "f: ZORVANE VIRTUAL DVD-RW  1.00\n"
            "g: ZORVANE VIRTUAL DVD-RW  1.00\n");
  EXPECT_EQ(Cli({"--demo", "probe"}).out, "Media Code=10, 光碟設備中存在CD-R\n");
  EXPECT_EQ(Cli({"--demo", "--device", "f", "probe"}).out,
            "Media Code=02, 光碟設備中存在120mm的CD-DA\n");
  EXPECT_EQ(Cli({"--demo", "--device", "g", "probe"}).out,
            "Media Code=41, 光碟設備中存在120mm的DVD\n");
  // A --drive for a demo letter replaces it; another letter is added.
  run = Cli({"--demo", "--drive", "d=virtual:cdrom,vendor=OTHER", "--drive", "j=virtual:open",
             "devices"});
  EXPECT_NE(run.out.find("d: OTHER   VIRTUAL DVD-RW  1.00\n"), std::string::npos);
  EXPECT_NE(run.out.find("j: ZORVANE"), std::string::npos);
  const Run help = Cli({"--help"});
  EXPECT_NE(help.out.find("--demo"), std::string::npos);
  EXPECT_NE(help.out.find("virtual:PRESET"), std::string::npos);
}

TEST(VirtualCliBinaryTest, TheProgramProbesAVirtualDrive) {
  const std::string command = std::string(ZORVANE_CLI_PATH) + " --drive d=virtual:cdrom probe";
  std::string out;
  EXPECT_EQ(test::RunCommand(command, &out), 0);
  EXPECT_EQ(out, "Media Code=01, 光碟設備中存在120mm的CD-ROM\n");
}

}  // namespace
}  // namespace zorvane
