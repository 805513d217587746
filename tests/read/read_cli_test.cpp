// `zorvane-cli read`: the same read from the command line, its arguments and exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include <libcue.h>

#include "cli/cli_support.h"
#include "tests/vdrive/vdrive_test_support.h"

#include "tests/read/read_test_support.h"

namespace zorvane::test {
namespace {

using ReadCliTest = ReadTest;

TEST_F(ReadCliTest, ReadsTheFirstTrackByDefaultAndExitsZero) {
  std::vector<std::uint8_t> image(2048 * 700);
  std::mt19937 random(5);
  for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
  {
    FILE* file = std::fopen(Path("disc.iso").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), file), image.size());
    std::fclose(file);
  }
  for (const char* preset : {"dvdrom", "cdrom"}) {
    SCOPED_TRACE(preset);
    const CliRun run = RunCliCaptured(
        {"--drive", std::string("d=virtual:") + preset + ",image=" + Path("disc.iso"), "read",
         Path("out.iso")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FileBytes(Path("out.iso")), image);
    // The read button's table of contents on standard output, the trace on standard error.
    EXPECT_NE(run.out.find("軌號"), std::string::npos);
    EXPECT_NE(run.err.find("READ CAPACITY  25 00"), std::string::npos);
  }
}

TEST_F(ReadCliTest, TrackAndSectorOptionsChooseTheRange) {
  CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdr-multi", "read", "--track", "2", Path("t2.iso")});
  EXPECT_EQ(run.status, 0) << run.err;
  std::string why;
  EXPECT_TRUE(HoldsPatternBlocks(FileBytes(Path("t2.iso")), 0, 31402, 8000, &why)) << why;
  EXPECT_EQ(FileBytes(Path("t2.iso")).size(), 8000u * 2048);

  run = RunCliCaptured({"--drive", "d=virtual:cdda", "read", "--track=3", "--first", "37000",
                        "--last=37009", Path("t3.wav")});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::uint8_t> wave = FileBytes(Path("t3.wav"));
  ASSERT_EQ(wave.size(), 44u + 10 * 2352);
  const std::vector<std::uint8_t> block = AudioBlock(37009);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), wave.end() - 2352));
  // Progress goes to standard error (a line, as it is no terminal).
  EXPECT_NE(run.err.find("read: "), std::string::npos);
}

// An output is renamed into place, never written through: a FIFO or a device is refused
// before anything opens it (nothing waits for a reader).
TEST_F(ReadCliTest, AnOutputThatIsNoRegularFileIsRefused) {
  const std::string fifo = Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const CliRun run = RunCliCaptured(
      {"--drive", "d=virtual:cdda", "read", "--first", "100", "--last", "299", fifo});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("zorvane-cli: read: " + fifo + " is not a regular file"),
            std::string::npos)
      << run.err;
}

TEST_F(ReadCliTest, FailuresExitOneWithTheReasonAndUsageErrorsTwo) {
  CliRun run = RunCliCaptured(
      {"--drive", "d=virtual:cdrom,fault=A8@100:031100", "read", "--last", "999", Path("bad.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Read12 Command Error.\n"), std::string::npos);
  EXPECT_NE(run.err.find("zorvane-cli: read: read failed at sector 100: the drive refused "
                         "READ12 (SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)\n"),
            std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdrom", "read", "--track", "2", Path("x.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the disc has no track 2"), std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdr-blank", "read", Path("blank.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("nothing to read"), std::string::npos);

  run = RunCliCaptured({"--drive", "d=virtual:cdrom", "read", "/nonexistent/dir/x.iso"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("檔案 /nonexistent/dir/x.iso 無法被開啟, errorcode=2\n"),
            std::string::npos);
  EXPECT_NE(run.err.find("cannot create /nonexistent/dir/x.iso"), std::string::npos);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"read"},
                                               {"read", "--track"},
                                               {"read", "--first", "x", "o"},
                                               {"read", "a", "b"},
                                               {"read", "--bogus", "o"},
                                               {"read", "--track", "0", "o"},
                                               {"read", "--first", "-5", "o"},
                                               {"read", "--last=-1", "o"},
                                               {"read", "--disc", "o.bin"},
                                               {"read", "--subchannel", "o.iso"},
                                               {"read", "--disc", "--track", "1", "o.cue"}}) {
    std::vector<std::string> full = {"--drive", "d=virtual:cdrom"};
    full.insert(full.end(), args.begin(), args.end());
    run = RunCliCaptured(full);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_NE(run.err.find("usage: zorvane-cli read"), std::string::npos);
  }
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  ASSERT_EQ(std::fclose(file), 0);
}

// The last "read: " progress line of standard error.
std::string LastProgressLine(const std::string& err) {
  std::string last;
  std::size_t at = 0;
  while ((at = err.find("read: ", at)) != std::string::npos) {
    if (at == 0 || err[at - 1] == '\n') {
      const std::size_t end = err.find('\n', at);
      const std::string line = err.substr(at, end - at);
      if (line.find('%') != std::string::npos) last = line;
    }
    ++at;
  }
  return last;
}

// A read that fails never touches an existing output: what it read is kept as OUT.part and
// said on standard error, with the drive's refusal in words, and the last progress line
// shows the sectors kept. A read that finishes replaces the old file.
TEST_F(ReadCliTest, AFailedReadKeepsItsSectorsBesideAnUntouchedOutput) {
  struct Case {
    const char* spec;
    const char* name;
    const char* range;  // last sector
    std::size_t kept;
    std::size_t header;
    std::size_t sector;
    const char* refusal;
  };
  const char* kUnrecovered = "(SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)";
  for (const Case& c :
       {Case{"cdr-closed,fault=A8@0:031100", "first.iso", "999", 0, 0, 2048, "READ12"},
        Case{"cdrom,fault=A8@700:031100", "cd.iso", "999", 700, 0, 2048, "READ12"},
        Case{"dvdrom,fault=A8@1000:031100", "dvd.iso", "4999", 992, 0, 2048, "READ12"},
        Case{"cdda,fault=BE@60:031100", "song.wav", "499", 60, 44, 2352, "READ CD"}}) {
    SCOPED_TRACE(c.spec);
    const std::string out = Path(c.name);
    const std::vector<std::uint8_t> old(5000, 0xC3);
    WriteBytes(out, old);
    const CliRun run = RunCliCaptured({"--drive", std::string("d=virtual:") + c.spec, "read",
                                       "--first", "0", "--last", c.range, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(FileBytes(out), old);
    EXPECT_NE(run.err.find(std::string("the drive refused ") + c.refusal + " " + kUnrecovered),
              std::string::npos)
        << run.err;
    const std::string part = out + ".part";
    if (c.kept == 0) {
      EXPECT_FALSE(FileExists(part));
      EXPECT_EQ(run.err.find("kept "), std::string::npos);
    } else {
      EXPECT_NE(run.err.find("zorvane-cli: read: kept " + std::to_string(c.kept) + " sectors in " +
                             part + "\n"),
                std::string::npos)
          << run.err;
      EXPECT_NE(run.out.find("kept " + std::to_string(c.kept) + " sectors in " + part + "\n"),
                std::string::npos);
      EXPECT_EQ(FileBytes(part).size(), c.header + c.kept * c.sector);
    }
    EXPECT_NE(LastProgressLine(run.err).find(" " + std::to_string(c.kept) + "/"), std::string::npos)
        << LastProgressLine(run.err);
    // The same read without the fault replaces the old file.
    std::string spec = c.spec;
    spec = spec.substr(0, spec.find(",fault"));
    const CliRun whole = RunCliCaptured(
        {"--drive", "d=virtual:" + spec, "read", "--first", "0", "--last", c.range, out});
    EXPECT_EQ(whole.status, 0) << whole.err;
    const std::size_t sectors = std::stoul(c.range) + 1;
    EXPECT_EQ(FileBytes(out).size(), c.header + sectors * c.sector);
    EXPECT_EQ(LastProgressLine(whole.err).rfind(
                  "read: 100% " + std::to_string(sectors) + "/" + std::to_string(sectors), 0),
              0u)
        << LastProgressLine(whole.err);
  }
}

// Only the run-out blocks at a track's end may end a read as finished: the same refusal
// elsewhere at the end of a range is a failure.
TEST_F(ReadCliTest, IllegalModeAtTheEndOfARangeInsideATrackIsAFailure) {
  for (const long long at : {5000LL, 123456LL}) {
    SCOPED_TRACE(at);
    const CliRun run = RunCliCaptured(
        {"--drive", "d=virtual:cdrom,fault=A8@" + std::to_string(at) + ":056400", "read", "--first",
         std::to_string(at - 1), "--last", std::to_string(at), Path("o.iso")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ILLEGAL MODE FOR THIS TRACK"), std::string::npos);
    EXPECT_FALSE(FileExists(Path("o.iso")));
    EXPECT_EQ(FileBytes(Path("o.iso.part")).size(), 2048u);
  }
}

// A range that holds no sector, or lies outside the track asked for, is a usage error that
// says why; nothing is written.
TEST_F(ReadCliTest, RangesWithoutSectorsOrOutsideTheTrackAreUsageErrors) {
  struct Case {
    const char* preset;
    std::vector<std::string> args;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"cdrom", {"--first", "500", "--last", "100"}, "--first 500 lies after --last 100"},
      {"cdrom", {"--first", "333000"}, "--first 333000 lies after the track's last sector 332999"},
      {"cdr-multi",
       {"--track", "2", "--first", "10", "--last", "20"},
       "--first 10 lies outside track 2 (sectors 31402 to 39402)"},
      {"cdr-multi", {"--track", "1", "--last", "20002"}, "--last 20002 lies outside track 1"},
      {"cdda", {"--track", "3", "--last", "100"}, "--last 100 lies outside track 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string out = Path("keep.iso");
    WriteBytes(out, {1, 2, 3});
    std::vector<std::string> args = {"--drive", std::string("d=virtual:") + c.preset, "read"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(out);
    const CliRun run = RunCliCaptured(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    EXPECT_EQ(FileBytes(out), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(run.err.find("READ12 "), std::string::npos);
  }
}

// Ctrl-C stops the read before its next command, as Cancel does: what was read is kept as
// OUT.part, said on standard error, and the status is 130.
TEST_F(ReadCliTest, AStopRequestEndsTheReadWithItsSectorsKept) {
  for (const char* preset : {"dvdrom", "cdda"}) {
    SCOPED_TRACE(preset);
    const bool audio = std::string(preset) == "cdda";
    const std::string out = Path(audio ? "stop.wav" : "stop.iso");
    const std::vector<std::uint8_t> old(100, 7);
    WriteBytes(out, old);
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      // Once the temporary file holds some sectors, as a user presses Ctrl-C.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!done.load() && std::chrono::steady_clock::now() < deadline) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(dir_, ignored)) {
          const std::string name = entry.path().filename().string();
          if (name.rfind(audio ? ".stop.wav." : ".stop.iso.", 0) == 0 &&
              entry.file_size(ignored) > 300 * 2352) {
            RequestStop();
            return;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    const CliRun run = RunCliCaptured({"--drive", std::string("d=virtual:") + preset + ",time=real",
                                       "read", "--first", "0", "--last", "60000", out});
    done.store(true);
    stopper.join();
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_EQ(FileBytes(out), old);
    const std::size_t at = run.err.find("zorvane-cli: read: stopped after ");
    ASSERT_NE(at, std::string::npos) << run.err;
    const long long sectors = std::stoll(run.err.substr(at + 33));
    EXPECT_GT(sectors, 100);
    EXPECT_LT(sectors, 60001);
    EXPECT_NE(run.err.find("zorvane-cli: read: kept " + std::to_string(sectors) + " sectors in " +
                           out + ".part\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(FileBytes(out + ".part").size(),
              (audio ? 44 : 0) + static_cast<std::size_t>(sectors) * (audio ? 2352 : 2048));
    EXPECT_NE(LastProgressLine(run.err).find(" " + std::to_string(sectors) + "/60001"),
              std::string::npos)
        << LastProgressLine(run.err);
  }
}

// A CD-ROM XA track (Mode 2 Form 1 here), which the drive will not read as formless Mode 2,
// gives its 2336-byte sectors to an .md2 file: sub-header, user data, EDC/ECC.
TEST_F(ReadCliTest, Md2ReadOfAnXaTrackGivesItsSubHeaderDataAndEdc) {
  struct Case {
    std::vector<std::string> range;
    std::uint32_t first;
    std::size_t sectors;
  };
  for (const Case& c :
       {Case{{"--track", "1", "--last", "999"}, 0, 1000}, Case{{"--track", "2"}, 31402, 8000},
        Case{{"--track", "2", "--first", "35000", "--last", "35009"}, 35000, 10}}) {
    SCOPED_TRACE(c.first);
    std::vector<std::string> args = {"--drive", "d=virtual:cdr-multi", "read"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    args.push_back(Path("xa.md2"));
    const CliRun run = RunCliCaptured(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::uint8_t> data = FileBytes(Path("xa.md2"));
    ASSERT_EQ(data.size(), c.sectors * 2336);
    for (std::size_t i = 0; i < c.sectors; i += std::max<std::size_t>(1, c.sectors / 7)) {
      const std::vector<std::uint8_t> block = PatternBlock(c.first + static_cast<std::uint32_t>(i));
      const auto sector = data.begin() + static_cast<long>(i * 2336);
      EXPECT_TRUE(std::equal(sector, sector + 4, sector + 4)) << "sub-header copies, sector " << i;
      EXPECT_EQ(sector[2] & 0x20, 0) << "Form 1, sector " << i;
      EXPECT_TRUE(std::equal(block.begin(), block.end(), sector + 8)) << "sector " << i;
      EXPECT_TRUE(std::any_of(sector + 8 + 2048, sector + 2336, [](std::uint8_t b) { return b; }))
          << "EDC/ECC, sector " << i;
    }
  }
}

// A disc recorded session at once into the state file `state`: track 1 Mode 1 data
// (blocks 0-299), track 2 audio with a pre-gap from 300 and an ISRC, track 3 audio with copy
// and pre-emphasis flags and a pre-gap from 750, the lead-out at 1200; a catalogue number.
void RecordMixedDisc(const std::string& state, const std::vector<std::uint8_t>& samples) {
  namespace vt = vdrive::test;
  std::vector<std::uint8_t> sheet;
  auto add = [&](std::uint8_t ctl_adr, std::uint8_t tno, std::uint8_t index, std::uint8_t form,
                 std::int32_t lba) {
    const std::int32_t f = lba + 150;
    sheet.insert(sheet.end(),
                 {ctl_adr, tno, index, form, 0, static_cast<std::uint8_t>(f / 4500),
                  static_cast<std::uint8_t>(f / 75 % 60), static_cast<std::uint8_t>(f % 75)});
  };
  const std::string catalogue = "0123456789012";
  const std::string isrc = "DEAAA0600002";
  sheet.push_back(0x02);
  sheet.insert(sheet.end(), catalogue.begin(), catalogue.begin() + 7);
  sheet.push_back(0x02);
  sheet.insert(sheet.end(), catalogue.begin() + 7, catalogue.end());
  sheet.push_back(0x00);
  add(0x41, 0, 0, 0x14, -150);
  add(0x41, 1, 0, 0x10, -150);
  add(0x41, 1, 1, 0x10, 0);
  sheet.insert(sheet.end(), {0x03, 2});
  sheet.insert(sheet.end(), isrc.begin(), isrc.begin() + 6);
  sheet.insert(sheet.end(), {0x03, 2});
  sheet.insert(sheet.end(), isrc.begin() + 6, isrc.end());
  add(0x01, 2, 0, 0x00, 300);
  add(0x01, 2, 1, 0x00, 450);
  add(0x31, 3, 0, 0x00, 750);
  add(0x31, 3, 1, 0x00, 900);
  add(0x01, 0xAA, 1, 0x01, 1200);
  auto drive = vt::Ready("cdr-blank,state=" + state);
  vt::WriteSetup setup;
  setup.write_type = 2;
  setup.track_mode = 0;
  setup.block_type = 0;
  setup.multi_session = 0;
  ASSERT_EQ(vt::SelectWrite(*drive, setup).sense, vdrive::kGood);
  const auto length = static_cast<std::uint8_t>(sheet.size());
  ASSERT_EQ(vt::SendOut(*drive, {0x5D, 0, 0, 0, 0, 0, 0, 0, length, 0}, sheet).sense,
            vdrive::kGood);
  ASSERT_EQ(vt::WriteAll(*drive, 0xFFFFFF6A, std::vector<std::uint8_t>(150 * 2048), 2048),
            vdrive::kGood);
  ASSERT_EQ(vt::WriteAll(*drive, 0, vt::Pattern(300, 2048, 3), 2048), vdrive::kGood);
  ASSERT_EQ(vt::WriteAll(*drive, 300, samples, 2352, 20), vdrive::kGood);
  ASSERT_EQ(vt::Send(*drive, {0x35}, 0).sense, vdrive::kGood);
}

struct LoadedCue {
  int tracks = 0;
  std::vector<long> index0, index1;
  std::vector<std::string> isrc;
};
// The cue sheet as libcue reads it.
LoadedCue LoadCue(const std::string& text) {
  LoadedCue loaded;
  Cd* cd = cue_parse_string(text.c_str());
  if (cd == nullptr) return loaded;
  loaded.tracks = cd_get_ntrack(cd);
  for (int i = 1; i <= loaded.tracks; ++i) {
    ::Track* track = cd_get_track(cd, i);
    loaded.index0.push_back(track_get_index(track, 0));
    loaded.index1.push_back(track_get_index(track, 1));
    const char* isrc = track_get_isrc(track);
    loaded.isrc.push_back(isrc != nullptr ? isrc : "");
  }
  cd_delete(cd);
  return loaded;
}

std::string FileText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = FileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Every track to OUT.bin as raw sectors and a cue sheet that libcue loads: a mixed-mode disc
// recorded session at once (pre-gaps from the Q sub-channel, ISRC, catalogue number,
// flags), with and without the raw sub-channel.
TEST_F(ReadCliTest, DiscReadGivesABinAndACueSheetFromTheSubChannel) {
  const std::vector<std::uint8_t> samples = vdrive::test::Pattern(900, 2352, 9);
  const std::string state = Path("mixed.state");
  RecordMixedDisc(state, samples);
  const std::string expected =
      "CATALOG 0123456789012\n"
      "FILE \"mixed.bin\" BINARY\n"
      "  TRACK 01 MODE1/2352\n"
      "    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n"
      "    ISRC DEAAA0600002\n"
      "    INDEX 00 00:04:00\n"
      "    INDEX 01 00:06:00\n"
      "  TRACK 03 AUDIO\n"
      "    FLAGS DCP PRE\n"
      "    INDEX 00 00:10:00\n"
      "    INDEX 01 00:12:00\n";
  for (const bool subchannel : {false, true}) {
    SCOPED_TRACE(subchannel);
    std::vector<std::string> args = {"--drive", "d=virtual:cdr-blank,state=" + state, "read",
                                     "--disc", Path("mixed.cue")};
    if (subchannel) args.push_back("--subchannel");
    const CliRun run = RunCliCaptured(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FileText(Path("mixed.cue")), expected);
    const std::vector<std::uint8_t> bin = FileBytes(Path("mixed.bin"));
    ASSERT_EQ(bin.size(), 1200u * 2352);
    // Data with sync and header (00:02:05 is LBA 5, Mode 1), audio as sent.
    const std::vector<std::uint8_t> header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x05, 0x01};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bin.begin() + 5 * 2352));
    const std::vector<std::uint8_t> data = vdrive::test::Pattern(300, 2048, 3);
    EXPECT_TRUE(
        std::equal(data.begin() + 5 * 2048, data.begin() + 6 * 2048, bin.begin() + 5 * 2352 + 16));
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), bin.begin() + 300 * 2352));
    const LoadedCue cue = LoadCue(FileText(Path("mixed.cue")));
    ASSERT_EQ(cue.tracks, 3);
    EXPECT_EQ(cue.index0, (std::vector<long>{-1, 300, 750}));
    EXPECT_EQ(cue.index1, (std::vector<long>{0, 450, 900}));
    EXPECT_EQ(cue.isrc[1], "DEAAA0600002");
    EXPECT_EQ(FileExists(Path("mixed.sub")), subchannel);
    if (subchannel) {
      const std::vector<std::uint8_t> sub = FileBytes(Path("mixed.sub"));
      ASSERT_EQ(sub.size(), 1200u * 96);
      // P set in a pre-gap only; Q of block 460: track 2, index 1, 00:00:10 into it.
      EXPECT_EQ(sub[320 * 96] & 0x80, 0x80);
      EXPECT_EQ(sub[460 * 96] & 0x80, 0);
      std::uint8_t q[12] = {};
      for (std::size_t bit = 0; bit < 96; ++bit) {
        q[bit / 8] = static_cast<std::uint8_t>(q[bit / 8] |
                                               (((sub[460 * 96 + bit] >> 6) & 1) << (7 - bit % 8)));
      }
      EXPECT_EQ(std::vector<std::uint8_t>(q, q + 6),
                (std::vector<std::uint8_t>{0x01, 0x02, 0x01, 0x00, 0x00, 0x10}));
      EXPECT_TRUE(vdrive::test::QCrcHolds(q));
    }
    std::filesystem::remove(Path("mixed.sub"));
  }
}

// A second session follows REM SESSION 02 in the same file; the run-out blocks that end
// each track-at-once track are no error and take no room.
TEST_F(ReadCliTest, DiscReadOfTwoSessionsMarksTheSecond) {
  const CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdr-multi", "read", "--disc", Path("multi.cue")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FileText(Path("multi.cue")),
            "REM SESSION 01\n"
            "FILE \"multi.bin\" BINARY\n"
            "  TRACK 01 MODE2/2352\n"
            "    INDEX 01 00:00:00\n"
            "REM SESSION 02\n"
            "  TRACK 02 MODE2/2352\n"
            "    INDEX 01 04:26:50\n");
  const std::vector<std::uint8_t> bin = FileBytes(Path("multi.bin"));
  ASSERT_EQ(bin.size(), (20000u + 8000u) * 2352);
  // The first block of session 2 (LBA 31402, 07:00:52) with its Mode 2 header.
  EXPECT_EQ(
      std::vector<std::uint8_t>(bin.begin() + 20000 * 2352 + 12, bin.begin() + 20000 * 2352 + 16),
      (std::vector<std::uint8_t>{0x07, 0x00, 0x52, 0x02}));
  EXPECT_EQ(LoadCue(FileText(Path("multi.cue"))).index1, (std::vector<long>{0, 20000}));
}

// Between two track-at-once tracks lie the first one's run-out and the second one's pre-gap,
// neither readable: they are no error, take no room in the image, and the cue sheet gives
// them as the second track's PREGAP, so the track starts where it did.
TEST_F(ReadCliTest, DiscReadGivesTheUnreadableGapOfTrackAtOnceTracksAsPregap) {
  namespace vt = vdrive::test;
  const std::string state = Path("tao.state");
  const std::vector<std::uint8_t> samples = vt::Pattern(300, 2352, 4);
  {
    auto drive = vt::Ready("cdr-blank,state=" + state);
    ASSERT_EQ(vt::SelectWrite(*drive, vt::WriteSetup{}).sense, vdrive::kGood);
    ASSERT_EQ(vt::WriteAll(*drive, 0, vt::Pattern(300, 2048, 1), 2048), vdrive::kGood);
    ASSERT_EQ(vt::Send(*drive, {0x35}, 0).sense, vdrive::kGood);
    ASSERT_EQ(vt::SelectWrite(*drive, vt::WriteSetup{1, 0, 0}).sense, vdrive::kGood);
    ASSERT_EQ(vt::WriteAll(*drive, 452, samples, 2352, 27), vdrive::kGood);
    ASSERT_EQ(vt::Send(*drive, {0x35}, 0).sense, vdrive::kGood);
    ASSERT_EQ(vt::Send(*drive, vt::Close(2, 0), 0).sense, vdrive::kGood);
  }
  const CliRun run = RunCliCaptured(
      {"--drive", "d=virtual:cdr-blank,state=" + state, "read", "--disc", Path("tao.cue")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FileText(Path("tao.cue")),
            "FILE \"tao.bin\" BINARY\n"
            "  TRACK 01 MODE1/2352\n"
            "    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n"
            "    PREGAP 00:02:02\n"
            "    INDEX 01 00:04:00\n");
  const std::vector<std::uint8_t> bin = FileBytes(Path("tao.bin"));
  ASSERT_EQ(bin.size(), 600u * 2352);
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), bin.begin() + 300 * 2352));
}

// A read error ends the read with OUT.bin.part kept and no cue sheet; a stop exits 130 the
// same way.
TEST_F(ReadCliTest, DiscReadErrorsAndStopsKeepThePart) {
  CliRun run = RunCliCaptured({"--drive", "d=virtual:cdr-multi,fault=BE@5000:031100", "read",
                               "--disc", Path("bad.cue"), "--subchannel"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("zorvane-cli: read: read failed at sector 5000: the drive refused "
                         "READ CD (SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("kept 5000 sectors in " + Path("bad.bin.part")), std::string::npos);
  EXPECT_EQ(FileBytes(Path("bad.bin.part")).size(), 5000u * 2352);
  EXPECT_EQ(FileBytes(Path("bad.sub.part")).size(), 5000u * 96);
  EXPECT_FALSE(FileExists(Path("bad.cue")));
  EXPECT_FALSE(FileExists(Path("bad.bin")));

  // A cue sheet's name that leads to its own image is refused before anything is read.
  WriteBytes(Path("link.bin"), {1, 2, 3});
  std::filesystem::create_symlink(Path("link.bin"), Path("link.cue"));
  run = RunCliCaptured({"--drive", "d=virtual:cdr-multi", "read", "--disc", Path("link.cue")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(Path("link.cue") + " is the source " + Path("link.bin")),
            std::string::npos)
      << run.err;
  EXPECT_EQ(FileBytes(Path("link.bin")), (std::vector<std::uint8_t>{1, 2, 3}));

  std::atomic<bool> done{false};
  std::thread stopper([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
      std::error_code ignored;
      for (const auto& entry : std::filesystem::directory_iterator(dir_, ignored)) {
        if (entry.path().filename().string().rfind(".stop.bin.", 0) == 0 &&
            entry.file_size(ignored) > 0) {
          RequestStop();
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  run = RunCliCaptured(
      {"--drive", "d=virtual:cdr-multi,time=real", "read", "--disc", Path("stop.cue")});
  done.store(true);
  stopper.join();
  EXPECT_EQ(run.status, 130) << run.err;
  const std::size_t at = run.err.find("zorvane-cli: read: stopped after ");
  ASSERT_NE(at, std::string::npos) << run.err;
  const long long sectors = std::stoll(run.err.substr(at + 33));
  EXPECT_EQ(FileBytes(Path("stop.bin.part")).size(), static_cast<std::size_t>(sectors) * 2352);
  EXPECT_FALSE(FileExists(Path("stop.cue")));
}

}  // namespace
}  // namespace zorvane::test
