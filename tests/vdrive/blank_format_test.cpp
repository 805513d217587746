// Blanking and formatting, what each leaves behind, and the time they take: long
// operations reporting their progress, the write buffer and the selected write speed.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be32;
using test::Ready;
using test::Send;
using test::SendOut;
using test::WriteSetup;

// Records one closed session of `blocks` Mode 1 blocks track at once; returns its start.
std::uint32_t RecordSession(Drive& drive, std::uint32_t blocks, std::uint32_t seed) {
  EXPECT_EQ(test::SelectWrite(drive, WriteSetup{}).sense, kGood);
  const std::uint32_t start = test::Invisible(drive).next;
  EXPECT_EQ(test::WriteAll(drive, start, test::Pattern(blocks, 2048, seed), 2048), kGood);
  EXPECT_EQ(Send(drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Send(drive, test::Close(2, 0), 0).sense, kGood);
  return start;
}

std::uint16_t ProgressOf(const Answer& sense) {
  EXPECT_EQ(sense.data.size(), 18U);
  EXPECT_EQ(sense.data[15] & 0x80, 0x80);  // sense-key specific: progress
  return static_cast<std::uint16_t>(test::Be16(sense.data, 16));
}

TEST(BlankTest, EachTypeOnCdRw) {
  auto drive = Ready("cdrw-blank");
  RecordSession(*drive, 100, 1);
  const std::uint32_t second = RecordSession(*drive, 50, 2);
  ASSERT_EQ(test::Disc(*drive).sessions, 3);  // two closed, the third empty

  // Unclose: the second session is open again, the TOC ends with the first.
  ASSERT_EQ(Send(*drive, test::Blank(5), 0).sense, kGood);
  test::DiscState disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 1);
  EXPECT_EQ(disc.session_state, 1);
  EXPECT_EQ(disc.sessions, 2);
  const Answer toc = Send(*drive, test::ReadToc(0, false));
  EXPECT_EQ(Be32(toc.data, toc.data.size() - 4), 302U);  // the first session's lead-out (padded)
  EXPECT_EQ(test::Invisible(*drive).next, second + 302 + 150);
  EXPECT_EQ(Send(*drive, test::Read10(second, 50)).sense, kGood);   // its track is still there
  EXPECT_EQ(Send(*drive, test::Blank(5), 0).sense, kInvalidField);  // nothing closed to unclose
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).sessions, 3);

  // Erase the last session: its track and PMA entry are gone, its room is free again.
  ASSERT_EQ(Send(*drive, test::Blank(6), 0).sense, kGood);
  disc = test::Disc(*drive);
  EXPECT_EQ(disc.sessions, 2);
  EXPECT_EQ(disc.status, 1);
  EXPECT_EQ(test::Invisible(*drive).next, second);
  EXPECT_EQ(Send(*drive, test::Read10(second, 1)).sense, kLbaOutOfRange);
  EXPECT_EQ(test::Be16(Send(*drive, test::ReadToc(3, false)).data, 0), 2U + 11);

  // Minimal blank: a blank disc as far as anyone can tell.
  ASSERT_EQ(Send(*drive, test::Blank(1), 0).sense, kGood);
  disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 0);
  EXPECT_EQ(disc.sessions, 1);
  EXPECT_EQ(Send(*drive, test::ReadToc(0, false)).sense, kInvalidField);
  EXPECT_EQ(test::Be16(Send(*drive, test::ReadToc(3, false)).data, 0), 2U);
  EXPECT_EQ(test::Invisible(*drive).next, 0U);
  EXPECT_EQ(Send(*drive, test::Blank(5), 0).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, test::Blank(6), 0).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, test::Blank(2), 0).sense, kInvalidField);  // track blanking

  // Full blank with Immed: not ready with rising progress until done.
  RecordSession(*drive, 20, 3);
  ASSERT_EQ(Send(*drive, test::Blank(0, true), 0).sense, kGood);
  const Answer busy = Send(*drive, test::Read10(0, 1));
  EXPECT_EQ(busy.sense, kOperationInProgress);
  EXPECT_EQ(busy.reply.sense[15], 0x80);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 36, 0}, 36).sense, kGood);  // identity stays
  std::uint16_t last = 0;
  int polls = 0;
  for (; polls < 20; ++polls) {
    const Answer sense = Send(*drive, {0x03, 0, 0, 0, 18, 0}, 18);
    if ((sense.data[2] & 0x0F) == 0) break;
    EXPECT_EQ(sense.data[12], 0x04);
    EXPECT_EQ(sense.data[13], 0x07);  // operation in progress
    const std::uint16_t progress = ProgressOf(sense);
    EXPECT_GE(progress, last);
    last = progress;
  }
  EXPECT_GT(polls, 0);
  EXPECT_LT(polls, 20);
  EXPECT_GT(last, 0);
  EXPECT_EQ(test::Disc(*drive).status, 0);
}

TEST(BlankTest, DvdRwBackToSequential) {
  auto drive = Ready("dvd-rw-ro");
  ASSERT_EQ(Send(*drive, test::Blank(1), 0).sense, kGood);
  EXPECT_EQ(test::CurrentProfile(*drive), 0x14);
  EXPECT_EQ(test::Disc(*drive).status, 0);
  // Two sessions in incremental recording, then the last one erased.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{0, 5, 0x08, 3}).sense, kGood);
  ASSERT_EQ(test::WriteAll(*drive, 0, test::Pattern(32, 2048, 4), 2048), kGood);
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  const test::Writable w = test::Invisible(*drive);
  EXPECT_EQ(w.next, 32U + kFirstBorderBlocks);
  ASSERT_EQ(test::WriteAll(*drive, w.next, test::Pattern(16, 2048, 5), 2048), kGood);
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).sessions, 3);
  ASSERT_EQ(Send(*drive, test::Blank(6), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).sessions, 2);
  EXPECT_EQ(test::Invisible(*drive).next, w.next);
  ASSERT_EQ(Send(*drive, test::Blank(0), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 0);
  EXPECT_EQ(test::Invisible(*drive).free, 2297888U);
}

TEST(BlankTest, OtherMediaAreRefused) {
  EXPECT_EQ(Send(*Ready("cdr-blank"), test::Blank(1), 0).sense, kCannotFormatIncompatible);
  EXPECT_EQ(Send(*Ready("dvd-r"), test::Blank(0), 0).sense, kCannotFormatIncompatible);
  EXPECT_EQ(Send(*Ready("cdrom"), test::Blank(1), 0).sense, kCannotFormatIncompatible);
  // Formatted, never blanked: an incompatible medium, not an unknown command.
  EXPECT_EQ(Send(*Ready("dvd+rw"), test::Blank(1), 0).sense, kIncompatibleMedium);
  EXPECT_EQ(Send(*Ready("dvd-ram"), test::Blank(0), 0).sense, kIncompatibleMedium);
  EXPECT_EQ(Send(*test::Start("nodisc"), test::Blank(0), 0).sense, kNoMediumTrayClosed);
}

TEST(FormatTest, DvdRwFullFormatInTheBackground) {
  auto drive = Ready("dvd-rw-seq");
  ASSERT_EQ(test::Format(*drive, 0x00, 2297888, true, 2048).sense, kGood);
  const Answer sense = Send(*drive, {0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(sense.data[2] & 0x0F, 0x02);
  EXPECT_EQ(sense.data[12], 0x04);
  EXPECT_EQ(sense.data[13], 0x04);  // format in progress
  ProgressOf(sense);
  const std::vector<Sense> waits = test::WaitReady(*drive);
  ASSERT_FALSE(waits.empty());
  for (const Sense s : waits) EXPECT_EQ(s, kFormatInProgress);
  EXPECT_EQ(test::CurrentProfile(*drive), 0x13);
  const Answer capacities = Send(*drive, test::FormatCapacities());
  EXPECT_EQ(capacities.data[8] & 0x03, 2);
  const std::vector<std::uint8_t> data = test::Pattern(16, 2048, 6);
  ASSERT_EQ(test::WriteAll(*drive, 160, data, 2048, 16), kGood);
  EXPECT_EQ(Send(*drive, test::Read10(160, 16)).data, data);
  // Quick format keeps restricted overwrite, and erases.
  ASSERT_EQ(test::Format(*drive, 0x15, 0xFFFFFFFF).sense, kGood);
  EXPECT_EQ(Send(*drive, test::Read10(160, 1)).data, std::vector<std::uint8_t>(2048, 0));
  // 10h formats for sequential recording again.
  ASSERT_EQ(test::Format(*drive, 0x10, 0xFFFFFFFF).sense, kGood);
  EXPECT_EQ(test::CurrentProfile(*drive), 0x14);
}

TEST(FormatTest, DvdRamAndDvdPlusRw) {
  auto ram = Ready("dvd-ram");
  const std::vector<std::uint8_t> data = test::Pattern(1, 2048, 7);
  ASSERT_EQ(test::WriteAll(*ram, 77, data, 2048), kGood);
  ASSERT_EQ(test::Format(*ram, 0x01, 0xFFFFFFFF).sense, kGood);  // spare expansion keeps data
  EXPECT_EQ(Send(*ram, test::Read10(77, 1)).data, data);
  ASSERT_EQ(test::Format(*ram, 0x00, 2236704, true).sense, kGood);
  EXPECT_EQ(Send(*ram, test::Read10(77, 1)).sense, kFormatInProgress);
  test::WaitReady(*ram);
  EXPECT_EQ(Send(*ram, test::Read10(77, 1)).data, std::vector<std::uint8_t>(2048, 0));

  auto plus = Ready("dvd+rw-blank");
  EXPECT_EQ(test::Disc(*plus).status, 0);
  EXPECT_EQ(test::Disc(*plus).background, 0);
  EXPECT_EQ(SendOut(*plus, test::Write10(0, 16), std::vector<std::uint8_t>(16 * 2048)).sense,
            kCannotWriteUnknownFormat);
  EXPECT_EQ(Send(*plus, test::FormatCapacities()).data[8] & 0x03, 1);  // unformatted
  const std::vector<std::uint8_t> poll = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0};
  Send(*plus, poll);  // the new media event of the load
  // A quick stop leaves the format stopped, not complete, and posts no event.
  ASSERT_EQ(test::Format(*plus, 0x26, 0xFFFFFFFF).sense, kGood);
  ASSERT_EQ(Send(*plus, test::Close(0, 0), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*plus).background, 1);
  EXPECT_EQ(Send(*plus, poll).data[4], 0x00);
  // The format runs in the background: the drive is ready and takes writes meanwhile.
  ASSERT_EQ(test::Format(*plus, 0x26, 0xFFFFFFFF).sense, kGood);
  EXPECT_EQ(test::Disc(*plus).background, 2);
  EXPECT_EQ(test::Disc(*plus).status, 2);
  ASSERT_EQ(test::WriteAll(*plus, 64, data, 2048), kGood);
  EXPECT_EQ(Send(*plus, test::Read10(64, 1)).data, data);
  for (int i = 0; i < 8; ++i) Send(*plus, {0x00}, 0);
  EXPECT_EQ(test::Disc(*plus).background, 3);
  EXPECT_EQ(Send(*plus, poll).data[4], 0x05);  // background format completed, once
  EXPECT_EQ(Send(*plus, poll).data[4], 0x00);
  EXPECT_EQ(Send(*plus, test::Close(1, 1), 0).sense, kInvalidField);
}

TEST(FormatTest, NeverFormattedPlusRwDescribesOneBlankTrack) {
  // Before its first format a DVD+RW holds track 1 over the whole disc, blank, as
  // recorders describe it (burning tools read it before they format).
  auto plus = Ready("dvd+rw-blank");
  constexpr std::uint32_t kBlocks = 2295104;
  for (const auto& [type, value] : std::vector<std::pair<std::uint8_t, std::uint32_t>>{
           {1, 1}, {1, 0xFF}, {0, 0}, {0, kBlocks - 1}, {2, 1}}) {
    SCOPED_TRACE(value);
    const Answer track = Send(*plus, test::TrackInfo(type, value));
    ASSERT_EQ(track.sense, kGood);
    ASSERT_EQ(track.data.size(), 48U);
    EXPECT_EQ(track.data[2], 1);               // track 1
    EXPECT_EQ(track.data[3], 1);               // of session 1
    EXPECT_EQ(track.data[6] & 0xF0, 0x40);     // blank, neither reserved nor packets
    EXPECT_EQ(track.data[7] & 0x01, 0x01);     // next writable address valid
    EXPECT_EQ(Be32(track.data, 8), 0U);        // start
    EXPECT_EQ(Be32(track.data, 12), 0U);       // next writable address
    EXPECT_EQ(Be32(track.data, 16), kBlocks);  // free blocks
    EXPECT_EQ(Be32(track.data, 24), kBlocks);  // size
  }
  EXPECT_EQ(Send(*plus, test::TrackInfo(1, 2)).sense, kInvalidField);
  EXPECT_EQ(Send(*plus, test::TrackInfo(2, 2)).sense, kInvalidField);
  EXPECT_EQ(Send(*plus, test::TrackInfo(0, kBlocks)).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*plus, test::TrackInfo(3, 1)).sense, kInvalidField);
  // Formatted, the track is the formatted area and no longer blank.
  ASSERT_EQ(test::Format(*plus, 0x26, 0xFFFFFFFF).sense, kGood);
  const Answer formatted = Send(*plus, test::TrackInfo(1, 1));
  ASSERT_EQ(formatted.sense, kGood);
  EXPECT_EQ(formatted.data[6] & 0x40, 0x00);
  EXPECT_EQ(Be32(formatted.data, 24), kBlocks);
}

TEST(FormatTest, MalformedListsAndMediaThatCannotBeFormatted) {
  auto drive = Ready("dvd-rw-seq");
  std::vector<std::uint8_t> list(12, 0);
  list[3] = 4;  // descriptor length other than 8
  EXPECT_EQ(SendOut(*drive, {0x04, 0x11, 0, 0, 0, 0}, list).sense, kInvalidFieldInParameters);
  // The header announces a descriptor the host does not send: the request fails.
  EXPECT_EQ(SendOut(*drive, {0x04, 0x11, 0, 0, 0, 0}, std::vector<std::uint8_t>{0, 0, 0, 8}).status,
            Status::kTransportFailure);
  EXPECT_EQ(test::Format(*drive, 0x26, 0xFFFFFFFF).sense, kInvalidFieldInParameters);
  EXPECT_EQ(test::Format(*drive, 0x00, 2297889).sense, kInvalidFieldInParameters);
  EXPECT_EQ(SendOut(*drive, {0x04, 0x01, 0, 0, 0, 0}, list).sense, kInvalidField);  // no FmtData
  EXPECT_EQ(test::CurrentProfile(*drive), 0x14);  // nothing was formatted
  EXPECT_EQ(test::Format(*Ready("dvd-r"), 0x00, 0xFFFFFFFF).sense, kCannotFormatIncompatible);
  EXPECT_EQ(test::Format(*Ready("cdrom"), 0x00, 0xFFFFFFFF).sense, kCannotFormatIncompatible);
  EXPECT_EQ(test::Format(*Ready("cdrw-blank"), 0x00, 0xFFFFFFFF).sense, kInvalidFieldInParameters);
}

// A clock that the drive's own waiting advances, so time=real runs at once in the test.
struct FakeTime {
  Drive::Clock::time_point now{};
  std::chrono::microseconds slept{0};
  void Attach(Drive& drive) {
    drive.SetClock([this] { return now; });
    drive.SetSleeper([this](std::chrono::microseconds d) {
      slept += d;
      now += d;
    });
  }
};

std::uint32_t BufferFree(Drive& drive) {
  return Be32(Send(drive, {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}).data, 8);
}

TEST(RealTimeTest, TheBufferFillsAndDrainsAtTheSelectedWriteSpeed) {
  auto drive = Ready("dvd+rw,time=real");
  FakeTime time;
  time.Attach(*drive);
  // 4x DVD+RW: 5,540 kB/s.
  ASSERT_EQ(Send(*drive, {0xBB, 0, 0xFF, 0xFF, 0x15, 0xA4, 0, 0, 0, 0, 0, 0}, 0).sense, kGood);
  const std::vector<std::uint8_t> chunk(31 * 2048, 0x5A);
  int accepted = 0;
  Sense refused = kGood;
  for (std::uint32_t lba = 0; lba < 31 * 64; lba += 31, ++accepted) {
    refused = SendOut(*drive, test::Write10(lba, 31), chunk).sense;
    if (refused != kGood) break;
  }
  EXPECT_EQ(refused, kLongWriteInProgress);
  EXPECT_EQ(accepted, 33);  // 2 MB of 63,488-byte writes
  EXPECT_LT(BufferFree(*drive), chunk.size());
  time.now += std::chrono::milliseconds(100);  // 554,000 bytes drain
  const std::uint32_t free = BufferFree(*drive);
  EXPECT_GE(free, 554000U - 63488);
  EXPECT_LE(free, 554000U + 63488);
  // The flush waits for the rest at the same speed.
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_NEAR(static_cast<double>(time.slept.count()), (2097152.0 - free) * 1000 / 5540, 20000.0);
  EXPECT_EQ(BufferFree(*drive), 2U * 1024 * 1024);
  // GET PERFORMANCE type 03h lists the speeds SET CD SPEED chose from.
  const Answer speeds = Send(*drive, {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x03, 0});
  ASSERT_EQ(speeds.sense, kGood);
  EXPECT_EQ(Be32(speeds.data, 8 + 12), 11080U);
  EXPECT_EQ(Be32(speeds.data, 8 + 16 + 12), 5540U);
}

TEST(RealTimeTest, BlankAndFormatTakeARealisticTime) {
  auto drive = Ready("cdrw-blank,time=real");
  FakeTime time;
  time.Attach(*drive);
  ASSERT_EQ(Send(*drive, test::Blank(0), 0).sense, kGood);
  // The whole disc at 32x (5,645 kB/s): more than two minutes.
  const double full = 359849.0 * 2352 / 5645 / 1000;
  EXPECT_NEAR(static_cast<double>(time.slept.count()) / 1e6, full, 1.0);
  time.slept = {};
  ASSERT_EQ(Send(*drive, test::Blank(1), 0).sense, kGood);
  EXPECT_GT(time.slept, std::chrono::seconds(1));
  EXPECT_LT(time.slept, std::chrono::seconds(10));
  // With Immed the drive reports progress by the clock.
  time.slept = {};
  ASSERT_EQ(Send(*drive, test::Blank(0, true), 0).sense, kGood);
  EXPECT_EQ(time.slept.count(), 0);
  time.now += std::chrono::microseconds(static_cast<std::int64_t>(full * 1e6 / 2));
  const Answer half = Send(*drive, {0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(half.data[13], 0x07);
  EXPECT_NEAR(ProgressOf(half), 32768, 400);
  time.now += std::chrono::microseconds(static_cast<std::int64_t>(full * 1e6 / 2 + 1e5));
  EXPECT_EQ(Send(*drive, {0x00}, 0).sense, kGood);
  // A DVD-RW full format at 2x takes longer still.
  auto rw = Ready("dvd-rw-seq,time=real");
  FakeTime rw_time;
  rw_time.Attach(*rw);
  ASSERT_EQ(Send(*rw, {0xBB, 0, 0xFF, 0xFF, 0x0A, 0xD2, 0, 0, 0, 0, 0, 0}, 0).sense, kGood);
  ASSERT_EQ(test::Format(*rw, 0x00, 0xFFFFFFFF).sense, kGood);
  EXPECT_NEAR(static_cast<double>(rw_time.slept.count()) / 1e6, 2297888.0 * 2048 / 2770 / 1000,
              1.0);
}

TEST(RealTimeTest, ACommandLongerThanItsTimeOutFailsAndTheDriveCarriesOn) {
  auto drive = Ready("cdrw-blank,time=real");
  FakeTime time;
  time.Attach(*drive);
  std::vector<std::uint8_t> cdb = test::Blank(0);
  cdb.resize(16, 0);
  // A full blank takes minutes; the host waits ten seconds and gives up.
  const Reply reply =
      drive->Execute(cdb.data(), 12, Direction::kNone, nullptr, 0, std::chrono::seconds(10));
  EXPECT_EQ(reply.status, Status::kTransportFailure);
  EXPECT_EQ(reply.system_error, ETIMEDOUT);
  EXPECT_EQ(time.slept, std::chrono::seconds(10));
  // The drive goes on blanking: not ready, with its progress, until the blank is done.
  time.slept = {};
  const Answer busy = Send(*drive, {0x00}, 0);
  EXPECT_EQ(busy.sense, kOperationInProgress);
  EXPECT_EQ(time.slept.count(), 0);
  const double full = 359849.0 * 2352 / 5645 / 1000;
  time.now += std::chrono::microseconds(static_cast<std::int64_t>(full * 1e6));
  EXPECT_EQ(Send(*drive, {0x00}, 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 0);  // blank
  // Within its time-out a command is held for its whole duration and answers.
  time.slept = {};
  ASSERT_EQ(test::SelectWrite(*drive, test::WriteSetup{}).sense, kGood);
  const Reply minimal = drive->Execute(test::Blank(1).data(), 12, Direction::kNone, nullptr, 0,
                                       std::chrono::seconds(60));
  EXPECT_EQ(minimal.status, Status::kGood);
  EXPECT_GT(time.slept, std::chrono::seconds(1));
  // A read longer than its time-out: the data does not arrive.
  auto dvd = Ready("dvdrom,time=real");
  FakeTime dvd_time;
  dvd_time.Attach(*dvd);
  std::vector<std::uint8_t> buffer(2048);
  const std::vector<std::uint8_t> read = test::Read10(0, 1);
  EXPECT_EQ(dvd->Execute(read.data(), 10, Direction::kIn, buffer.data(), buffer.size(),
                         std::chrono::milliseconds(0))
                .status,
            Status::kGood);  // no time-out given: no limit
  EXPECT_EQ(dvd->Execute(read.data(), 10, Direction::kIn, buffer.data(), buffer.size(),
                         std::chrono::milliseconds(1))
                .status,
            Status::kGood);  // 2 kB at 16x take well under a millisecond
  // time=instant never waits and never times out.
  auto instant = Ready("cdrw-blank");
  EXPECT_EQ(
      instant->Execute(cdb.data(), 12, Direction::kNone, nullptr, 0, std::chrono::milliseconds(1))
          .status,
      Status::kGood);
}

}  // namespace
}  // namespace zorvane::vdrive
