// READ(10), READ(12), READ CD and SEEK return the disc's bytes, refuse what a real drive
// refuses, and agree with each other.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be32;
using test::Ready;
using test::Send;

// The documented pattern of generated data blocks.
std::vector<std::uint8_t> Pattern(std::uint32_t lba) {
  std::vector<std::uint8_t> block(2048);
  block[0] = static_cast<std::uint8_t>(lba >> 24);
  block[1] = static_cast<std::uint8_t>(lba >> 16);
  block[2] = static_cast<std::uint8_t>(lba >> 8);
  block[3] = static_cast<std::uint8_t>(lba);
  for (std::size_t k = 4; k < 2048; ++k) block[k] = static_cast<std::uint8_t>(k + 3 * lba);
  return block;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& data, std::size_t at,
                                std::size_t size) {
  return {data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + size)};
}

TEST(ReadTest, Read10ReturnsThePatternUpToTheLastBlock) {
  auto drive = Ready("cdrom");
  for (const std::uint32_t lba : {0U, 16U, 12345U, 332999U}) {
    const Answer answer = Send(*drive, test::Read10(lba, 1));
    ASSERT_EQ(answer.sense, kGood);
    EXPECT_EQ(answer.data, Pattern(lba)) << lba;
  }
  Answer many = Send(*drive, test::Read10(100, 31));
  ASSERT_EQ(many.data.size(), 31U * 2048);
  EXPECT_EQ(Slice(many.data, 30 * 2048, 2048), Pattern(130));
  // A longer read than the buffer takes fails at the host adapter: nothing arrives.
  many = Send(*drive, test::Read10(100, 40), 63488);
  EXPECT_EQ(many.status, Status::kTransportFailure);
  EXPECT_EQ(many.data.size(), 0U);
  const Answer twelve = Send(*drive, test::Read12(332998, 2));
  EXPECT_EQ(Slice(twelve.data, 2048, 2048), Pattern(332999));
  const Answer beyond = Send(*drive, test::Read10(332999, 2));
  EXPECT_EQ(beyond.sense, kLbaOutOfRange);
  EXPECT_EQ(beyond.data.size(), 0U);
  EXPECT_EQ(beyond.reply.sense[0], 0xF0);  // information valid
  EXPECT_EQ(Send(*drive, test::Read12(400000, 1)).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*drive, test::Read10(5, 0)).sense, kGood);
  auto dvd = Ready("dvd+rw");  // formatted, never written: zeros
  EXPECT_EQ(Send(*dvd, test::Read10(2295103, 1)).data, std::vector<std::uint8_t>(2048, 0));
  EXPECT_EQ(Send(*dvd, test::Read10(2295104, 1)).sense, kLbaOutOfRange);
}

TEST(ReadTest, ImageKeyServesTheFileAsThePressedDisc) {
  char path[] = "/tmp/zorvane-image-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  std::vector<std::uint8_t> bytes(3 * 2048 + 100);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  for (const char* preset : {"cdrom", "dvdrom"}) {
    auto drive = Ready(std::string(preset) + ",image=" + path);
    const Answer capacity = Send(*drive, test::Capacity(), 8);
    EXPECT_EQ(Be32(capacity.data, 0), 3U);  // four blocks, the last one partly filled
    const Answer read = Send(*drive, test::Read10(0, 4));
    ASSERT_EQ(read.data.size(), 4U * 2048);
    EXPECT_EQ(Slice(read.data, 0, bytes.size()), bytes);
    EXPECT_EQ(Slice(read.data, bytes.size(), 4 * 2048 - bytes.size()),
              std::vector<std::uint8_t>(4 * 2048 - bytes.size(), 0));
    // The range read from the file in one piece still returns an altered block altered.
    auto altering = Ready(std::string(preset) + ",alter=1,image=" + path);
    std::vector<std::uint8_t> wrong = Slice(read.data, 0, 4 * 2048);
    for (std::size_t i = 2048 + 100; i < 2048 + 104; ++i) wrong[i] ^= 0xFF;
    EXPECT_EQ(Send(*altering, test::Read10(0, 4)).data, wrong);
  }
  ::unlink(path);
}

TEST(ReadTest, Read10RefusesAudioRunOutAndUnrecordedBlocks) {
  auto cdda = Ready("cdda");
  EXPECT_EQ(Send(*cdda, test::Read10(0, 1)).sense, kIllegalModeForTrack);
  auto mixed = Ready("cdmixed");
  EXPECT_EQ(Send(*mixed, test::Read10(29999, 1)).data, Pattern(29999));
  const Answer audio = Send(*mixed, test::Read10(29999, 2));
  EXPECT_EQ(audio.sense, kIllegalModeForTrack);
  EXPECT_EQ(Be32(std::vector<std::uint8_t>(audio.reply.sense, audio.reply.sense + 18), 3),
            30000U);  // the failing block
  // A track-at-once track ends with two run-out blocks that do not read.
  // READ CAPACITY counts complete sessions only: 0 while the only session is open, as
  // recorders answer; the closed one ends with the track's run-out.
  auto open = Ready("cdr-open");
  EXPECT_EQ(Be32(Send(*open, test::Capacity(), 8).data, 0), 0U);
  EXPECT_EQ(Be32(Send(*Ready("cdr-closed"), test::Capacity(), 8).data, 0), 10001U);
  EXPECT_EQ(Send(*open, test::Read10(9999, 1)).data, Pattern(9999));
  EXPECT_EQ(Send(*open, test::Read10(10000, 1)).sense, kIllegalModeForTrack);
  // The lead-out and lead-in between two sessions hold no blocks.
  auto multi = Ready("cdr-multi");
  EXPECT_EQ(Send(*multi, test::Read10(20002, 1)).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*multi, test::Read10(31402, 1)).data, Pattern(31402));
  auto blank = Ready("cdr-blank");
  EXPECT_EQ(Send(*blank, test::Read10(0, 1)).sense, kLbaOutOfRange);
}

std::vector<std::uint8_t> Verify10(std::uint32_t lba, std::uint16_t count, bool bytchk = false) {
  return {0x2F,
          static_cast<std::uint8_t>(bytchk ? 0x02 : 0x00),
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0,
          static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(count),
          0};
}

std::uint32_t SenseInformation(const Answer& answer) {
  return Be32(std::vector<std::uint8_t>(answer.reply.sense, answer.reply.sense + 18), 3);
}

TEST(VerifyTest, RecordedBlocksVerifyAndTheRestAnswersAsReadDoes) {
  auto cdrom = Ready("cdrom");
  const Answer whole = Send(*cdrom, Verify10(0, 65535), 0);
  EXPECT_EQ(whole.sense, kGood);
  EXPECT_TRUE(whole.data.empty());  // no data moves
  EXPECT_EQ(Send(*cdrom, Verify10(332999, 1), 0).sense, kGood);
  EXPECT_EQ(Send(*cdrom, Verify10(333000, 0), 0).sense, kGood);  // nothing, at the end
  const Answer past = Send(*cdrom, Verify10(332999, 2), 0);
  EXPECT_EQ(past.sense, kLbaOutOfRange);
  EXPECT_EQ(SenseInformation(past), 332999U);
  EXPECT_EQ(Send(*cdrom, Verify10(333001, 0), 0).sense, kLbaOutOfRange);
  // BYTCHK: the blocks the host sends are compared with the disc's; the first difference
  // is a miscompare at its offset in the data sent.
  std::vector<std::uint8_t> sent = Pattern(5);
  const std::vector<std::uint8_t> six = Pattern(6);
  sent.insert(sent.end(), six.begin(), six.end());
  EXPECT_EQ(test::SendOut(*cdrom, Verify10(5, 2, true), sent).sense, kGood);
  sent[2048 + 100] ^= 0x01;
  const Answer differs = test::SendOut(*cdrom, Verify10(5, 2, true), sent);
  EXPECT_EQ(differs.sense, kMiscompare);
  EXPECT_EQ(SenseInformation(differs), 2048U + 100U);
  // Fewer bytes than the blocks: the request fails at the host adapter.
  sent.resize(2048);
  EXPECT_EQ(test::SendOut(*cdrom, Verify10(5, 2, true), sent).status, Status::kTransportFailure);
  EXPECT_EQ(test::SendOut(*cdrom, Verify10(332999, 2, true), sent).sense, kLbaOutOfRange);
  // Audio blocks verify, though READ(10) refuses them.
  auto mixed = Ready("cdmixed");
  EXPECT_EQ(Send(*mixed, Verify10(29990, 100), 0).sense, kGood);
  EXPECT_EQ(test::SendOut(*mixed, Verify10(30000, 1, true), std::vector<std::uint8_t>(2048)).sense,
            kIllegalModeForTrack);  // no 2048-byte blocks to compare
  // The run-out of a track written at once, and the gap between sessions, do not.
  auto open = Ready("cdr-open");
  EXPECT_EQ(Send(*open, Verify10(0, 10000), 0).sense, kGood);
  const Answer runout = Send(*open, Verify10(9990, 11), 0);
  EXPECT_EQ(runout.sense, kIllegalModeForTrack);
  EXPECT_EQ(SenseInformation(runout), 10000U);
  auto multi = Ready("cdr-multi");
  const Answer gap = Send(*multi, Verify10(19000, 2000), 0);
  EXPECT_EQ(gap.sense, kIllegalModeForTrack);  // track 1's run-out comes first
  EXPECT_EQ(Send(*multi, Verify10(20002, 1), 0).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*multi, Verify10(31402, 100), 0).sense, kGood);
  auto blank = Ready("cdr-blank");
  EXPECT_EQ(Send(*blank, Verify10(0, 1), 0).sense, kLbaOutOfRange);
  // A formatted disc verifies over its whole formatted area, written or not.
  auto plus = Ready("dvd+rw");
  EXPECT_EQ(Send(*plus, Verify10(2295104 - 16, 16), 0).sense, kGood);
  EXPECT_EQ(Send(*plus, Verify10(2295104 - 16, 17), 0).sense, kLbaOutOfRange);
  // A sequential DVD up to what was written.
  auto dvdr = Ready("dvd-r");
  ASSERT_EQ(test::WriteAll(*dvdr, 0, std::vector<std::uint8_t>(32 * 2048, 1), 2048), kGood);
  EXPECT_EQ(Send(*dvdr, Verify10(0, 32), 0).sense, kGood);
  EXPECT_EQ(Send(*dvdr, Verify10(16, 17), 0).sense, kLbaOutOfRange);
  // No disc.
  auto empty = Ready("nodisc");
  EXPECT_EQ(Send(*empty, Verify10(0, 1), 0).sense, kNoMediumTrayClosed);
}

std::size_t ReadCdSize(Drive& drive, std::uint32_t lba, std::uint8_t fields,
                       std::uint8_t type = 0) {
  const Answer answer = Send(drive, test::ReadCd(lba, 1, type, fields));
  return answer.sense == kGood ? answer.data.size() : static_cast<std::size_t>(answer.sense);
}

TEST(ReadCdTest, Mode1FieldSelections) {
  auto drive = Ready("cdrom");
  const std::pair<std::uint8_t, std::size_t> legal[] = {
      {0x00, 0},    {0x10, 2048}, {0x18, 2336}, {0x20, 4},  {0x30, 2052},
      {0x38, 2340}, {0x50, 2048}, {0x78, 2340}, {0xA0, 16}, {0xB0, 2064},
      {0xB8, 2352}, {0xF8, 2352}, {0x08, 288},  {0xE0, 16},
  };
  for (const auto& [fields, size] : legal) {
    EXPECT_EQ(ReadCdSize(*drive, 16, fields), size) << std::hex << int(fields);
  }
  for (const std::uint8_t fields : {0x80, 0x90, 0x98, 0x88, 0x28, 0xC0, 0xD0}) {
    EXPECT_EQ(ReadCdSize(*drive, 16, fields), kInvalidField) << std::hex << int(fields);
  }
  const Answer raw = Send(*drive, test::ReadCd(16, 1, 2, 0xF8));
  ASSERT_EQ(raw.data.size(), 2352U);
  const std::vector<std::uint8_t> sync = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  EXPECT_EQ(Slice(raw.data, 0, 12), sync);
  EXPECT_EQ(Slice(raw.data, 12, 4), (std::vector<std::uint8_t>{0x00, 0x02, 0x16, 0x01}));
  EXPECT_EQ(Slice(raw.data, 16, 2048), Pattern(16));
  const std::uint32_t edc = raw.data[2064] | raw.data[2065] << 8 | raw.data[2066] << 16 |
                            static_cast<std::uint32_t>(raw.data[2067]) << 24;
  EXPECT_EQ(edc, test::BitwiseEdc(raw.data.data(), 2064));
  const Answer three = Send(*drive, test::ReadCd(16, 3, 0, 0x10));
  ASSERT_EQ(three.data.size(), 3U * 2048);
  EXPECT_EQ(Slice(three.data, 4096, 2048), Pattern(18));
  EXPECT_EQ(Send(*drive, test::ReadCd(332999, 2, 0, 0x10)).sense, kLbaOutOfRange);
}

TEST(ReadCdTest, Mode2Form1AndAudioSectors) {
  auto multi = Ready("cdr-multi");
  const std::pair<std::uint8_t, std::size_t> legal[] = {
      {0x10, 2048}, {0x40, 8},    {0x50, 2056}, {0x58, 2336}, {0x70, 2060},
      {0x78, 2340}, {0xF8, 2352}, {0x60, 12},   {0xE0, 24},
  };
  for (const auto& [fields, size] : legal) {
    EXPECT_EQ(ReadCdSize(*multi, 100, fields, 4), size) << std::hex << int(fields);
  }
  EXPECT_EQ(ReadCdSize(*multi, 100, 0x30, 4), kInvalidField);  // skips the sub-header
  EXPECT_EQ(ReadCdSize(*multi, 100, 0xB0, 4), kInvalidField);
  const Answer raw = Send(*multi, test::ReadCd(100, 1, 4, 0xF8));
  EXPECT_EQ(raw.data[15], 0x02);
  EXPECT_EQ(Slice(raw.data, 16, 4), Slice(raw.data, 20, 4));
  EXPECT_EQ(raw.data[18], 0x08);  // data sub-mode
  EXPECT_EQ(Slice(raw.data, 24, 2048), Pattern(100));
  const std::uint32_t edc = raw.data[2072] | raw.data[2073] << 8 | raw.data[2074] << 16 |
                            static_cast<std::uint32_t>(raw.data[2075]) << 24;
  EXPECT_EQ(edc, test::BitwiseEdc(raw.data.data() + 16, 2056));
  EXPECT_EQ(Send(*multi, test::Read10(100, 1)).data, Pattern(100));

  auto cdda = Ready("cdda");
  for (const std::uint8_t fields : {0x10, 0xF8, 0x80, 0x18}) {
    EXPECT_EQ(ReadCdSize(*cdda, 1000, fields, 1), 2352U) << std::hex << int(fields);
  }
  const Answer audio = Send(*cdda, test::ReadCd(1000, 1, 1, 0x10));
  const auto left = static_cast<std::uint16_t>((1000 * 588 + 1) * 97);
  EXPECT_EQ(audio.data[4], left & 0xFF);
  EXPECT_EQ(audio.data[5], left >> 8);
  EXPECT_EQ(audio.data[6], static_cast<std::uint8_t>(~left));
  EXPECT_EQ(ReadCdSize(*cdda, 1000, 0x00, 1), 0U);
}

TEST(ReadCdTest, ExpectedSectorTypeMustMatchTheTrack) {
  auto cdrom = Ready("cdrom");
  EXPECT_EQ(ReadCdSize(*cdrom, 10, 0x10, 2), 2048U);
  EXPECT_EQ(ReadCdSize(*cdrom, 10, 0x10, 1), kIllegalModeForTrack);
  EXPECT_EQ(ReadCdSize(*cdrom, 10, 0x10, 4), kIllegalModeForTrack);
  EXPECT_EQ(ReadCdSize(*cdrom, 10, 0x10, 6), kInvalidField);
  auto cdda = Ready("cdda");
  EXPECT_EQ(ReadCdSize(*cdda, 10, 0x10, 2), kIllegalModeForTrack);
  EXPECT_EQ(ReadCdSize(*cdda, 10, 0x10, 0), 2352U);
  auto multi = Ready("cdr-multi");
  EXPECT_EQ(ReadCdSize(*multi, 10, 0x10, 5), kIllegalModeForTrack);
  EXPECT_EQ(ReadCdSize(*multi, 10, 0x10, 3), kIllegalModeForTrack);
  // Sub-channel R-W alone (100b) is not offered.
  EXPECT_EQ(Send(*cdrom, test::ReadCd(0, 1, 0, 0x10, 0x04)).sense, kInvalidField);
  auto dvd = Ready("dvdrom");
  EXPECT_EQ(ReadCdSize(*dvd, 0, 0x10), kIllegalModeForTrack);
}

TEST(ReadCdTest, ReadCdMsfReadsFromTheStartTimeUpToTheEndTime) {
  auto drive = Ready("cdmixed");
  // 00:02:00 is LBA 0; 06:42:00 (LBA 30,000) starts the first audio track.
  const std::vector<std::uint8_t> data = {0xB9, 0x00, 0, 0, 2, 0, 0, 2, 3, 0xF8, 0, 0};
  const Answer msf = Send(*drive, data);
  ASSERT_EQ(msf.sense, kGood);
  EXPECT_EQ(msf.data, Send(*drive, test::ReadCd(0, 3, 0, 0xF8)).data);
  EXPECT_EQ(msf.data.size(), 3U * 2352);
  const Answer audio = Send(*drive, {0xB9, 0x04, 0, 6, 42, 0, 6, 42, 2, 0x10, 0, 0});
  ASSERT_EQ(audio.sense, kGood);
  EXPECT_EQ(audio.data, Send(*drive, test::ReadCd(30000, 2, 1, 0x10)).data);
  // The expected sector type is checked as READ CD checks it.
  EXPECT_EQ(Send(*drive, {0xB9, 0x08, 0, 6, 42, 0, 6, 42, 1, 0x10, 0, 0}).sense,
            kIllegalModeForTrack);
  // Equal times read nothing; an end before the start or a time that is not one are refused.
  const Answer none = Send(*drive, {0xB9, 0, 0, 0, 2, 0, 0, 2, 0, 0x10, 0, 0});
  EXPECT_EQ(none.sense, kGood);
  EXPECT_TRUE(none.data.empty());
  EXPECT_EQ(Send(*drive, {0xB9, 0, 0, 0, 2, 5, 0, 2, 0, 0x10, 0, 0}).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0xB9, 0, 0, 0, 60, 0, 0, 61, 0, 0x10, 0, 0}).sense, kInvalidField);
  EXPECT_EQ(Send(*drive, {0xB9, 0, 0, 0, 2, 75, 0, 3, 0, 0x10, 0, 0}).sense, kInvalidField);
  // Past the lead-out, and on a DVD.
  EXPECT_EQ(Send(*drive, {0xB9, 0, 0, 79, 0, 0, 79, 0, 1, 0x10, 0, 0}).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*Ready("dvdrom"), data).sense, kIllegalModeForTrack);
}

TEST(ReadCdTest, C2PointersMarkTheDamagedSectors) {
  auto drive = Ready("cdrom,damage=100-101");
  const Answer pointers = Send(*drive, test::ReadCd(99, 4, 0, 0x12));
  ASSERT_EQ(pointers.sense, kGood);
  ASSERT_EQ(pointers.data.size(), 4U * (2048 + 294));
  for (std::uint32_t i = 0; i < 4; ++i) {
    const std::size_t at = i * (2048 + 294);
    EXPECT_EQ(Slice(pointers.data, at, 2048), Pattern(99 + i));
    const std::vector<std::uint8_t> c2 = Slice(pointers.data, at + 2048, 294);
    const bool any = std::any_of(c2.begin(), c2.end(), [](std::uint8_t b) { return b != 0; });
    EXPECT_EQ(any, i == 1 || i == 2) << 99 + i;
  }
  const Answer with_block = Send(*drive, test::ReadCd(100, 1, 0, 0xF8 | 0x04));
  ASSERT_EQ(with_block.data.size(), 2352U + 296);
  std::uint8_t all = 0;
  for (std::size_t i = 2352; i < 2352 + 294; ++i) all |= with_block.data[i];
  EXPECT_NE(all, 0);
  EXPECT_EQ(with_block.data[2352 + 294], all);  // block error byte
  EXPECT_EQ(with_block.data[2352 + 295], 0);    // pad
  // The same sector gives the same pointers every time.
  EXPECT_EQ(Send(*drive, test::ReadCd(100, 1, 0, 0xF8 | 0x04)).data, with_block.data);
  EXPECT_EQ(Send(*drive, test::ReadCd(100, 1, 0, 0x16)).sense, kInvalidField);  // 11b
  // Damage does not stop READ(10): the sector's own ECC corrects it.
  EXPECT_EQ(Send(*drive, test::Read10(100, 1)).data, Pattern(100));
  auto clean = Ready("cdrom");
  const Answer none = Send(*clean, test::ReadCd(100, 1, 0, 0x12));
  EXPECT_EQ(Slice(none.data, 2048, 294), std::vector<std::uint8_t>(294, 0));
  auto quirky = Ready("cdrom,quirk=noc2");
  EXPECT_EQ(Send(*quirky, test::ReadCd(100, 1, 0, 0x12)).sense, kInvalidField);
  EXPECT_EQ(Send(*quirky, test::ReadCd(100, 1, 0, 0x10)).sense, kGood);
}

TEST(ReadTest, AlteredBlockReadsWrongWithoutSense) {
  auto drive = Ready("cdrom,alter=101");
  std::vector<std::uint8_t> wrong = Pattern(101);
  for (std::size_t i = 100; i < 104; ++i) wrong[i] ^= 0xFF;
  const Answer read = Send(*drive, test::Read10(100, 3));
  ASSERT_EQ(read.sense, kGood);
  EXPECT_EQ(Slice(read.data, 0, 2048), Pattern(100));
  EXPECT_EQ(Slice(read.data, 2048, 2048), wrong);
  EXPECT_EQ(Slice(read.data, 4096, 2048), Pattern(102));
  // READ CD builds the sector, EDC and ECC included, around the wrong data.
  const Answer raw = Send(*drive, test::ReadCd(101, 1, 0, 0xF8));
  ASSERT_EQ(raw.sense, kGood);
  EXPECT_EQ(Slice(raw.data, 16, 2048), wrong);
  EXPECT_EQ(raw.data, Send(*drive, test::ReadCd(101, 1, 0, 0xF8)).data);
}

TEST(ReadTest, SeekStaysOnTheDisc) {
  auto drive = Ready("cdrom");
  EXPECT_EQ(Send(*drive, {0x2B, 0, 0, 0x05, 0x14, 0xC7, 0, 0, 0, 0}, 0).sense, kGood);  // 332999
  EXPECT_EQ(Send(*drive, {0x2B, 0, 0, 0x05, 0x14, 0xC8, 0, 0, 0, 0}, 0).sense, kLbaOutOfRange);
}

}  // namespace
}  // namespace zorvane::vdrive
