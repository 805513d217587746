// Audio play and the Q sub-channel, as page 2Ah advertises them: play by LBA and by time,
// pause and resume, stop, and READ SUB-CHANNEL following the play by the drive's clock.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be32;
using test::Ready;
using test::Send;

struct Position {
  Sense sense = 0;
  std::uint8_t status = 0;
  std::uint8_t control = 0xFF;
  std::uint8_t track = 0;
  std::uint32_t absolute = 0;
  std::uint32_t relative = 0;
};

Position Where(Drive& drive, bool msf = false) {
  const Answer answer = Send(
      drive, {0x42, static_cast<std::uint8_t>(msf ? 0x02 : 0x00), 0x40, 0x01, 0, 0, 0, 0, 16, 0});
  Position p;
  p.sense = answer.sense;
  if (answer.sense != kGood || answer.data.size() < 16) return p;
  p.status = answer.data[1];
  p.control = answer.data[5] & 0x0F;
  p.track = answer.data[6];
  p.absolute = Be32(answer.data, 8);
  p.relative = Be32(answer.data, 12);
  return p;
}

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_ = Ready("cdda");
    ASSERT_NE(drive_, nullptr);
    drive_->SetClock([this] { return now_; });
  }
  void Pass(double seconds) {
    now_ += std::chrono::microseconds(static_cast<std::int64_t>(seconds * 1e6));
  }
  std::unique_ptr<Drive> drive_;
  Drive::Clock::time_point now_{};
};

TEST_F(AudioTest, PlayMovesThePositionAtSeventyFiveBlocksASecond) {
  EXPECT_EQ(Where(*drive_).status, 0x15);  // nothing played yet
  ASSERT_EQ(Send(*drive_, {0x45, 0, 0, 0, 0x03, 0xE8, 0, 0x01, 0x2C, 0}, 0).sense,
            kGood);  // 1000, 300
  Position p = Where(*drive_);
  EXPECT_EQ(p.status, 0x11);
  EXPECT_EQ(p.absolute, 1000U);
  EXPECT_EQ(p.track, 1);
  EXPECT_EQ(p.control, 0);  // audio
  Pass(2.0);
  p = Where(*drive_);
  EXPECT_EQ(p.absolute, 1150U);
  EXPECT_EQ(p.relative, 1150U);  // track 1 starts at 0
  // Paused, the position stays; resumed, it goes on.
  ASSERT_EQ(Send(*drive_, {0x4B, 0, 0, 0, 0, 0, 0, 0, 0x00, 0}, 0).sense, kGood);
  Pass(1.0);
  p = Where(*drive_);
  EXPECT_EQ(p.status, 0x12);
  EXPECT_EQ(p.absolute, 1150U);
  EXPECT_EQ(Send(*drive_, {0x4B, 0, 0, 0, 0, 0, 0, 0, 0x00, 0}, 0).sense, kCommandSequenceError);
  ASSERT_EQ(Send(*drive_, {0x4B, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}, 0).sense, kGood);
  Pass(1.0);
  EXPECT_EQ(Where(*drive_).absolute, 1225U);
  // At the end of the range the play completes, reported once.
  Pass(10.0);
  p = Where(*drive_);
  EXPECT_EQ(p.status, 0x13);
  EXPECT_EQ(p.absolute, 1300U);
  EXPECT_EQ(Where(*drive_).status, 0x15);
  EXPECT_EQ(Send(*drive_, {0x4B, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}, 0).sense, kCommandSequenceError);
}

TEST_F(AudioTest, PlayByTimeAndByTwelveByteLengthAndStop) {
  // Track 2 of the audio disc, by time; relative addresses count from its start.
  const Answer toc = Send(*drive_, test::ReadToc(0, false));
  const std::uint32_t second_track = Be32(toc.data, 4 + 8 + 4);
  const Msf start = LbaToMsf(static_cast<std::int32_t>(second_track) + 75);
  const Msf end = LbaToMsf(static_cast<std::int32_t>(second_track) + 750);
  ASSERT_EQ(Send(*drive_,
                 {0x47, 0, 0, static_cast<std::uint8_t>(start.minute),
                  static_cast<std::uint8_t>(start.second), static_cast<std::uint8_t>(start.frame),
                  static_cast<std::uint8_t>(end.minute), static_cast<std::uint8_t>(end.second),
                  static_cast<std::uint8_t>(end.frame), 0},
                 0)
                .sense,
            kGood);
  Position p = Where(*drive_);
  EXPECT_EQ(p.track, 2);
  EXPECT_EQ(p.relative, 75U);
  // The same position as times: absolute 00:02:00 later than the block, relative not.
  const Answer msf = Send(*drive_, {0x42, 0x02, 0x40, 0x01, 0, 0, 0, 0, 16, 0});
  EXPECT_EQ(MsfToLba(Msf{msf.data[9], msf.data[10], msf.data[11]}),
            static_cast<std::int32_t>(second_track) + 75);
  EXPECT_EQ(msf.data[13] * 60 * 75 + msf.data[14] * 75 + msf.data[15], 75);
  ASSERT_EQ(Send(*drive_, {0x4E, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).sense, kGood);
  Pass(1.0);
  p = Where(*drive_);
  EXPECT_EQ(p.status, 0x15);
  EXPECT_EQ(p.relative, 75U);
  // PLAY AUDIO(12); a zero length plays nothing.
  ASSERT_EQ(Send(*drive_, {0xA5, 0, 0, 0, 0, 10, 0, 0, 0, 75, 0, 0}, 0).sense, kGood);
  EXPECT_EQ(Where(*drive_).status, 0x11);
  EXPECT_EQ(Send(*drive_, {0x45, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).sense, kGood);
}

TEST(AudioPlayTest, RefusesDataPastTheDiscAndOtherMedia) {
  auto mixed = Ready("cdmixed");  // track 1 is data
  EXPECT_EQ(Send(*mixed, {0x45, 0, 0, 0, 0, 0, 0, 0, 75, 0}, 0).sense, kIllegalModeForTrack);
  EXPECT_EQ(Send(*mixed, {0x45, 0, 0, 0, 0x75, 0x30, 0, 0, 75, 0}, 0).sense, kGood);  // 30,000
  EXPECT_EQ(Send(*mixed, {0x45, 0, 0, 0x7F, 0, 0, 0, 0, 75, 0}, 0).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*mixed, {0x47, 0, 0, 0, 2, 75, 0, 3, 0, 0}, 0).sense, kInvalidField);
  EXPECT_EQ(Send(*mixed, {0x47, 0, 0, 0, 3, 0, 0, 2, 0, 0}, 0).sense, kInvalidField);
  auto dvd = Ready("dvdrom");
  EXPECT_EQ(Send(*dvd, {0x45, 0, 0, 0, 0, 0, 0, 0, 75, 0}, 0).sense, kIncompatibleFormat);
  EXPECT_EQ(Send(*dvd, {0x42, 0, 0x40, 0x01, 0, 0, 0, 0, 16, 0}).sense, kIncompatibleFormat);
}

TEST(SubChannelTest, CatalogueNumberIsrcAndTheHeaderAlone) {
  auto drive = Ready("cdda");
  // No catalogue number on this disc: MCVal clear.
  const Answer mcn = Send(*drive, {0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0});
  ASSERT_EQ(mcn.sense, kGood);
  ASSERT_EQ(mcn.data.size(), 24U);
  EXPECT_EQ(test::Be16(mcn.data, 2), 20U);
  EXPECT_EQ(mcn.data[4], 0x02);
  EXPECT_EQ(mcn.data[8] & 0x80, 0);
  // The ISRC of track 3, not recorded: TCVal clear; no such track: refused.
  const Answer isrc = Send(*drive, {0x42, 0, 0x40, 0x03, 0, 0, 3, 0, 24, 0});
  ASSERT_EQ(isrc.sense, kGood);
  EXPECT_EQ(isrc.data[4], 0x03);
  EXPECT_EQ(isrc.data[6], 3);
  EXPECT_EQ(isrc.data[8] & 0x80, 0);
  EXPECT_EQ(Send(*drive, {0x42, 0, 0x40, 0x03, 0, 0, 9, 0, 24, 0}).sense, kInvalidField);
  // SubQ clear: the header alone; an unknown format is refused.
  const Answer header = Send(*drive, {0x42, 0, 0x00, 0x01, 0, 0, 0, 0, 16, 0});
  ASSERT_EQ(header.data.size(), 4U);
  EXPECT_EQ(header.data[1], 0x15);
  EXPECT_EQ(Send(*drive, {0x42, 0, 0x40, 0x04, 0, 0, 0, 0, 16, 0}).sense, kInvalidField);
  // Without a play, the position is the block last read.
  ASSERT_EQ(Send(*drive, test::ReadCd(5000, 1, 1, 0x10)).sense, kGood);
  EXPECT_EQ(Where(*drive).absolute, 5000U);
}

}  // namespace
}  // namespace zorvane::vdrive
