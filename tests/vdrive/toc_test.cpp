// The table of contents in all its forms, and the recording state the disc and track
// information describe: each view must agree with the others on every preset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be16;
using test::Be32;
using test::Ready;
using test::Send;

struct TocEntry {
  std::uint8_t control;
  std::uint8_t track;
  std::uint32_t address;
};

std::vector<TocEntry> Toc(Drive& drive, bool msf, std::uint8_t number = 0) {
  const Answer answer = Send(drive, test::ReadToc(0, msf, number));
  EXPECT_EQ(answer.sense, kGood);
  EXPECT_EQ(Be16(answer.data, 0), answer.data.size() - 2);
  std::vector<TocEntry> entries;
  for (std::size_t at = 4; at + 8 <= answer.data.size(); at += 8) {
    EXPECT_EQ(answer.data[at + 1] >> 4, 1);  // ADR 1
    entries.push_back({static_cast<std::uint8_t>(answer.data[at + 1] & 0x0F), answer.data[at + 2],
                       Be32(answer.data, at + 4)});
  }
  return entries;
}

struct RawEntry {
  std::uint8_t session, adr, control, point;
  Msf time;
  std::uint8_t zero;
  Msf p;
};

std::vector<RawEntry> RawToc(Drive& drive, std::uint8_t session = 0, std::uint8_t format = 2) {
  const Answer answer = Send(drive, test::ReadToc(format, false, session));
  EXPECT_EQ(answer.sense, kGood);
  std::vector<RawEntry> entries;
  for (std::size_t at = 4; at + 11 <= answer.data.size(); at += 11) {
    const auto& d = answer.data;
    entries.push_back({d[at], static_cast<std::uint8_t>(d[at + 1] >> 4),
                       static_cast<std::uint8_t>(d[at + 1] & 0x0F), d[at + 3],
                       Msf{d[at + 4], d[at + 5], d[at + 6]}, d[at + 7],
                       Msf{d[at + 8], d[at + 9], d[at + 10]}});
  }
  return entries;
}

std::uint32_t MsfField(std::uint32_t field) {
  return static_cast<std::uint32_t>(
      MsfToLba(Msf{static_cast<int>(field >> 16 & 0xFF), static_cast<int>(field >> 8 & 0xFF),
                   static_cast<int>(field & 0xFF)}));
}

std::uint32_t LastLba(Drive& drive) {
  const Answer answer = Send(drive, test::Capacity(), 8);
  EXPECT_EQ(answer.sense, kGood);
  EXPECT_EQ(Be32(answer.data, 4), 2048U);
  return Be32(answer.data, 0);
}

// Every view of a recorded CD agrees: TOC in LBA and MSF, raw TOC, track information and
// READ CAPACITY.
void ExpectConsistentCd(const std::string& preset) {
  SCOPED_TRACE(preset);
  auto drive = Ready(preset);
  const std::vector<TocEntry> lba = Toc(*drive, false);
  const std::vector<TocEntry> msf = Toc(*drive, true);
  ASSERT_GE(lba.size(), 2U);
  ASSERT_EQ(lba.size(), msf.size());
  for (std::size_t i = 0; i < lba.size(); ++i) {
    EXPECT_EQ(lba[i].track, msf[i].track);
    EXPECT_EQ(lba[i].address, MsfField(msf[i].address));
  }
  EXPECT_EQ(lba.back().track, 0xAA);
  const std::uint32_t leadout = lba.back().address;
  // READ CAPACITY counts complete sessions only (an open first session: 0).
  const test::DiscState disc = test::Disc(*drive);
  const bool open = disc.sessions == 1 && disc.session_state == 1;
  EXPECT_EQ(LastLba(*drive), open ? 0U : leadout - 1);

  const std::vector<RawEntry> raw = RawToc(*drive);
  for (std::size_t i = 0; i + 1 < lba.size(); ++i) {
    bool found = false;
    for (const RawEntry& entry : raw) {
      if (entry.point != lba[i].track) continue;
      found = true;
      EXPECT_EQ(static_cast<std::uint32_t>(MsfToLba(entry.p)), lba[i].address);
      EXPECT_EQ(entry.control, lba[i].control);
    }
    EXPECT_TRUE(found) << "track " << int(lba[i].track);
    // The track's own information: its start, and its size up to the next track or the
    // lead-out of its session.
    const Answer info = Send(*drive, test::TrackInfo(1, lba[i].track));
    ASSERT_EQ(info.sense, kGood);
    EXPECT_EQ(info.data[2], lba[i].track);
    EXPECT_EQ(Be32(info.data, 8), lba[i].address);
    EXPECT_EQ(info.data[5] & 0x0F, lba[i].control);
    const std::uint32_t size = Be32(info.data, 24);
    const std::uint32_t next = lba[i + 1].address;
    if (lba[i + 1].track != 0xAA && info.data[3] == 1 && lba.size() > 2 && preset != "cdr-multi") {
      EXPECT_EQ(lba[i].address + size, next);
    }
    // By LBA: the track's last block belongs to it.
    const Answer by_lba = Send(*drive, test::TrackInfo(0, lba[i].address + size - 1));
    EXPECT_EQ(by_lba.data[2], lba[i].track);
  }
  // The last session's A2 pointer is the TOC's lead-out.
  const RawEntry* a2 = nullptr;
  for (const RawEntry& entry : raw) {
    if (entry.point == 0xA2) a2 = &entry;
  }
  ASSERT_NE(a2, nullptr);
  EXPECT_EQ(static_cast<std::uint32_t>(MsfToLba(a2->p)), leadout);
}

TEST(TocTest, EveryRecordedCdPresetIsConsistent) {
  for (const char* preset : {"cdrom", "cdda", "cdmixed", "cdr-open", "cdr-closed", "cdr-multi"}) {
    ExpectConsistentCd(preset);
  }
}

TEST(TocTest, PressedDiscsHaveTheirTracks) {
  auto cdrom = Ready("cdrom");
  std::vector<TocEntry> toc = Toc(*cdrom, false);
  ASSERT_EQ(toc.size(), 2U);
  EXPECT_EQ(toc[0].control, 4);
  EXPECT_EQ(toc[1].address, 333000U);  // 650.39 MB of data
  auto cdda = Ready("cdda");
  toc = Toc(*cdda, false);
  ASSERT_EQ(toc.size(), 7U);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(toc[i].control, 0);
    EXPECT_EQ(toc[i].track, i + 1);
  }
  // An 80-minute audio CD: the track lengths repeat, the last one cut to fit.
  auto long_cdda = Ready("cdda,blocks=360000");
  toc = Toc(*long_cdda, false);
  ASSERT_EQ(toc.size(), 22U);
  EXPECT_EQ(toc[20].address, 356475U);
  EXPECT_EQ(toc[21].address, 360000U);
  auto mixed = Ready("cdmixed");
  toc = Toc(*mixed, false);
  ASSERT_EQ(toc.size(), 6U);
  EXPECT_EQ(toc[0].control, 4);
  EXPECT_EQ(toc[1].control, 0);
  // Starting from a track number, and the lead-out alone.
  EXPECT_EQ(Toc(*mixed, false, 3).size(), 4U);
  EXPECT_EQ(Toc(*mixed, false, 0xAA).size(), 1U);
  EXPECT_EQ(Send(*mixed, test::ReadToc(0, false, 6)).sense, kInvalidField);
  // Format 1: the first track of the last session.
  const Answer session = Send(*mixed, test::ReadToc(1, false));
  EXPECT_EQ(Be16(session.data, 0), 10U);
  EXPECT_EQ(session.data[3], 1);
  EXPECT_EQ(session.data[6], 1);
  // Pressed discs have no PMA or ATIP.
  EXPECT_EQ(Send(*cdrom, test::ReadToc(3, false)).sense, kInvalidField);
  EXPECT_EQ(Send(*cdrom, test::ReadToc(4, false)).sense, kInvalidField);
  // The old format field in the control byte.
  const Answer old = Send(*mixed, {0x43, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x40});
  EXPECT_EQ(Be16(old.data, 0), 10U);
  // A short allocation keeps the full length.
  const Answer cut = Send(*cdda, {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0});
  EXPECT_EQ(cut.data.size(), 12U);
  EXPECT_EQ(Be16(cut.data, 0), 2U + 7 * 8);
}

// Size-information packs of a pressed 13-track disc, CRCs as the disc carries them.
const std::vector<std::uint8_t> kSizePacks = {
    0x8F, 0x00, 0x2B, 0x00, 0x01, 0x01, 0x0D, 0x03, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x7B, 0x3D, 0x8F, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x12, 0x03, 0x2D, 0x00, 0x00, 0x00, 0xDA, 0xB7, 0x8F, 0x02, 0x2D, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6A, 0x24};

// READ TOC format 5: the header and the packs, the header alone without CD-TEXT.
TEST(TocTest, CdTextOfAPressedDisc) {
  char path[] = "/tmp/zorvane-cdtext-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  // As a READ TOC answer, with its 4-byte header (a file of bare packs is taken too).
  std::vector<std::uint8_t> file = {0x00, 0x38, 0x00, 0x00};
  file.insert(file.end(), kSizePacks.begin(), kSizePacks.end());
  ASSERT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
  ::close(fd);
  auto drive = Ready(std::string("cdda,cdtext=") + path);
  ::unlink(path);
  const Answer text = Send(*drive, test::ReadToc(5, false));
  ASSERT_EQ(text.sense, kGood);
  EXPECT_EQ(text.data, file);
  const Answer cut = Send(*drive, {0x43, 0, 0x05, 0, 0, 0, 0, 0, 4, 0});
  EXPECT_EQ(cut.data.size(), 4U);
  EXPECT_EQ(Be16(cut.data, 0), 2U + 54);
  const Answer none = Send(*Ready("cdda"), test::ReadToc(5, false));
  ASSERT_EQ(none.sense, kGood);
  EXPECT_EQ(none.data, (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Send(*Ready("dvdrom"), test::ReadToc(5, false)).sense, kInvalidField);
}

TEST(TocTest, RawTocOfRecordableDiscs) {
  auto closed = Ready("cdr-closed");
  std::vector<RawEntry> raw = RawToc(*closed);
  std::vector<std::uint8_t> points(raw.size());
  std::transform(raw.begin(), raw.end(), points.begin(), [](const RawEntry& e) { return e.point; });
  EXPECT_EQ(points, (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0x01, 0xC0}));
  EXPECT_EQ(raw[4].adr, 5);
  EXPECT_EQ(raw[4].p, (Msf{97, 24, 1}));  // the first lead-in, from the ATIP
  EXPECT_EQ(raw[0].p.minute, 1);          // first track
  EXPECT_EQ(raw[1].p.minute, 1);          // last track

  auto multi = Ready("cdr-multi");
  raw = RawToc(*multi);
  points.clear();
  for (const RawEntry& e : raw) points.push_back(e.point);
  EXPECT_EQ(points, (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0x01, 0xB0, 0xC0, 0xA0, 0xA1, 0xA2,
                                               0x02, 0xB0}));
  EXPECT_EQ(raw[0].p.second, 0x20);  // CD-ROM XA
  // B0 of the first session: the second session's program area; the track starts after
  // its pre-gap. 11,400 blocks separate the first session's lead-out from it.
  const std::int32_t leadout1 = MsfToLba(raw[2].p);
  EXPECT_EQ(MsfToLba(raw[4].time), leadout1 + 6750 + 4500);
  EXPECT_EQ(MsfToLba(raw[9].p), leadout1 + 11400);
  EXPECT_EQ(raw[4].p, (Msf{79, 59, 74}));  // the outermost possible lead-out
  EXPECT_EQ(raw[4].zero, 2);               // B0 and C0 in this lead-in
  EXPECT_EQ(raw[10].zero, 1);
  const std::int32_t leadout2 = MsfToLba(raw[8].p);
  EXPECT_EQ(MsfToLba(raw[10].time), leadout2 + 2250 + 4500);
  // The next writable address of the disc is the third session's first track.
  const Answer invisible = Send(*multi, test::TrackInfo(1, 0xFF));
  ASSERT_EQ(invisible.sense, kGood);
  EXPECT_EQ(invisible.data[2], 3);
  EXPECT_EQ(invisible.data[3], 3);
  EXPECT_EQ(static_cast<std::int32_t>(Be32(invisible.data, 12)), leadout2 + 6900);
  // Only the sessions from the one asked for.
  raw = RawToc(*multi, 2);
  ASSERT_EQ(raw.size(), 5U);
  EXPECT_EQ(raw[0].session, 2);
  EXPECT_EQ(Send(*multi, test::ReadToc(2, false, 3)).sense, kInvalidField);
  // Format 1 names the last complete session.
  const Answer session = Send(*multi, test::ReadToc(1, false));
  EXPECT_EQ(session.data[3], 2);
  EXPECT_EQ(session.data[6], 2);
  EXPECT_EQ(static_cast<std::int32_t>(Be32(session.data, 8)), leadout1 + 11400);
}

TEST(TocTest, AddressesPastWhatMsfExpressesAreRefused) {
  // A DVD's lead-out lies far beyond 89:59:74: no MSF form, no wrapped minutes.
  auto dvd = Ready("dvdrom");
  EXPECT_EQ(Send(*dvd, test::ReadToc(0, false)).sense, kGood);
  EXPECT_EQ(Send(*dvd, test::ReadToc(0, true)).sense, kInvalidField);
  EXPECT_EQ(Send(*dvd, test::ReadToc(1, true)).sense, kGood);  // track 1 at 00:02:00
  // The last LBA a time can name, and the one after it.
  auto edge = Ready("cdrom,blocks=404849");
  const Answer toc = Send(*edge, test::ReadToc(0, true));
  ASSERT_EQ(toc.sense, kGood);
  EXPECT_EQ(toc.data[4 + 8 + 5], 89);  // lead-out at 89:59:74
  EXPECT_EQ(toc.data[4 + 8 + 6], 59);
  EXPECT_EQ(toc.data[4 + 8 + 7], 74);
  EXPECT_EQ(Send(*Ready("cdrom,blocks=404850"), test::ReadToc(0, true)).sense, kInvalidField);
}

TEST(TocTest, RawtocmsfQuirkPutsBlockAddressesInTheRawTocWithoutMsf) {
  auto plain = Ready("cdr-closed");
  auto quirky = Ready("cdr-closed,quirk=rawtocmsf");
  // With MSF set both answer times.
  EXPECT_EQ(Send(*plain, test::ReadToc(2, true)).data, Send(*quirky, test::ReadToc(2, true)).data);
  // Without it the quirky drive gives block addresses over the zero byte and P time.
  const Answer times = Send(*plain, test::ReadToc(2, false));
  const Answer blocks = Send(*quirky, test::ReadToc(2, false));
  ASSERT_EQ(blocks.sense, kGood);
  ASSERT_EQ(blocks.data.size(), times.data.size());
  const std::size_t a2 = 4 + 2 * 11;  // A0, A1, A2
  ASSERT_EQ(blocks.data[a2 + 3], 0xA2);
  EXPECT_EQ(Be32(blocks.data, a2 + 7), 10002U);  // the lead-out after 10,000 + 2 run-out
  EXPECT_EQ(MsfToLba(Msf{times.data[a2 + 8], times.data[a2 + 9], times.data[a2 + 10]}), 10002);
  const std::size_t track = a2 + 11;
  EXPECT_EQ(Be32(blocks.data, track + 7), 0U);  // track 1 at LBA 0
  EXPECT_EQ(times.data[track + 9], 2);          // 00:02:00
  // The A0 and A1 P fields are not addresses and stay as they are.
  EXPECT_TRUE(std::equal(times.data.begin() + 4, times.data.begin() + a2, blocks.data.begin() + 4));
  // The PMA follows the same bit.
  const Answer pma = Send(*quirky, test::ReadToc(3, false));
  ASSERT_EQ(pma.sense, kGood);
  EXPECT_EQ(Be32(pma.data, 4 + 7), 0U);
  EXPECT_EQ(Send(*quirky, test::ReadToc(3, true)).data, Send(*plain, test::ReadToc(3, true)).data);
}

TEST(TocTest, PmaListsEveryWrittenTrack) {
  auto open = Ready("cdr-open");
  std::vector<RawEntry> pma = RawToc(*open, 0, 3);
  ASSERT_EQ(pma.size(), 1U);
  EXPECT_EQ(pma[0].point, 1);
  EXPECT_EQ(MsfToLba(pma[0].p), 0);
  const Answer track = Send(*open, test::TrackInfo(1, 1));
  EXPECT_EQ(MsfToLba(pma[0].time), static_cast<std::int32_t>(Be32(track.data, 24)) - 1);
  auto multi = Ready("cdr-multi");
  EXPECT_EQ(RawToc(*multi, 0, 3).size(), 2U);
  auto blank = Ready("cdr-blank");
  const Answer empty = Send(*blank, test::ReadToc(3, false));
  EXPECT_EQ(empty.sense, kGood);
  EXPECT_EQ(Be16(empty.data, 0), 2U);
  EXPECT_EQ(Send(*blank, test::ReadToc(0, false)).sense, kInvalidField);  // no TOC yet
}

TEST(TocTest, AtipAndItsKeys) {
  auto drive = Ready("cdr-blank");
  Answer atip = Send(*drive, test::ReadToc(4, true));
  ASSERT_EQ(atip.sense, kGood);
  ASSERT_EQ(atip.data.size(), 28U);
  EXPECT_EQ(Be16(atip.data, 0), 26U);
  EXPECT_EQ(atip.data[4] & 0x80, 0x80);
  EXPECT_EQ(atip.data[6] & 0xC0, 0x80);  // CD-R
  EXPECT_EQ(atip.data[6] & 0x04, 0x04);  // A1 valid
  EXPECT_EQ((std::vector<std::uint8_t>(atip.data.begin() + 8, atip.data.begin() + 11)),
            (std::vector<std::uint8_t>{97, 24, 1}));
  EXPECT_EQ((std::vector<std::uint8_t>(atip.data.begin() + 12, atip.data.begin() + 15)),
            (std::vector<std::uint8_t>{79, 59, 74}));
  auto rw = Ready("cdrw-blank");
  atip = Send(*rw, test::ReadToc(4, true));
  EXPECT_EQ(atip.data[6] & 0x40, 0x40);  // CD-RW

  auto keyed = Ready("cdr-blank,atip=97:26:66,leadout=74:59:74");
  atip = Send(*keyed, test::ReadToc(4, true));
  EXPECT_EQ(atip.data[8], 97);
  EXPECT_EQ(atip.data[9], 26);
  EXPECT_EQ(atip.data[10], 66);
  EXPECT_EQ(atip.data[12], 74);
  const Answer disc = Send(*keyed, test::DiscInfo());
  EXPECT_EQ(Be32(disc.data, 16), (97U << 16) | (26U << 8) | 66U);  // lead-in start
  EXPECT_EQ(Be32(disc.data, 20), (74U << 16) | (59U << 8) | 74U);
  const Answer track = Send(*keyed, test::TrackInfo(1, 0xFF));
  EXPECT_EQ(Be32(track.data, 16), static_cast<std::uint32_t>(MsfToLba(Msf{74, 59, 74})));

  auto quirky = Ready("cdr-blank,quirk=noatip");
  EXPECT_EQ(Send(*quirky, test::ReadToc(4, true)).sense, kInvalidField);
  EXPECT_EQ(Send(*Ready("dvd-r"), test::ReadToc(4, true)).sense, kInvalidField);
}

// The free space of a blank CD-R in all three places MMC reports it.
TEST(DiscInformationTest, BlankCdrFreeSpaceFollowsTheAtipLeadout) {
  auto drive = Ready("cdr-blank");
  const std::uint32_t leadout = 359849;  // 79:59:74
  const Answer disc = Send(*drive, test::DiscInfo());
  ASSERT_EQ(disc.sense, kGood);
  ASSERT_EQ(disc.data.size(), 34U);
  EXPECT_EQ(Be16(disc.data, 0), 32U);
  EXPECT_EQ(disc.data[2] & 0x03, 0);         // empty
  EXPECT_EQ((disc.data[2] >> 2) & 0x03, 0);  // last session empty
  EXPECT_EQ(disc.data[2] & 0x10, 0);         // not erasable
  EXPECT_EQ(disc.data[4], 1);
  EXPECT_EQ(disc.data[5], 1);
  EXPECT_EQ(disc.data[6], 1);
  EXPECT_EQ(Be32(disc.data, 20), (79U << 16) | (59U << 8) | 74U);
  EXPECT_EQ(MsfField(Be32(disc.data, 20)), leadout);
  const Answer track = Send(*drive, test::TrackInfo(1, 0xFF));
  ASSERT_EQ(track.sense, kGood);
  EXPECT_EQ(track.data[6] & 0x40, 0x40);  // blank
  EXPECT_EQ(track.data[7] & 0x01, 0x01);  // next writable address valid
  EXPECT_EQ(Be32(track.data, 8), 0U);
  EXPECT_EQ(Be32(track.data, 12), 0U);
  EXPECT_EQ(Be32(track.data, 16), leadout);
  EXPECT_EQ(Be32(track.data, 24), leadout);
  const Answer capacities = Send(*drive, test::FormatCapacities());
  ASSERT_EQ(capacities.sense, kGood);
  EXPECT_EQ(capacities.data[3], 8);
  EXPECT_EQ(Be32(capacities.data, 4), leadout);
  EXPECT_EQ(capacities.data[8] & 0x03, 1);  // unformatted
  EXPECT_EQ(LastLba(*drive), 0U);           // nothing recorded
}

TEST(DiscInformationTest, RecordingStateOfEachCdPreset) {
  struct Expect {
    const char* preset;
    int status, state, sessions, first, last;
    bool erasable;
  };
  const Expect cases[] = {
      {"cdrom", 2, 3, 1, 1, 1, false},     {"cdda", 2, 3, 1, 1, 6, false},
      {"cdr-open", 1, 1, 1, 1, 2, false},  {"cdr-closed", 2, 3, 1, 1, 1, false},
      {"cdr-multi", 1, 0, 3, 3, 3, false}, {"cdrw-blank", 0, 0, 1, 1, 1, true},
  };
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.preset);
    auto drive = Ready(e.preset);
    const Answer disc = Send(*drive, test::DiscInfo());
    EXPECT_EQ(disc.data[2] & 0x03, e.status);
    EXPECT_EQ((disc.data[2] >> 2) & 0x03, e.state);
    EXPECT_EQ((disc.data[2] & 0x10) != 0, e.erasable);
    EXPECT_EQ(disc.data[4], e.sessions);
    EXPECT_EQ(disc.data[5], e.first);
    EXPECT_EQ(disc.data[6], e.last);
    if (e.status == 2) {
      EXPECT_EQ(Be32(disc.data, 16), 0xFFFFFFFFU);
      EXPECT_EQ(Be32(disc.data, 20), 0xFFFFFFFFU);
      EXPECT_EQ(Send(*drive, test::TrackInfo(1, 0xFF)).sense, kInvalidField);
    }
  }
  // The open session: its track, then the invisible track after the run-out and pre-gap.
  auto open = Ready("cdr-open");
  const Answer one = Send(*open, test::TrackInfo(1, 1));
  EXPECT_EQ(Be32(one.data, 24), 10002U);
  EXPECT_EQ(one.data[7] & 0x01, 0);
  const Answer two = Send(*open, test::TrackInfo(1, 0xFF));
  EXPECT_EQ(two.data[2], 2);
  EXPECT_EQ(two.data[3], 1);
  EXPECT_EQ(Be32(two.data, 12), 10002U + 150);
  EXPECT_EQ(Be32(two.data, 16), 359849U - 10152);
  const Answer disc = Send(*open, test::DiscInfo());
  EXPECT_EQ(Be32(disc.data, 16), (97U << 16) | (24U << 8) | 1U);  // the open session's lead-in
  // By session number.
  auto multi = Ready("cdr-multi");
  EXPECT_EQ(Send(*multi, test::TrackInfo(2, 2)).data[2], 2);
  EXPECT_EQ(Send(*multi, test::TrackInfo(2, 3)).data[2], 3);
  EXPECT_EQ(Send(*multi, test::TrackInfo(2, 4)).sense, kInvalidField);
  EXPECT_EQ(Send(*multi, test::TrackInfo(3, 1)).sense, kInvalidField);
  EXPECT_EQ(Send(*multi, test::TrackInfo(1, 0)).sense, kInvalidField);
}

TEST(DiscInformationTest, DvdSizesAndStates) {
  struct Size {
    const char* preset;
    std::uint32_t blocks;
    bool blank;
  };
  const Size cases[] = {
      {"dvd+r", 2295104, true},    {"dvd-r", 2298496, true},      {"dvd+r-dl", 4173824, true},
      {"dvd-r-dl", 4171712, true}, {"dvd-rw-seq", 2297888, true}, {"dvd-ram", 2236704, false},
      {"dvd+rw", 2295104, false},  {"dvd-rw-ro", 2297888, false}, {"dvdrom", 2298496, false},
  };
  for (const Size& s : cases) {
    SCOPED_TRACE(s.preset);
    auto drive = Ready(s.preset);
    const Answer disc = Send(*drive, test::DiscInfo());
    const Answer capacities = Send(*drive, test::FormatCapacities());
    EXPECT_EQ(Be32(capacities.data, 4), s.blocks);
    if (s.blank) {
      EXPECT_EQ(disc.data[2] & 0x03, 0);
      EXPECT_EQ(Be32(disc.data, 20), s.blocks);
      const Answer track = Send(*drive, test::TrackInfo(1, 0xFF));
      ASSERT_EQ(track.sense, kGood);
      EXPECT_EQ(Be32(track.data, 16), s.blocks);
      EXPECT_EQ(Be32(track.data, 24), s.blocks);
      // Blank; incremental on DVD-R/-RW, while DVD+R is recorded without packets.
      const bool plus = std::string(s.preset).rfind("dvd+", 0) == 0;
      EXPECT_EQ(track.data[6] & 0x60, plus ? 0x40 : 0x60);
      EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).sense, kInvalidField);
      EXPECT_EQ(capacities.data[8] & 0x03, 1);
    } else {
      EXPECT_EQ(LastLba(*drive), s.blocks - 1);
      const std::vector<TocEntry> toc = Toc(*drive, false);
      ASSERT_EQ(toc.size(), 2U);
      EXPECT_EQ(toc[1].address, s.blocks);
      EXPECT_EQ(Be32(Send(*drive, test::TrackInfo(1, 1)).data, 24), s.blocks);
      EXPECT_EQ(capacities.data[8] & 0x03, 2);
    }
  }
  auto dvdrom = Ready("dvdrom");
  EXPECT_EQ(Send(*dvdrom, test::ReadToc(2, false)).sense, kInvalidField);
  EXPECT_EQ(Send(*dvdrom, test::TrackInfo(0, 3000000)).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*dvdrom, test::TrackInfo(0, 12345)).data[2], 1);
}

TEST(DiscInformationTest, FormattableCapacities) {
  auto formats = [](const std::string& preset) {
    auto drive = Ready(preset);
    const Answer answer = Send(*drive, test::FormatCapacities());
    std::vector<std::pair<std::uint8_t, std::uint32_t>> list;
    for (std::size_t at = 12; at + 8 <= answer.data.size(); at += 8) {
      list.emplace_back(answer.data[at + 4] >> 2, test::Be24(answer.data, at + 5));
    }
    return list;
  };
  using List = std::vector<std::pair<std::uint8_t, std::uint32_t>>;
  EXPECT_EQ(formats("dvd+rw"), (List{{0x26, 0}}));
  EXPECT_EQ(formats("dvd-rw-seq"), (List{{0x00, 2048}, {0x10, 16}, {0x15, 16}}));
  EXPECT_EQ(formats("dvd-ram"), (List{{0x00, 2048}, {0x01, 2048}}));
  EXPECT_EQ(formats("cdrw-mrw"), (List{{0x24, 0}}));
  EXPECT_EQ(formats("cdrw-blank"), (List{{0x24, 0}}));
  EXPECT_EQ(formats("dvd+rw-blank"), (List{{0x26, 0}}));
  EXPECT_EQ(formats("dvd+r"), List{});
  auto none = test::Start("nodisc");
  EXPECT_EQ(Send(*none, test::FormatCapacities()).data[8] & 0x03, 3);
}

TEST(DiscInformationTest, BlocksKeyResizesTheMedium) {
  auto rom = Ready("dvdrom,blocks=1000");
  EXPECT_EQ(LastLba(*rom), 999U);
  auto cd = Ready("cdrom,blocks=4500");
  EXPECT_EQ(Toc(*cd, false).back().address, 4500U);
  auto blank = Ready("dvd+r,blocks=50000");
  EXPECT_EQ(Be32(Send(*blank, test::TrackInfo(1, 0xFF)).data, 16), 50000U);
}

}  // namespace
}  // namespace zorvane::vdrive
