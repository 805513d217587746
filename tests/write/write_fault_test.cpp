// Writes against drives that refuse, stall, lose the link, fill their buffer, are
// cancelled or killed: nothing the drive confirmed is lost, and no failure passes for a
// finished write.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <chrono>
#include <thread>

#include "base/templates.h"
#include "base/utilities.h"
#include "tests/write/write_test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "write/write_dialog.h"

namespace zorvane::test {
namespace {

class WriteFaultTest : public WriteTest {};

TEST_F(WriteFaultTest, AWriteRefusedTwiceEndsWithItsCdbAndSense) {
  MakeImage("a.iso", 2048 * 1000, 1);
  const CliRun run = Write(Spec("cdr-blank", "fault=2A@300:031100x2"), {PathOf("a.iso")});
  EXPECT_EQ(run.status, 1);
  // LBA 300 lies in the chunk of 16 that starts at 288 (120h).
  EXPECT_CONTAINS(run.out, "WRITE Error: 2A 00 00 00 01 20 00 00 10 00\n");
  EXPECT_CONTAINS(run.err, "sense=31100h, ");
  EXPECT_CONTAINS(run.err, "GetLastError was 0\n");
  // The command line names the refused WRITE and its sense in words.
  EXPECT_CONTAINS(run.err,
                  "zorvane-cli: write: WRITE of 16 blocks at LBA 288 failed: sense "
                  "03/11/00 (UNRECOVERED READ ERROR)\n");
  EXPECT_LACKS(run.err, "SYNCHRONIZE CACHE");  // the track stays as written so far
}

TEST_F(WriteFaultTest, AWriteRefusedOnceIsSentAgainAndTheDiscIsWhole) {
  const auto image = MakeImage("a.iso", 2048 * 1000, 2);
  const CliRun run = Write(Spec("cdr-blank", "fault=2A@300:031100x1"), {PathOf("a.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadData(0, 1000), image);
}

TEST_F(WriteFaultTest, ALostRequestIsSentOnceMore) {
  const auto image = MakeImage("a.iso", 2048 * 500, 3);
  CliRun run = Write(Spec("dvd+r", "fail=AAx1"), {PathOf("a.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("dvd+r"));
  EXPECT_EQ(ReadData(0, 500), image);

  std::filesystem::remove(StateOf("dvd+r"));
  run = Write(Spec("dvd+r", "fail=AAx2"), {PathOf("a.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "Write: AA 00 00 00 00 00 00 00 00 1F 00 00\n");
  EXPECT_CONTAINS(run.err, "sense=FFFFFFFFh, ");
}

TEST_F(WriteFaultTest, BusyAnswersAreWaitedOutNotCountedAsWritten) {
  // Long write in progress, operation in progress and becoming ready: none of those
  // WRITEs was carried out, so each is offered again until the drive takes it.
  const auto image = MakeImage("a.iso", 2048 * 2000, 4);
  const CliRun run =
      Write(Spec("dvd+r", "fault=AA@62:020408x40,fault=AA@1000:020407x25,fault=AA@1900:020401x7"),
            {PathOf("a.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("dvd+r"));
  EXPECT_EQ(ReadData(0, 2000), image);

  const auto cd_image = MakeImage("b.iso", 2048 * 400, 5);
  const CliRun cd = Write(Spec("cdr-blank", "fault=2A@100:020408x30"), {PathOf("b.iso")});
  ASSERT_EQ(cd.status, 0) << cd.err;
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadData(0, 400), cd_image);
}

TEST_F(WriteFaultTest, ADriveThatNeverTakesTheWriteEndsItInTime) {
  MakeImage("a.iso", 2048 * 300, 6);
  SetWritePacing(WritePacing{std::chrono::milliseconds(2), std::chrono::milliseconds(300),
                             std::chrono::milliseconds(0)});
  const auto start = std::chrono::steady_clock::now();
  const CliRun run = Write(Spec("dvd+rw", "fault=AA@93:020408"), {PathOf("a.iso")});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "Write: AA 00 00 00 00 5D 00 00 00 1F 00 00\n");
  EXPECT_CONTAINS(run.err, "sense=20408h, ");
}

TEST_F(WriteFaultTest, AFullBufferIsWaitedOut) {
  // In real time the 2 MB buffer fills and drains at the write speed: writes that do not
  // fit are refused with "long write in progress" until there is room.
  const auto image = MakeImage("a.iso", 2048 * 3000, 7);
  const CliRun run = Write(Spec("dvd+rw", "time=real"), {"--speed", "8", PathOf("a.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("dvd+rw"));
  EXPECT_EQ(ReadData(0, 3000), image);
}

TEST_F(WriteFaultTest, CancelSynchronisesAndKeepsWhatTheDriveConfirmed) {
  const auto image = MakeImage("a.iso", 2048 * 1000, 8);
  SetWritePacing(WritePacing{std::chrono::milliseconds(2), std::chrono::milliseconds(20000),
                             std::chrono::milliseconds(0)});
  // The drive stalls at LBA 310 (the chunk of 31 at 310) until the write is cancelled.
  Fresh(Spec("dvd+r", "fault=AA@310:020408"));
  MemoryDialog dialog;
  LoadTemplate(dialog, DvdWriteTemplate());
  auto handler = std::make_shared<WriteDialog>(kDvdWriteDialog);
  handler->OnInit(dialog);
  dialog.SetText(kImagePath, PathOf("a.iso"));
  handler->OnCommand(dialog, kOkButton);
  for (int i = 0; i < 2000 && handler->Job()->sectors_written.load() < 310; ++i) {
    handler->OnTimer(dialog, kUpdateTimer);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(handler->Job()->sectors_written.load(), 310U);
  handler->OnCommand(dialog, kCancelButton);
  EXPECT_EQ(dialog.EndResult(), kCancelButton);
  for (int i = 0; i < 2000 && handler->Job()->Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(handler->Job()->state.load(), WriteState::kCancelled);
  EXPECT_LACKS(command_console_.Text(), "CLOSE TRACK/SESSION");

  // The drive keeps a recording in its state file only once SYNCHRONIZE CACHE confirmed
  // it: a fresh drive finds every sector written before the stall.
  Fresh(Spec("dvd+r"));
  const std::vector<std::uint8_t> expected(image.begin(), image.begin() + 310 * 2048);
  EXPECT_EQ(ReadData(0, 310), expected);
  // The track stays open: the disc is incomplete, its last session not closed.
  std::uint8_t cdb[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
  std::uint8_t info[34] = {};
  ASSERT_EQ(ExecuteOnCurrent(cdb, sizeof info, info, kDataIn, 0), 0);
  EXPECT_EQ(info[2] & 0x03, 0x01);
}

TEST_F(WriteFaultTest, AWriterKilledMidWriteLeavesAReadableDisc) {
  const auto first = MakeImage("first.iso", 2048 * 2000, 9);
  ASSERT_EQ(Write(Spec("dvd+rw"), {PathOf("first.iso")}).status, 0);
  MakeImage("second.iso", 2048 * 40000, 10);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string drive = "d=" + Spec("dvd+rw", "time=real");
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(ZORVANE_CLI_PATH, ZORVANE_CLI_PATH, "--drive", drive.c_str(), "write", "--speed", "8",
            PathOf("second.iso").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

  // The state file holds the disc the drive confirmed last: the first image.
  Fresh(Spec("dvd+rw"));
  EXPECT_EQ(ReadData(0, 2000), first);
  const CliRun toc = Cli(Spec("dvd+rw"), {"capacity"});
  EXPECT_EQ(toc.status, 0);
}

}  // namespace
}  // namespace zorvane::test
