// Erasing and formatting: every blanking type on a CD-RW with two sessions, the refusals,
// the FORMAT UNIT list per medium, and following a format to its end.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <thread>

#include "base/utilities.h"
#include "tests/write/write_test_support.h"
#include "transport/discovery.h"
#include "write/erase_dialog.h"
#include "write/format.h"
#include "write/write_dialog.h"

namespace zorvane::test {
namespace {

class EraseTest : public WriteTest {
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
    EXPECT_CONTAINS(run.err, std::string("BLANK  A1 0") + (type[0] == 'f' ? "0" : "1"));
    Fresh(Spec("cdrw-blank"));
    EXPECT_EQ(DiscInformation()[2] & 0x03, 0x00) << type;  // empty disc
  }
}

TEST_F(EraseTest, UncloseReopensTheLastSessionAndSessionEraseRemovesIt) {
  WriteTwoSessions();
  CliRun run = Cli(Spec("cdrw-blank"), {"erase", "--type", "unclose"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "BLANK  A1 05 00 00 00 00 00 00 00 00 00 00");
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
                  "BLANK  A1 05 00 00 00 00 00 00 00 00 00 00\n"
                  "SK/ASC/ASCQ=53006h, ");
  bool seen = false;
  for (const auto& request : drive->Requests()) {
    if (request.cdb[0] != 0xA1) continue;
    seen = true;
    EXPECT_GE(request.timeout_seconds, 4800U);  // a full blank of a CD-RW at 1x
  }
  EXPECT_TRUE(seen);
}

class FormatTest : public WriteTest {
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
  const auto start = std::chrono::steady_clock::now();
  const CliRun run = Cli(Spec("dvd+rw-blank", "time=real,blocks=20000"), {"format", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, kFormatDoneMessage);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
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

}  // namespace
}  // namespace zorvane::test
