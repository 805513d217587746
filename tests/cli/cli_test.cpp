#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"

namespace zorvane {
namespace {

using test::TransportTest;

using test::CliRun;

class CliTest : public TransportTest {
 protected:
  CliRun Run(const std::vector<std::string>& args) { return test::RunCliCaptured(args); }

  void AttachNamed(const std::string& name, const std::string& vendor, std::uint8_t medium) {
    auto drive = std::make_shared<ScriptedDrive>();
    drive->On({0x12}, {test::InquiryData(vendor, "TEST DRIVE", "0.01")});
    drive->On({0x00}, {});
    drive->On({0x5A}, {test::ModeSenseData(medium)});
    AttachScriptedDrive(name, drive);
  }
};

TEST_F(CliTest, DevicesListsEveryDriveFoundWithItsFullDescription) {
  AttachNamed("one", "ZORVANE", 0x01);
  AttachNamed("two", "OTHER", 0x41);
  const CliRun run = Run({"--drive", "f=script:one", "--drive=h=script:two", "devices"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "f: ZORVANE TEST DRIVE      0.01\n"
            "h: OTHER   TEST DRIVE      0.01\n");
  EXPECT_EQ(run.err, "");  // discovery runs with tracing off
}

TEST_F(CliTest, ProbeReportsOnTheCurrentDevice) {
  AttachNamed("one", "ZORVANE", 0x01);
  AttachNamed("two", "OTHER", 0x70);
  CliRun run = Run({"--drive", "f=script:one", "--drive", "h=script:two", "probe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Media Code=01, 光碟設備中存在120mm的CD-ROM\n");
  run = Run({"--drive", "f=script:one", "--drive", "h=script:two", "--device", "h", "probe"});
  EXPECT_EQ(run.out, "Media Code=70, 光碟設備門己關上, 且不存在光碟片\n");
  run = Run({"--drive", "f=script:one", "--device", "e:", "probe"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no drive at e:"), std::string::npos);
}

TEST_F(CliTest, NoDriveIsTheStartupFailure) {
  const CliRun run = Run({"--drive", "d=script:absent", "devices"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Zorvane: 未發現任何光碟設備!\n");
}

TEST_F(CliTest, UsageErrorsExitTwoAndHelpListsEverything) {
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"frobnicate"}).status, 2);
  EXPECT_EQ(Run({"--drive"}).status, 2);
  EXPECT_EQ(Run({"--drive", "x=/dev/sr0", "devices"}).status, 2);
  EXPECT_EQ(Run({"--device", "z", "devices"}).status, 2);
  EXPECT_EQ(Run({"--bogus", "devices"}).status, 2);
  AttachNamed("one", "ZORVANE", 0x01);
  EXPECT_EQ(Run({"--drive", "d=script:one", "devices", "extra"}).status, 2);
  const CliRun help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"--drive", "--device", "--help", "devices", "probe"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, ExecDumpsToStandardOutputAndTracesToStandardError) {
  AttachNamed("one", "ZORVANE", 0x01);
  const CliRun run = Run({"--drive", "d=script:one", "exec", "12 00 00 00 24 00"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "INQUIRY  12 00 00 00 24 00\nSK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
  EXPECT_EQ(run.out.rfind("      00 01 02 03", 0), 0U);
  EXPECT_NE(run.out.find("0000: 05 80 05 32"), std::string::npos);
  EXPECT_EQ(Run({"--drive", "d=script:one", "exec"}).status, 2);
  EXPECT_EQ(Run({"--drive", "d=script:one", "exec", "00", "12"}).status, 2);
}

TEST_F(CliTest, ExecSendsDataForModeSelect) {
  auto drive = std::make_shared<ScriptedDrive>();
  drive->On({0x12}, {test::InquiryData("ZORVANE", "X", "1")});
  drive->SetDefault({});
  AttachScriptedDrive("one", drive);
  const CliRun run = Run({"--drive", "d=script:one", "exec", "55 10 00 00 00 00 00 00 0C 00",
                          "--data", "00 00 00 00 00 00 00 00"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.rfind("00 00 00 00 00 00 00 00 \nMODE SELECT  55 10", 0), 0U);
  EXPECT_EQ(drive->Requests().back().direction, kDataOut);
}

TEST_F(CliTest, TrayCommandsRunTheWindowsJobs) {
  auto drive = std::make_shared<ScriptedDrive>();
  drive->On({0x12}, {test::InquiryData("ZORVANE", "X", "1")});
  drive->On({0x00}, {});
  drive->On({0x5A}, {test::ModeSenseData(0x01)});
  drive->On({0x1B}, {});
  drive->On({0x5B}, {});
  AttachScriptedDrive("one", drive);
  CliRun run = Run({"--drive", "d=script:one", "open-tray"});
  EXPECT_EQ(run.out, "將光碟設備的門開啟\n");
  EXPECT_EQ(run.err,
            "START/STOP UNIT  1B 01 00 00 02 00\nSK/ASC/ASCQ=0h, NO ADDITIONAL SENSE "
            "INFORMATION\n");
  run = Run({"--drive", "d=script:one", "close-tray"});
  EXPECT_EQ(run.out, "Media Code=01, 光碟設備中存在120mm的CD-ROM\n");
  run = Run({"--drive", "d=script:one", "close-session"});
  EXPECT_EQ(run.out, "請稍候...\n已完成\n");
  EXPECT_EQ(Run({"--drive", "d=script:one", "open-tray", "now"}).status, 2);
}

// The real binary on this machine's own device nodes.
TEST(CliBinaryTest, NoDriveAtAMissingNodePrintsTheStartupFailure) {
  const std::string command =
      std::string(ZORVANE_CLI_PATH) + " --drive d=/nonexistent/sr0 devices 2>&1 >/dev/null";
  std::string err;
  EXPECT_EQ(test::RunCommand(command, &err), 1);
  EXPECT_EQ(err, "Zorvane: 未發現任何光碟設備!\n");
}

}  // namespace
}  // namespace zorvane
