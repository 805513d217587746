// Reading whole tracks and ranges of virtual discs: what lands in the file, what the
// dialog shows at the end, and what the consoles say.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "info/toc.h"
#include "tests/read/read_test_support.h"
#include "tests/vdrive/vdrive_test_support.h"
#include "transport/discovery.h"

namespace zorvane::test {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  ASSERT_EQ(std::fclose(file), 0);
}

using ReadScenarioTest = ReadTest;

TEST_F(ReadScenarioTest, DvdImageReadsBackByteIdenticalAndTheDialogShowsTheFinish) {
  const std::vector<std::uint8_t> image = RandomBytes(2048 * 4000, 1);
  WriteFile(Path("disc.iso"), image);
  Insert("dvdrom,image=" + Path("disc.iso"));
  ASSERT_TRUE(OpenDialog());
  EXPECT_EQ(opened_, kDvdReadDialog);
  EXPECT_EQ(dialog_.Text(kReadFirstSector), "      0\n");
  EXPECT_EQ(dialog_.Text(kReadLastSector), "   3999\n");
  Fill("", "", Path("out.iso"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  EXPECT_EQ(FileBytes(Path("out.iso")), image);  // the last given sector is read too

  EXPECT_EQ(dialog_.Text(kSectorReached), "  4000\n");
  EXPECT_EQ(dialog_.Text(kCancelButton), "結束(&X)");
  EXPECT_TRUE(dialog_.IsEnabled(kOkButton));
  EXPECT_EQ(dialog_.ProgressRange(kReadProgress), std::make_pair(0, 4000));
  EXPECT_EQ(dialog_.ProgressPosition(kReadProgress), 4000);
  EXPECT_FALSE(dialog_.TimerRunning(kClockTimer));
  EXPECT_FALSE(dialog_.TimerRunning(kRefreshTimer));
  EXPECT_TRUE(window_.IsEnabled(kReadButton));
  EXPECT_EQ(TraceEnabled.load(), 1);

  // A second read from the finished dialog: a range in the middle.
  Fill("1000", "1999", Path("part.iso"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  EXPECT_EQ(FileBytes(Path("part.iso")),
            std::vector<std::uint8_t>(image.begin() + 1000 * 2048, image.begin() + 2000 * 2048));
}

TEST_F(ReadScenarioTest, CdImageTrackReadsBackWhole) {
  const std::vector<std::uint8_t> image = RandomBytes(2048 * 1500, 2);
  WriteFile(Path("disc.iso"), image);
  Insert("cdrom,image=" + Path("disc.iso"));
  ASSERT_TRUE(OpenDialog());
  EXPECT_EQ(opened_, kCdReadDialog);
  EXPECT_EQ(dialog_.Text(kReadMode), "14h\n");
  Fill("", "", Path("track.iso"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  EXPECT_EQ(FileBytes(Path("track.iso")), image);
  EXPECT_EQ(dialog_.Text(kSectorReached), "  1500\n");
}

// The CD dialog's last choice reads the whole disc to a cue sheet and its BIN (a name
// without .cue gets it); the DVD dialog has no such choice.
TEST_F(ReadScenarioTest, TheWholeDiscChoiceReadsEveryTrackToBinAndCue) {
  Insert("cdr-multi");
  ASSERT_TRUE(OpenDialog());
  ASSERT_EQ(dialog_.ItemCount(kTrackChoice), 3);
  EXPECT_EQ(dialog_.ItemText(kTrackChoice, 2), "整片光碟 (BIN/CUE)");
  dialog_.SelectItem(kTrackChoice, 2);
  handler_->OnCommand(dialog_, kTrackChoice);
  EXPECT_EQ(handler_->Filter(), ReadFileFilter::kCue);
  EXPECT_EQ(dialog_.Text(kReadFirstSector), "      0\n");
  EXPECT_EQ(dialog_.Text(kReadLastSector), "  39402\n");
  Fill("", "", Path("disc"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  EXPECT_EQ(FileBytes(Path("disc.bin")).size(), 28000u * 2352);
  EXPECT_NE(FileBytes(Path("disc.cue")).size(), 0u);
  EXPECT_EQ(dialog_.Text(kCancelButton), "結束(&X)");
  EXPECT_EQ(dialog_.ProgressPosition(kReadProgress), dialog_.ProgressRange(kReadProgress).second);

  Insert("dvdrom");
  ASSERT_TRUE(OpenDialog());
  EXPECT_EQ(dialog_.ItemCount(kTrackChoice), 1);
}

// A track written track at once ends in two run-out blocks: the whole track's read gives
// every data block, meets the run-out and ends as finished, with no error line.
TEST_F(ReadScenarioTest, TrackAtOnceTracksGiveTheirDataWithoutTheRunOut) {
  struct Case {
    const char* preset;
    int row;
    std::uint32_t first;
    std::size_t blocks;
  };
  for (const Case& c : {Case{"cdr-closed", 0, 0, 10000}, Case{"cdr-multi", 0, 0, 20000},
                        Case{"cdr-multi", 1, 31402, 8000}}) {
    SCOPED_TRACE(std::string(c.preset) + " track " + std::to_string(c.row + 1));
    Insert(c.preset);
    ASSERT_TRUE(OpenDialog());
    dialog_.SelectItem(kTrackChoice, c.row);
    handler_->OnCommand(dialog_, kTrackChoice);
    const std::string out = Path(std::string(c.preset) + std::to_string(c.row) + ".iso");
    Fill("", "", out);
    const std::size_t info_before = InfoText().size();
    EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
    const std::vector<std::uint8_t> data = FileBytes(out);
    EXPECT_EQ(data.size(), c.blocks * 2048);
    std::string why;
    EXPECT_TRUE(HoldsPatternBlocks(data, 0, c.first, c.blocks, &why)) << why;
    EXPECT_EQ(InfoText().substr(info_before), "");
    EXPECT_EQ(dialog_.Text(kCancelButton), "結束(&X)");

    // Asked for the track as the table of contents counts it (both run-out blocks): the
    // same data, and still finished.
    Fill("", std::to_string(c.first + c.blocks + 1), out);
    EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
    EXPECT_EQ(FileBytes(out).size(), c.blocks * 2048);
  }
}

TEST_F(ReadScenarioTest, AudioTrackGivesAWaveFileOfTheDiscsSamples) {
  Insert("cdda");
  ASSERT_TRUE(OpenDialog());
  dialog_.SelectItem(kTrackChoice, 1);
  handler_->OnCommand(dialog_, kTrackChoice);
  EXPECT_EQ(dialog_.Text(kReadMode), "10h\n");
  EXPECT_EQ(dialog_.Text(kReadFirstSector), "  16500\n");
  // Part of track 2, with an extension that says nothing: the mode decides.
  Fill("16500", "17099", Path("song.iso"));
  EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
  const std::vector<std::uint8_t> wave = FileBytes(Path("song.iso"));
  ASSERT_EQ(wave.size(), 44u + 600 * 2352);
  const std::uint8_t header[] = {'R',  'I',  'F', 'F', 0, 0, 0,  0, 'W', 'A', 'V',  'E',  'f', 'm',
                                 't',  ' ',  16,  0,   0, 0, 1,  0, 2,   0,   0x44, 0xAC, 0,   0,
                                 0x10, 0xB1, 2,   0,   4, 0, 16, 0, 'd', 'a', 't',  'a'};
  for (std::size_t i = 0; i < sizeof header; ++i) {
    if (i >= 4 && i < 8) continue;
    EXPECT_EQ(wave[i], header[i]) << "header byte " << i;
  }
  EXPECT_EQ(Le32(wave, 4), 600u * 2352 + 36);
  EXPECT_EQ(Le32(wave, 40), 600u * 2352);
  for (std::uint32_t i = 0; i < 600; ++i) {
    const std::vector<std::uint8_t> block = AudioBlock(16500 + i);
    ASSERT_TRUE(std::equal(block.begin(), block.end(), wave.begin() + 44 + i * 2352))
        << "block " << i;
  }
}

// Audio tracks recorded with copy permitted (control 2h) or with pre-emphasis as well (3h)
// show 12h or 13h and read as the audio they are.
TEST_F(ReadScenarioTest, CopyPermittedAudioTracksGiveTheirSamples) {
  for (const std::uint8_t track_mode : {0x02, 0x03}) {
    SCOPED_TRACE(track_mode);
    const std::string state = Path("audio" + std::to_string(track_mode) + ".disc");
    const std::size_t blocks = 200 + 37 * track_mode;
    const std::vector<std::uint8_t> samples = vdrive::test::Pattern(blocks, 2352, track_mode);
    {
      auto drive = vdrive::test::Ready("cdr-blank,state=" + state);
      ASSERT_NE(drive, nullptr);
      vdrive::test::WriteSetup setup;
      setup.track_mode = track_mode;
      setup.block_type = 0x00;  // audio, 2352 bytes
      ASSERT_EQ(vdrive::test::SelectWrite(*drive, setup).sense, vdrive::kGood);
      ASSERT_EQ(vdrive::test::WriteAll(*drive, 0, samples, 2352, 25), vdrive::kGood);
      ASSERT_EQ(vdrive::test::Send(*drive, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).sense,
                vdrive::kGood);
    }
    Insert("cdr-blank,state=" + state);
    ASSERT_TRUE(OpenDialog());
    EXPECT_EQ(dialog_.Text(kReadMode), track_mode == 2 ? "12h\n" : "13h\n");
    EXPECT_EQ(handler_->Filter(), ReadFileFilter::kWave);
    Fill("0", std::to_string(blocks - 1), Path("copy.wav"));
    EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
    const std::vector<std::uint8_t> wave = FileBytes(Path("copy.wav"));
    ASSERT_EQ(wave.size(), 44 + samples.size());
    EXPECT_EQ(Le32(wave, 40), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), wave.begin() + 44));
  }
}

// A formless Mode 2 track, recorded on a blank CD-R in 2336-byte blocks, read to an .md2
// file (any letter case) gives the same 2336-byte sectors.
TEST_F(ReadScenarioTest, Md2FileGetsTheMode2SectorsOfTheTrack) {
  const std::string state = Path("mode2.disc");
  const std::vector<std::uint8_t> sectors = vdrive::test::Pattern(300, 2336, 7);
  {
    auto drive = vdrive::test::Ready("cdr-blank,state=" + state);
    ASSERT_NE(drive, nullptr);
    vdrive::test::WriteSetup setup;
    setup.block_type = 0x09;  // Mode 2, 2336 bytes
    ASSERT_EQ(vdrive::test::SelectWrite(*drive, setup).sense, vdrive::kGood);
    ASSERT_EQ(vdrive::test::WriteAll(*drive, 0, sectors, 2336, 25), vdrive::kGood);
    ASSERT_EQ(vdrive::test::Send(*drive, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).sense,
              vdrive::kGood);
  }
  Insert("cdr-blank,state=" + state);
  ASSERT_TRUE(OpenDialog());
  for (const char* name : {"track.md2", "TRACK.MD2", "Track.mD2"}) {
    SCOPED_TRACE(name);
    Fill("", "", Path(name));
    EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
    EXPECT_EQ(FileBytes(Path(name)), sectors);
  }
}

// Two read dialogs open at once each show their own read.
TEST_F(ReadScenarioTest, TwoDialogsKeepTheirOwnProgress) {
  Insert("dvdrom");
  ASSERT_TRUE(OpenDialog());
  MemoryDialog other;
  SetTemplateCaptions(other, DvdReadTemplate());
  ReadDialog second(ReadDialog::Kind::kDvd);
  second.OnInit(other);
  Fill("0", "30000", Path("a.iso"));
  other.SetText(kReadFirstSector, "100000");
  other.SetText(kReadLastSector, "100099");
  other.SetText(kReadPath, Path("b.iso"));
  handler_->OnCommand(dialog_, kOkButton);
  second.OnCommand(other, kOkButton);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!second.Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    second.OnTimer(other, kRefreshTimer);
    if (dialog_.TimerRunning(kRefreshTimer)) handler_->OnTimer(dialog_, kRefreshTimer);
  }
  EXPECT_EQ(WaitForEnd(), ReadOutcome::kFinished);
  ASSERT_TRUE(second.Ended());
  EXPECT_EQ(second.Job()->outcome.load(), ReadOutcome::kFinished);
  EXPECT_EQ(dialog_.Text(kSectorReached), " 30001\n");
  EXPECT_EQ(other.Text(kSectorReached), "100100\n");
  EXPECT_EQ(dialog_.ProgressRange(kReadProgress), std::make_pair(0, 30001));
  EXPECT_EQ(other.ProgressRange(kReadProgress), std::make_pair(0, 100));
  std::string why;
  EXPECT_TRUE(HoldsPatternBlocks(FileBytes(Path("b.iso")), 0, 100000, 100, &why)) << why;
  EXPECT_EQ(FileBytes(Path("a.iso")).size(), 30001u * 2048);
}

// A DVD image above 4 GiB: sectors past the 32-bit byte offsets read from the right place.
TEST_F(ReadScenarioTest, DvdImageLargerThanFourGibReadsItsTail) {
  constexpr std::uint64_t kBlocks = 2200000;  // 4.2 GiB
  const std::string image = Path("big.iso");
  {
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kBlocks * 2048)), 0);
    const std::vector<std::uint8_t> tail = RandomBytes(2048 * 500, 3);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>((kBlocks - 500) * 2048)),
              static_cast<ssize_t>(tail.size()));
    ::close(fd);
    Insert("dvdrom,image=" + image);
    ASSERT_TRUE(OpenDialog());
    EXPECT_EQ(dialog_.Text(kReadLastSector), "2199999\n");
    Fill(std::to_string(kBlocks - 500), "", Path("tail.iso"));
    EXPECT_EQ(RunToEnd(), ReadOutcome::kFinished);
    EXPECT_EQ(FileBytes(Path("tail.iso")), tail);
    EXPECT_EQ(dialog_.Text(kSectorReached), "2200000\n");
  }
}

}  // namespace
}  // namespace zorvane::test
