// Erasing and formatting: every blanking type on a CD-RW with two sessions, the refusals,
// the FORMAT UNIT list per medium, and following a format to its end.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/utilities.h"
#include "cli/cli.h"
#include "cli/cli_support.h"
#include "tests/write/write_test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"
#include "write/erase_dialog.h"
#include "write/format.h"
#include "write/write_dialog.h"

namespace zorvane::test {
namespace {

// Erase and format follow the drive's long operations: polled without a pause here.
class FollowTest : public WriteTest {
 protected:
  void SetUp() override {
    WriteTest::SetUp();
    SetFollowPacing(FollowPacing{std::chrono::milliseconds(1), 3});
  }
  void TearDown() override {
    SetFollowPacing(FollowPacing{});
    ClearStopRequest();
    WriteTest::TearDown();
  }
  // A CLI run on drive d: that asks to stop (as Ctrl-C does) once the command console has
  // shown `trigger`, and goes on asking until the run ends.
  CliRun CliStoppedAfter(const std::string& spec, std::vector<std::string> args,
                         const std::string& trigger) {
    CloseAllDevices();
    ResetVirtualDrives();
    args.insert(args.begin(), {"--drive", "d=" + spec});
    const std::string err_path = PathOf("stderr.txt");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::fopen(err_path.c_str(), "w+");
    std::atomic<bool> ended{false};
    std::thread stopper([&] {
      while (!ended.load()) {
        std::ifstream file(err_path);
        std::stringstream text;
        text << file.rdbuf();
        if (text.str().find(trigger) != std::string::npos) RequestStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    CliRun run{RunCli(args, out, err), "", ""};
    ended.store(true);
    stopper.join();
    for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
      std::rewind(file);
      char chunk[512];
      std::size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
      std::fclose(file);
    }
    CommandConsole = &command_console_;
    InfoConsole = &info_console_;
    MessageBoxSink = &messages_;
    return run;
  }
};

class EraseTest : public FollowTest {
 protected:
  // A CD-RW with two closed sessions of one data track each.
  void WriteTwoSessions() {
    MakeImage("one.iso", 2048 * 300, 1);
    MakeImage("two.iso", 2048 * 200, 2);
    ASSERT_EQ(Write(Spec("cdrw-blank"), {PathOf("one.iso")}).status, 0);
    ASSERT_EQ(Write(Spec("cdrw-blank"), {PathOf("two.iso")}).status, 0);
  }
  std::array<std::uint8_t, 34> DiscInformation() {
    std::uint8_t cdb[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
    std::array<std::uint8_t, 34> info{};
    EXPECT_EQ(ExecuteOnCurrent(cdb, info.size(), info.data(), kDataIn, 0), 0);
    return info;
  }
  // READ TRACK INFORMATION of a track: the Blank bit, or -1 when there is no such track.
  int TrackBlank(std::uint8_t track) {
    std::uint8_t cdb[10] = {0x52, 0x01, 0, 0, 0, track, 0, 0, 0xFF, 0};
    std::uint8_t reply[255] = {};
    if (ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0) != 0) return -1;
    return (reply[6] >> 6) & 1;
  }
};

TEST_F(EraseTest, FullAndMinimalBlankLeaveABlankDisc) {
  for (const char* type : {"full", "minimal"}) {
    std::filesystem::remove(StateOf("cdrw-blank"));
    WriteTwoSessions();
    const CliRun run = Cli(Spec("cdrw-blank"), {"erase", "--type", type});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "CD-RW: 完成\n");
    EXPECT_CONTAINS(run.err, std::string("BLANK  A1 1") + (type[0] == 'f' ? "0" : "1"));
    Fresh(Spec("cdrw-blank"));
    EXPECT_EQ(DiscInformation()[2] & 0x03, 0x00) << type;  // empty disc
  }
}

TEST_F(EraseTest, UncloseReopensTheLastSessionAndSessionEraseRemovesIt) {
  WriteTwoSessions();
  CliRun run = Cli(Spec("cdrw-blank"), {"erase", "--type", "unclose"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "BLANK  A1 15 00 00 00 00 00 00 00 00 00 00");
  Fresh(Spec("cdrw-blank"));
  EXPECT_EQ((DiscInformation()[2] >> 2) & 0x03, 0x01);  // last session incomplete again
  EXPECT_EQ(TrackBlank(2), 0);                          // with its track

  run = Cli(Spec("cdrw-blank"), {"erase", "--type", "session"});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("cdrw-blank"));
  EXPECT_NE(TrackBlank(2), 0);  // the second session's track is gone
  EXPECT_EQ(ReadData(0, 300).size(), 300U * 2048);
  const CliRun toc = Cli(Spec("cdrw-blank"), {"toc"});
  EXPECT_CONTAINS(toc.out, "目錄(TOC)上共存在 1 個節區");
}

TEST_F(EraseTest, MinimalBlankOfASequentialDvdRw) {
  MakeImage("d.iso", 2048 * 64, 3);
  ASSERT_EQ(Write(Spec("dvd-rw-seq"), {PathOf("d.iso")}).status, 0);
  const CliRun run = Cli(Spec("dvd-rw-seq"), {"erase"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "完成\n");
  Fresh(Spec("dvd-rw-seq"));
  EXPECT_EQ(DiscInformation()[2] & 0x03, 0x00);
}

TEST_F(EraseTest, RefusalsSendNoBlank) {
  CliRun run = Cli("virtual:dvd+rw", {"erase"});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "抹除僅使用於CD-RW與DVD-RW");
  EXPECT_LACKS(run.err, "BLANK");
  run = Cli("virtual:nodisc", {"erase"});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "未放入光碟片!");
  EXPECT_LACKS(run.err, "BLANK");
  run = Cli("virtual:open", {"erase"});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "門沒關!");
  run = Cli("virtual:cdr-blank", {"erase", "--type", "sideways"});
  EXPECT_EQ(run.status, 2);
}

TEST_F(EraseTest, AFailingBlankIsReportedAndWaitsLongEnough) {
  auto drive = Attach(0);
  drive->SetDefault({});
  drive->On({0x5A}, {ModeSenseData(0x21)});
  drive->On({0xA1}, {{}, 0x053006});
  DiscoverDevices();
  EraseDialog handler;
  MemoryDialog dialog;
  handler.OnInit(dialog);
  handler.OnCommand(dialog, kUncloseSession);
  EXPECT_EQ(BlankingType(dialog), 5);
  handler.OnCommand(dialog, kOkButton);
  for (int i = 0; i < 1000 && handler.Job()->Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  handler.OnTimer(dialog, kUpdateTimer);
  EXPECT_EQ(handler.Job()->state.load(), WriteState::kFailed);
  EXPECT_EQ(dialog.Text(kEraseStatus), "抹除失敗\n");
  EXPECT_TRUE(dialog.IsEnabled(kOkButton));
  EXPECT_CONTAINS(command_console_.Text(),
                  "BLANK  A1 15 00 00 00 00 00 00 00 00 00 00\n"
                  "SK/ASC/ASCQ=53006h, ");
  bool seen = false;
  for (const auto& request : drive->Requests()) {
    if (request.cdb[0] != 0xA1) continue;
    seen = true;
    EXPECT_GE(request.timeout_seconds, 4800U);  // a full blank of a CD-RW at 1x
  }
  EXPECT_TRUE(seen);
}

class FormatTest : public FollowTest {
 protected:
  std::vector<std::uint8_t> FormatList(ScriptedDrive& drive) {
    for (const auto& request : drive.Requests()) {
      if (request.cdb[0] == 0x04) return request.data_out;
    }
    return {};
  }
  std::uint16_t CurrentProfile() {
    std::uint8_t cdb[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
    std::uint8_t reply[255] = {};
    EXPECT_EQ(ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0), 0);
    return ReadBe16(reply + 6);
  }
  MemoryDialog window_;
};

TEST_F(FormatTest, MrwFormatOfACdRwMakesTheFeatureCurrent) {
  CliRun run = Cli(Spec("cdrw-blank"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "已開始MRW格式化背景作業...\n");
  EXPECT_CONTAINS(run.out, kFormatDoneMessage);
  EXPECT_CONTAINS(run.err, "FORMAT UNIT  04 11 00 00 00 00");
  Fresh(Spec("cdrw-blank"));
  std::uint8_t cdb[10] = {0x46, 0x02, 0x00, 0x28, 0, 0, 0, 0, 0xFF, 0};
  std::uint8_t reply[255] = {};
  ASSERT_EQ(ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0), 0);
  EXPECT_EQ(reply[9], 0x28);
  EXPECT_EQ(reply[10] & 0x01, 0x01);
}

TEST_F(FormatTest, FullFormatTurnsASequentialDvdRwIntoRestrictedOverwrite) {
  const CliRun run = Cli(Spec("dvd-rw-seq"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "已開始格式化背景作業...\n");
  Fresh(Spec("dvd-rw-seq"));
  EXPECT_EQ(CurrentProfile(), 0x13);
}

TEST_F(FormatTest, DvdPlusRwAndDvdRamTakeTheirFormats) {
  CliRun run = Cli(Spec("dvd+rw-blank"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, kFormatDoneMessage);
  MakeImage("a.iso", 65536, 4);
  run = Cli(Spec("dvd+rw-blank"), {"write-at", "0", PathOf("a.iso")});
  EXPECT_EQ(run.status, 0) << run.err;  // a formatted disc takes writes

  run = Cli(Spec("dvd-ram"), {"format"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "已開始格式化背景作業...\n");
}

TEST_F(FormatTest, WaitReturnsWhenARealTimeFormatEnds) {
  // A quick real-time format: the blank DVD+RW's background format of a small disc.
  const CliRun run = Cli(Spec("dvd+rw-blank", "time=real,blocks=20000"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, kFormatDoneMessage);
}

TEST_F(FormatTest, RefusalsEndWithTheirLine) {
  CliRun run = Cli(Spec("dvd+r"), {"format"});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "現在所放入的是 ");
  EXPECT_CONTAINS(run.out, "不支援格式化\n");
  EXPECT_LACKS(run.err, "FORMAT UNIT");

  // A drive whose MRW feature lacks the Write bit.
  auto drive = Attach(0);
  drive->SetDefault({});
  drive->On({0x5A}, {ModeSenseData(0x21)});
  drive->On({0x46, 0x02, 0x00, 0x28}, {Feature(0x0A, 0x28, 0x01, {0x00, 0, 0, 0})});
  FormatMedium(window_);
  EXPECT_CONTAINS(info_console_.Text(), "燒錄機並不支援MRW\n");
  EXPECT_TRUE(FormatList(*drive).empty());
}

TEST_F(FormatTest, ParameterListsFollowTheMedium) {
  auto drive = Attach(0);
  drive->SetDefault({});
  drive->On({0x5A}, {ModeSenseData(0x21)});
  drive->On({0x46, 0x02, 0x00, 0x28}, {Feature(0x0A, 0x28, 0x01, {0x01, 0, 0, 0})});
  EXPECT_TRUE(FormatMedium(window_));
  EXPECT_EQ(FormatList(*drive), (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0x08, 0xFF, 0xFF, 0xFF,
                                                           0xFF, 0x90, 0x00, 0x00, 0x00}));

  drive = Attach(0, "dvdrw");
  drive->SetDefault({});
  drive->On({0x5A}, {ModeSenseData(0x41)});
  drive->On({0x46, 0x02, 0x00, 0x00}, {ProfileList(0x14, {0x13, 0x14})});
  std::vector<std::uint8_t> capacities(12, 0);
  capacities[3] = 8;
  Put32(capacities, 4, 0x00230540);
  capacities[8] = 0x02;
  capacities[10] = 0x08;
  drive->On({0x23}, {capacities});
  CloseAllDevices();
  EXPECT_TRUE(FormatMedium(window_));
  EXPECT_EQ(FormatList(*drive), (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0x08, 0x00, 0x23, 0x05,
                                                           0x40, 0x00, 0x00, 0x08, 0x00}));
}

// The blank's progress: BLANK with Immed, then the drive's progress indication in the
// dialog's status line, on the CLI, and none of the polls in the command console.
TEST_F(EraseTest, TheDrivesProgressIsShownAndItsPollsStayOutOfTheTrace) {
  for (const char* preset : {"cdrw-blank", "dvd-rw-seq"}) {
    std::filesystem::remove(StateOf(preset));
    const CliRun run = Cli(Spec(preset), {"erase", "--type", "full"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_CONTAINS(run.err, "BLANK  A1 10 00 00 00 00 00 00 00 00 00 00\n");
    for (const char* figure :
         {"erase: 25% (the drive's progress)", "erase: 50% (the drive's progress)",
          "erase: 75% (the drive's progress)"}) {
      EXPECT_CONTAINS(run.err, figure) << preset;
    }
    EXPECT_LACKS(run.err, "REQUEST SENSE");
    EXPECT_EQ(TraceEnabled.load(), 1);
  }

  // The dialog shows the figures in its status line, rising, before the end.
  class Recording : public MemoryDialog {
   public:
    void SetText(int id, std::string_view text) override {
      if (id == kEraseStatus) shown.emplace_back(text);
      MemoryDialog::SetText(id, text);
    }
    std::vector<std::string> shown;
  };
  SetFollowPacing(FollowPacing{std::chrono::milliseconds(40), 3});
  Fresh(Spec("cdrw-blank"));
  EraseDialog handler;
  Recording dialog;
  handler.OnInit(dialog);
  handler.OnCommand(dialog, kOkButton);
  for (int i = 0; i < 5000 && handler.Job()->Running(); ++i) {
    handler.OnTimer(dialog, kUpdateTimer);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  handler.OnTimer(dialog, kUpdateTimer);
  ASSERT_GE(dialog.shown.size(), 3U);
  EXPECT_EQ(dialog.shown.back(), "完成\n");
  int last = -1;
  for (std::size_t i = 0; i + 1 < dialog.shown.size(); ++i) {
    int figure = -1;
    if (dialog.shown[i] == "請稍候...\n") continue;
    ASSERT_EQ(std::sscanf(dialog.shown[i].c_str(), "請稍候... %d%%\n", &figure), 1)
        << dialog.shown[i];
    EXPECT_GT(figure, last);
    last = figure;
  }
  EXPECT_GE(last, 0);
}

// Every failure names its cause: a refused BLANK, a drive that cannot be followed, a medium
// that is no CD-RW or DVD-RW even when GET CONFIGURATION fails; the window's texts stay.
TEST_F(EraseTest, FailuresNameTheirCause) {
  struct Case {
    std::string preset, keys;
    std::vector<std::string> args;
    std::vector<std::string> said;  // on stderr
    bool blank_sent;
  };
  const Case cases[] = {
      {"cdrw-blank",
       "fault=A1:053006",
       {"erase"},
       {"zorvane-cli: erase: CD-RW: 抹除失敗: BLANK failed: 05/30/06 "},
       true},
      {"dvd-rw-seq",
       "fault=A1:052400",
       {"erase", "--type=full"},
       {"抹除失敗: BLANK failed: 05/24/00 INVALID FIELD IN CDB"},
       true},
      {"cdrw-blank",
       "fail=03",
       {"erase"},
       {"抹除失敗: cannot follow the drive: REQUEST SENSE: the request to the drive failed"},
       true},
      {"dvd-rw-seq",
       "fault=03:044400",
       {"erase"},
       {"cannot follow the drive: REQUEST SENSE: 04/44/00"},
       true},
      // Medium codes that are no DVD: the erase-only line stays when the profile is unknown.
      {"cdr-blank",
       "fault=46:052400",
       {"erase"},
       {"抹除僅使用於CD-RW與DVD-RW", "GET CONFIGURATION failed: 05/24/00"},
       false},
      {"cdrom",
       "fault=46:020401",
       {"erase"},
       {"抹除僅使用於CD-RW與DVD-RW", "GET CONFIGURATION failed: 02/04/01"},
       false},
      {"dvd+rw",
       "",
       {"erase"},
       {"抹除僅使用於CD-RW與DVD-RW", "only CD-RW and DVD-RW discs are blanked"},
       false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(StateOf(c.preset));
    const CliRun run = Cli(Spec(c.preset, c.keys), c.args);
    EXPECT_EQ(run.status, 1) << c.preset << " " << c.keys << "\n" << run.err;
    for (const std::string& part : c.said) EXPECT_CONTAINS(run.err, part) << c.keys;
    EXPECT_EQ(run.err.find("BLANK  A1") != std::string::npos, c.blank_sent) << c.keys;
    EXPECT_LACKS(run.out, "完成");
  }
}

// Ctrl-C while the drive blanks: the CLI stops following, says the drive goes on, exits 130.
TEST_F(EraseTest, AStopEndsTheFollowingAndTheDriveGoesOn) {
  const CliRun run =
      CliStoppedAfter(Spec("cdrw-blank", "time=real"), {"erase", "--type", "full"}, "BLANK  A1");
  EXPECT_EQ(run.status, kExitStopped) << run.err;
  EXPECT_CONTAINS(run.err, "BLANK  A1 10 00");
  EXPECT_CONTAINS(run.err, "zorvane-cli: erase: stopped following the drive");
  EXPECT_CONTAINS(run.err, "the drive goes on blanking the disc\n");
  EXPECT_LACKS(run.out, "完成");
  // The tray, locked for the BLANK, is unlocked on the way out of the stopped job.
  EXPECT_LT(run.err.find("MEDIUM REMOVAL  1E 00 00 00 01 00"), run.err.find("BLANK  A1"));
  EXPECT_GT(run.err.rfind("MEDIUM REMOVAL  1E 00 00 00 00 00"), run.err.find("BLANK  A1"));

  // Closing the window's dialog ends its polls too.
  Fresh(Spec("cdrw-blank", "time=real"));
  EraseDialog handler;
  MemoryDialog dialog;
  handler.OnInit(dialog);
  handler.OnCommand(dialog, kFullBlank);
  handler.OnCommand(dialog, kOkButton);
  handler.OnClose(dialog);
  for (int i = 0; i < 5000 && handler.Job()->Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(handler.Job()->state.load(), WriteState::kCancelled);
}

// Following a format ends only on the drive's own answer: a poll that finds no answer is
// reported, and when the drive cannot be polled the job fails with the cause; a poll that
// fails once or twice is asked again.
TEST_F(FormatTest, FollowingEndsOnlyOnTheDrivesAnswer) {
  struct Case {
    std::string preset, keys;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {"dvd+rw-blank", "time=real,fault=51:023A00", 1,
       "zorvane-cli: format: cannot follow the drive: READ DISC INFORMATION: 02/3A/00 MEDIUM NOT "
       "PRESENT\n"},
      {"dvd+rw-blank", "time=real,fail=51", 1,
       "cannot follow the drive: READ DISC INFORMATION: the request to the drive failed\n"},
      {"cdrw-blank", "fail=03", 1, "cannot follow the drive: REQUEST SENSE: the request to"},
      {"dvd-rw-seq", "fault=03:033100", 1, "REQUEST SENSE: 03/31/00"},
      {"dvd+rw-blank", "fault=51:023A00x2", 0,
       "format: the drive did not answer a poll: READ DISC INFORMATION: 02/3A/00"},
      {"cdrw-blank", "fail=03x1", 0, "format: the drive did not answer a poll: REQUEST SENSE"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(StateOf(c.preset));
    const CliRun run = Cli(Spec(c.preset, c.keys), {"format", "--wait"});
    EXPECT_EQ(run.status, c.status) << c.keys << "\n" << run.err;
    EXPECT_CONTAINS(run.err, c.said);
    EXPECT_EQ(run.out.find(kFormatDoneMessage) != std::string::npos, c.status == 0) << c.keys;
  }
}

// The drive's progress on the CLI (each figure it gives, or a line that it gives none);
// the polls never reach the command console, and tracing stays on while they run.
TEST_F(FormatTest, TheDrivesProgressIsShownAndItsPollsStayOutOfTheTrace) {
  CliRun run = Cli(Spec("dvd-rw-seq"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* figure :
       {"format: 0% (the drive's progress)", "format: 50% (the drive's progress)",
        "format: 75% (the drive's progress)"}) {
    EXPECT_CONTAINS(run.err, figure);
  }
  EXPECT_LACKS(run.err, "REQUEST SENSE");
  EXPECT_LACKS(run.err, "READ DISC INFORMATION");
  run = Cli(Spec("dvd+rw-blank"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "format: running, the drive gives no progress figure, 0:0");

  // In the window: the figures on the information console, tracing untouched meanwhile.
  std::filesystem::remove(StateOf("dvd-rw-seq"));
  Fresh(Spec("dvd-rw-seq"));
  ASSERT_TRUE(FormatMedium(window_));
  command_console_.Clear();
  FollowFormat();
  for (int i = 0; i < 2000 && info_console_.Text().find(kFormatDoneMessage) == std::string::npos;
       ++i) {
    EXPECT_EQ(TraceEnabled.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_CONTAINS(info_console_.Text(), "格式化進度 25%\n格式化進度 50%\n格式化進度 75%\n");
  EXPECT_CONTAINS(info_console_.Text(), kFormatDoneMessage);
  EXPECT_EQ(command_console_.Text(), "");
}

TEST_F(FormatTest, RefusalsNameTheirCause) {
  struct Case {
    std::string preset, keys, said;
  };
  const Case cases[] = {
      {"dvd+r", "", "a DVD+R is not formatted here"},
      {"dvd+rw-blank", "fault=04:052600",
       "FORMAT UNIT failed: 05/26/00 INVALID FIELD IN PARAMETER LIST"},
      {"dvd-rw-seq", "fault=23:020401", "READ FORMAT CAPACITIES failed: 02/04/01"},
      {"cdr-blank", "", "the loaded disc is not a rewritable disc that is formatted here"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(Spec(c.preset, c.keys), {"format"});
    EXPECT_EQ(run.status, 1) << c.keys;
    EXPECT_CONTAINS(run.err, "zorvane-cli: format: the drive did not start a format: " + c.said);
  }
}

// Ctrl-C while following a format: the CLI stops following and says the drive goes on.
TEST_F(FormatTest, AStopEndsTheFollowingAndTheDriveGoesOn) {
  const CliRun run =
      CliStoppedAfter(Spec("dvd+rw-blank", "time=real"), {"format", "--wait"}, "FORMAT UNIT");
  EXPECT_EQ(run.status, kExitStopped) << run.err;
  EXPECT_CONTAINS(run.err, "zorvane-cli: format: stopped following the drive");
  EXPECT_CONTAINS(run.err, "the drive goes on formatting the disc\n");
  EXPECT_LACKS(run.out, kFormatDoneMessage);
}

}  // namespace
}  // namespace zorvane::test
