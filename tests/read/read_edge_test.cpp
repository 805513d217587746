// The edges of a read: the method per medium and mode, ranges at and past their ends,
// failing commands, Cancel, the clock, and a file system that takes no more.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include "base/cdtext.h"
#include "info/toc.h"
#include "read/disc_read.h"
#include "tests/read/read_test_support.h"
#include "transport/discovery.h"
#include "transport/scripted_backend.h"

namespace zorvane::test {
namespace {

using ReadEdgeTest = ReadTest;

// One read command as the drive saw it.
struct ReadCall {
  std::uint8_t opcode;
  std::uint8_t byte1;
  std::uint32_t lba;
  unsigned count;
  bool operator==(const ReadCall&) const = default;
};

// The read commands expected from `first` to `last`, `per_command` at a time until fewer
// than 150 sectors remain.
std::vector<ReadCall> Expected(std::uint8_t opcode, std::uint8_t byte1, std::uint32_t first,
                               std::uint32_t last, unsigned per_command) {
  std::vector<ReadCall> calls;
  unsigned n = per_command;
  for (std::uint32_t p = first; p <= last;) {
    if (last - p < 150) n = 1;
    calls.push_back({opcode, byte1, p, n});
    p += n;
  }
  return calls;
}

// A drive that answers every read with zeros and records it, with `medium_type` in its mode
// header.
class ScriptedReadTest : public ReadTest {
 protected:
  void Load(std::uint8_t medium_type) {
    CloseAllDevices();
    drive_ = Attach(0);
    drive_->SetDefault({{}, 0, 0});
    drive_->On({0x12}, {InquiryData("ZORVANE", "SCRIPTED", "1.0"), 0, 0});
    drive_->On({0x5A}, {ModeSenseData(medium_type), 0, 0});
    drive_->On({0x46}, {ProfileList(medium_type >= 0x41 ? 0x10 : 0x08, {0x08, 0x10}), 0, 0});
    drive_->On({0x25}, {{0, 0, 0x10, 0, 0, 0, 8, 0}, 0, 0});
    DiscoverDevices();
    SelectDevice(DeviceTable[0]);
  }
  std::vector<ReadCall> Reads() const {
    std::vector<ReadCall> calls;
    for (const auto& record : drive_->Requests()) {
      const auto& c = record.cdb;
      if (c[0] != 0xA8 && c[0] != 0xBE) continue;
      const std::uint32_t lba =
          static_cast<std::uint32_t>(c[2] << 24 | c[3] << 16 | c[4] << 8 | c[5]);
      const unsigned count = c[0] == 0xA8 ? (c[6] << 24 | c[7] << 16 | c[8] << 8 | c[9])
                                          : (c[6] << 16 | c[7] << 8 | c[8]);
      if (c[0] == 0xBE) {
        EXPECT_EQ(c[9], 0x10) << "READ CD asks for user data only";
      }
      // The data phase is what the command asks for.
      const unsigned size = c[0] == 0xA8 ? 2048 : c[1] == 0x04 ? 2352 : 2336;
      const unsigned count_field = c[0] == 0xA8 ? c[9] : c[8];
      EXPECT_EQ(record.transfer_length, count_field * size);
      EXPECT_EQ(record.direction, kDataIn);
      calls.push_back({c[0], c[1], lba, count});
    }
    return calls;
  }
  // Runs one read of `first`..`last` with the mode display `mode` and file `name`.
  ReadOutcome ReadWith(bool dvd, const std::string& mode, const std::string& name,
                       std::uint32_t first, std::uint32_t last) {
    TrackList.Clear();
    TrackList.Set(0, TrackEntry{1, 0x14, 0, 400000});
    OpenDialogOf(dvd ? ReadDialog::Kind::kDvd : ReadDialog::Kind::kCd);
    dialog_.SetText(kReadMode, mode);
    Fill(std::to_string(first), std::to_string(last), Path(name));
    drive_->ClearRecords();
    return RunToEnd();
  }
  std::shared_ptr<ScriptedDrive> drive_;
};

TEST_F(ScriptedReadTest, EachMediumAndModeHasItsCommandAndSize) {
  Load(0x41);  // DVD family: READ(12) 31 at a time, whatever the name and mode
  EXPECT_EQ(ReadWith(true, "10h\n", "dvd.md2", 0, 400), ReadOutcome::kFinished);
  EXPECT_EQ(Reads(), Expected(0xA8, 0x00, 0, 400, 31));
  EXPECT_EQ(FileBytes(Path("dvd.md2")).size(), 401u * 2048);

  Load(0x01);  // CD data track
  EXPECT_EQ(ReadWith(false, "14h\n", "data.iso", 1000, 1400), ReadOutcome::kFinished);
  EXPECT_EQ(Reads(), Expected(0xA8, 0x00, 1000, 1400, 30));
  EXPECT_EQ(FileBytes(Path("data.iso")).size(), 401u * 2048);

  // A name ending in md2 wins over any mode on a CD.
  EXPECT_EQ(ReadWith(false, "10h\n", "any.Md2", 0, 400), ReadOutcome::kFinished);
  EXPECT_EQ(Reads(), Expected(0xBE, 0x0C, 0, 400, 25));
  EXPECT_EQ(FileBytes(Path("any.Md2")).size(), 401u * 2336);

  // The mode display is the ADR/control byte in hexadecimal: control bit 2 clear is audio,
  // with or without the copy-permitted (12h, 13h) and pre-emphasis (11h) bits.
  for (const char* mode : {"10h\n", "00h\n", "11h\n", "12h\n", "13h\n"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(ReadWith(false, mode, "audio.iso", 0, 400), ReadOutcome::kFinished);
    EXPECT_EQ(Reads(), Expected(0xBE, 0x04, 0, 400, 25));
    EXPECT_EQ(FileBytes(Path("audio.iso")).size(), 44u + 401 * 2352);
  }
  // Bit 2 set: data, whether recorded incrementally (15h) or copy-permitted (16h, 17h).
  for (const char* mode : {"15h\n", "16h\n", "17h\n", "04h\n"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(ReadWith(false, mode, "data.iso", 0, 400), ReadOutcome::kFinished);
    EXPECT_EQ(Reads(), Expected(0xA8, 0x00, 0, 400, 30));
    EXPECT_EQ(FileBytes(Path("data.iso")).size(), 401u * 2048);
  }
}

TEST_F(ScriptedReadTest, TheLastHundredAndFiftySectorsGoOneAtATime) {
  Load(0x01);
  // 149 and 150 sectors between start and end.
  EXPECT_EQ(ReadWith(false, "14h\n", "a.iso", 500, 649), ReadOutcome::kFinished);
  EXPECT_EQ(Reads(), Expected(0xA8, 0x00, 500, 649, 1));
  EXPECT_EQ(Reads().size(), 150u);
  EXPECT_EQ(ReadWith(false, "14h\n", "b.iso", 500, 650), ReadOutcome::kFinished);
  EXPECT_EQ(Reads().front(), (ReadCall{0xA8, 0x00, 500, 30}));
  EXPECT_EQ(Reads().size(), 1u + 121);
  // Start equal to end: the one sector.
  EXPECT_EQ(ReadWith(false, "14h\n", "c.iso", 77, 77), ReadOutcome::kFinished);
  EXPECT_EQ(Reads(), (std::vector<ReadCall>{{0xA8, 0x00, 77, 1}}));
  EXPECT_EQ(dialog_.Text(kSectorReached), "    78\n");
}

// A drive that sends less than the command asked for leaves zeros in the file, never the
// bytes of an earlier command (the buffers go round).
TEST_F(ScriptedReadTest, AShortAnswerLeavesZerosNotAnEarlierCommandsBytes) {
  Load(0x01);
  drive_->On({0xA8}, {std::vector<std::uint8_t>(30 * 2048, 0xAA), 0, 0}, 5);
  EXPECT_EQ(ReadWith(false, "14h\n", "short.iso", 0, 599), ReadOutcome::kFinished);
  const std::vector<std::uint8_t> data = FileBytes(Path("short.iso"));
  ASSERT_EQ(data.size(), 600u * 2048);
  EXPECT_EQ(std::count(data.begin(), data.end(), 0xAA), 5 * 30 * 2048);
  EXPECT_TRUE(std::all_of(data.begin() + 5 * 30 * 2048, data.end(),
                          [](std::uint8_t byte) { return byte == 0; }));
}

// A range that holds no sector (start above end, or a negative start) is refused with a
// message before anything is opened or sent: an existing file keeps its bytes.
TEST_F(ScriptedReadTest, ARangeWithoutSectorsIsRefusedBeforeAnythingIsOpened) {
  struct Case {
    bool dvd;
    const char* mode;
    const char* first;
    const char* last;
    const char* text;
  };
  for (const Case& c : {Case{false, "14h\n", "500", "100", "起始碟區 500 大於結束碟區 100"},
                        Case{false, "10h\n", "101", "100", "起始碟區 101 大於結束碟區 100"},
                        Case{true, "14h\n", "2298495", "7", "起始碟區 2298495 大於結束碟區 7"},
                        Case{false, "14h\n", "-5", "100", "起始碟區 -5 不可小於 0"}}) {
    SCOPED_TRACE(std::string(c.first) + " to " + c.last);
    Load(c.dvd ? 0x41 : 0x01);
    TrackList.Clear();
    TrackList.Set(0, TrackEntry{1, 0x14, 0, 400000});
    OpenDialogOf(c.dvd ? ReadDialog::Kind::kDvd : ReadDialog::Kind::kCd);
    dialog_.SetText(kReadMode, c.mode);
    const std::string out = Path("kept.iso");
    const std::vector<std::uint8_t> old(3000, 0x5A);
    {
      FILE* file = std::fopen(out.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      std::fwrite(old.data(), 1, old.size(), file);
      std::fclose(file);
    }
    Fill(c.first, c.last, out);
    drive_->ClearRecords();
    const int shown = messages_.Count();
    handler_->OnCommand(dialog_, kOkButton);
    EXPECT_EQ(handler_->Job(), nullptr);
    EXPECT_EQ(messages_.Count(), shown + 1);
    EXPECT_NE(messages_.Text().find(c.text), std::string::npos) << messages_.Text();
    EXPECT_TRUE(drive_->Requests().empty());
    EXPECT_EQ(FileBytes(out), old);
    EXPECT_TRUE(dialog_.IsEnabled(kOkButton));
    EXPECT_FALSE(dialog_.TimerRunning(kRefreshTimer));
    EXPECT_EQ(dialog_.ProgressPosition(kReadProgress), 0);
  }
}

// The worker's early ends: no disc, READ CAPACITY refused, a file that cannot be created.
TEST_F(ScriptedReadTest, EarlyEndsLeaveTheDialogAsTheyShould) {
  Load(0x01);
  drive_->On({0x5A}, {{}, 0x023A01, 0});  // the disc is gone
  EXPECT_EQ(ReadWith(false, "14h\n", "gone.iso", 0, 10), ReadOutcome::kFailed);
  EXPECT_FALSE(FileExists(Path("gone.iso")));
  EXPECT_FALSE(dialog_.IsEnabled(kOkButton));
  EXPECT_TRUE(window_.IsEnabled(kReadButton));
  EXPECT_EQ(handler_->Job()->Reason(), "no disc in the drive");

  Load(0x01);
  drive_->On({0x25}, {{}, 0x020401, 0});
  EXPECT_EQ(ReadWith(false, "14h\n", "cap.iso", 0, 10), ReadOutcome::kFailed);
  EXPECT_FALSE(FileExists(Path("cap.iso")));
  EXPECT_FALSE(dialog_.IsEnabled(kOkButton));
  EXPECT_FALSE(dialog_.TimerRunning(kClockTimer));

  Load(0x01);
  EXPECT_EQ(ReadWith(false, "14h\n", "no/such/dir.iso", 0, 10), ReadOutcome::kNotOpened);
  EXPECT_NE(InfoText().find("檔案 " + Path("no/such/dir.iso") + " 無法被開啟, errorcode=2\n"),
            std::string::npos);
  EXPECT_TRUE(dialog_.IsEnabled(kOkButton));
  EXPECT_EQ(dialog_.Text(kCancelButton), "取消(&C)");
  EXPECT_TRUE(Reads().empty());
}

// The clock: ticks count seconds; speeds are sectors per second over 75 (CD) and over
// 692.5 with the CD figure in brackets (DVD); nothing moves while the sector stands still.
TEST_F(ScriptedReadTest, TheClockShowsSpeedsInTheDialogsUnits) {
  for (bool dvd : {false, true}) {
    SCOPED_TRACE(dvd ? "DVD" : "CD");
    Load(dvd ? 0x41 : 0x01);
    TrackList.Clear();
    TrackList.Set(0, TrackEntry{1, 0x14, 0, 400000});
    OpenDialogOf(dvd ? ReadDialog::Kind::kDvd : ReadDialog::Kind::kCd);
    // 1385 sectors: DVD 2x, CD 18.47x in one second.
    Fill("1000", "2384", Path("clock.iso"));
    handler_->OnCommand(dialog_, kOkButton);
    EXPECT_TRUE(dialog_.TimerRunning(kClockTimer));
    EXPECT_FALSE(dialog_.IsEnabled(kOkButton));
    EXPECT_EQ(WaitForWorker(), ReadOutcome::kFinished);
    handler_->OnTimer(dialog_, kClockTimer);
    const std::string speed = dvd ? "2.00(18.47)\n" : "18.47\n";
    EXPECT_EQ(dialog_.Text(kElapsedTime), "00:01\n");
    EXPECT_EQ(dialog_.Text(kCurrentSpeed), speed);
    EXPECT_EQ(dialog_.Text(kHighestSpeed), speed);
    EXPECT_EQ(dialog_.Text(kAverageSpeed), speed);
    handler_->OnTimer(dialog_, kClockTimer);  // no progress: nothing changes
    EXPECT_EQ(dialog_.Text(kElapsedTime), "00:01\n");
    EXPECT_EQ(dialog_.Text(kCurrentSpeed), speed);
    EXPECT_EQ(WaitForEnd(), ReadOutcome::kFinished);
  }
}

// Failing commands on virtual discs.
TEST_F(ReadEdgeTest, CdDataReadGoesOnOneSectorAtATimeAfterAFirstFailure) {
  Insert("cdrom,fault=A8@40:031100x1");
  ASSERT_TRUE(OpenDialog());
  Fill("0", "999", Path("once.iso"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  std::string why;
  EXPECT_TRUE(HoldsPatternBlocks(FileBytes(Path("once.iso")), 0, 0, 1000, &why)) << why;
  EXPECT_EQ(InfoText().find("Error"), std::string::npos);
}

TEST_F(ReadEdgeTest, ASecondCdFailureEndsTheReadWithTheMethodsMessage) {
  Insert("cdrom,fault=A8@40:031100");
  ASSERT_TRUE(OpenDialog());
  Fill("0", "999", Path("twice.iso"));
  const std::size_t info_before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(info_before),
            "Read12 Command Error.\nkept 40 sectors in " + Path("twice.iso.part") + "\n");
  // The failing command, sent once more with tracing on.
  EXPECT_NE(CommandText().find("A8 00 00 00 00 28 00 00 00 01 00 00"), std::string::npos);
  std::string why;
  EXPECT_FALSE(FileExists(Path("twice.iso")));
  const std::vector<std::uint8_t> data = FileBytes(Path("twice.iso.part"));
  EXPECT_EQ(data.size(), 40u * 2048);
  EXPECT_TRUE(HoldsPatternBlocks(data, 0, 0, 40, &why)) << why;
  EXPECT_FALSE(dialog_.IsEnabled(kOkButton));
  EXPECT_EQ(dialog_.Text(kCancelButton), "取消(&C)");
  EXPECT_TRUE(window_.IsEnabled(kReadButton));
  EXPECT_FALSE(dialog_.TimerRunning(kClockTimer));
  EXPECT_EQ(TraceEnabled.load(), 1);

  // Mode 2 on a Mode 1 track (no CD-ROM XA sector either) fails at the first command and
  // again one sector later; nothing read, nothing kept.
  Fill("0", "999", Path("mode1.md2"));
  const std::size_t before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(before), "ReadCD Command Error.\n");
  EXPECT_FALSE(FileExists(Path("mode1.md2")));
  EXPECT_FALSE(FileExists(Path("mode1.md2.part")));
}

TEST_F(ReadEdgeTest, DvdReadEndsAtItsFirstFailureAndIsQuietInTheTail) {
  Insert("dvdrom,fault=A8@1000:031100");
  ASSERT_TRUE(OpenDialog());
  Fill("0", "5000", Path("dvd.iso"));
  std::size_t before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(before),
            "Read12 Command Error.\nkept 992 sectors in " + Path("dvd.iso.part") + "\n");
  EXPECT_EQ(FileBytes(Path("dvd.iso.part")).size(), 992u * 2048);  // 32 commands of 31
  EXPECT_EQ(handler_->Job()->Reason(),
            "read failed at sector 992: the drive refused READ12 (SK/ASC/ASCQ=31100h, "
            "UNRECOVERED READ ERROR)");

  // Failing within the last 150 sectors: the command is traced, no error line is logged.
  Fill("0", "1100", Path("tail.iso"));
  before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(before), "kept 1000 sectors in " + Path("tail.iso.part") + "\n");
  EXPECT_EQ(FileBytes(Path("tail.iso.part")).size(), 1000u * 2048);
  EXPECT_NE(CommandText().find("A8 00 00 00 03 E8 00 00 00 01 00 00"), std::string::npos);
}

TEST_F(ReadEdgeTest, AudioFailuresAreLoggedWithTheirCommandAndTheWaveStaysValid) {
  Insert("cdda,fault=BE@500:031100");
  ASSERT_TRUE(OpenDialog());
  Fill("0", "1000", Path("cut.wav"));
  const std::size_t before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(before),
            "ReadCD Error: BE 04 00 00 01 F4 00 00 19 10 00 00 \n"
            "ReadCD Error: BE 04 00 00 01 F4 00 00 01 10 00 00 \n"
            "ReadCDDA Command Error.\nkept 500 sectors in " +
                Path("cut.wav.part") + "\n");
  const std::vector<std::uint8_t> wave = FileBytes(Path("cut.wav.part"));
  ASSERT_EQ(wave.size(), 44u + 500 * 2352);
  EXPECT_EQ(Le32(wave, 4), 500u * 2352 + 36);  // the lengths of what the file holds
  EXPECT_EQ(Le32(wave, 40), 500u * 2352);

  // Within the last 150 sectors the end is not logged.
  Fill("0", "149", Path("tail.wav"));
  const std::size_t tail_before = InfoText().size();
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);  // the fault lies past this range
  Fill("400", "549", Path("tail.wav"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFailed);
  EXPECT_EQ(InfoText().substr(tail_before),
            "ReadCD Error: BE 04 00 00 01 F4 00 00 01 10 00 00 \n"
            "ReadCD Error: BE 04 00 00 01 F4 00 00 01 10 00 00 \n"
            "kept 100 sectors in " +
                Path("tail.wav.part") + "\n");
  // The file of the finished read stays as it was.
  EXPECT_EQ(FileBytes(Path("tail.wav")).size(), 44u + 150 * 2352);
}

// Cancel stops the worker before its next command; what was read stays as NAME.part, and a
// WAVE file says how much it holds.
TEST_F(ReadEdgeTest, CancelMidReadKeepsThePartialFile) {
  for (const char* spec : {"dvdrom,time=real", "cdda,time=real"}) {
    SCOPED_TRACE(spec);
    Insert(spec);
    ASSERT_TRUE(OpenDialog());
    const bool audio = std::string(spec).rfind("cdda", 0) == 0;
    const std::string out = Path(audio ? "cancel.wav" : "cancel.iso");
    Fill("0", "100000", out);
    handler_->OnCommand(dialog_, kOkButton);
    const auto job = handler_->Job();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (job->done.load() < 200 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    handler_->OnCommand(dialog_, kCancelButton);
    EXPECT_EQ(dialog_.EndResult(), kCancelButton);
    EXPECT_TRUE(window_.IsEnabled(kReadButton));
    EXPECT_FALSE(dialog_.TimerRunning(kClockTimer));
    EXPECT_EQ(WaitForWorker(), ReadOutcome::kCancelled);
    EXPECT_FALSE(FileExists(out));
    const std::vector<std::uint8_t> data = FileBytes(out + ".part");
    const std::size_t size = audio ? 2352 : 2048;
    const std::size_t header = audio ? 44 : 0;
    const std::uint64_t done = static_cast<std::uint64_t>(job->done.load());
    EXPECT_GE(done, 200u);
    EXPECT_LT(done, 100001u);
    ASSERT_EQ(data.size(), header + done * size);
    if (audio) {
      EXPECT_EQ(Le32(data, 40), done * 2352);
      EXPECT_EQ(Le32(data, 4), done * 2352 + 36);
    } else {
      std::string why;
      EXPECT_TRUE(HoldsPatternBlocks(data, 0, 0, done, &why)) << why;
    }
    EXPECT_EQ(TraceEnabled.load(), 1);
  }
}

// A file size limit (as a full disk): the read ends with the write message, keeps the whole
// sectors it wrote as NAME.part, and the command line exits 1 saying why. Run in a child,
// whose limit is its own.
TEST_F(ReadEdgeTest, AFullFileSystemEndsTheReadWithAMessage) {
  struct Case {
    const char* spec;
    const char* name;
    std::size_t header;
    std::size_t sector;
  };
  constexpr rlim_t kLimit = 100 * 2048 + 1000;
  for (const Case& c : {Case{"dvdrom", "full.iso", 0, 2048}, Case{"cdda", "full.wav", 44, 2352}}) {
    SCOPED_TRACE(c.name);
    const std::string out = Path(c.name);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      rlimit limit{kLimit, kLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const CliRun run = RunCliCaptured({"--drive", std::string("d=virtual:") + c.spec, "read",
                                         "--first", "0", "--last", "999", out});
      int code = 0;
      if (run.status != 1) code |= 1;
      if (run.err.find("zorvane-cli: read: cannot write " + out + ": File too large\n") ==
          std::string::npos) {
        code |= 2;
      }
      if (run.out.find("檔案 " + out + " 無法寫入, errorcode=27\n") == std::string::npos) code |= 4;
      // The kept line, with the count the file holds.
      const std::size_t kept = run.err.find("zorvane-cli: read: kept ");
      if (kept == std::string::npos) code |= 8;
      const std::vector<std::uint8_t> data = FileBytes(out + ".part");
      const std::size_t sectors = (data.size() - c.header) / c.sector;
      if (run.err.find("kept " + std::to_string(sectors) + " sectors in " + out + ".part\n") ==
          std::string::npos) {
        code |= 16;
      }
      ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended on signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: exit status, 2: stderr, 4: information console, 8/16: the kept line";
    EXPECT_FALSE(FileExists(out));
    const std::vector<std::uint8_t> data = FileBytes(out + ".part");
    // Whole sectors only, up to the limit.
    ASSERT_GT(data.size(), c.header);
    EXPECT_LE(data.size(), kLimit);
    EXPECT_EQ((data.size() - c.header) % c.sector, 0u);
    if (c.header != 0) {
      EXPECT_EQ(Le32(data, 40), data.size() - 44);
      EXPECT_EQ(Le32(data, 4), data.size() - 44 + 36);
    } else {
      std::string why;
      EXPECT_TRUE(HoldsPatternBlocks(data, 0, 0, data.size() / 2048, &why)) << why;
    }
  }
}

// The same for the whole-disc read, whose image is written on a thread of its own: the
// refused write ends the read, the whole sectors are kept, and no cue sheet is written.
TEST_F(ReadEdgeTest, AFullFileSystemEndsTheWholeDiscRead) {
  constexpr rlim_t kLimit = 3 * 1024 * 1024 + 1000;
  const std::string cue = Path("full.cue");
  const std::string bin = Path("full.bin");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const CliRun run = RunCliCaptured({"--drive", "d=virtual:cdr-multi", "read", "--disc", cue});
    int code = 0;
    if (run.status != 1) code |= 1;
    if (run.err.find("zorvane-cli: read: cannot write " + bin + ": File too large\n") ==
        std::string::npos) {
      code |= 2;
    }
    const std::size_t sectors = FileBytes(bin + ".part").size() / 2352;
    if (run.err.find("kept " + std::to_string(sectors) + " sectors in " + bin + ".part\n") ==
        std::string::npos) {
      code |= 4;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended on signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: exit status, 2: the reason, 4: the kept line";
  const std::vector<std::uint8_t> data = FileBytes(bin + ".part");
  ASSERT_GT(data.size(), 0u);
  EXPECT_LE(data.size(), kLimit);
  EXPECT_EQ(data.size() % 2352, 0u);
  EXPECT_FALSE(FileExists(cue));
  EXPECT_FALSE(FileExists(bin));
}

// An audio CD whose full TOC lists tracks 1 (LBA 0) and 2 (LBA 300), the lead-out at 600.
class ScriptedDiscTest : public ScriptedReadTest {
 protected:
  void LoadTwoTracks() {
    Load(0x02);
    // Header, then the descriptors: session, ADR/control, TNO, point, time, zero, point time.
    drive_->On({0x43, 0x00, 0x02}, {{0, 35,   1, 1,                            //
                                     1, 0x10, 0, 0x01, 0, 0, 0, 0, 0, 2,  0,   //
                                     1, 0x10, 0, 0x02, 0, 0, 0, 0, 0, 6,  0,   //
                                     1, 0x10, 0, 0xA2, 0, 0, 0, 0, 0, 10, 0},  //
                                    0,
                                    0});
  }
};

// A drive that gives no sub-channel with READ CD: the image and a cue sheet of the TOC's
// starts all the same, but --subchannel is refused before any file is made.
TEST_F(ScriptedDiscTest, ADriveWithoutSubChannelGivesTheTocStarts) {
  for (const bool subchannel : {false, true}) {
    SCOPED_TRACE(subchannel);
    LoadTwoTracks();
    drive_->OnCall({0xBE}, [](const PassThroughRequest& request) {
      return ScriptedDrive::Reply{{}, (request.cdb[10] & 0x07) != 0 ? 0x052400 : 0, 0};
    });
    auto job = std::make_shared<DiscReadJob>(DiscReadRequest{Path("plain.cue"), subchannel});
    DiscReadWorker(job);
    if (subchannel) {
      EXPECT_EQ(job->outcome.load(), ReadOutcome::kFailed);
      EXPECT_EQ(job->Reason(), "the drive gives no raw P-W sub-channel with READ CD");
      EXPECT_FALSE(FileExists(Path("plain.bin.part")));
      continue;
    }
    ASSERT_EQ(job->outcome.load(), ReadOutcome::kFinished) << job->Reason();
    const std::vector<std::uint8_t> cue = FileBytes(Path("plain.cue"));
    EXPECT_EQ(std::string(cue.begin(), cue.end()),
              "FILE \"plain.bin\" BINARY\n"
              "  TRACK 01 AUDIO\n"
              "    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n"
              "    INDEX 01 00:04:00\n");
    EXPECT_EQ(FileBytes(Path("plain.bin")).size(), 600u * 2352);
  }
}

// The CD-TEXT of READ TOC format 5 goes into the whole disc's cue sheet; packs with a bad
// CRC are skipped and counted, as a drive skips them.
TEST_F(ScriptedDiscTest, DiscReadPutsTheCdTextInTheCueSheet) {
  CdText text;
  text.title = {"Album \"Live\"", "Opening", "Encore"};
  text.performer = {"Band", "Band", "Guest"};
  text.composer = {"", "Writer", ""};
  std::vector<std::uint8_t> packs;
  std::string problem;
  ASSERT_TRUE(EncodeCdText(text, &packs, &problem)) << problem;
  for (const bool spoilt : {false, true}) {
    SCOPED_TRACE(spoilt);
    LoadTwoTracks();
    std::vector<std::uint8_t> toc5 = {0, 0, 0, 0};
    toc5.insert(toc5.end(), packs.begin(), packs.end());
    toc5[0] = static_cast<std::uint8_t>((toc5.size() - 2) >> 8);
    toc5[1] = static_cast<std::uint8_t>(toc5.size() - 2);
    if (spoilt) {
      for (std::size_t at = 4; at < toc5.size(); at += kCdTextPackSize) toc5[at + 16] ^= 0xFF;
    }
    drive_->On({0x43, 0x00, 0x05}, {toc5, 0, 0});
    auto job = std::make_shared<DiscReadJob>(DiscReadRequest{Path("text.cue"), false});
    DiscReadWorker(job);
    ASSERT_EQ(job->outcome.load(), ReadOutcome::kFinished) << job->Reason();
    const std::vector<std::uint8_t> cue = FileBytes(Path("text.cue"));
    const std::string with_text =
        "TITLE \"Album 'Live'\"\n"
        "PERFORMER \"Band\"\n"
        "FILE \"text.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n"
        "    TITLE \"Opening\"\n"
        "    PERFORMER \"Band\"\n"
        "    COMPOSER \"Writer\"\n"
        "    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n"
        "    TITLE \"Encore\"\n"
        "    PERFORMER \"Guest\"\n"
        "    INDEX 01 00:04:00\n";
    const std::string without_text =
        "FILE \"text.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n"
        "    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n"
        "    INDEX 01 00:04:00\n";
    EXPECT_EQ(std::string(cue.begin(), cue.end()), spoilt ? without_text : with_text);
    EXPECT_EQ(InfoText().find("packs with a bad CRC skipped") != std::string::npos, spoilt)
        << InfoText();
    EXPECT_EQ(FileBytes(Path("text.bin")).size(), 600u * 2352);
  }
}

}  // namespace
}  // namespace zorvane::test
