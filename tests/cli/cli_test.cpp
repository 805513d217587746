#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "app/manual_command.h"
#include "base/options.h"
#include "cli/cli.h"
#include "cli/cli_support.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/virtual_backend.h"

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
  EXPECT_EQ(run.err.rfind("Zorvane: 未發現任何光碟設備!\nzorvane-cli: d: script:absent: ", 0), 0U)
      << run.err;
  EXPECT_NE(run.err.find("--demo"), std::string::npos);
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
  EXPECT_EQ(err.rfind("Zorvane: 未發現任何光碟設備!\n", 0), 0U);
}

// A spec that gives no drive is named on standard error with the system's reason and a
// pointer at --demo, after the start-up line.
TEST(CliBinaryTest, UnusableDriveSpecsAreExplainedInEnglish) {
  char directory[] = "/tmp/zorvane-cli-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string file = std::string(directory) + "/plain";
  std::FILE* plain = std::fopen(file.c_str(), "w");
  ASSERT_NE(plain, nullptr);
  std::fputs("not a drive\n", plain);
  std::fclose(plain);
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/nonexistent", "d: /dev/nonexistent: No such file or directory"},
      {file, "d: " + file + ": Inappropriate ioctl for device (not a SCSI or optical drive)"},
      {directory, std::string("d: ") + directory + ": Is a directory"},
      {"/dev/null", "d: /dev/null: Inappropriate ioctl for device (not a SCSI or optical drive)"},
      {"virtual",
       "d: virtual: No such file or directory; a device node is a path such as "
       "/dev/sr0, a virtual drive virtual:PRESET"},
  };
  for (const auto& [spec, line] : cases) {
    std::string err;
    const std::string command =
        std::string(ZORVANE_CLI_PATH) + " --drive 'd=" + spec + "' devices 2>&1 >/dev/null";
    EXPECT_EQ(test::RunCommand(command, &err), 1) << spec;
    EXPECT_EQ(err, "Zorvane: 未發現任何光碟設備!\nzorvane-cli: " + line +
                       "\nzorvane-cli: " + kNoDriveHint + "\n");
  }
  std::remove(file.c_str());
  ::rmdir(directory);
}

// scripts/demo in a tree of its own, with a setup, a build and a command-line program
// that only say they ran: every long step is announced before it starts.
TEST(DemoScriptTest, SaysWhatItIsDoingBeforeEachStep) {
  char root[] = "/tmp/zorvane-demo-XXXXXX";
  ASSERT_NE(::mkdtemp(root), nullptr);
  const std::string tree = root;
  const std::string script = std::string(ZORVANE_SOURCE_DIR) + "/scripts/demo";
  auto write = [](const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    std::fclose(file);
    ::chmod(path.c_str(), 0755);
  };
  ASSERT_EQ(::mkdir((tree + "/scripts").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((tree + "/build").c_str(), 0755), 0);
  std::string copy;
  ASSERT_EQ(test::RunCommand("cat '" + script + "'", &copy), 0);
  write(tree + "/scripts/demo", copy);
  write(tree + "/scripts/setup", "#!/bin/sh\necho 'SETUP RAN'\n");
  std::string build = "#!/bin/sh\n";
  for (int i = 1; i <= 60; ++i) {
    build += "echo '[" + std::to_string(i) + "/60] Building step " + std::to_string(i) + "'\n";
  }
  write(tree + "/scripts/build", build + "exit \"${DEMO_BUILD_STATUS:-0}\"\n");
  write(tree + "/build/zorvane-cli", "#!/bin/sh\necho \"CLI $*\"\n");

  std::string out;
  const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY " + tree + "/scripts/demo 2>&1";
  ASSERT_EQ(test::RunCommand(run, &out), 0) << out;
  const std::size_t checking = out.find("demo: checking the packages");
  const std::size_t setup = out.find("SETUP RAN");
  const std::size_t building = out.find("demo: building the program");
  const std::size_t progress = out.find("demo: [50/60]");
  const std::size_t built = out.find("demo: built.");
  const std::size_t cli = out.find("CLI --demo devices");
  ASSERT_NE(checking, std::string::npos) << out;
  EXPECT_LT(checking, setup);
  EXPECT_LT(setup, building);
  EXPECT_LT(building, progress);
  EXPECT_LT(progress, built);
  EXPECT_LT(built, cli);
  EXPECT_EQ(out.find("Building step"), std::string::npos);  // counters only, not the noise

  ASSERT_EQ(test::RunCommand("DEMO_BUILD_STATUS=1 " + run, &out), 1);
  EXPECT_NE(out.find("demo: the build failed"), std::string::npos) << out;
  EXPECT_EQ(out.find("CLI "), std::string::npos);
  test::RunCommand("rm -rf '" + tree + "'", &out);
}

// ---- exit statuses against the virtual drive ----------------------------------------------

class CliVirtualTest : public CliTest {
 protected:
  CliRun On(const std::string& drive, std::vector<std::string> command) {
    command.insert(command.begin(), {"--drive", "d=virtual:" + drive});
    ResetVirtualDrives();  // each run on a fresh drive, as a new process has
    return Run(command);
  }
};

// A close that the drive refuses or that fails is said to have failed, on both streams.
TEST_F(CliVirtualTest, CloseSessionThatIsRefusedOrFailsIsNoSuccess) {
  const std::pair<const char*, const char*> refused[] = {
      {"cdr-blank",
       "the drive refused CLOSE TRACK/SESSION (SK/ASC/ASCQ=52C00h, COMMAND "
       "SEQUENCE ERROR)"},
      {"dvd+r", "the drive refused CLOSE TRACK/SESSION"},
      {"dvdrom", "the drive refused CLOSE TRACK/SESSION"},
      {"cdr-open,fail=5B", "CLOSE TRACK/SESSION could not be sent to the drive"},
  };
  for (const auto& [drive, reason] : refused) {
    const CliRun run = On(drive, {"close-session"});
    EXPECT_EQ(run.status, 1) << drive;
    EXPECT_EQ(run.out, "請稍候...\n關閉節區失敗.\n") << drive;
    EXPECT_NE(run.err.find(std::string("zorvane-cli: close-session: ") + reason), std::string::npos)
        << run.err;
  }
  const CliRun closed = On("cdr-open", {"close-session"});
  EXPECT_EQ(closed.status, 0);
  EXPECT_EQ(closed.out, "請稍候...\n已完成\n");
}

// Exit 0 only when what was asked of the drive succeeded; every other exit says why on
// standard error.
TEST_F(CliVirtualTest, FailedCommandsExitOneAndSayWhy) {
  struct Case {
    std::string drive;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"cdrom,fail=5A", {"caps"}},
      {"cdr-blank,fail=AC", {"speeds"}},
      {"cdrom,fail=1B", {"open-tray"}},
      {"cdrom,fail=25", {"exec", "25 00 00 00 00 00 00 00 00 00"}},
      {"cdrom,fail=00", {"probe"}},
      {"dvdrom,fail=46", {"capacity"}},
      {"nodisc", {"maker"}},
      {"cdrom", {"maker"}},
      {"nodisc", {"close-session"}},
      {"open", {"toc"}},
      {"cdrom,fail=00", {"close-tray"}},
  };
  for (const Case& c : cases) {
    const CliRun run = On(c.drive, c.command);
    EXPECT_EQ(run.status, 1) << c.drive << " " << c.command[0];
    EXPECT_NE(run.err.find("zorvane-cli: " + c.command[0] + ": "), std::string::npos)
        << c.drive << " " << c.command[0] << ": " << run.err;
  }
  // A request that failed brought nothing: no dump of zeros.
  EXPECT_EQ(On("cdrom,fail=25", {"exec", "25 00 00 00 00 00 00 00 00 00"}).out, "");
  // The same commands on a drive that does them.
  for (const Case& c :
       {Case{"cdrom", {"caps"}}, Case{"cdr-blank", {"speeds"}}, Case{"cdrom", {"open-tray"}},
        Case{"cdrom", {"exec", "25 00 00 00 00 00 00 00 00 00"}}, Case{"cdrom", {"probe"}},
        Case{"dvdrom", {"capacity"}}, Case{"cdr-blank", {"maker"}}}) {
    const CliRun run = On(c.drive, c.command);
    EXPECT_EQ(run.status, 0) << c.drive << " " << c.command[0] << ": " << run.err;
    EXPECT_EQ(run.err.find("zorvane-cli:"), std::string::npos) << run.err;
  }
}

// A sense code without a text leaves the trace line open; the reason starts a line of its
// own all the same.
TEST_F(CliTest, FailureReasonStartsItsOwnLine) {
  auto drive = std::make_shared<ScriptedDrive>();
  drive->On({0x12}, {test::InquiryData("ZORVANE", "X", "1")});
  drive->On({0x28}, {{}, 0x0B0000});
  AttachScriptedDrive("one", drive);
  const CliRun run = Run({"--drive", "d=script:one", "exec", "28 00 00 00 00 10 00 00 01 00"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "READ  28 00 00 00 00 10 00 00 01 00\nSK/ASC/ASCQ=B0000h, \n"
            "zorvane-cli: exec: the drive refused READ (SK/ASC/ASCQ=B0000h)\n");
}

// One 2,048-byte block read from the console comes whole, in a phase of its size.
TEST_F(CliVirtualTest, ReadTenOfOneBlockReadsTheBlock) {
  const CliRun run = On("cdrom", {"exec", "28 00 00 00 00 10 00 00 01 00"});
  EXPECT_EQ(run.status, 0) << run.err;
  // Block 16 of the pressed disc: its LBA, then (k + 3 x LBA) mod 256.
  EXPECT_NE(run.out.find("0000: 00 00 00 10 34 35 36 37"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("07F0: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F"),
            std::string::npos);
}

// The command line takes bytes only as hexadecimal, and never sends what differs from what
// was typed.
TEST_F(CliVirtualTest, ExecRefusesTextItCannotTakeAsTyped) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string forty_bytes = [] {
    std::string text;
    for (int i = 0; i < 40; ++i) text += i == 0 ? "AB" : " AB";
    return text;
  }();
  const Case cases[] = {
      {{"exec", "zz"}, "exec: CDB: not hexadecimal: \"zz\""},
      {{"exec", ""}, "exec: CDB: no bytes in \"\""},
      {{"exec", " , "}, "exec: CDB: no bytes in"},
      {{"exec", "0x12 0x00"}, "exec: CDB: not hexadecimal: \"0x12\""},
      {{"exec", "12\t00"}, "exec: CDB: not hexadecimal"},
      {{"exec", "1,2"}, "exec: CDB: odd number of hexadecimal digits: \"1\""},
      {{"exec", "123 4"}, "exec: CDB: odd number of hexadecimal digits: \"123\""},
      {{"exec", "12 00 00 00 24 00 00"}, "exec: a CDB of opcode 12h has 6 bytes, got 7"},
      {{"exec", std::string(78, ' ') + "00 00"}, "exec: a CDB takes at most 79 characters, got 83"},
      {{"exec", "12 00 00 00 24 00", "--data", "00"}, "exec: opcode 12h sends no data"},
      {{"exec", "2A 00 00 00 00 10 00 00 01 00", "--data", forty_bytes},
       "exec: --data takes at most 79 characters for opcode 2Ah, got 119"},
      {{"exec", "B6 00 00 00 00 00 00 00 00 00 55 00", "--data", std::string(255, '0')},
       "exec: --data takes at most 254 characters for opcode B6h, got 255"},
      {{"exec", "55 10 00 00 00 00 00 00 08 00", "--data", "00 0g"}, "exec: --data: not hex"},
      {{"exec", "28 00 00 00 00 00 00 00 20 00"},
       "exec: one data phase holds at most 31 blocks of 2,048 bytes; got 32 blocks"},
      {{"exec", "A8 00 00 00 00 00 00 01 00 00 00 00"},
       "exec: one data phase holds at most 31 blocks of 2,048 bytes; got 65536 blocks"},
      {{"exec", "12 00", "--bogus"}, "exec: unknown option --bogus"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    const CliRun run = On("cdrom", args);
    EXPECT_EQ(run.status, 2) << c.args[1];
    EXPECT_EQ(run.err.rfind("zorvane-cli: " + c.message, 0), 0U) << run.err;
    EXPECT_EQ(run.err.find("SK/ASC/ASCQ"), std::string::npos) << "sent: " << run.err;
    EXPECT_EQ(run.out, "");
  }
  // The longest data the group takes is sent whole.
  const std::string longest = forty_bytes.substr(0, 77);  // 26 bytes
  const CliRun run = On("cdrom", {"exec", "2A 00 00 00 00 10 00 00 01 00", "--data", longest});
  EXPECT_EQ(run.err.rfind(longest.substr(0, 47) + " \n" + longest.substr(48) + " \n", 0), 0U)
      << run.err;
}

// What the command line accepts, the window's parser reads the same way.
TEST(ParseStrictHexTest, AcceptedTextReadsTheSameInTheWindow) {
  const std::pair<const char*, std::vector<std::uint8_t>> accepted[] = {
      {"12 00 00 00 24 00", {0x12, 0, 0, 0, 0x24, 0}},
      {"12,34", {0x12, 0x34}},
      {"ABCDEF", {0xAB, 0xCD, 0xEF}},
      {"1 2 3", {1, 2, 3}},
      {" 0a ,ff ", {0x0A, 0xFF}},
      {"5", {5}},
      {"12, 3", {0x12, 3}},
  };
  for (const auto& [text, bytes] : accepted) {
    std::vector<std::uint8_t> parsed;
    std::string error;
    ASSERT_TRUE(ParseStrictHex(text, &parsed, &error)) << text << ": " << error;
    EXPECT_EQ(parsed, bytes) << text;
    std::uint8_t window[32];
    const std::size_t count = ParseHexBytes(text, window, sizeof window);
    EXPECT_EQ(std::vector<std::uint8_t>(window, window + count), bytes) << text;
  }
  for (const char* text : {"1,2", "3,", "123", "0x12", "1-2", "", "  ", "g0", "12;"}) {
    std::vector<std::uint8_t> parsed;
    std::string error;
    EXPECT_FALSE(ParseStrictHex(text, &parsed, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

// Over many texts of digits, blanks, commas and a stray letter: whatever the command line
// accepts, the window's parser reads as the same bytes.
TEST(ParseStrictHexTest, NoAcceptedTextReadsTwoWays) {
  const char alphabet[] = "0123456789aF ,x";
  unsigned state = 12345;
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    state = state * 1103515245U + 12345U;
    const int length = static_cast<int>(state >> 16) % 12;
    for (int i = 0; i < length; ++i) {
      state = state * 1103515245U + 12345U;
      text.push_back(alphabet[(state >> 16) % (sizeof alphabet - 1)]);
    }
    std::vector<std::uint8_t> strict;
    std::string error;
    if (!ParseStrictHex(text, &strict, &error)) continue;
    ++accepted;
    std::uint8_t window[32];
    const std::size_t count = ParseHexBytes(text, window, sizeof window);
    ASSERT_EQ(std::vector<std::uint8_t>(window, window + count), strict) << '"' << text << '"';
  }
  EXPECT_GT(accepted, 1000);  // the walk did meet accepted texts
}

TEST_F(CliVirtualTest, CommandHelpAndOptionsAfterTheCommand) {
  CliRun run = On("cdrom", {"exec", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("usage: zorvane-cli [OPTIONS] exec", 0), 0U);
  EXPECT_EQ(run.err, "");  // nothing sent
  run = Run({"probe", "--demo"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("zorvane-cli: --demo is an option of zorvane-cli and goes before the "
                          "command, as in: zorvane-cli --demo probe\n",
                          0),
            0U)
      << run.err;
  run = Run({"--demo", "probe", "--device=e"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("as in: zorvane-cli --device L probe"), std::string::npos);
  run = Run({"--demo", "probe"});
  EXPECT_EQ(run.status, 0);
}

TEST_F(CliVirtualTest, HelpSaysWhatExecTakesAndShows) {
  const CliRun help = Run({"--help"});
  for (const char* words :
       {"04 3B 54 5D A3 AA B6 BF F9", "at most 254 characters", "15 2A 2E 55",
        "at most 79 characters", "2,048 bytes per block", "512 bytes per block", "129 for 28",
        "16 for the rest", "go before the command", "1 when it did not"}) {
    EXPECT_NE(help.out.find(words), std::string::npos) << words;
  }
}

// Reports on the virtual drive: an open session is no closed disc, and drive text is
// printable.
TEST_F(CliVirtualTest, ReportsOnVirtualMedia) {
  CliRun run = On("cdr-open", {"capacity"});
  EXPECT_EQ(run.status, 0);
  // READ CAPACITY answers 0 while the only session is open, as drives do: no written line.
  EXPECT_EQ(run.out.find("CD-R光碟片共寫入: "), std::string::npos);
  EXPECT_EQ(run.out.find("光碟片已Close Disc"), std::string::npos);
  run = On("cdr-closed", {"capacity"});
  EXPECT_NE(run.out.find("光碟片已Close Disc\n"), std::string::npos);
  for (const char* drive : {"dvd-r", "dvd-rw-seq", "dvd+r", "cdr-blank"}) {
    run = On(drive, {"maker"});
    for (char c : run.out) {
      const auto byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte >= 0x20 || c == '\n') << drive << ": control byte " << int{byte};
    }
  }
}

}  // namespace
}  // namespace zorvane

namespace zorvane {
namespace {

// Off a terminal the progress line is throttled; the last one always shows the final count.
TEST(CliProgressTest, FinishShowsTheFinalCountAndTheFlagFollowsSignals) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    CliProgress progress(stream, "read");
    progress.Update(1, 20475, "sector 1");
    progress.Update(5275, 20475, "sector 5275");
    progress.Update(20475, 20475, "sector 20475");
    progress.Finish();
  }
  std::rewind(stream);
  char text[256] = {};
  const std::size_t size = std::fread(text, 1, sizeof text - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(text, size),
            "read: 0% 1/20475 sector 1\nread: 100% 20475/20475 sector 20475\n");

  ClearStopRequest();
  {
    StopSignals guard;
    EXPECT_FALSE(StopRequested());
    ASSERT_EQ(::raise(SIGINT), 0);  // the first signal only asks
    EXPECT_TRUE(StopRequested());
  }
  ClearStopRequest();
  EXPECT_FALSE(StopRequested());
}

}  // namespace
}  // namespace zorvane
