// Round trips: an image written through the command line onto a virtual disc kept in a
// state file, then read back by a drive started afresh from that file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tests/write/wave_builder.h"
#include "tests/write/write_test_support.h"

namespace zorvane::test {
namespace {

class RoundTripTest : public WriteTest {};

TEST_F(RoundTripTest, IsoOnCdRIsOneDataTrackInAClosedAppendableSession) {
  // 1,000 sectors and 100 bytes: the last sector is completed with zeros.
  const auto image = MakeImage("a.iso", 2048 * 1000 + 100, 1);
  const CliRun run = Write(Spec("cdr-blank"), {PathOf("a.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "CD-ROM Mode 1\n");
  EXPECT_CONTAINS(run.err, "00 3A 21 00 00 00 00 00 05 32 41 C4 08 10 ");
  EXPECT_CONTAINS(run.err, "CLOSE TRACK/SESSION  5B 00 02 00 00 01 00 00 00 00");
  // The tray, locked (untraced, as the WRITEs are) for the write, is unlocked after the
  // last close: only a lock the drive took is undone.
  EXPECT_GT(run.err.rfind("MEDIUM REMOVAL  1E 00 00 00 00 00"), run.err.rfind("CLOSE TRACK"));

  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadData(0, 1001), Padded(image, 2048));
  EXPECT_TRUE(ReadData(1001, 1).empty());  // the run-out follows the data

  const CliRun toc = Cli(Spec("cdr-blank"), {"toc"});
  EXPECT_CONTAINS(toc.out, "目錄(TOC)上共存在 1 個節區");
  EXPECT_CONTAINS(toc.out, "01    14h(資料軌)  00:02:00   1003");
  EXPECT_CONTAINS(toc.out, "下一個可燒錄位置");
  const CliRun capacity = Cli(Spec("cdr-blank"), {"capacity"});
  EXPECT_CONTAINS(capacity.out, "CD-R光碟片共寫入: 1002個碟區");
}

TEST_F(RoundTripTest, WaveOnCdRIsAnAudioTrackAndItsSessionStaysOpen) {
  // A WAVE header, then 150 sectors and one byte of samples.
  const auto samples = MakeImage("song.raw", 2352 * 150 + 1, 2);
  const auto file = Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", samples)});
  std::FILE* out = std::fopen(PathOf("song.WaV").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
  ASSERT_EQ(std::fclose(out), 0);
  const CliRun run = Write(Spec("cdr-blank"), {PathOf("song.WaV")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "CD-DA\n");
  EXPECT_CONTAINS(run.err, "05 32 41 C0 00 10 ");
  // A WAVE file presets "keep the session open": no CLOSE TRACK/SESSION.
  EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");

  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadCd(0, 151, 1, 2352), Padded(samples, 2352));
  const CliRun toc = Cli(Spec("cdr-blank"), {"toc"});
  EXPECT_CONTAINS(toc.out, "程式記憶區(PMA)內容");
  EXPECT_CONTAINS(toc.out, "01    10h(音軌)");
}

TEST_F(RoundTripTest, Md2OnCdRIsAMode2TrackOf2336ByteSectors) {
  const auto image = MakeImage("b.md2", 2336 * 300, 3);
  const CliRun run = Write(Spec("cdr-blank"), {PathOf("b.md2")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "CD-ROM Mode 2\n");
  EXPECT_CONTAINS(run.err, "05 32 41 C4 09 10 00 00 \n20 ");
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadCd(0, 300, 3, 2336), image);
  const CliRun toc = Cli(Spec("cdr-blank"), {"toc"});
  EXPECT_CONTAINS(toc.out, "01    14h(資料軌)  00:02:00");
}

TEST_F(RoundTripTest, IsoOnCdRw) {
  const auto image = MakeImage("c.iso", 2048 * 200, 4);
  const CliRun run = Write(Spec("cdrw-blank"), {"--close", "track", PathOf("c.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
  Fresh(Spec("cdrw-blank"));
  EXPECT_EQ(ReadData(0, 200), image);
}

TEST_F(RoundTripTest, ASecondSessionStartsAtTheNextWritableAddress) {
  const auto first = MakeImage("one.iso", 2048 * 500, 5);
  const auto second = MakeImage("two.iso", 2048 * 300, 6);
  ASSERT_EQ(Write(Spec("cdr-blank"), {PathOf("one.iso")}).status, 0);
  const CliRun run = Write(Spec("cdr-blank"), {PathOf("two.iso")});
  ASSERT_EQ(run.status, 0) << run.err;

  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadData(0, 500), first);
  // Track 1 of 500 + 2 run-out blocks, 1:30 of lead-out, 1:00 of lead-in, 2 s of pre-gap.
  const std::uint32_t start = TrackStart(2);
  EXPECT_EQ(start, 502U + 6750 + 4500 + 150);
  EXPECT_EQ(ReadData(start, 300), second);
  const CliRun toc = Cli(Spec("cdr-blank"), {"toc"});
  EXPECT_CONTAINS(toc.out, "目錄(TOC)上共存在 2 個節區");
}

TEST_F(RoundTripTest, ClosingTheDiscLeavesNoNextSession) {
  MakeImage("one.iso", 2048 * 100, 7);
  const CliRun run = Write(Spec("cdr-blank"), {"--close", "disc", PathOf("one.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "05 32 41 04 08 10 ");
  const CliRun again = Write(Spec("cdr-blank"), {PathOf("one.iso")});
  EXPECT_EQ(again.status, 1);
}

struct DvdCase {
  const char* preset;
  bool sequential;
};

class DvdRoundTripTest : public WriteTest, public ::testing::WithParamInterface<DvdCase> {};

TEST_P(DvdRoundTripTest, ImageAndItsZeroPadReadBack) {
  const DvdCase& param = GetParam();
  // 200 sectors and 100 bytes: 201 sectors, padded with 7 zero sectors to 208.
  const auto image = MakeImage("d.iso", 2048 * 200 + 100, 8);
  const CliRun run = Write(Spec(param.preset), {PathOf("d.iso")});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "EndSectors=7\n");
  EXPECT_CONTAINS(run.out, "EndSectors=7, i=");
  if (param.sequential) {
    EXPECT_CONTAINS(run.err, "RESERVE TRACK") << "reservation of 208";
  } else {
    EXPECT_LACKS(run.err, "RESERVE TRACK");
    EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
  }

  Fresh(Spec(param.preset));
  std::vector<std::uint8_t> expected = Padded(image, 2048);
  expected.resize(208 * 2048, 0);
  EXPECT_EQ(ReadData(0, 208), expected);
  const CliRun capacity = Cli(Spec(param.preset), {"capacity"});
  EXPECT_EQ(capacity.status, 0);
  const CliRun toc = Cli(Spec(param.preset), {"toc"});
  EXPECT_CONTAINS(toc.out, "目錄上共存在1條碟軌");
  // A sequential disc holds the one track of 208 sectors; a formatted one is one track
  // over the whole disc.
  if (param.sequential) {
    EXPECT_CONTAINS(toc.out, "01    14h(資料軌) 000000h    0000D0h");
  } else {
    EXPECT_LACKS(toc.out, "0000D0h");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryDvdProfile, DvdRoundTripTest,
                         ::testing::Values(DvdCase{"dvd-r", true}, DvdCase{"dvd-r-dl", true},
                                           DvdCase{"dvd-rw-seq", true}, DvdCase{"dvd+r", true},
                                           DvdCase{"dvd+r-dl", true}, DvdCase{"dvd+rw", false},
                                           DvdCase{"dvd-ram", false}, DvdCase{"dvd-rw-ro", false}),
                         [](const ::testing::TestParamInfo<DvdCase>& info) {
                           std::string name = info.param.preset;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                             if (c == '+') c = 'p';
                           }
                           return name;
                         });

TEST_F(RoundTripTest, DvdRSmallImageIsWrittenSectorBySectorAndPadded) {
  MakeImage("e.iso", 2048 * 100, 9);
  const CliRun run = Write(Spec("dvd-r"), {PathOf("e.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "EndSectors=12\nEndSectors=12, i=100\n");
  EXPECT_CONTAINS(run.err, "RESERVE TRACK  53 00 00 00 00 00 00 00 70 00");
  EXPECT_CONTAINS(run.err, "CLOSE TRACK/SESSION  5B 00 02 ");
}

TEST_F(RoundTripTest, DvdRwSequentialIsWrittenDiscAtOnceWithItsWarnings) {
  MakeImage("f.iso", 2048 * 4800, 10);
  const CliRun run = Write(Spec("dvd-rw-seq"), {PathOf("f.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out,
                  "不少燒錄機 DVD-RW Sequential Recording 會有問題!\n"
                  "可「格式化」成 DVD-RW dvd-RW Restricted Overwrite 後再行燒錄.\n");
  EXPECT_CONTAINS(run.out, "EndSectors=0\n");
  EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
}

TEST_F(RoundTripTest, RestrictedOverwriteNeverWritesPastTheImageAndItsPad) {
  const auto old_data = MakeImage("old.iso", 2048 * 400, 11);
  ASSERT_EQ(Write(Spec("dvd-rw-ro"), {PathOf("old.iso")}).status, 0);
  const auto image = MakeImage("new.iso", 2048 * 201, 12);  // 201 sectors, pad 7
  const CliRun run = Write(Spec("dvd-rw-ro"), {PathOf("new.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "EndSectors=7, i=208\n");
  Fresh(Spec("dvd-rw-ro"));
  std::vector<std::uint8_t> expected = image;
  expected.resize(208 * 2048, 0);
  expected.insert(expected.end(), old_data.begin() + 208 * 2048, old_data.end());
  EXPECT_EQ(ReadData(0, 400), expected);
}

TEST_F(RoundTripTest, CloseOptionsTheMediumDoesNotOfferAreUsageErrors) {
  MakeImage("g.iso", 2048 * 20, 13);
  CliRun run = Write(Spec("dvd+rw"), {"--close", "session", PathOf("g.iso")});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "it allows none");
  run = Write(Spec("dvd-r"), {"--close", "track", PathOf("g.iso")});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "it allows session, disc");
  run = Write(Spec("cdr-blank"), {"--close", "none", PathOf("g.iso")});
  EXPECT_EQ(run.status, 2);
  run = Write(Spec("cdr-blank"), {"--speed", "0.5x", PathOf("g.iso")});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "every speed offered is above it");
  run = Write(Spec("cdr-blank"), {PathOf("missing.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, PathOf("missing.iso") + ": No such file or directory");
}

TEST_F(RoundTripTest, DvdRClosedDiscTakesNoSecondWrite) {
  MakeImage("h.iso", 2048 * 64, 14);
  const CliRun run = Write(Spec("dvd+r"), {"--close", "disc", PathOf("h.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "CLOSE TRACK/SESSION  5B 00 06 ");
  EXPECT_EQ(Write(Spec("dvd+r"), {PathOf("h.iso")}).status, 1);
}

}  // namespace
}  // namespace zorvane::test

namespace zorvane::test {
namespace {

class CdChunkTest : public WriteTest {
 protected:
  // The WRITE that covers `lba` when the drive refuses it: the chunk the writer formed.
  std::string RefusedWrite(std::size_t sectors, std::uint32_t lba) {
    MakeImage("c.iso", 2048 * sectors, 20);
    const CliRun run =
        Write(Spec("cdr-blank", "fault=2A@" + std::to_string(lba) + ":031100"), {PathOf("c.iso")});
    EXPECT_EQ(run.status, 1);
    const std::size_t at = run.out.find("WRITE Error: ");
    std::filesystem::remove(StateOf("cdr-blank"));
    return at == std::string::npos ? std::string() : run.out.substr(at + 13, 29);
  }
};

TEST_F(CdChunkTest, FewerThan150SectorsLeftGoOneByOne) {
  EXPECT_EQ(RefusedWrite(149, 0), "2A 00 00 00 00 00 00 00 01 00");
  EXPECT_EQ(RefusedWrite(150, 15), "2A 00 00 00 00 00 00 00 10 00");
  EXPECT_EQ(RefusedWrite(150, 16), "2A 00 00 00 00 10 00 00 01 00");
  EXPECT_EQ(RefusedWrite(165, 16), "2A 00 00 00 00 10 00 00 01 00");
  EXPECT_EQ(RefusedWrite(166, 16), "2A 00 00 00 00 10 00 00 10 00");
}

TEST_F(CdChunkTest, SingleSessionTrackAtOnceKeepsTheSessionOpen) {
  MakeImage("d.iso", 2048 * 20, 21);
  CliRun run = Write(Spec("cdr-blank"), {"--close", "track", "--single-session", PathOf("d.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "05 32 41 04 08 10 ");
  EXPECT_LACKS(run.err, "CLOSE TRACK/SESSION");
  const auto samples = MakeImage("e.raw", 2353, 22);  // two audio sectors
  const auto wave = Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", samples)});
  std::FILE* out = std::fopen(PathOf("e.wav").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(wave.data(), 1, wave.size(), out), wave.size());
  ASSERT_EQ(std::fclose(out), 0);
  std::filesystem::remove(StateOf("cdr-blank"));
  run = Write(Spec("cdr-blank"), {"--single-session", PathOf("e.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.err, "05 32 41 00 00 10 ");
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(ReadCd(0, 2, 1, 2352), Padded(samples, 2352));
}

}  // namespace
}  // namespace zorvane::test

namespace zorvane::test {
namespace {

class DvdSessionTest : public WriteTest {};

TEST_F(DvdSessionTest, ASecondDvdRSessionFollowsTheBorder) {
  const auto first = MakeImage("one.iso", 2048 * 300, 30);
  const auto second = MakeImage("two.iso", 2048 * 200, 31);
  ASSERT_EQ(Write(Spec("dvd-r"), {PathOf("one.iso")}).status, 0);
  const CliRun run = Write(Spec("dvd-r"), {PathOf("two.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("dvd-r"));
  EXPECT_EQ(ReadData(0, 300), first);
  const std::uint32_t start = TrackStart(2);
  EXPECT_EQ(start, 304U + 16384);  // the first track padded to 16, then the border
  EXPECT_EQ(ReadData(start, 200), second);
}

}  // namespace
}  // namespace zorvane::test

namespace zorvane::test {
namespace {

// Written by one process and read back by another with the read command, as a user would:
// the file read equals the image up to its length, and the rest is the writer's zero pad.
class ReadBackTest : public WriteTest {
 protected:
  std::vector<std::uint8_t> RunRead(const std::string& spec, const std::string& out) {
    std::string output;
    const std::string command = std::string(ZORVANE_CLI_PATH) + " --drive 'd=" + spec + "' read '" +
                                out + "' >/dev/null 2>&1";
    EXPECT_EQ(RunCommand(command, &output), 0) << command;
    std::FILE* file = std::fopen(out.c_str(), "rb");
    std::vector<std::uint8_t> bytes;
    if (file == nullptr) return bytes;
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
  }
  void WriteAndReadBack(const std::string& preset, std::size_t size) {
    const auto image = MakeImage(preset + ".iso", size, 5);
    std::string output;
    const std::string write = std::string(ZORVANE_CLI_PATH) + " --drive 'd=" + Spec(preset) +
                              "' write '" + PathOf(preset + ".iso") + "' >/dev/null 2>&1";
    ASSERT_EQ(RunCommand(write, &output), 0) << write;
    const auto read = RunRead(Spec(preset), PathOf(preset + ".back"));
    ASSERT_GE(read.size(), image.size()) << preset;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), read.begin())) << preset;
    EXPECT_TRUE(std::all_of(read.begin() + static_cast<long>(image.size()), read.end(),
                            [](std::uint8_t b) { return b == 0; }))
        << preset;
  }
};

TEST_F(ReadBackTest, CdAndDvdImagesReadBackByTheReadCommandOfAnotherProcess) {
#if defined(__SANITIZE_THREAD__)
  // Eight processes of the ThreadSanitizer build take minutes; this test has no threads of
  // its own to examine, and the normal and ASan builds run it.
  GTEST_SKIP() << "spawns the command-line program eight times; run in the other builds";
#endif
  WriteAndReadBack("cdr-blank", 2048 * 400 + 7);
  WriteAndReadBack("dvd+r", 2048 * 100);
  WriteAndReadBack("dvd-r", 2048 * 50 + 1);
  WriteAndReadBack("dvd-rw-ro", 2048 * 40);
}

}  // namespace
}  // namespace zorvane::test
