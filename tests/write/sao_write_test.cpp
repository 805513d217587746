// Session at once on the virtual CD-R: cue sheets and audio CDs from WAVE files written by
// the command line, then read back by another process through READ CD, READ SUB-CHANNEL and
// READ TRACK INFORMATION.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "base/cdtext.h"
#include "base/utilities.h"
#include "cli/cli_support.h"
#include "tests/write/wave_builder.h"
#include "tests/write/write_test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "write/write_job.h"

namespace zorvane::test {
namespace {

class SaoWriteTest : public WriteTest {
 protected:
  void Save(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* out = std::fopen(PathOf(name).c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    ASSERT_EQ(std::fclose(out), 0);
  }
  void SaveText(const std::string& name, const std::string& text) {
    Save(name, std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  // A WAVE file of CD audio around the samples of MakeImage(name.raw).
  std::vector<std::uint8_t> MakeWave(const std::string& name, std::size_t bytes, int seed,
                                     std::uint32_t rate = 44100) {
    const auto samples = MakeImage(name + ".raw", bytes, seed);
    Save(name, Wave({Chunk("fmt ", Fmt(1, 2, rate, 16)), Chunk("data", samples)}));
    return samples;
  }
  // READ SUB-CHANNEL's catalogue number (format 02h) or a track's ISRC (03h); "" when the
  // valid bit is clear.
  std::string SubChannelCode(std::uint8_t format, std::uint8_t track) {
    std::uint8_t cdb[10] = {0x42, 0, 0x40, format, 0, 0, track, 0, 24, 0};
    std::uint8_t reply[24] = {};
    EXPECT_EQ(ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0), 0);
    if ((reply[8] & 0x80) == 0) return "";
    return std::string(reinterpret_cast<const char*>(reply + 9), format == 2 ? 13 : 12);
  }
  std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& data, std::size_t from,
                                  std::size_t bytes) {
    return {data.begin() + static_cast<std::ptrdiff_t>(from),
            data.begin() + static_cast<std::ptrdiff_t>(from + bytes)};
  }
  // The CD Mastering feature's R-W bit: the drive takes CD-TEXT in the lead-in.
  bool DriveWritesCdText() {
    Fresh(Spec("cdr-blank"));
    std::uint8_t cdb[10] = {0x46, 0x02, 0x00, 0x2E, 0, 0, 0, 0, 0x20, 0};
    std::uint8_t reply[32] = {};
    return ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0) == 0 &&
           ReadBe16(reply + 8) == 0x2E && (reply[12] & 0x01) != 0;
  }
};

TEST_F(SaoWriteTest, MixedCueSheetReadsBackBlockForBlockWithIsrcAndCatalogue) {
  const auto data = MakeImage("data.bin", 2048 * 300, 1);
  const auto audio = MakeImage("audio.bin", 2352 * 800, 2);
  const auto wave = MakeWave("s.wav", 2352 * 320 + 100, 3);
  SaveText("disc.cue",
           "CATALOG 0123456789012\n"
           "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
           "FILE \"audio.bin\" BINARY\n"
           "  TRACK 02 AUDIO\n    FLAGS DCP\n    ISRC USABC1234567\n    PREGAP 00:02:00\n"
           "    INDEX 01 00:00:00\n    INDEX 02 00:02:00\n"
           "  TRACK 03 AUDIO\n    ISRC USABC7654321\n    INDEX 00 00:05:00\n"
           "    INDEX 01 00:06:00\n"
           "FILE \"s.wav\" WAVE\n  TRACK 04 AUDIO\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n");
  const CliRun run = Write(Spec("cdr-blank"), {PathOf("disc.cue")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "SEND CUE SHEET");
  EXPECT_CONTAINS(run.out, "Session at once: 4 tracks, 1796 blocks from LBA -150");

  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(TrackStart(1), 0U);
  EXPECT_EQ(TrackStart(2), 450U);
  EXPECT_EQ(TrackStart(3), 900U);
  EXPECT_EQ(TrackStart(4), 1325U);
  EXPECT_EQ(ReadData(0, 300), data);
  // Track 2 from its index 01, track 3 with the pre-gap the file gives it.
  EXPECT_EQ(ReadCd(450, 375, 1, 2352), Slice(audio, 0, 2352 * 375));
  EXPECT_EQ(ReadCd(825, 425, 1, 2352), Slice(audio, 2352 * 375, 2352 * 425));
  // PREGAP is silence the host sends; the WAVE's last block is completed with zeros.
  EXPECT_EQ(ReadCd(300, 150, 1, 2352), std::vector<std::uint8_t>(2352 * 150, 0));
  EXPECT_EQ(ReadCd(1250, 75, 1, 2352), std::vector<std::uint8_t>(2352 * 75, 0));
  EXPECT_EQ(ReadCd(1325, 321, 1, 2352), Padded(wave, 2352));
  EXPECT_EQ(SubChannelCode(2, 0), "0123456789012");
  EXPECT_EQ(SubChannelCode(3, 2), "USABC1234567");
  EXPECT_EQ(SubChannelCode(3, 3), "USABC7654321");
  EXPECT_EQ(SubChannelCode(3, 4), "");
}

// --verify reads the session back track range by track range (Mode 1 by READ(10), audio by
// READ CD) and names a block the drive returns altered; --dummy records nothing.
TEST_F(SaoWriteTest, VerifyReadsTheSessionBackAndATestWriteLeavesTheDiscBlank) {
  MakeImage("data.bin", 2352 * 300, 6);  // Mode 1 sent whole: compared by its user data
  MakeImage("audio.bin", 2352 * 500, 7);
  SaveText("v.cue",
           "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
           "FILE \"audio.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n"
           "    INDEX 01 00:02:00\n");
  struct Case {
    std::string keys;
    std::vector<std::string> options;
    int status;
    std::string line;
  };
  for (const Case& c : {
           Case{"", {"--verify"}, 0, "verify: 0 of 800 sectors differ"},
           Case{"alter=520",
                {"--verify"},
                1,
                "verify: 1 of 800 sectors differ; the first is LBA 520"},
           Case{"alter=40", {"--verify"}, 1, "the first is LBA 40, byte 100"},
           Case{"", {"--dummy"}, 0, "Test write: the drive simulated the write"},
       }) {
    SCOPED_TRACE(c.keys + " " + c.options.front());
    ::unlink(StateOf("cdr-blank").c_str());
    std::vector<std::string> args = c.options;
    args.push_back(PathOf("v.cue"));
    const CliRun run = Write(Spec("cdr-blank", c.keys), args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_CONTAINS(run.out + run.err, c.line);
    if (c.options.front() == "--dummy") {
      Fresh(Spec("cdr-blank"));
      EXPECT_EQ(ReadData(0, 1), std::vector<std::uint8_t>{});  // nothing recorded
    }
  }
}

TEST_F(SaoWriteTest, AudioCdFromWaveFilesWithAndWithoutGaps) {
  const auto a = MakeWave("a.wav", 2352 * 320 + 100, 4);
  const auto b = MakeWave("b.wav", 2352 * 400, 5);
  struct Case {
    std::vector<std::string> options;
    std::uint32_t second;  // the second track's start
  };
  for (const Case& c :
       {Case{{}, 321 + 150}, Case{{"--gap", "0"}, 321}, Case{{"--gap=1.5"}, 321 + 113}}) {
    SCOPED_TRACE(c.second);
    ::unlink(StateOf("cdr-blank").c_str());
    std::vector<std::string> args = {"--audio"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(PathOf("a.wav"));
    args.push_back(PathOf("b.wav"));
    const CliRun run = Write(Spec("cdr-blank"), args);
    ASSERT_EQ(run.status, 0) << run.err;
    Fresh(Spec("cdr-blank"));
    EXPECT_EQ(TrackStart(1), 0U);
    EXPECT_EQ(TrackStart(2), c.second);
    EXPECT_EQ(ReadCd(0, 321, 1, 2352), Padded(a, 2352));
    EXPECT_EQ(ReadCd(c.second, 400, 1, 2352), b);
    if (c.second > 321) {
      EXPECT_EQ(ReadCd(321, c.second - 321, 1, 2352),
                std::vector<std::uint8_t>(std::size_t{2352} * (c.second - 321), 0));
    }
  }
}

TEST_F(SaoWriteTest, CdTextGoesInTheLeadInWhereTheDriveTakesItElseTheWriteIsRefused) {
  MakeWave("a.wav", 2352 * 320, 6);
  MakeWave("b.wav", 2352 * 300, 7);
  SaveText("texts", "PERFORMER 2=Guest\nTITLE 1=Opening\nTITLE 2=Closing\n");
  const std::vector<std::string> args = {"--audio",       "--title",       "Blue Album",
                                         "--performer",   "The Band",      "--cdtext",
                                         PathOf("texts"), PathOf("a.wav"), PathOf("b.wav")};
  const bool takes_text = DriveWritesCdText();
  const CliRun run = Write(Spec("cdr-blank"), args);
  if (!takes_text) {
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.err, "the drive cannot write CD-TEXT in the lead-in");
    EXPECT_LACKS(run.err, "SEND CUE SHEET");
    const CliRun plain = Write(Spec("cdr-blank"), [&] {
      auto without = args;
      without.insert(without.begin(), "--no-cdtext");
      return without;
    }());
    EXPECT_EQ(plain.status, 0) << plain.err;
    return;
  }
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("cdr-blank"));
  std::uint8_t cdb[10] = {0x43, 0x02, 0x05, 0, 0, 0, 0, 0xFF, 0xFF, 0};
  std::vector<std::uint8_t> reply(0xFFFF);
  ASSERT_EQ(
      ExecuteOnCurrent(cdb, static_cast<std::uint32_t>(reply.size()), reply.data(), kDataIn, 0), 0);
  const std::size_t length = ReadBe16(reply.data()) + 2U;
  CdText text;
  int bad = 0;
  std::string problem;
  ASSERT_TRUE(DecodeCdText(reply.data() + 4, length - 4, &text, &bad, &problem)) << problem;
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(text.title, (std::vector<std::string>{"Blue Album", "Opening", "Closing"}));
  EXPECT_EQ(text.performer, (std::vector<std::string>{"The Band", "", "Guest"}));
}

TEST_F(SaoWriteTest, PreflightRefusesBeforeTheDiscIsTouched) {
  MakeImage("odd.bin", 2048 * 400 + 5, 8);
  MakeWave("hz48.wav", 2352 * 400, 9, 48000);
  MakeWave("ok.wav", 2352 * 400, 10);
  SaveText("missing.cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  SaveText("odd.cue", "FILE \"odd.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n");
  SaveText("long.cue", "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  {
    // A sparse file of 400,000 audio blocks: more than an 80-minute disc.
    std::FILE* out = std::fopen(PathOf("long.bin").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(out), 2352LL * 400000), 0);
    ASSERT_EQ(std::fclose(out), 0);
  }
  struct Case {
    const char* preset;
    std::vector<std::string> args;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {"cdr-blank", {PathOf("missing.cue")}, 1, PathOf("gone.bin")},
      {"cdr-blank",
       {PathOf("odd.cue")},
       1,
       "odd.bin holds 819205 bytes from track 1 on, not a whole number of 2048-byte blocks"},
      {"cdr-blank",
       {"--audio", PathOf("ok.wav"), PathOf("hz48.wav")},
       1,
       "a CD audio track takes 16-bit stereo PCM at 44100 Hz"},
      {"cdr-blank", {PathOf("long.cue")}, 1, "needs 400000 blocks, but the disc has "},
      {"dvd-r", {PathOf("odd.cue")}, 1, "a cue sheet is written to a CD-R or CD-RW"},
      {"cdr-blank",
       {"--gap", "0", PathOf("ok.wav")},
       2,
       "--gap, --title, --performer and --cdtext go with --audio"},
      {"cdr-blank",
       {"--no-cdtext", PathOf("ok.wav")},
       2,
       "--no-cdtext goes with a cue sheet or --audio"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CliRun run = Write(Spec(c.preset), c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_CONTAINS(run.err, c.line);
    EXPECT_LACKS(run.err, "SEND CUE SHEET");
    EXPECT_LACKS(run.err, "MODE SELECT");
  }
  // A disc that is not blank any more.
  SaveText("ok.cue", "FILE \"ok.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(Write(Spec("cdr-blank"), {PathOf("ok.cue")}).status, 0);
  const CliRun again = Write(Spec("cdr-blank"), {PathOf("ok.cue")});
  EXPECT_EQ(again.status, 1);
  EXPECT_CONTAINS(again.err, "the disc is appendable, not blank");
  EXPECT_LACKS(again.err, "SEND CUE SHEET");
}

TEST_F(SaoWriteTest, AStopCutsTheSessionWhichTheDriveNeverRecords) {
  SetWritePacing(WritePacing{std::chrono::milliseconds(2), std::chrono::milliseconds(20000),
                             std::chrono::milliseconds(0)});
  const auto a = MakeWave("a.wav", 2352 * 600, 11);
  std::atomic<bool> done{false};
  // Well after the write reaches the busy block, however slowly a loaded machine prepared it.
  std::thread stopper([&done] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    while (!done.load()) {
      RequestStop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  // The drive stays busy at block 400 until the stop comes.
  const CliRun run = Write(Spec("cdr-blank", "fault=2A@400:020408"), {"--audio", PathOf("a.wav")});
  done = true;
  stopper.join();
  ClearStopRequest();
  EXPECT_EQ(run.status, 130) << run.err;
  // 150 blocks of the first pre-gap and 400 of the track were taken.
  EXPECT_CONTAINS(run.err, "stopped after 550 sectors\n");
  EXPECT_CONTAINS(run.out, "The session at once was cut before its lead-out");
  // Nothing was recorded: the disc takes the whole album afresh.
  const CliRun again = Write(Spec("cdr-blank"), {"--audio", PathOf("a.wav")});
  ASSERT_EQ(again.status, 0) << again.err;
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadCd(0, 600, 1, 2352), a);
}

}  // namespace
}  // namespace zorvane::test
