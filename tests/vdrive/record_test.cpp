// Recording as burning software does it, step by step through CDBs, with every step
// checked through the read-side commands: track and disc information, TOC, PMA, READ
// CAPACITY and the sectors themselves.
#include <gtest/gtest.h>

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

constexpr std::uint32_t kCdrLeadout = 359849;  // 79:59:74

std::vector<std::uint8_t> ReadBack(Drive& drive, std::uint32_t lba, std::uint16_t count) {
  const Answer answer = Send(drive, test::Read10(lba, count), std::size_t{count} * 2048);
  EXPECT_EQ(answer.sense, kGood) << "READ(10) at " << lba;
  return answer.data;
}

struct Raw {
  std::uint8_t session, adr, point;
  Msf time, p;
  std::uint8_t zero;
};

std::vector<Raw> RawToc(Drive& drive, std::uint8_t format = 2) {
  const Answer answer = Send(drive, test::ReadToc(format, false));
  EXPECT_EQ(answer.sense, kGood);
  std::vector<Raw> entries;
  const auto& d = answer.data;
  for (std::size_t at = 4; at + 11 <= d.size(); at += 11) {
    entries.push_back({d[at], static_cast<std::uint8_t>(d[at + 1] >> 4), d[at + 3],
                       Msf{d[at + 4], d[at + 5], d[at + 6]}, Msf{d[at + 8], d[at + 9], d[at + 10]},
                       d[at + 7]});
  }
  return entries;
}

std::vector<std::uint8_t> Points(const std::vector<Raw>& raw) {
  std::vector<std::uint8_t> points;
  points.reserve(raw.size());
  for (const Raw& entry : raw) points.push_back(entry.point);
  return points;
}

// TOC format 0: track numbers and starts, lead-out last.
std::vector<std::pair<std::uint8_t, std::uint32_t>> Toc(Drive& drive) {
  const Answer answer = Send(drive, test::ReadToc(0, false));
  EXPECT_EQ(answer.sense, kGood);
  std::vector<std::pair<std::uint8_t, std::uint32_t>> toc;
  for (std::size_t at = 4; at + 8 <= answer.data.size(); at += 8) {
    toc.emplace_back(answer.data[at + 2], Be32(answer.data, at + 4));
  }
  return toc;
}

std::uint32_t LastLba(Drive& drive) {
  return Be32(Send(drive, test::Capacity(), 8).data, 0);
}

// cdrecord-style track at once on a blank CD-R: two tracks (data, then audio), the session
// closed for another, a second session of Mode 2 Form 1 that closes the disc.
TEST(CdRecordingTest, TrackAtOnceTwoTracksSessionCloseAndSecondSession) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{}).sense, kGood);
  test::Writable w = test::Invisible(*drive);
  EXPECT_EQ(w.next, 0U);
  EXPECT_TRUE(w.blank);

  // Track 1: 300 Mode 1 blocks in commands of 31 blocks (63,488 bytes).
  const std::vector<std::uint8_t> data1 = test::Pattern(300, 2048, 1);
  ASSERT_EQ(
      test::WriteAll(*drive, 0, std::vector<std::uint8_t>(data1.begin(), data1.begin() + 62 * 2048),
                     2048),
      kGood);
  w = test::Invisible(*drive);  // the track is being written: incomplete, not blank
  EXPECT_EQ(w.track, 1);
  EXPECT_FALSE(w.blank);
  EXPECT_EQ(w.next, 62U);
  EXPECT_EQ(w.free, kCdrLeadout - 62);
  const Answer misplaced = SendOut(*drive, test::Write10(63, 1), std::vector<std::uint8_t>(2048));
  EXPECT_EQ(misplaced.sense, kInvalidAddressForWrite);
  EXPECT_EQ(Be32(std::vector<std::uint8_t>(misplaced.reply.sense, misplaced.reply.sense + 18), 3),
            63U);
  ASSERT_EQ(test::WriteAll(*drive, 62,
                           std::vector<std::uint8_t>(data1.begin() + 62 * 2048, data1.end()), 2048),
            kGood);
  // The flush ends a track-at-once track: two run-out blocks, an entry in the PMA.
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  Answer track = Send(*drive, test::TrackInfo(1, 1));
  EXPECT_EQ(Be32(track.data, 8), 0U);
  EXPECT_EQ(Be32(track.data, 24), 302U);
  EXPECT_EQ(track.data[7] & 0x01, 0);  // complete: no next writable address
  w = test::Invisible(*drive);
  EXPECT_EQ(w.track, 2);
  EXPECT_EQ(w.session, 1);
  EXPECT_EQ(w.next, 302U + 150);  // after the run-out, the next track's two-second pre-gap
  EXPECT_EQ(w.free, kCdrLeadout - 452);
  std::vector<Raw> pma = RawToc(*drive, 3);
  ASSERT_EQ(pma.size(), 1U);
  EXPECT_EQ(pma[0].point, 1);
  EXPECT_EQ(pma[0].p, (Msf{0, 2, 0}));
  EXPECT_EQ(pma[0].time, LbaToMsf(301));
  EXPECT_EQ(Toc(*drive),
            (std::vector<std::pair<std::uint8_t, std::uint32_t>>{{1, 0}, {0xAA, 302}}));
  EXPECT_EQ(test::Disc(*drive).status, 1);
  EXPECT_EQ(test::Disc(*drive).session_state, 1);
  EXPECT_EQ(ReadBack(*drive, 0, 300), data1);
  const Answer run_out = Send(*drive, test::Read10(300, 1));
  EXPECT_EQ(run_out.sense, kIllegalModeForTrack);

  // Track 2: audio, 2352-byte blocks, 27 to a command.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 0, 0}).sense, kGood);
  const std::vector<std::uint8_t> data2 = test::Pattern(75, 2352, 2);
  ASSERT_EQ(test::WriteAll(*drive, 452, data2, 2352, 27), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  track = Send(*drive, test::TrackInfo(1, 2));
  EXPECT_EQ(Be32(track.data, 8), 452U);
  EXPECT_EQ(Be32(track.data, 24), 302U);  // 75 blocks padded to four seconds, the run-out
  EXPECT_EQ(track.data[5] & 0x0F, 0);     // audio control
  EXPECT_EQ(track.data[6] & 0x0F, 0x0F);  // data mode of an audio track
  EXPECT_EQ(RawToc(*drive, 3).size(), 2U);
  const Answer audio = Send(*drive, test::ReadCd(452, 75, 1, 0x10), 75 * 2352);
  EXPECT_EQ(audio.sense, kGood);
  EXPECT_EQ(audio.data, data2);
  EXPECT_EQ(Send(*drive, test::Read10(452, 1)).sense, kIllegalModeForTrack);

  // Close the session for another (multi-session 11b): lead-in and lead-out in the TOC.
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  std::vector<Raw> raw = RawToc(*drive);
  EXPECT_EQ(Points(raw), (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 1, 2, 0xB0, 0xC0}));
  EXPECT_EQ(MsfToLba(raw[2].p), 754);  // lead-out after track 2 and its run-out
  EXPECT_EQ(MsfToLba(raw[5].time), 754 + 6750 + 4500);
  EXPECT_EQ(raw[1].p.minute, 2);  // last track
  test::DiscState disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 1);         // appendable
  EXPECT_EQ(disc.session_state, 0);  // the next session is empty
  EXPECT_EQ(disc.sessions, 2);
  w = test::Invisible(*drive);
  EXPECT_EQ(w.track, 3);
  EXPECT_EQ(w.session, 2);
  EXPECT_EQ(w.next, 754U + 6750 + 4500 + 150);
  EXPECT_EQ(Toc(*drive).back(), (std::pair<std::uint8_t, std::uint32_t>{0xAA, 754}));
  EXPECT_EQ(LastLba(*drive), 753U);

  // Session 2: CD-ROM XA, Mode 2 Form 1, and the disc closed (multi-session 00b).
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x0A, 0, 0x20}).sense, kGood);
  const std::uint32_t start = w.next;
  const std::vector<std::uint8_t> data3 = test::Pattern(40, 2048, 3);
  ASSERT_EQ(test::WriteAll(*drive, start, data3, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  raw = RawToc(*drive);
  EXPECT_EQ(Points(raw),
            (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 1, 2, 0xB0, 0xC0, 0xA0, 0xA1, 0xA2, 3}));
  EXPECT_EQ(raw[7].p.second, 0x20);                                        // CD-ROM XA
  EXPECT_EQ(static_cast<std::uint32_t>(MsfToLba(raw[9].p)), start + 302);  // 40 padded to 300
  disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 2);
  EXPECT_EQ(disc.session_state, 3);
  EXPECT_EQ(test::Invisible(*drive).sense, kInvalidField);
  EXPECT_EQ(SendOut(*drive, test::Write10(start + 192, 1), std::vector<std::uint8_t>(2048)).sense,
            kInvalidAddressForWrite);
  const Answer form1 = Send(*drive, test::ReadCd(start, 40, 4, 0x10), 40 * 2048);
  EXPECT_EQ(form1.data, data3);
  EXPECT_EQ(LastLba(*drive), start + 301);
  // Every sector of the first session reads as it was written.
  EXPECT_EQ(ReadBack(*drive, 0, 300), data1);
}

TEST(CdRecordingTest, Mode2BlocksKeepTheirBytes) {
  auto drive = Ready("cdr-blank");
  // Mode 2 formless: the 2336 bytes after the header come back as written.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x09}).sense, kGood);
  const std::vector<std::uint8_t> formless = test::Pattern(5, 2336, 4);
  ASSERT_EQ(test::WriteAll(*drive, 0, formless, 2336), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, test::ReadCd(0, 5, 3, 0x10)).data, formless);
  // Sub-header and data (2332 bytes): kept, the drive's EDC after them.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x0D}).sense, kGood);
  std::vector<std::uint8_t> mixed = test::Pattern(1, 2332, 5);
  ASSERT_EQ(test::WriteAll(*drive, 452, mixed, 2332), kGood);  // after 300 blocks and pre-gap
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  const Answer sector = Send(*drive, test::ReadCd(452, 1, 3, 0x10));
  ASSERT_EQ(sector.data.size(), 2336U);
  EXPECT_TRUE(std::equal(mixed.begin(), mixed.end(), sector.data.begin()));
  const std::uint32_t edc = test::BitwiseEdc(mixed.data(), mixed.size());
  EXPECT_EQ(sector.data[2332] | sector.data[2333] << 8 | sector.data[2334] << 16 |
                static_cast<std::uint32_t>(sector.data[2335]) << 24,
            edc);
  // Form 2: 2324 bytes of data.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x0C}).sense, kGood);
  const std::vector<std::uint8_t> form2 = test::Pattern(3, 2324, 6);
  ASSERT_EQ(test::WriteAll(*drive, 904, form2, 2324), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Send(*drive, test::ReadCd(904, 3, 5, 0x10)).data, form2);
}

TEST(CdRecordingTest, WhatARealRecorderRefuses) {
  auto drive = Ready("cdr-blank");
  // Track mode and block type must agree; sub-channel blocks are for raw recording only.
  EXPECT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x00}).sense, kInvalidFieldInParameters);
  EXPECT_EQ(test::SelectWrite(*drive, WriteSetup{1, 0, 0x08}).sense, kInvalidFieldInParameters);
  EXPECT_EQ(test::SelectWrite(*drive, WriteSetup{1, 0, 0x02}).sense, kInvalidFieldInParameters);
  EXPECT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x08, 2}).sense, kInvalidFieldInParameters);
  // Session at once needs a cue sheet first.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{2, 4, 0x08}).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense,
            kCommandSequenceError);
  // A track continues in its own mode.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{}).sense, kGood);
  ASSERT_EQ(SendOut(*drive, test::Write10(0, 2), std::vector<std::uint8_t>(4096)).sense, kGood);
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{1, 4, 0x0A}).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(2, 1), std::vector<std::uint8_t>(2048)).sense,
            kIllegalModeForTrack);
  // A data phase shorter than the blocks fails at the host adapter and records nothing.
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{}).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(2, 2), std::vector<std::uint8_t>(2048)).status,
            Status::kTransportFailure);
  EXPECT_EQ(test::Invisible(*drive).next, 2U);
  // Nothing to close in a track that does not exist; nothing to close on a blank disc.
  EXPECT_EQ(Send(*drive, test::Close(1, 7), 0).sense, kInvalidField);
  EXPECT_EQ(Send(*Ready("cdr-blank"), test::Close(2, 0), 0).sense, kCommandSequenceError);
  // Pressed and closed discs.
  auto cdrom = Ready("cdrom");
  EXPECT_EQ(SendOut(*cdrom, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense,
            kCannotWriteIncompatible);
  EXPECT_EQ(Send(*cdrom, test::Close(1, 1), 0).sense, kCannotWriteIncompatible);
  EXPECT_EQ(Send(*cdrom, {0x35}, 0).sense, kGood);  // nothing to flush
  auto closed = Ready("cdr-closed");
  EXPECT_EQ(SendOut(*closed, test::Write10(10152, 1), std::vector<std::uint8_t>(2048)).sense,
            kInvalidAddressForWrite);
}

// A track is at least four seconds: a shorter track-at-once track is padded to 300 blocks
// that read as zeros, as a cue sheet must give 300 blocks to every track.
TEST(CdRecordingTest, ShortTrackAtOnceTrackIsPaddedToFourSeconds) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{}).sense, kGood);
  const std::vector<std::uint8_t> data = test::Pattern(17, 2048, 5);
  ASSERT_EQ(test::WriteAll(*drive, 0, data, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(Be32(Send(*drive, test::TrackInfo(1, 1)).data, 24), 302U);  // with the run-out
  EXPECT_EQ(test::Invisible(*drive).next, 302U + 150);
  EXPECT_EQ(ReadBack(*drive, 0, 17), data);
  EXPECT_EQ(ReadBack(*drive, 17, 283), std::vector<std::uint8_t>(283 * 2048, 0));
  EXPECT_EQ(Send(*drive, test::Read10(300, 1)).sense, kIllegalModeForTrack);  // run-out
}

// A drive that powers on with write parameters for another medium (session at once, an
// audio track of raw blocks) refuses a host that writes without MODE SELECT.
TEST(CdRecordingTest, DaoDefaultQuirkRefusesAHostThatNeverSelects) {
  for (const char* spec : {"cdr-blank,quirk=daodefault", "dvd-r,quirk=daodefault"}) {
    auto drive = Ready(spec);
    for (const std::uint8_t control : {0, 2}) {  // current and default values
      const Answer page = Send(*drive, test::ModeSense10(0x05, control));
      ASSERT_EQ(page.sense, kGood) << spec;
      EXPECT_EQ(page.data[8 + 2] & 0x0F, 2) << spec;
    }
    EXPECT_EQ(SendOut(*drive, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense,
              kCommandSequenceError)
        << spec;
    WriteSetup setup;  // track at once on CD, incremental on DVD
    setup.write_type = std::string(spec).starts_with("cd") ? 1 : 0;
    ASSERT_EQ(test::SelectWrite(*drive, setup).sense, kGood);
    EXPECT_EQ(SendOut(*drive, test::Write10(0, 16), std::vector<std::uint8_t>(16 * 2048)).sense,
              kGood)
        << spec;
  }
  auto plain = Ready("cdr-blank");
  EXPECT_EQ(SendOut(*plain, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense, kGood);
}

TEST(CdRecordingTest, TestWriteRecordsNothing) {
  auto drive = Ready("cdr-blank");
  WriteSetup dummy;
  dummy.test_write = true;
  ASSERT_EQ(test::SelectWrite(*drive, dummy).sense, kGood);
  ASSERT_EQ(test::WriteAll(*drive, 0, test::Pattern(62, 2048, 7), 2048), kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(0, 1), std::vector<std::uint8_t>(2048)).sense,
            kInvalidAddressForWrite);  // the simulated address has moved on
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  const test::Writable w = test::Invisible(*drive);
  EXPECT_TRUE(w.blank);
  EXPECT_EQ(w.next, 0U);
  EXPECT_EQ(Be16(Send(*drive, test::ReadToc(3, false)).data, 0), 2U);  // empty PMA
  EXPECT_EQ(test::Disc(*drive).status, 0);
}

// DVD-R incremental with a reservation: the reserved track and the invisible track after
// it are written in either order.
TEST(DvdRecordingTest, MinusRIncrementalWithReservation) {
  auto drive = Ready("dvd-r");
  const std::uint32_t capacity = 2298496;
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{0, 5, 0x08, 0}).sense, kGood);
  EXPECT_EQ(Send(*drive, test::Reserve(capacity + 1), 0).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, test::Reserve(0), 0).sense, kInvalidField);
  ASSERT_EQ(Send(*drive, test::Reserve(1000), 0).sense, kGood);
  Answer track = Send(*drive, test::TrackInfo(1, 1));
  EXPECT_EQ(track.data[6] & 0xC0, 0xC0);   // reserved, blank
  EXPECT_EQ(Be32(track.data, 24), 1008U);  // rounded up to whole ECC blocks
  EXPECT_EQ(Be32(track.data, 12), 0U);
  test::Writable w = test::Invisible(*drive);
  EXPECT_EQ(w.track, 2);
  EXPECT_EQ(w.next, 1008U);
  EXPECT_EQ(w.free, capacity - 1008);
  // The invisible track first, 40 blocks: the flush pads to the ECC block.
  const std::vector<std::uint8_t> second = test::Pattern(40, 2048, 8);
  ASSERT_EQ(test::WriteAll(*drive, 1008, second, 2048), kGood);
  EXPECT_EQ(test::Invisible(*drive).next, 1048U);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  EXPECT_EQ(test::Invisible(*drive).next, 1056U);
  // Then the reserved track, whole: it completes by itself.
  const std::vector<std::uint8_t> first = test::Pattern(1008, 2048, 9);
  EXPECT_EQ(SendOut(*drive, test::Write10(16, 1), std::vector<std::uint8_t>(2048)).sense,
            kInvalidAddressForWrite);
  ASSERT_EQ(test::WriteAll(*drive, 0, first, 2048), kGood);
  track = Send(*drive, test::TrackInfo(1, 1));
  EXPECT_EQ(track.data[7] & 0x01, 0);
  EXPECT_EQ(Be32(track.data, 28), 1007U);  // last recorded address
  ASSERT_EQ(Send(*drive, test::Close(1, 2), 0).sense, kGood);
  EXPECT_EQ(Be32(Send(*drive, test::TrackInfo(1, 2)).data, 24), 48U);
  // Closing the session with multi-session 00b finalises the disc.
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  EXPECT_EQ(test::Disc(*drive).status, 2);
  EXPECT_EQ(Toc(*drive),
            (std::vector<std::pair<std::uint8_t, std::uint32_t>>{{1, 0}, {2, 1008}, {0xAA, 1056}}));
  EXPECT_EQ(LastLba(*drive), 1055U);
  EXPECT_EQ(ReadBack(*drive, 0, 1008), first);
  std::vector<std::uint8_t> padded = second;
  padded.resize(48 * 2048, 0);
  EXPECT_EQ(ReadBack(*drive, 1008, 48), padded);
  EXPECT_EQ(Send(*drive, test::Reserve(16), 0).sense, kInvalidAddressForWrite);
}

TEST(DvdRecordingTest, MinusRwDiscAtOnceIsFinalisedByTheWrite) {
  auto drive = Ready("dvd-rw-seq");
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{2, 5, 0x08, 0}).sense, kGood);
  EXPECT_EQ(SendOut(*drive, test::Write10(0, 16), std::vector<std::uint8_t>(16 * 2048)).sense,
            kCommandSequenceError);  // disc at once writes a reserved track
  ASSERT_EQ(Send(*drive, test::Reserve(100), 0).sense, kGood);
  const std::vector<std::uint8_t> data = test::Pattern(112, 2048, 10);
  ASSERT_EQ(
      test::WriteAll(*drive, 0, std::vector<std::uint8_t>(data.begin(), data.end() - 2048), 2048),
      kGood);
  EXPECT_EQ(test::Disc(*drive).status, 1);
  ASSERT_EQ(
      test::WriteAll(*drive, 111, std::vector<std::uint8_t>(data.end() - 2048, data.end()), 2048),
      kGood);
  EXPECT_EQ(test::Disc(*drive).status, 2);
  EXPECT_EQ(Toc(*drive).back().second, 112U);
  EXPECT_EQ(ReadBack(*drive, 0, 112), data);
}

TEST(DvdRecordingTest, DualLayerJumpRecordsIncrementally) {
  auto drive = Ready("dvd-r-dl");
  ASSERT_EQ(test::SelectWrite(*drive, WriteSetup{4, 5, 0x08, 0}).sense, kGood);
  const std::vector<std::uint8_t> data = test::Pattern(20, 2048, 19);
  ASSERT_EQ(test::WriteAll(*drive, 0, data, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  const test::Writable w = test::Invisible(*drive);
  EXPECT_EQ(w.track, 1);
  EXPECT_EQ(w.next, 32U);
  EXPECT_EQ(w.free, 4171712U - 32);
  EXPECT_EQ(ReadBack(*drive, 0, 20), data);
}

TEST(DvdRecordingTest, PlusRReserveCloseAndFinalise) {
  auto drive = Ready("dvd+r");
  // The write parameters page does not govern DVD+R; test write is refused on it.
  WriteSetup dummy{0, 5, 0x08};
  dummy.test_write = true;
  EXPECT_EQ(test::SelectWrite(*drive, dummy).sense, kInvalidFieldInParameters);
  ASSERT_EQ(Send(*drive, test::Reserve(100), 0).sense, kGood);
  EXPECT_EQ(test::Invisible(*drive).next, 112U);
  const std::vector<std::uint8_t> one = test::Pattern(112, 2048, 11);
  ASSERT_EQ(test::WriteAll(*drive, 0, one, 2048), kGood);
  const std::vector<std::uint8_t> two = test::Pattern(30, 2048, 12);
  ASSERT_EQ(test::WriteAll(*drive, 112, two, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  ASSERT_EQ(Send(*drive, test::Close(1, 2), 0).sense, kGood);
  EXPECT_EQ(Be32(Send(*drive, test::TrackInfo(1, 2)).data, 24), 32U);
  EXPECT_EQ(Send(*drive, test::Close(1, 9), 0).sense, kInvalidField);
  // Closing the session leaves a DVD+R appendable; the next session starts past the
  // closure and the next intro.
  ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
  test::DiscState disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 1);
  EXPECT_EQ(disc.sessions, 2);
  test::Writable w = test::Invisible(*drive);
  EXPECT_EQ(w.track, 3);
  EXPECT_EQ(w.session, 2);
  EXPECT_EQ(w.next, 144U + kFirstBorderBlocks);
  const std::vector<std::uint8_t> three = test::Pattern(16, 2048, 13);
  ASSERT_EQ(test::WriteAll(*drive, w.next, three, 2048), kGood);
  // Finalising closes the open session and the disc.
  ASSERT_EQ(Send(*drive, test::Close(6, 0), 0).sense, kGood);
  disc = test::Disc(*drive);
  EXPECT_EQ(disc.status, 2);
  EXPECT_EQ(disc.session_state, 3);
  EXPECT_EQ(ReadBack(*drive, 0, 112), one);
  EXPECT_EQ(ReadBack(*drive, w.next, 16), three);
  EXPECT_EQ(Toc(*drive).back().second, w.next + 16);
  // Finalising is for DVD+R only.
  auto minus = Ready("dvd-r");
  EXPECT_EQ(Send(*minus, test::Close(5, 0), 0).sense, kInvalidField);
}

TEST(DvdRecordingTest, PlusRwIsOverwrittenAnywhere) {
  auto drive = Ready("dvd+rw");
  const std::vector<std::uint8_t> first = test::Pattern(32, 2048, 14);
  ASSERT_EQ(test::WriteAll(*drive, 1000, first, 2048), kGood);
  const std::vector<std::uint8_t> second = test::Pattern(5, 2048, 15);
  ASSERT_EQ(test::WriteAll(*drive, 1003, second, 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  std::vector<std::uint8_t> expected = first;
  std::copy(second.begin(), second.end(), expected.begin() + 3 * 2048);
  EXPECT_EQ(ReadBack(*drive, 1000, 32), expected);
  EXPECT_EQ(ReadBack(*drive, 999, 1), std::vector<std::uint8_t>(2048, 0));
  EXPECT_EQ(LastLba(*drive), 2295103U);
  EXPECT_EQ(SendOut(*drive, test::Write10(2295103, 2), std::vector<std::uint8_t>(4096)).sense,
            kLbaOutOfRange);
  EXPECT_EQ(Send(*drive, test::Reserve(16), 0).sense, kInvalidField);
  EXPECT_EQ(test::Disc(*drive).background, 3);
}

TEST(DvdRecordingTest, RestrictedOverwriteTakesWholeEccBlocks) {
  auto drive = Ready("dvd-rw-ro");
  const std::vector<std::uint8_t> block = test::Pattern(16, 2048, 16);
  EXPECT_EQ(test::WriteAll(*drive, 32, block, 2048, 16), kGood);
  EXPECT_EQ(ReadBack(*drive, 32, 16), block);
  EXPECT_EQ(SendOut(*drive, test::Write10(40, 16), block).sense, kInvalidField);
  EXPECT_EQ(SendOut(*drive, test::Write10(48, 8), std::vector<std::uint8_t>(8 * 2048)).sense,
            kInvalidField);
  EXPECT_EQ(ReadBack(*drive, 48, 1), std::vector<std::uint8_t>(2048, 0));  // nothing written
  EXPECT_EQ(Send(*drive, test::Close(1, 1), 0).sense, kGood);
}

TEST(DvdRecordingTest, DvdRamTakesSingleBlocks) {
  auto drive = Ready("dvd-ram");
  const std::vector<std::uint8_t> one = test::Pattern(1, 2048, 17);
  EXPECT_EQ(test::WriteAll(*drive, 12345, one, 2048), kGood);
  EXPECT_EQ(ReadBack(*drive, 12345, 1), one);
  EXPECT_EQ(test::Disc(*drive).status, 3);
}

// Packet/Inc and FP of READ TRACK INFORMATION (byte 6, 20h and 10h) and the fixed packet
// size: burners pick the medium's recording method from them.
std::uint8_t PacketBits(Drive& drive, std::uint8_t type, std::uint32_t value) {
  const Answer track = Send(drive, test::TrackInfo(type, value));
  EXPECT_EQ(track.sense, kGood);
  return track.data.size() > 6 ? static_cast<std::uint8_t>(track.data[6] & 0x30) : 0xFF;
}

// Incremental recording as a DVD burner sets it up: the fixed packet bit and a packet of
// 16 blocks in the write parameters, which DVD-R drives accept and ignore.
Answer SelectFixedPacketIncremental(Drive& drive) {
  std::vector<std::uint8_t> list(8 + 52, 0);
  std::uint8_t* page = &list[8];
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = 0x00;                // incremental
  page[3] = 0xC0 | 0x20 | 0x05;  // multi-session 11b, FP, track mode 5
  page[4] = 0x08;
  page[13] = 16;
  return SendOut(drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(list.size()), 0},
                 list);
}

TEST(DvdRecordingTest, IncrementalTracksAreOfVariablePackets) {
  for (const char* preset : {"dvd-r", "dvd-rw-seq", "dvd-r-dl"}) {
    SCOPED_TRACE(preset);
    auto drive = Ready(preset);
    ASSERT_EQ(SelectFixedPacketIncremental(*drive).sense, kGood);
    EXPECT_EQ(PacketBits(*drive, 1, 0xFF), 0x20);  // the invisible track, blank
    const std::vector<std::uint8_t> data = test::Pattern(40, 2048, 21);
    ASSERT_EQ(test::WriteAll(*drive, 0, data, 2048), kGood);
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x20);  // partly written
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
    ASSERT_EQ(Send(*drive, test::Close(1, 1), 0).sense, kGood);
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x20);  // complete
    ASSERT_EQ(Send(*drive, test::Close(2, 0), 0).sense, kGood);
    EXPECT_EQ(test::Disc(*drive).status, 1);
    EXPECT_EQ(PacketBits(*drive, 1, 0xFF), 0x20);  // the next session's track
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x20);
  }
  // Disc at once: neither bit, for the blank track and the track written.
  auto dao = Ready("dvd-rw-seq");
  ASSERT_EQ(test::SelectWrite(*dao, WriteSetup{2, 5, 0x08, 0}).sense, kGood);
  EXPECT_EQ(PacketBits(*dao, 1, 0xFF), 0x00);
  ASSERT_EQ(Send(*dao, test::Reserve(16), 0).sense, kGood);
  ASSERT_EQ(test::WriteAll(*dao, 0, test::Pattern(16, 2048, 22), 2048), kGood);
  EXPECT_EQ(PacketBits(*dao, 1, 1), 0x00);
}

TEST(DvdRecordingTest, RestrictedOverwriteIsOneTrackOfFixedPackets) {
  auto preset = Ready("dvd-rw-ro");
  EXPECT_EQ(PacketBits(*preset, 1, 1), 0x30);
  EXPECT_EQ(Be32(Send(*preset, test::TrackInfo(1, 1)).data, 20), 16U);
  // Formatted from sequential recording, after an incremental session, and written.
  auto drive = Ready("dvd-rw-seq");
  ASSERT_EQ(SelectFixedPacketIncremental(*drive).sense, kGood);
  ASSERT_EQ(test::WriteAll(*drive, 0, test::Pattern(16, 2048, 23), 2048), kGood);
  ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
  ASSERT_EQ(test::Format(*drive, 0x15, 0xFFFFFFFF).sense, kGood);
  ASSERT_EQ(test::CurrentProfile(*drive), 0x13);
  EXPECT_EQ(PacketBits(*drive, 1, 1), 0x30);
  ASSERT_EQ(test::WriteAll(*drive, 64, test::Pattern(16, 2048, 24), 2048, 16), kGood);
  EXPECT_EQ(PacketBits(*drive, 1, 1), 0x30);
  EXPECT_EQ(Be32(Send(*drive, test::TrackInfo(1, 1)).data, 20), 16U);
  // Back to sequential recording: the blank track is incremental again.
  ASSERT_EQ(test::Format(*drive, 0x10, 0xFFFFFFFF).sense, kGood);
  ASSERT_EQ(SelectFixedPacketIncremental(*drive).sense, kGood);
  EXPECT_EQ(PacketBits(*drive, 1, 0xFF), 0x20);
}

TEST(DvdRecordingTest, PlusMediaAndDvdRamReportNoFixedPackets) {
  for (const char* preset : {"dvd+rw", "dvd-ram"}) {
    SCOPED_TRACE(preset);
    auto drive = Ready(preset);
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x00);
  }
  auto plus = Ready("dvd+r");
  EXPECT_EQ(PacketBits(*plus, 1, 0xFF) & 0x10, 0);
  ASSERT_EQ(test::WriteAll(*plus, 0, test::Pattern(16, 2048, 25), 2048), kGood);
  ASSERT_EQ(Send(*plus, {0x35}, 0).sense, kGood);
  ASSERT_EQ(Send(*plus, test::Close(1, 1), 0).sense, kGood);
  EXPECT_EQ(PacketBits(*plus, 1, 1) & 0x10, 0);
}

TEST(DvdRecordingTest, PlusRTracksAreNotIncremental) {
  // DVD+R is written in ECC blocks without packets, whatever the write parameters say:
  // the invisible track, a track being written and a closed one describe neither
  // Packet/Inc nor FP, with the track mode of an uninterrupted data track.
  for (const char* preset : {"dvd+r", "dvd+r-dl"}) {
    SCOPED_TRACE(preset);
    auto drive = Ready(preset);
    EXPECT_EQ(PacketBits(*drive, 1, 0xFF), 0x00);
    ASSERT_EQ(SelectFixedPacketIncremental(*drive).sense, kGood);
    const Answer invisible = Send(*drive, test::TrackInfo(1, 0xFF));
    ASSERT_EQ(invisible.sense, kGood);
    EXPECT_EQ(invisible.data[6] & 0x70, 0x40);  // blank only
    EXPECT_EQ(invisible.data[5] & 0x0F, 0x04);
    ASSERT_EQ(test::WriteAll(*drive, 0, test::Pattern(40, 2048, 26), 2048), kGood);
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x00);
    ASSERT_EQ(Send(*drive, {0x35}, 0).sense, kGood);
    ASSERT_EQ(Send(*drive, test::Close(1, 1), 0).sense, kGood);
    EXPECT_EQ(PacketBits(*drive, 1, 1), 0x00);
    EXPECT_EQ(PacketBits(*drive, 1, 0xFF), 0x00);  // the next track
  }
}

TEST(CdRecordingTest, MrwFormatThenRandomWrites) {
  auto drive = Ready("cdrw-blank");
  const std::uint32_t area = kCdrLeadout / 39 * 32;
  ASSERT_EQ(test::Format(*drive, 0x24, area).sense, kGood);
  EXPECT_EQ(test::CurrentProfile(*drive), 0x0A);
  bool mrw_current = false;
  for (const auto& [code, feature] : test::Features(*drive)) {
    if (code == 0x0028) mrw_current = feature.current;
  }
  EXPECT_TRUE(mrw_current);
  EXPECT_EQ(test::Disc(*drive).background, 2);  // formatting in the background
  const std::vector<std::uint8_t> data = test::Pattern(3, 2048, 18);
  ASSERT_EQ(test::WriteAll(*drive, 5000, data, 2048), kGood);
  EXPECT_EQ(ReadBack(*drive, 5000, 3), data);
  EXPECT_EQ(LastLba(*drive), area - 1);
  const Answer capacities = Send(*drive, test::FormatCapacities());
  EXPECT_EQ(Be32(capacities.data, 4), area);
  EXPECT_EQ(capacities.data[8] & 0x03, 2);  // formatted
  for (int i = 0; i < 8 && test::Disc(*drive).background != 3; ++i) Send(*drive, {0x00}, 0);
  EXPECT_EQ(test::Disc(*drive).background, 3);
  EXPECT_EQ(ReadBack(*drive, 5000, 3), data);
}

}  // namespace
}  // namespace zorvane::vdrive
