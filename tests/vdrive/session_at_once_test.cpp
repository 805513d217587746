// CD session at once: a cue sheet announces the whole session, the host sends every block
// from the first pre-gap to the lead-out in one sequence, and the flush that follows records
// the lead-in and lead-out. Checked through the read side: TOC, disc and track
// information, READ CAPACITY, READ(10) and READ CD, and a restart from the state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <tuple>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be16;
using test::Be32;
using test::Ready;
using test::Send;
using test::SendOut;
using test::WriteSetup;

using Sheet = std::vector<std::uint8_t>;

constexpr std::uint8_t kData = 0x41;                // CTL data track, ADR 1
constexpr std::uint8_t kAudio = 0x01;               // CTL audio, ADR 1
constexpr std::uint32_t kPregapStart = 0xFFFFFF6A;  // LBA -150, 00:00:00

// One cue sheet entry at an address (LBA -150 is 00:00:00).
void Add(Sheet& sheet, std::uint8_t ctl_adr, std::uint8_t tno, std::uint8_t index,
         std::uint8_t form, std::int32_t lba) {
  const std::int32_t frames = lba + 150;
  sheet.insert(
      sheet.end(),
      {ctl_adr, tno, index, form, 0x00, static_cast<std::uint8_t>(frames / 4500),
       static_cast<std::uint8_t>(frames / 75 % 60), static_cast<std::uint8_t>(frames % 75)});
}

Answer SendCue(Drive& drive, const Sheet& sheet, std::size_t length) {
  return SendOut(drive,
                 {0x5D, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(length >> 16),
                  static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0},
                 sheet);
}
Sense SendCue(Drive& drive, const Sheet& sheet) {
  return SendCue(drive, sheet, sheet.size()).sense;
}

// One Mode 1 track of `blocks` with the 2-second pre-gap, from the program area at `area`.
Sheet DataSheet(std::int32_t area, std::int32_t blocks, std::uint8_t tno = 1) {
  Sheet sheet;
  Add(sheet, kData, 0x00, 0, 0x14, area);
  Add(sheet, kData, tno, 0, 0x10, area);
  Add(sheet, kData, tno, 1, 0x10, area + 150);
  Add(sheet, kData, 0xAA, 1, 0x14, area + 150 + blocks);
  return sheet;
}

WriteSetup SessionAtOnce(std::uint8_t multi_session = 0) {
  WriteSetup setup;
  setup.write_type = 2;
  setup.track_mode = 0;  // ignored in session at once, as burners send it
  setup.block_type = 0;
  setup.multi_session = multi_session;
  return setup;
}

struct TocEntry {
  std::uint8_t control;
  std::uint8_t number;
  std::uint32_t lba;
};
std::vector<TocEntry> Toc(Drive& drive) {
  const Answer toc = Send(drive, test::ReadToc(0, false));
  EXPECT_EQ(toc.sense, kGood);
  std::vector<TocEntry> entries;
  for (std::size_t at = 4; at + 8 <= toc.data.size(); at += 8) {
    entries.push_back({static_cast<std::uint8_t>(toc.data[at + 1] & 0x0F), toc.data[at + 2],
                       Be32(toc.data, at + 4)});
  }
  return entries;
}

struct TrackView {
  Sense sense;
  std::uint8_t session, control, data_mode;
  std::uint32_t start, size;
};
TrackView Track(Drive& drive, std::uint8_t type, std::uint32_t value) {
  const Answer a = Send(drive, test::TrackInfo(type, value));
  if (a.sense != kGood) return {a.sense, 0, 0, 0, 0, 0};
  return {kGood,
          a.data[3],
          static_cast<std::uint8_t>(a.data[5] & 0x0F),
          static_cast<std::uint8_t>(a.data[6] & 0x0F),
          Be32(a.data, 8),
          Be32(a.data, 24)};
}

TEST(SessionAtOnceTest, DataSessionFromThePregapToTheLeadout) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
  ASSERT_EQ(SendCue(*drive, DataSheet(-150, 400)), kGood);
  const std::vector<std::uint8_t> pregap(150 * 2048, 0);
  const std::vector<std::uint8_t> data = test::Pattern(400, 2048, 11);
  // The host starts at the first pre-gap, not at the track.
  EXPECT_EQ(SendOut(*drive, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense,
            kInvalidAddressForWrite);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart, pregap, 2048), kGood);
  ASSERT_EQ(test::WriteAll(*drive, 0, data, 2048, 27), kGood);
  // Nothing is recorded for the TOC until the flush.
  EXPECT_EQ(test::Disc(*drive).status, 0);
  EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).sense, kInvalidField);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);

  const test::DiscState disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 2);  // complete: the multi-session field asked for no more
  EXPECT_EQ(disc.sessions, 1);
  const std::vector<TocEntry> toc = Toc(*drive);
  ASSERT_EQ(toc.size(), 2U);
  EXPECT_EQ(toc[0].number, 1);
  EXPECT_EQ(toc[0].control, 4);
  EXPECT_EQ(toc[0].lba, 0U);
  EXPECT_EQ(toc[1].number, 0xAA);
  EXPECT_EQ(toc[1].lba, 400U);
  const Answer capacity = Send(*drive, test::Capacity());
  EXPECT_EQ(Be32(capacity.data, 0), 399U);
  const TrackView track = Track(*drive, 1, 1);
  EXPECT_EQ(track.start, 0U);
  EXPECT_EQ(track.size, 400U);
  EXPECT_EQ(track.data_mode, 1);
  const Answer back = Send(*drive, test::Read10(0, 400), 400 * 2048);
  ASSERT_EQ(back.sense, kGood);
  EXPECT_EQ(back.data, data);
  EXPECT_EQ(Send(*drive, test::Read10(400, 1)).sense, kLbaOutOfRange);
  // The disc is closed: no further writes, no further cue sheet.
  EXPECT_EQ(SendCue(*drive, DataSheet(-150, 400)), kCommandSequenceError);
  EXPECT_EQ(test::Invisible(*drive).sense, kInvalidField);
}

// Three audio tracks: the first with the disc's pre-gap, the second with a pre-gap of its
// own, the third without one.
Sheet AudioSheet() {
  Sheet sheet;
  Add(sheet, kAudio, 0x00, 0, 0x01, -150);
  Add(sheet, kAudio, 1, 0, 0x00, -150);
  Add(sheet, kAudio, 1, 1, 0x00, 0);
  Add(sheet, kAudio, 2, 0, 0x00, 300);
  Add(sheet, kAudio, 2, 1, 0x00, 450);
  Add(sheet, kAudio, 3, 1, 0x00, 750);
  Add(sheet, kAudio, 0xAA, 1, 0x01, 1070);
  return sheet;
}

class SessionAtOnceStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/zorvane-sao-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/disc.state";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
  std::string path_;
};

void CheckAudioDisc(Drive& drive, const std::vector<std::uint8_t>& samples) {
  const std::vector<TocEntry> toc = Toc(drive);
  ASSERT_EQ(toc.size(), 4U);
  const std::uint32_t starts[] = {0, 450, 750, 1070};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(toc[i].control, 0) << i;
    EXPECT_EQ(toc[i].lba, starts[i]) << i;
  }
  // Raw TOC: A0 first track 1, A1 last track 3, A2 the lead-out at 00:16:20 (LBA 1070).
  const Answer raw = Send(drive, test::ReadToc(2, false));
  ASSERT_EQ(raw.sense, kGood);
  bool a2 = false;
  for (std::size_t at = 4; at + 11 <= raw.data.size(); at += 11) {
    if (raw.data[at + 3] == 0xA0) {
      EXPECT_EQ(raw.data[at + 8], 1);
    }
    if (raw.data[at + 3] == 0xA1) {
      EXPECT_EQ(raw.data[at + 8], 3);
    }
    if (raw.data[at + 3] == 0xA2) {
      a2 = true;
      EXPECT_EQ(raw.data[at + 8], 0);
      EXPECT_EQ(raw.data[at + 9], 16);
      EXPECT_EQ(raw.data[at + 10], 20);
    }
  }
  EXPECT_TRUE(a2);
  // Track 1 ends where the pre-gap of track 2 begins; that pre-gap belongs to track 2.
  const TrackView one = Track(drive, 1, 1);
  EXPECT_EQ(one.start, 0U);
  EXPECT_EQ(one.size, 300U);
  EXPECT_EQ(one.data_mode, 0x0F);
  const TrackView two = Track(drive, 1, 2);
  EXPECT_EQ(two.start, 450U);
  EXPECT_EQ(two.size, 300U);
  EXPECT_EQ(Track(drive, 0, 320).start, 450U);
  EXPECT_EQ(Track(drive, 1, 3).size, 320U);
  // The samples as sent, the pre-gap of track 2 included.
  for (const std::uint32_t lba : {0U, 299U, 300U, 449U, 450U, 750U, 1069U}) {
    const Answer block = Send(drive, test::ReadCd(lba, 1, 1, 0x10), 2352);
    ASSERT_EQ(block.sense, kGood) << lba;
    const auto at = samples.begin() + (static_cast<std::ptrdiff_t>(lba) + 150) * 2352;
    EXPECT_TRUE(std::equal(at, at + 2352, block.data.begin())) << lba;
  }
  EXPECT_EQ(Send(drive, test::ReadCd(1070, 1, 0, 0x10), 2352).sense, kLbaOutOfRange);
  // The Q sub-channel there: track 2, index 0 in its pre-gap, counting down to its start.
  for (const auto& [lba, index, relative] :
       {std::tuple{320U, 0, 0xFFFFFF7EU}, std::tuple{450U, 1, 0U}, std::tuple{460U, 1, 10U}}) {
    ASSERT_EQ(Send(drive,
                   {0x2B, 0, 0, 0, static_cast<std::uint8_t>(lba >> 8),
                    static_cast<std::uint8_t>(lba), 0, 0, 0, 0},
                   0)
                  .sense,
              kGood);
    const Answer q = Send(drive, {0x42, 0, 0x40, 0x01, 0, 0, 0, 0, 16, 0});
    ASSERT_EQ(q.sense, kGood);
    EXPECT_EQ(q.data[6], 2) << lba;
    EXPECT_EQ(q.data[7], index) << lba;
    EXPECT_EQ(Be32(q.data, 8), lba);
    EXPECT_EQ(Be32(q.data, 12), relative) << lba;
  }
  // READ CD's formatted Q says the same (BCD times, its CRC valid), and the raw P-W carries
  // that Q bit by bit, with P set in the pre-gap only.
  for (const auto& [lba, index, relative] :
       {std::tuple{320U, 0, std::vector<std::uint8_t>{0x00, 0x01, 0x55}},
        std::tuple{450U, 1, std::vector<std::uint8_t>{0x00, 0x00, 0x00}},
        std::tuple{460U, 1, std::vector<std::uint8_t>{0x00, 0x00, 0x10}}}) {
    const Answer formatted = Send(drive, test::ReadCd(lba, 1, 1, 0x10, 0x02), 2352 + 16);
    ASSERT_EQ(formatted.sense, kGood);
    ASSERT_EQ(formatted.data.size(), 2352U + 16);
    const std::vector<std::uint8_t> q(formatted.data.begin() + 2352, formatted.data.end());
    EXPECT_EQ(q[0], 0x01);
    EXPECT_EQ(q[1], 0x02);
    EXPECT_EQ(q[2], index) << lba;
    EXPECT_EQ(std::vector<std::uint8_t>(q.begin() + 3, q.begin() + 6), relative) << lba;
    EXPECT_EQ(
        q[7] * 60 * 75 + (q[8] >> 4) * 750 + (q[8] & 0x0F) * 75 + (q[9] >> 4) * 10 + (q[9] & 0x0F),
        lba + 150);
    EXPECT_TRUE(test::QCrcHolds(q.data())) << lba;
    const Answer raw = Send(drive, test::ReadCd(lba, 1, 0, 0x00, 0x01), 96);
    ASSERT_EQ(raw.data.size(), 96U);
    for (std::size_t bit = 0; bit < 96; ++bit) {
      EXPECT_EQ((raw.data[bit] & 0x80) != 0, index == 0);
      EXPECT_EQ((raw.data[bit] >> 6) & 1, (q[bit / 8] >> (7 - bit % 8)) & 1);
      EXPECT_EQ(raw.data[bit] & 0x3F, 0);  // R-W
    }
  }
  EXPECT_EQ(Send(drive, test::Read10(0, 1)).sense, kIllegalModeForTrack);  // audio
}

TEST_F(SessionAtOnceStateTest, AudioTracksWithPregapsSurviveARestart) {
  const std::vector<std::uint8_t> samples = test::Pattern(1220, 2352, 5);
  {
    auto drive = Ready("cdr-blank,state=" + path_);
    WriteSetup setup = SessionAtOnce();
    setup.track_mode = 0;
    ASSERT_EQ(test::SelectWrite(*drive, setup).sense, kGood);
    ASSERT_EQ(SendCue(*drive, AudioSheet()), kGood);
    // Audio blocks are 2352 bytes: a data phase sized for 2048 does not do.
    EXPECT_EQ(
        SendOut(*drive, test::Write10(kPregapStart, 2), std::vector<std::uint8_t>(4096)).status,
        Status::kTransportFailure);
    ASSERT_EQ(test::WriteAll(*drive, kPregapStart, samples, 2352, 20), kGood);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
    CheckAudioDisc(*drive, samples);
  }
  auto again = Ready("cdr-blank,state=" + path_);
  CheckAudioDisc(*again, samples);
}

TEST_F(SessionAtOnceStateTest, AnUnfinishedSessionIsNotRecorded) {
  {
    auto drive = Ready("cdr-blank,state=" + path_);
    ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
    ASSERT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
    ASSERT_EQ(test::WriteAll(*drive, kPregapStart, test::Pattern(200, 2048, 3), 2048), kGood);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);  // commits, with the session unfinished
  }
  // The writer is gone before the lead-out: the disc is still blank and takes a new sheet.
  auto again = Ready("cdr-blank,state=" + path_);
  EXPECT_EQ(test::Disc(*again).status, 0);
  EXPECT_EQ(Send(*again, test::ReadToc(0, false)).sense, kInvalidField);
  EXPECT_EQ(Send(*again, test::Read10(0, 1)).sense, kLbaOutOfRange);
  ASSERT_EQ(test::SelectWrite(*again, SessionAtOnce()).sense, kGood);
  ASSERT_EQ(SendCue(*again, DataSheet(-150, 300)), kGood);
  const std::vector<std::uint8_t> data = test::Pattern(300, 2048, 4);
  ASSERT_EQ(test::WriteAll(*again, kPregapStart, std::vector<std::uint8_t>(150 * 2048), 2048),
            kGood);
  ASSERT_EQ(test::WriteAll(*again, 0, data, 2048), kGood);
  ASSERT_EQ(Send(*again, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Send(*again, test::Read10(0, 300), 300 * 2048).data, data);
}

// A sheet with the disc's catalogue number ahead of the lead-in and an ISRC before the
// track it names.
Sheet LabelledSheet(const std::string& catalogue, const std::string& isrc) {
  Sheet sheet;
  sheet.push_back(0x02);
  sheet.insert(sheet.end(), catalogue.begin(), catalogue.begin() + 7);
  sheet.push_back(0x02);
  sheet.insert(sheet.end(), catalogue.begin() + 7, catalogue.end());
  sheet.push_back(0x00);
  Add(sheet, kAudio, 0x00, 0, 0x01, -150);
  sheet.insert(sheet.end(), {0x03, 1});
  sheet.insert(sheet.end(), isrc.begin(), isrc.begin() + 6);
  sheet.insert(sheet.end(), {0x03, 1});
  sheet.insert(sheet.end(), isrc.begin() + 6, isrc.end());
  Add(sheet, kAudio, 1, 0, 0x00, -150);
  Add(sheet, kAudio, 1, 1, 0x00, 0);
  Add(sheet, kAudio, 2, 1, 0x00, 300);
  Add(sheet, kAudio, 0xAA, 1, 0x01, 600);
  return sheet;
}

std::string SubChannelText(Drive& drive, std::uint8_t format, std::uint8_t track,
                           std::size_t length) {
  const Answer a = Send(drive, {0x42, 0, 0x40, format, 0, 0, track, 0, 24, 0});
  EXPECT_EQ(a.sense, kGood);
  if (a.data.size() < 24 || (a.data[8] & 0x80) == 0) return "";  // not valid
  return std::string(a.data.begin() + 9, a.data.begin() + 9 + static_cast<std::ptrdiff_t>(length));
}

TEST_F(SessionAtOnceStateTest, CatalogueNumberAndIsrcReachTheSubChannel) {
  {
    auto drive = Ready("cdr-blank,state=" + path_);
    ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
    // Letters in the catalogue number, small letters in the ISRC: refused.
    EXPECT_EQ(SendCue(*drive, LabelledSheet("012345678901A", "DEAAA0600001")),
              kInvalidFieldInParameters);
    EXPECT_EQ(SendCue(*drive, LabelledSheet("0123456789012", "deaaa0600001")),
              kInvalidFieldInParameters);
    ASSERT_EQ(SendCue(*drive, LabelledSheet("0123456789012", "DEAAA0600001")), kGood);
    ASSERT_EQ(test::WriteAll(*drive, kPregapStart, test::Pattern(750, 2352, 9), 2352), kGood);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
    EXPECT_EQ(SubChannelText(*drive, 2, 0, 13), "0123456789012");
    EXPECT_EQ(SubChannelText(*drive, 3, 1, 12), "DEAAA0600001");
    EXPECT_EQ(SubChannelText(*drive, 3, 2, 12), "");  // track 2 has none
    // The Q of the blocks themselves: the catalogue number (mode 2) and track 1's ISRC
    // (mode 3) in at least one block of every hundred, each in place of a position.
    const Answer qs = Send(*drive, test::ReadCd(0, 600, 0, 0x00, 0x02), 600 * 16);
    ASSERT_EQ(qs.sense, kGood);
    int catalogues[6] = {};
    int isrcs[6] = {};
    for (std::size_t block = 0; block < 600; ++block) {
      const std::uint8_t* q = qs.data.data() + block * 16;
      EXPECT_TRUE(test::QCrcHolds(q)) << block;
      if ((q[0] & 0x0F) == 2) {
        ++catalogues[block / 100];
        EXPECT_EQ(std::vector<std::uint8_t>(q + 1, q + 8),
                  (std::vector<std::uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x20}));
      } else if ((q[0] & 0x0F) == 3) {
        ++isrcs[block / 100];
        EXPECT_LT(block, 300U);
        // D E A A A as 6-bit codes, then 0600001 in BCD.
        EXPECT_EQ(std::vector<std::uint8_t>(q + 1, q + 9),
                  (std::vector<std::uint8_t>{0x51, 0x54, 0x51, 0x44, 0x06, 0x00, 0x00, 0x10}));
      } else {
        EXPECT_EQ(q[0], 0x01) << block;
      }
    }
    for (int hundred = 0; hundred < 6; ++hundred) {
      EXPECT_GE(catalogues[hundred], 1) << hundred;
      EXPECT_EQ(isrcs[hundred] >= 1, hundred < 3) << hundred;
    }
  }
  auto again = Ready("cdr-blank,state=" + path_);
  EXPECT_EQ(SubChannelText(*again, 2, 0, 13), "0123456789012");
  EXPECT_EQ(SubChannelText(*again, 3, 1, 12), "DEAAA0600001");
}

// Lead-in blocks of packed R-W sub-channel: each pack's 144 bits as 24 six-bit symbols.
std::vector<std::uint8_t> LeadinBlock(const std::vector<std::vector<std::uint8_t>>& packs) {
  std::vector<std::uint8_t> block;
  for (const auto& pack : packs) {
    for (std::size_t bit = 0; bit < 144; bit += 6) {
      std::uint8_t symbol = 0;
      for (std::size_t k = 0; k < 6; ++k) {
        symbol = static_cast<std::uint8_t>(symbol << 1 |
                                           (pack[(bit + k) / 8] >> (7 - (bit + k) % 8) & 1));
      }
      block.push_back(symbol | 0xC0);  // the P and Q bits are the drive's own
    }
  }
  return block;
}

// CD-TEXT from the host in the lead-in (DATA FORM 41h): 96-byte blocks from the start of
// the lead-in to the program area; READ TOC format 5 answers the packs with a good CRC, one
// copy each, also after a restart.
TEST_F(SessionAtOnceStateTest, CdTextOfTheLeadInIsKept) {
  // Size-information packs of a pressed disc, with their CRCs, and a copy of the first with a
  // damaged CRC.
  const std::vector<std::vector<std::uint8_t>> packs = {
      {0x8F, 0x00, 0x2B, 0x00, 0x01, 0x01, 0x0D, 0x03, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x01,
       0x00, 0x7B, 0x3D},
      {0x8F, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x03, 0x2D, 0x00, 0x00,
       0x00, 0xDA, 0xB7},
      {0x8F, 0x02, 0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
       0x00, 0x6A, 0x24}};
  std::vector<std::uint8_t> damaged = packs[0];
  damaged[8] ^= 0x40;
  Sheet sheet = AudioSheet();
  const std::vector<std::uint8_t> samples = test::Pattern(1220, 2352, 5);
  {
    auto drive = Ready("cdr-blank,state=" + path_);
    ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
    // Raw R-W (11b) and main data from the host in the lead-in are not taken.
    for (const std::uint8_t form : {0xC1, 0x40, 0x81}) {
      sheet[3] = form;
      EXPECT_EQ(SendCue(*drive, sheet), kInvalidFieldInParameters) << int(form);
    }
    sheet[3] = 0x41;
    ASSERT_EQ(SendCue(*drive, sheet), kGood);
    // The lead-in begins at the ATIP's 97:24:01, LBA -11849; the blocks come first.
    const std::uint32_t leadin = static_cast<std::uint32_t>(-11849);
    EXPECT_EQ(
        SendOut(*drive, test::Write10(kPregapStart, 1), std::vector<std::uint8_t>(2352)).sense,
        kInvalidAddressForWrite);
    std::vector<std::uint8_t> blocks = LeadinBlock({damaged, packs[1], packs[2], packs[1]});
    for (int i = 1; i < 11849 - 150; ++i) {
      const auto block = LeadinBlock({packs[(i * 4) % 3], packs[(i * 4 + 1) % 3],
                                      packs[(i * 4 + 2) % 3], packs[(i * 4 + 3) % 3]});
      blocks.insert(blocks.end(), block.begin(), block.end());
    }
    // 96 bytes a block: a data phase of 2352-byte blocks is not what the drive takes.
    EXPECT_EQ(SendOut(*drive, test::Write10(leadin, 2), std::vector<std::uint8_t>(100)).status,
              Status::kTransportFailure);
    ASSERT_EQ(test::WriteAll(*drive, leadin, blocks, 96, 300), kGood);
    ASSERT_EQ(test::WriteAll(*drive, kPregapStart, samples, 2352, 20), kGood);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
    CheckAudioDisc(*drive, samples);
  }
  auto again = Ready("cdr-blank,state=" + path_);
  CheckAudioDisc(*again, samples);
  const Answer text = Send(*again, test::ReadToc(5, false));
  ASSERT_EQ(text.sense, kGood);
  ASSERT_EQ(Be16(text.data, 0), 2U + 3 * 18);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::equal(packs[i].begin(), packs[i].end(), text.data.begin() + 4 + 18 * i)) << i;
  }
  // Without CD-TEXT in the lead-in: the header alone.
  auto plain = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*plain, SessionAtOnce()).sense, kGood);
  ASSERT_EQ(SendCue(*plain, AudioSheet()), kGood);
  ASSERT_EQ(test::WriteAll(*plain, kPregapStart, samples, 2352, 20), kGood);
  ASSERT_EQ(Send(*plain, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Send(*plain, test::ReadToc(5, false)).data,
            (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0x00}));
}

TEST(SessionAtOnceTest, MultiSessionLeavesTheDiscAppendable) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce(3)).sense, kGood);
  ASSERT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart, test::Pattern(450, 2048, 1), 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  test::DiscState disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 1);  // appendable
  EXPECT_EQ(disc.session_state, 0);
  // The second session's program area follows the lead-out (1:30) and the next lead-in
  // (1:00); its first track is track 2 after a pre-gap of 2 seconds.
  const test::Writable next = test::Invisible(*drive);
  ASSERT_EQ(next.sense, kGood);
  EXPECT_EQ(next.track, 2);
  EXPECT_EQ(next.next, 300U + 6750 + 4500 + 150);
  const auto area = static_cast<std::int32_t>(next.next) - 150;
  // The sheet must start at that area, with the next track number.
  EXPECT_EQ(SendCue(*drive, DataSheet(-150, 300, 2)), kInvalidFieldInParameters);
  EXPECT_EQ(SendCue(*drive, DataSheet(area, 300, 1)), kInvalidFieldInParameters);
  ASSERT_EQ(SendCue(*drive, DataSheet(area, 350, 2)), kGood);
  const std::vector<std::uint8_t> second = test::Pattern(350, 2048, 2);
  ASSERT_EQ(test::WriteAll(*drive, static_cast<std::uint32_t>(area),
                           std::vector<std::uint8_t>(150 * 2048), 2048),
            kGood);
  ASSERT_EQ(test::WriteAll(*drive, next.next, second, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 1);
  EXPECT_EQ(disc.sessions, 3);  // two recorded, the next one empty
  const std::vector<TocEntry> toc = Toc(*drive);
  ASSERT_EQ(toc.size(), 3U);
  EXPECT_EQ(toc[1].number, 2);
  EXPECT_EQ(toc[1].lba, next.next);
  EXPECT_EQ(toc[2].lba, next.next + 350);
  EXPECT_EQ(Track(*drive, 1, 2).session, 2);
  const Answer last_session = Send(*drive, test::ReadToc(1, false));
  EXPECT_EQ(last_session.data[3], 2);
  EXPECT_EQ(Be32(last_session.data, 8), next.next);
  const Answer back = Send(*drive, test::Read10(next.next, 350), 350 * 2048);
  EXPECT_EQ(back.data, second);
}

TEST(SessionAtOnceTest, MalformedCueSheetsAreRefused) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
  const Sheet good = DataSheet(-150, 300);
  struct Case {
    const char* what;
    Sheet sheet;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, std::size_t at, std::uint8_t value) {
    Sheet sheet = good;
    sheet[at] = value;
    cases.push_back({what, sheet});
  };
  cases.push_back({"no lead-in", Sheet(good.begin() + 8, good.end())});
  cases.push_back({"no lead-out", Sheet(good.begin(), good.end() - 8)});
  with("index 1 before index 0", 22, 0);  // track 1 index 1 at 00:00:00 ...
  with("addresses descending", 30, 1);    // lead-out at 00:01:00, before index 1
  with("unknown data form", 19, 0x12);
  with("sub-channel data with the blocks", 19, 0x50);
  with("track 1 numbered 2", 9, 2);
  with("track 2 first on a blank disc", 17, 2);
  with("index 2 without index 1", 18, 2);
  with("audio control on a data form", 16, kAudio);
  with("lead-in not generated", 3, 0x10);
  with("lead-out index 0", 26, 0);
  with("a track under 4 seconds", 30, 5);  // lead-out at 00:05:00: 225 blocks
  with("lead-out past the disc", 29, 81);
  with("no pre-gap for the first track", 14, 0x01);  // index 0 at 00:00:00 still
  {
    Sheet sheet = good;
    Add(sheet, kData, 2, 1, 0x10, 900);  // after the lead-out
    cases.push_back({"entry after the lead-out", sheet});
    Sheet skipped;
    Add(skipped, kData, 0x00, 0, 0x14, -150);
    Add(skipped, kData, 1, 0, 0x10, -150);
    Add(skipped, kData, 1, 1, 0x10, 0);
    Add(skipped, kData, 3, 1, 0x10, 300);
    Add(skipped, kData, 0xAA, 1, 0x14, 600);
    cases.push_back({"track 2 missing", skipped});
    Sheet catalogue = good;
    catalogue.insert(catalogue.begin(), {0x02, '1', '2', '3', '4', '5', '6', '7'});
    cases.push_back({"half a catalogue number", catalogue});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(SendCue(*drive, c.sheet), kInvalidFieldInParameters) << c.what;
  }
  // The length: whole entries only, and no longer than the drive takes (Maximum Cue Sheet
  // Length of CD Mastering).
  Sheet partial = good;
  partial.resize(good.size() + 4, 0);
  EXPECT_EQ(SendCue(*drive, partial, partial.size()).sense, kInvalidFieldInParameters);
  std::uint32_t maximum = 0;
  for (const auto& [code, view] : test::Features(*drive)) {
    if (code == 0x002E) maximum = test::Be24(view.data, 1);
  }
  ASSERT_GT(maximum, 0U);
  Sheet longest = good;
  longest.resize(maximum + 8, 0);
  EXPECT_EQ(SendCue(*drive, longest, longest.size()).sense, kInvalidFieldInParameters);
  // None of these left a layout behind: a write is still out of sequence.
  EXPECT_EQ(SendOut(*drive, test::Write10(kPregapStart, 1), std::vector<std::uint8_t>(2048)).sense,
            kCommandSequenceError);
  // A sheet with a media catalogue number and an ISRC is taken.
  Sheet full;
  full.insert(full.end(), {0x02, '0', '1', '2', '3', '4', '5', '6'});
  full.insert(full.end(), {0x02, '7', '8', '9', '0', '1', '2', 0});
  full.insert(full.end(), good.begin(), good.begin() + 8);
  full.insert(full.end(), {0x43, 1, 'D', 'E', 'A', 'A', 'A', '0'});
  full.insert(full.end(), {0x43, 1, '6', '0', '0', '0', '0', '1'});
  full.insert(full.end(), good.begin() + 8, good.end());
  EXPECT_EQ(SendCue(*drive, full), kGood);
}

TEST(SessionAtOnceTest, CueSheetNeedsSessionAtOnceOnABlankOrAppendableCd) {
  const Sheet sheet = DataSheet(-150, 300);
  auto drive = Ready("cdr-blank");
  // Page 05h: in session at once the cue sheet describes the blocks, so the track mode and
  // block type need not agree, and the sub-channel block types (01h-03h; cdrdao asks for
  // 03h when it writes CD-TEXT) change nothing; in track at once they stay refused.
  for (const std::uint8_t mode : {0, 4}) {
    for (const std::uint8_t type : {0x00, 0x01, 0x02, 0x03, 0x08, 0x0A}) {
      WriteSetup setup = SessionAtOnce();
      setup.track_mode = mode;
      setup.block_type = type;
      EXPECT_EQ(test::SelectWrite(*drive, setup).sense, kGood) << int(mode) << ' ' << int(type);
    }
  }
  for (const std::uint8_t type : {0x01, 0x02, 0x03}) {
    WriteSetup setup = SessionAtOnce();
    setup.write_type = 1;
    setup.block_type = type;
    EXPECT_EQ(test::SelectWrite(*drive, setup).sense, kInvalidFieldInParameters) << int(type);
  }
  // Raw recording is not offered, with or without sub-channel blocks.
  for (const std::uint8_t type : {0x00, 0x01, 0x03, 0x08}) {
    WriteSetup raw;
    raw.write_type = 3;
    raw.track_mode = type == 0x08 ? 4 : 0;
    raw.block_type = type;
    EXPECT_EQ(test::SelectWrite(*drive, raw).sense, kInvalidFieldInParameters) << int(type);
  }
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{}).sense, kGood);  // track at once
  EXPECT_EQ(SendCue(*drive, sheet), kCommandSequenceError);
  // Without a cue sheet, session at once takes no write.
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(kPregapStart, 1), std::vector<std::uint8_t>(2048)).sense,
            kCommandSequenceError);
  EXPECT_EQ(SendCue(*drive, sheet), kGood);
  // A session still open after track at once, a closed disc, a pressed disc, a DVD.
  auto open = Ready("cdr-open");
  ASSERT_EQ(test::SelectWrite(*open, SessionAtOnce()).sense, kGood);
  EXPECT_EQ(SendCue(*open, sheet), kCommandSequenceError);
  auto closed = Ready("cdr-closed");
  ASSERT_EQ(test::SelectWrite(*closed, SessionAtOnce()).sense, kGood);
  EXPECT_EQ(SendCue(*closed, sheet), kCommandSequenceError);
  auto cdrom = Ready("cdrom");
  EXPECT_EQ(SendCue(*cdrom, sheet), kCannotWriteIncompatible);
  auto dvd = Ready("dvd-r");
  EXPECT_EQ(SendCue(*dvd, sheet), kCannotWriteIncompatible);
  auto mrw = Ready("cdrw-mrw");
  EXPECT_EQ(SendCue(*mrw, sheet), kCannotWriteIncompatible);
}

TEST(SessionAtOnceTest, WritesFollowTheSheetInSequence) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
  ASSERT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
  const std::vector<std::uint8_t> block(2048, 0);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart, std::vector<std::uint8_t>(100 * 2048), 2048),
            kGood);
  // A gap, a rewrite, a jump back: refused with the address.
  const Answer gap = SendOut(*drive, test::Write10(kPregapStart + 101, 1), block);
  EXPECT_EQ(gap.sense, kInvalidAddressForWrite);
  EXPECT_EQ(gap.reply.sense[0] & 0x80, 0x80);  // information valid
  EXPECT_EQ(Be32(std::vector<std::uint8_t>(gap.reply.sense, gap.reply.sense + 18), 3),
            kPregapStart + 101);
  EXPECT_EQ(SendOut(*drive, test::Write10(kPregapStart + 99, 1), block).sense,
            kInvalidAddressForWrite);
  // A sheet cannot be replaced once its session is being written.
  EXPECT_EQ(SendCue(*drive, DataSheet(-150, 500)), kCommandSequenceError);
  // A flush before the end records nothing yet; the host goes on where it was.
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 0);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart + 100, std::vector<std::uint8_t>(50 * 2048), 2048),
            kGood);
  ASSERT_EQ(test::WriteAll(*drive, 0, std::vector<std::uint8_t>(299 * 2048), 2048), kGood);
  // Past the lead-out.
  EXPECT_EQ(SendOut(*drive, test::Write10(299, 2), std::vector<std::uint8_t>(4096)).sense,
            kLbaOutOfRange);
  ASSERT_EQ(SendOut(*drive, test::Write10(299, 1), block).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(300, 1), block).sense, kLbaOutOfRange);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 2);
}

TEST(SessionAtOnceTest, TestWriteRecordsNothing) {
  auto drive = Ready("cdr-blank");
  WriteSetup setup = SessionAtOnce();
  setup.test_write = true;
  ASSERT_EQ(test::SelectWrite(*drive, setup).sense, kGood);
  ASSERT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart, std::vector<std::uint8_t>(450 * 2048), 2048),
            kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 0);
  EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).sense, kInvalidField);
  // The disc takes the real recording afterwards.
  setup.test_write = false;
  ASSERT_EQ(test::SelectWrite(*drive, setup).sense, kGood);
  EXPECT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
}

TEST(SessionAtOnceTest, TheFlushThatEndsTheSessionTakesTheLeadInAndLeadOut) {
  auto drive = Ready("cdr-blank,time=real");
  Drive::Clock::time_point now{};
  std::chrono::microseconds slept{0};
  drive->SetClock([&] { return now; });
  drive->SetSleeper([&](std::chrono::microseconds d) {
    slept += d;
    now += d;
  });
  ASSERT_EQ(test::SelectWrite(*drive, SessionAtOnce()).sense, kGood);
  ASSERT_EQ(SendCue(*drive, DataSheet(-150, 300)), kGood);
  ASSERT_EQ(test::WriteAll(*drive, kPregapStart, std::vector<std::uint8_t>(449 * 2048), 2048),
            kGood);
  now += std::chrono::seconds(10);  // the buffer has drained
  // A flush before the last block records nothing, and takes no time.
  slept = {};
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_LT(slept, std::chrono::milliseconds(10));
  ASSERT_EQ(SendOut(*drive, test::Write10(299, 1), std::vector<std::uint8_t>(2048)).sense, kGood);
  now += std::chrono::seconds(1);
  slept = {};
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  // 1:00 of lead-in and 1:30 of lead-out at 48x (8,467 kB/s).
  EXPECT_NEAR(static_cast<double>(slept.count()) / 1e6, (4500.0 + 6750) * 2352 / 8467 / 1000, 0.05);
  EXPECT_EQ(test::Disc(*drive).status, 2);
}

TEST(SessionAtOnceTest, CdMasteringIsCurrentOnWritableCdOnly) {
  for (const char* preset : {"cdr-blank", "cdrw-blank", "cdr-multi"}) {
    auto drive = Ready(preset);
    bool found = false;
    for (const auto& [code, view] : test::Features(*drive)) {
      if (code != 0x002E) continue;
      found = true;
      EXPECT_TRUE(view.current) << preset;
      EXPECT_EQ(view.data[0] & 0x20, 0x20) << preset;  // session at once
      EXPECT_EQ(view.data[0] & 0x18, 0x00) << preset;  // no raw recording
      EXPECT_EQ(view.data[0] & 0x04, 0x04) << preset;  // test write works
      EXPECT_EQ(view.data[0] & 0x01, 0x01) << preset;  // R-W in the lead-in: CD-TEXT
    }
    EXPECT_TRUE(found) << preset;
  }
  for (const char* preset : {"cdrom", "cdrw-mrw", "dvd-r", "dvd+rw", "nodisc"}) {
    auto drive = Ready(preset);
    for (const auto& [code, view] : test::Features(*drive)) {
      if (code == 0x002E) {
        EXPECT_FALSE(view.current) << preset;
      }
    }
  }
}

}  // namespace
}  // namespace zorvane::vdrive
