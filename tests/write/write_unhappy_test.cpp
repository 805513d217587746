// Writes off the happy path: images that do not fit, files that are not images, WAVE files
// that are not CD audio, stops, refused end steps, speeds as burners write them. Nothing
// that changes a disc is sent before the image is known to fit, and no failure passes for
// a finished write.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "base/templates.h"
#include "cli/cli_support.h"
#include "tests/write/wave_builder.h"
#include "tests/write/write_test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "write/verify.h"
#include "write/write_dialog.h"

namespace zorvane::test {
namespace {

class UnhappyWriteTest : public WriteTest {
 protected:
  // A file of `sectors` 2048-byte sectors that holds no data blocks (sparse).
  void MakeSparse(const std::string& name, std::uint64_t sectors) {
    const int fd = ::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(sectors * 2048)), 0);
    ::close(fd);
  }
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(PathOf(name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    ASSERT_EQ(std::fclose(file), 0);
  }
  // Nothing that changes a disc was sent (the trace is on standard error).
  static void ExpectDiscUntouched(const CliRun& run) {
    EXPECT_LACKS(run.err, "MODE SELECT");
    EXPECT_LACKS(run.err, "RESERVE TRACK");
    EXPECT_LACKS(run.err, "SYNCHRONIZE CACHE");
    EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
  }
};

TEST_F(UnhappyWriteTest, ImagesThatDoNotFitAreRefusedWithBothFigures) {
  struct Case {
    const char* preset;
    const char* keys;
    const char* start;  // write-at's LBA; null for write
    std::uint64_t sectors;
    const char* refusal;  // null: it fits
  };
  const Case cases[] = {
      // Lead-out at 00:10:00: 600 blocks free; a track takes its two run-out blocks too.
      {"cdr-blank", "leadout=00:10:00", nullptr, 599,
       "The image of 599 sectors with its 2 run-out blocks needs 601 blocks, but the disc has "
       "600."},
      {"cdr-blank", "", nullptr, 360000, "needs 360002 blocks, but the disc has 359849."},
      // DVD tracks end on a whole ECC block of 16.
      {"dvd+r", "blocks=4096", nullptr, 4083, nullptr},
      {"dvd+r", "blocks=4096", nullptr, 4097, "needs 4112 blocks, but the disc has 4096."},
      {"dvd-r", "blocks=8192", nullptr, 8193, "needs 8208 blocks, but the disc has 8192."},
      {"dvd+rw", "", nullptr, 2295105, "needs 2295120 blocks, but the disc has 2295104."},
      {"dvd+rw", "", "2295000", 200,
       "Writing 200 sectors from sector 2295000 needs 2295200 blocks, but the disc has 2295104."},
      {"dvd-ram", "", "2236700", 16, "needs 2236716 blocks, but the disc has 2236704."},
      {"cdrw-mrw", "", "295222", 16, "needs 295238 blocks, but the disc has 295232."},
      {"dvd-rw-ro", "", "2297872", 32, "needs 2297904 blocks, but the disc has 2297888."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.keys + " " + std::to_string(c.sectors));
    std::filesystem::remove(StateOf(c.preset));
    MakeSparse("big.iso", c.sectors);
    const CliRun run = c.start == nullptr
                           ? Write(Spec(c.preset, c.keys), {PathOf("big.iso")})
                           : Cli(Spec(c.preset, c.keys), {"write-at", c.start, PathOf("big.iso")});
    if (c.refusal == nullptr) {
      EXPECT_EQ(run.status, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.out, c.refusal);
    EXPECT_CONTAINS(run.err, c.refusal);
    ExpectDiscUntouched(run);
  }
  // What fits to the last block is written.
  std::filesystem::remove(StateOf("cdr-blank"));
  const auto image = MakeImage("fits.iso", 2048 * 598, 1);
  ASSERT_EQ(Write(Spec("cdr-blank", "leadout=00:10:00"), {PathOf("fits.iso")}).status, 0);
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadData(0, 598), image);
  const auto tail = MakeImage("tail.iso", 2048 * 16, 2);
  ASSERT_EQ(Cli(Spec("dvd+rw"), {"write-at", "2295088", PathOf("tail.iso")}).status, 0);
  Fresh(Spec("dvd+rw"));
  EXPECT_EQ(ReadData(2295088, 16), tail);
}

TEST_F(UnhappyWriteTest, InputsThatAreNotImagesAreRefusedBeforeAnyDriveCommand) {
  std::filesystem::create_directory(PathOf("folder.iso"));
  WriteFile("empty.iso", {});
  struct Input {
    std::string path;
    const char* reason;
  };
  const Input inputs[] = {{PathOf("missing.iso"), ": No such file or directory"},
                          {PathOf("folder.iso"), " is a folder"},
                          {PathOf("empty.iso"), " is empty"},
                          {"/dev/zero", " is not a regular file"}};
  const std::vector<std::vector<std::string>> commands = {
      {"cdr-blank", "write"}, {"dvd+r", "write"}, {"dvd+rw", "write-at", "0"}};
  for (const auto& command : commands) {
    for (const Input& input : inputs) {
      SCOPED_TRACE(command[0] + " " + input.path);
      std::vector<std::string> args(command.begin() + 1, command.end());
      args.push_back(input.path);
      const CliRun run = Cli(Spec(command[0]), args);
      EXPECT_EQ(run.status, 1);
      EXPECT_CONTAINS(run.err, input.path + input.reason);
      ExpectDiscUntouched(run);
    }
  }
}

TEST_F(UnhappyWriteTest, AFifoNeitherHoldsTheCommandNorReachesTheDrive) {
  const std::string fifo = PathOf("pipe.iso");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // In a process of its own: a command that blocked on the FIFO would hang the suite.
  for (const char* command : {"write", "write-at"}) {
    SCOPED_TRACE(command);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string drive = "d=" + Spec(std::string(command) == "write" ? "dvd+r" : "dvd+rw");
      ::dup2(pipe_fds[1], 2);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      if (std::string(command) == "write") {
        ::execl(ZORVANE_CLI_PATH, ZORVANE_CLI_PATH, "--drive", drive.c_str(), command, fifo.c_str(),
                static_cast<char*>(nullptr));
      } else {
        ::execl(ZORVANE_CLI_PATH, ZORVANE_CLI_PATH, "--drive", drive.c_str(), command, "0",
                fifo.c_str(), static_cast<char*>(nullptr));
      }
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 300 && ended == 0; ++i) {
      ended = ::waitpid(child, &status, WNOHANG);
      if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      ::close(pipe_fds[0]);
      FAIL() << command << " still waits on the FIFO after 15 s";
    }
    std::string err;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0;) err.append(chunk, n);
    ::close(pipe_fds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_CONTAINS(err, fifo + " is not a regular file");
    EXPECT_LACKS(err, "SYNCHRONIZE CACHE");
  }

  // The window's worker, given the FIFO without the browse button, ends at once and sends
  // nothing that changes the disc.
  Fresh(Spec("dvd+r"));
  MemoryDialog dialog;
  LoadTemplate(dialog, DvdWriteTemplate());
  auto handler = std::make_shared<WriteDialog>(kDvdWriteDialog);
  handler->OnInit(dialog);
  dialog.SetText(kImagePath, fifo);
  handler->OnCommand(dialog, kOkButton);
  for (int i = 0; i < 2000 && handler->Job()->Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  handler->OnTimer(dialog, kUpdateTimer);
  EXPECT_EQ(handler->Job()->state.load(), WriteState::kFailed);
  EXPECT_TRUE(dialog.IsEnabled(kOkButton));
  EXPECT_LACKS(command_console_.Text(), "SYNCHRONIZE CACHE");
  EXPECT_LACKS(command_console_.Text(), "CLOSE TRACK/SESSION");
}

TEST_F(UnhappyWriteTest, WaveFilesBurnOnlyTheirSamplesAndOthersAreRefused) {
  std::vector<std::uint8_t> samples = MakeImage("samples.raw", 2352 * 20 + 100, 3);
  WriteFile("song.wav", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)),
                              Chunk("LIST", std::vector<std::uint8_t>(33, 'i')),
                              Chunk("data", samples), Chunk("id3 ", {1, 2, 3})}));
  CliRun run = Write(Spec("cdr-blank"), {PathOf("song.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  // The last sector is completed with zeros, and the console says so.
  EXPECT_CONTAINS(run.out, "2252 zero bytes were added");
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadCd(0, 21, 1, 2352), Padded(samples, 2352));

  struct Refused {
    std::vector<std::uint8_t> file;
    const char* holds;
  };
  const std::vector<std::uint8_t> some(2352 * 4, 1);
  const Refused refused[] = {
      {Wave({Chunk("fmt ", Fmt(1, 1, 44100, 16)), Chunk("data", some)}), "holds 16-bit mono PCM"},
      {Wave({Chunk("fmt ", Fmt(1, 2, 48000, 16)), Chunk("data", some)}), "at 48000 Hz"},
      {Wave({Chunk("fmt ", Fmt(1, 2, 44100, 8)), Chunk("data", some)}), "holds 8-bit stereo"},
      {Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", some)}, "RIFX"), "RIFX"},
      {Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", {})}), "empty data chunk"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.holds);
    std::filesystem::remove(StateOf("cdr-blank"));
    WriteFile("bad.wav", r.file);
    run = Write(Spec("cdr-blank"), {PathOf("bad.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.err, PathOf("bad.wav") + " holds ");
    EXPECT_CONTAINS(run.err, r.holds);
    ExpectDiscUntouched(run);
  }
}

TEST_F(UnhappyWriteTest, ImagesEndingInsideASectorArePaddedAndTheConsoleSaysHowMuch) {
  struct Case {
    const char* preset;
    const char* command;
    std::size_t bytes;
    const char* line;
  };
  const Case cases[] = {
      {"dvd+r", "write", 2048 * 100 + 100, "1948 zero bytes were added"},
      {"cdr-blank", "write", 2048 * 300 + 1, "2047 zero bytes were added"},
      {"dvd+rw", "write-at", 2048 * 40 + 2047, "1 zero bytes were added"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.preset);
    const auto image = MakeImage("odd.iso", c.bytes, 4);
    std::vector<std::string> args = {c.command};
    if (std::string(c.command) == "write-at") args.push_back("64");
    args.push_back(PathOf("odd.iso"));
    const CliRun run = Cli(Spec(c.preset), args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_CONTAINS(run.out, c.line);
    Fresh(Spec(c.preset));
    const auto padded = Padded(image, 2048);
    const std::uint32_t start = std::string(c.command) == "write-at" ? 64 : 0;
    EXPECT_EQ(ReadData(start, static_cast<std::uint32_t>(padded.size() / 2048)), padded);
  }
}

TEST_F(UnhappyWriteTest, WriteAtOnAPlainCdRwIsRefusedAsTheWindowRefusesIt) {
  MakeImage("a.iso", 2048 * 100, 5);
  const CliRun run = Cli(Spec("cdrw-blank"), {"write-at", "0", PathOf("a.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n");
  EXPECT_CONTAINS(run.err, "is not written at addresses");
  ExpectDiscUntouched(run);
  // The disc is still blank.
  Fresh(Spec("cdrw-blank"));
  std::uint8_t cdb[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
  std::uint8_t info[34] = {};
  ASSERT_EQ(ExecuteOnCurrent(cdb, sizeof info, info, kDataIn, 0), 0);
  EXPECT_EQ(info[2] & 0x03, 0x00);
}

TEST_F(UnhappyWriteTest, StopRequestsEndTheWriteBeforeItsNextWriteAndKeepWhatWasTaken) {
  SetWritePacing(WritePacing{std::chrono::milliseconds(2), std::chrono::milliseconds(20000),
                             std::chrono::milliseconds(0)});
  struct Case {
    const char* preset;
    const char* keys;  // the drive stays busy at the block where the stop comes
    const char* start;
    std::uint32_t stopped_after;
    const char* verify_line = nullptr;  // the stop comes while the sectors are read back
  };
  const Case cases[] = {
      {"dvd+r", "fault=AA@310:020408", nullptr, 310},
      {"cdr-blank", "fault=2A@160:020408", nullptr, 160},
      {"dvd-ram", "fault=2A@1064:020408", "1000", 64},
      {"dvd-ram", "fault=28@1500:020407", "1000", 1000, "verify stopped after 496 of 1000 sectors"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.preset);
    const auto image = MakeImage("a.iso", 2048 * 1000, 6);
    std::atomic<bool> done{false};
    // The drive stays busy at the stop's block for up to 20 s; the stop comes well after
    // the write reached it, however slowly a loaded machine prepared the write.
    std::thread stopper([&done] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2000));
      while (!done.load()) {
        RequestStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    std::vector<std::string> args = {"write-at", c.start == nullptr ? "" : c.start,
                                     PathOf("a.iso")};
    if (c.verify_line != nullptr) args.insert(args.begin() + 1, "--verify");
    const auto began = std::chrono::steady_clock::now();
    const CliRun run = c.start == nullptr ? Write(Spec(c.preset, c.keys), {PathOf("a.iso")})
                                          : Cli(Spec(c.preset, c.keys), args);
    done = true;
    stopper.join();
    ClearStopRequest();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_CONTAINS(run.err, "stopped after " + std::to_string(c.stopped_after) + " sectors\n");
    if (c.verify_line != nullptr) {
      EXPECT_CONTAINS(run.err, c.verify_line);
    }
    EXPECT_CONTAINS(run.err, "SYNCHRONIZE CACHE");
    EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
    // The tray, locked for the write, is unlocked after the stop's end step.
    const std::size_t unlock = run.err.rfind("MEDIUM REMOVAL  1E 00 00 00 00 00");
    EXPECT_NE(unlock, std::string::npos);
    EXPECT_GT(unlock, run.err.rfind("SYNCHRONIZE CACHE"));
    // What the drive took before the stop is on the disc.
    Fresh(Spec(c.preset));
    const std::uint32_t start = c.start == nullptr ? 0 : 1000;
    const std::vector<std::uint8_t> expected(image.begin(), image.begin() + c.stopped_after * 2048);
    EXPECT_EQ(ReadData(start, c.stopped_after), expected);
  }
}

TEST_F(UnhappyWriteTest, ARefusedEndStepFailsTheWriteAndSaysWhich) {
  struct Case {
    const char* preset;
    const char* keys;
    std::vector<std::string> args;
    const char* step;
  };
  const Case cases[] = {
      {"cdr-blank", "fault=35:030C00", {"write"}, "SYNCHRONIZE CACHE failed: sense 03/0C/00"},
      {"cdr-blank",
       "fault=5B:052C00",
       {"write", "--close", "session"},
       "CLOSE SESSION failed: sense 05/2C/00"},
      {"dvd+r", "fault=5B:030C00", {"write"}, "CLOSE SESSION failed: sense 03/0C/00"},
      {"dvd+rw", "fault=35:030C00", {"write"}, "SYNCHRONIZE CACHE failed: sense 03/0C/00"},
      {"dvd-ram", "fault=35:030C00", {"write-at", "32"}, "SYNCHRONIZE CACHE failed"},
  };
  MakeImage("a.iso", 2048 * 64, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.keys);
    std::vector<std::string> args = c.args;
    args.push_back(PathOf("a.iso"));
    const CliRun run = Cli(Spec(c.preset, c.keys), args);
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.err, std::string("zorvane-cli: ") + c.args[0] + ": " + c.step);
    EXPECT_CONTAINS(run.out, c.step);
    EXPECT_LACKS(run.err, "not written completely");
  }

  // The window: the failure in the message line and the information console, and the
  // dialog does not look finished.
  Fresh(Spec("dvd+r", "fault=5B:030C00"));
  MemoryDialog dialog;
  LoadTemplate(dialog, DvdWriteTemplate());
  auto handler = std::make_shared<WriteDialog>(kDvdWriteDialog);
  handler->OnInit(dialog);
  dialog.SetText(kImagePath, PathOf("a.iso"));
  handler->OnCommand(dialog, kOkButton);
  for (int i = 0; i < 2000 && handler->Job()->Running(); ++i) {
    handler->OnTimer(dialog, kUpdateTimer);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  handler->OnTimer(dialog, kUpdateTimer);
  EXPECT_EQ(handler->Job()->state.load(), WriteState::kFailed);
  EXPECT_NE(dialog.Text(kCancelButton), "結束(&X)");
  EXPECT_FALSE(dialog.IsEnabled(kOkButton));
  EXPECT_CONTAINS(dialog.Text(kFileMessage), "CLOSE SESSION failed: sense 03/0C/00");
  EXPECT_CONTAINS(info_console_.Text(), "關閉節區失敗.\n");
  EXPECT_CONTAINS(info_console_.Text(), "CLOSE SESSION failed: sense 03/0C/00");

  // A cue sheet written session at once whose read-back differs does not look finished
  // either: the captions wait for the verify.
  MakeImage("d.bin", 2048 * 300, 8);
  const std::string cue = "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n";
  WriteFile("d.cue", std::vector<std::uint8_t>(cue.begin(), cue.end()));
  ::unlink(StateOf("cdr-blank").c_str());  // the disc the cases above wrote
  Fresh(Spec("cdr-blank", "alter=7"));
  MemoryDialog cd;
  LoadTemplate(cd, CdWriteTemplate());
  auto cd_handler = std::make_shared<WriteDialog>(kCdWriteDialog);
  cd_handler->OnInit(cd);
  cd.SetText(kImagePath, PathOf("d.cue"));
  cd.SetChecked(kVerifyAfterWrite, true);
  cd_handler->OnCommand(cd, kOkButton);
  for (int i = 0; i < 2000 && cd_handler->Job()->Running(); ++i) {
    cd_handler->OnTimer(cd, kUpdateTimer);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  cd_handler->OnTimer(cd, kUpdateTimer);
  EXPECT_EQ(cd_handler->Job()->state.load(), WriteState::kFailed);
  EXPECT_NE(cd.Text(kCancelButton), "結束(&X)");
  EXPECT_CONTAINS(cd.Text(kFileMessage), "verify: 1 of 300 sectors differ; the first is LBA 7");
}

TEST_F(UnhappyWriteTest, VerifyComparesEverySectorAndNamesTheFirstThatDiffers) {
  // The image ends inside a sector: its zero pad is compared as well.
  MakeImage("a.iso", 2048 * 100 + 5, 11);
  MakeImage("a.md2", 2336 * 40, 12);
  WriteFile("a.wav", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)),
                           Chunk("data", MakeImage("samples.raw", 2352 * 30, 13))}));
  struct Case {
    const char* preset;
    const char* keys;  // alter=LBA: the drive returns that sector's data altered
    std::vector<std::string> args;
    const char* image;
    const char* line;  // null: no verify asked
  };
  const Case cases[] = {
      {"cdr-blank", "", {"write", "--verify"}, "a.iso", "verify: 0 of 101 sectors differ"},
      {"cdr-blank",
       "alter=7,alter=90",
       {"write", "--verify"},
       "a.iso",
       "verify: 2 of 101 sectors differ; the first is LBA 7, byte 100"},
      {"cdr-blank",
       "alter=3",
       {"write", "--verify"},
       "a.wav",
       "verify: 1 of 30 sectors differ; the first is LBA 3, byte 100"},
      {"cdr-blank",
       "alter=39",
       {"write", "--verify"},
       "a.md2",
       "verify: 1 of 40 sectors differ; the first is LBA 39, byte 100"},
      {"dvd-r",
       "alter=100",
       {"write", "--verify"},
       "a.iso",
       "verify: 1 of 101 sectors differ; the first is LBA 100, byte 100"},
      {"dvd+rw",
       "alter=132",
       {"write-at", "--verify", "32"},
       "a.iso",
       "verify: 1 of 101 sectors differ; the first is LBA 132, byte 100"},
      {"cdr-blank", "alter=7", {"write"}, "a.iso", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.keys + " " + c.image);
    std::filesystem::remove(StateOf(c.preset));
    std::vector<std::string> args = c.args;
    args.push_back(PathOf(c.image));
    const CliRun run = Cli(Spec(c.preset, c.keys), args);
    if (c.line == nullptr) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_LACKS(run.out, "verify");
      continue;
    }
    const bool same = std::string(c.keys).empty();
    EXPECT_EQ(run.status, same ? 0 : 1) << run.err;
    EXPECT_CONTAINS(run.out, std::string(c.line) + "\n");
    if (!same) {
      EXPECT_CONTAINS(run.err, "zorvane-cli: " + c.args[0] + ": " + c.line + "\n");
    }
  }
}

TEST_F(UnhappyWriteTest, ATestWriteRecordsNothingAndIsRefusedWhereTheDiscHasNone) {
  MakeImage("a.iso", 2048 * 400, 14);
  struct Case {
    const char* preset;
    const char* keys;
    const char* refusal;  // null: the drive simulates the write
  };
  const Case cases[] = {
      {"cdr-blank", "", nullptr},
      {"cdrw-blank", "", nullptr},
      {"dvd-r", "", nullptr},
      {"dvd-rw-seq", "", nullptr},
      {"dvd+r", "", "test write refused: the disc (DVD+R) has no test write"},
      {"dvd+rw", "", "test write refused: the disc (DVD+RW) has no test write"},
      {"cdr-blank", "quirk=notestwrite",
       "test write refused: the drive's capabilities page (2Ah) offers no test write on CD-R"},
      {"dvd-r", "quirk=notestwrite",
       "test write refused: the drive's capabilities page (2Ah) offers no test write on DVD-R"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.keys);
    std::filesystem::remove(StateOf(c.preset));
    const CliRun run = Write(Spec(c.preset, c.keys), {"--dummy", PathOf("a.iso")});
    if (c.refusal != nullptr) {
      EXPECT_EQ(run.status, 1);
      EXPECT_CONTAINS(run.err, std::string("zorvane-cli: write: ") + c.refusal);
      ExpectDiscUntouched(run);
      continue;
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_CONTAINS(run.out, kTestWriteLine);
    EXPECT_LACKS(run.err, "RESERVE TRACK");
    EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
    // A fresh drive finds the disc blank.
    Fresh(Spec(c.preset));
    std::uint8_t cdb[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
    std::uint8_t info[34] = {};
    ASSERT_EQ(ExecuteOnCurrent(cdb, sizeof info, info, kDataIn, 0), 0);
    EXPECT_EQ(info[2] & 0x03, 0x00);
  }
  EXPECT_EQ(Write(Spec("cdr-blank"), {"--dummy", "--verify", PathOf("a.iso")}).status, 2);
}

TEST_F(UnhappyWriteTest, SpeedIsASpeedAsBurnersWriteIt) {
  MakeImage("a.iso", 2048 * 32, 8);
  struct Case {
    const char* preset;
    const char* asked;
    const char* chosen;  // null: usage error
  };
  const Case cases[] = {
      {"dvd+r", "4", "write speed  4.0x"},       {"dvd+r", "5x", "write speed  4.0x"},
      {"dvd+r", "8.0x", "write speed  8.0x"},    {"dvd+r", "1", nullptr},
      {"cdr-blank", "16X", "write speed 16.0x"}, {"cdr-blank", "4x4", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.asked);
    std::filesystem::remove(StateOf(c.preset));
    const CliRun run = Write(Spec(c.preset), {"--speed", c.asked, PathOf("a.iso")});
    if (c.chosen == nullptr) {
      EXPECT_EQ(run.status, 2);
      continue;
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_CONTAINS(run.out, c.chosen);
  }
}

}  // namespace
}  // namespace zorvane::test
