// Random sequences of recording commands (reservations, writes at the next writable
// address of any open track, cache flushes, track and session closes, and on CD whole
// sessions at once from a cue sheet), each step checked
// against the read side: READ CAPACITY names a last block that READ(10) reaches, the block
// after it is out of range, and written blocks read back as written.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "tests/vdrive/vdrive_test_support.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Be32;
using test::Send;
using test::SendOut;

struct OpenTrack {
  std::uint32_t number = 0;
  std::uint32_t next = 0;
  std::uint32_t free = 0;
};

// The tracks that take a write now, from READ TRACK INFORMATION of every track and the
// invisible one.
std::vector<OpenTrack> WritableTracks(Drive& drive) {
  std::vector<OpenTrack> open;
  const Answer disc = Send(drive, test::DiscInfo());
  if (disc.sense != kGood || disc.data.size() < 12) return open;
  const std::uint32_t last = disc.data[6] | disc.data[11] << 8;  // last track, last session
  for (std::uint32_t number = 1; number <= last; ++number) {
    const Answer info = Send(drive, test::TrackInfo(1, number));
    if (info.sense != kGood || info.data.size() < 20) continue;
    if ((info.data[7] & 0x01) == 0 || Be32(info.data, 16) == 0) continue;  // no NWA or full
    open.push_back({number, Be32(info.data, 12), Be32(info.data, 16)});
  }
  return open;
}

class Sequence {
 public:
  Sequence(const std::string& spec, bool cd, std::uint32_t seed)
      : drive_(test::Ready(spec)), cd_(cd), random_(seed), spec_(spec) {}

  void Run(int steps) {
    ASSERT_NE(drive_, nullptr);
    if (cd_) {
      ASSERT_EQ(test::SelectWrite(*drive_, test::WriteSetup{}).sense, kGood);
    }
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
      trail_ += Step();
      Check();
    }
  }

 private:
  std::uint32_t Below(std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_);
  }

  // One recording command chosen at random; returns what it was, for the failure message.
  std::string Step() {
    switch (Below(10)) {
      case 0:
      case 1: {
        if (cd_) return SessionAtOnce();
        const std::uint32_t blocks = 1 + Below(300);
        const Sense sense = Send(*drive_, test::Reserve(blocks), 0).sense;
        return "RESERVE " + std::to_string(blocks) + " -> " + std::to_string(sense) + "\n";
      }
      case 2:
      case 3:
      case 4:
      case 5: {
        const std::vector<OpenTrack> open = WritableTracks(*drive_);
        if (open.empty()) return "no writable track\n";
        const OpenTrack& track = open[Below(static_cast<std::uint32_t>(open.size()))];
        const std::uint32_t count = 1 + Below(std::min<std::uint32_t>(track.free, 70));
        const std::vector<std::uint8_t> data = test::Pattern(count, 2048, track.next);
        const Sense sense = test::WriteAll(*drive_, track.next, data, 2048);
        if (sense == kGood) {
          for (std::uint32_t i = 0; i < count; ++i) written_[track.next + i] = track.next;
        }
        return "WRITE track " + std::to_string(track.number) + " at " + std::to_string(track.next) +
               " x" + std::to_string(count) + " -> " + std::to_string(sense) + "\n";
      }
      case 6:
        return "SYNC -> " + std::to_string(Send(*drive_, {0x35}, 0).sense) + "\n";
      case 7:
      case 8: {
        const std::uint16_t number = static_cast<std::uint16_t>(1 + Below(6));
        return "CLOSE TRACK " + std::to_string(number) + " -> " +
               std::to_string(Send(*drive_, test::Close(1, number), 0).sense) + "\n";
      }
      default:
        return "CLOSE SESSION -> " + std::to_string(Send(*drive_, test::Close(2, 0), 0).sense) +
               "\n";
    }
  }

  // CD: a whole session at once (a data track of 300 blocks or more after its pre-gap),
  // where the disc takes one; then back to track at once.
  std::string SessionAtOnce() {
    const test::Writable invisible = test::Invisible(*drive_);
    if (invisible.sense != kGood) return "no invisible track\n";
    test::WriteSetup setup;
    setup.write_type = 2;
    EXPECT_EQ(test::SelectWrite(*drive_, setup).sense, kGood);
    const std::uint32_t blocks = 300 + Below(40);
    const std::uint32_t start = invisible.next;
    auto entry = [](std::vector<std::uint8_t>& sheet, std::uint8_t tno, std::uint8_t index,
                    std::uint8_t form, std::uint32_t lba) {
      const std::uint32_t frames = lba + 150;
      sheet.insert(
          sheet.end(),
          {0x41, tno, index, form, 0, static_cast<std::uint8_t>(frames / 4500),
           static_cast<std::uint8_t>(frames / 75 % 60), static_cast<std::uint8_t>(frames % 75)});
    };
    std::vector<std::uint8_t> sheet;
    entry(sheet, 0, 0, 0x14, start - 150);
    entry(sheet, invisible.track, 0, 0x10, start - 150);
    entry(sheet, invisible.track, 1, 0x10, start);
    entry(sheet, 0xAA, 1, 0x14, start + blocks);
    const auto size = static_cast<std::uint8_t>(sheet.size());
    const Sense cue = SendOut(*drive_, {0x5D, 0, 0, 0, 0, 0, 0, 0, size, 0}, sheet).sense;
    std::string trail = "SAO track " + std::to_string(invisible.track) + " at " +
                        std::to_string(start) + " x" + std::to_string(blocks) + ": cue -> " +
                        std::to_string(cue);
    if (cue == kGood) {
      const std::vector<std::uint8_t> data = test::Pattern(blocks, 2048, start);
      Sense sense =
          test::WriteAll(*drive_, start - 150, std::vector<std::uint8_t>(150 * 2048), 2048);
      if (sense == kGood) sense = test::WriteAll(*drive_, start, data, 2048);
      if (sense == kGood) sense = Send(*drive_, {0x35}, 0).sense;
      if (sense == kGood) {
        for (std::uint32_t i = 0; i < blocks; ++i) written_[start + i] = start;
      }
      trail += ", writes and flush -> " + std::to_string(sense);
    }
    EXPECT_EQ(test::SelectWrite(*drive_, test::WriteSetup{}).sense, kGood);
    return trail + "\n";
  }

  void Check() {
    const Answer capacity = Send(*drive_, test::Capacity(), 8);
    ASSERT_EQ(capacity.sense, kGood) << spec_ << "\n" << trail_;
    const std::uint32_t last = Be32(capacity.data, 0);
    const test::DiscState disc = test::Disc(*drive_);
    const bool complete_session =
        disc.status == 2 || disc.sessions > 1 || (disc.status == 1 && disc.session_state == 0);
    if (!complete_session && disc.status != 3) {
      // Without a complete session the drive reports block 0, whatever is written.
      EXPECT_EQ(last, 0U) << spec_ << "\n" << trail_;
    } else {
      CheckExtent(last);
    }
    // Every block written so far reads back as written.
    if (!written_.empty()) {
      auto it = written_.begin();
      std::advance(it, Below(static_cast<std::uint32_t>(written_.size())));
      const std::uint32_t first = it->second;
      const std::vector<std::uint8_t> data = test::Pattern(it->first - first + 1, 2048, first);
      const Answer read = Send(*drive_, test::Read10(it->first, 1), 2048);
      EXPECT_EQ(read.sense, kGood) << spec_ << " block " << it->first << "\n" << trail_;
      EXPECT_TRUE(std::equal(read.data.begin(), read.data.end(), data.end() - 2048))
          << spec_ << " block " << it->first << "\n"
          << trail_;
    }
  }

  // READ CAPACITY's last block is readable (a run-out on CD) and the next is not.
  void CheckExtent(std::uint32_t last) {
    const Sense at_last = Send(*drive_, test::Read10(last, 1), 2048).sense;
    const Sense after = Send(*drive_, test::Read10(last + 1, 1), 2048).sense;
    if (written_.empty() && last == 0) {
      // Nothing recorded yet: the drive reports block 0 and it is not there to read.
      EXPECT_EQ(at_last, kLbaOutOfRange) << spec_ << "\n" << trail_;
    } else if (cd_) {
      // The last block of a closed track-at-once track is its run-out.
      EXPECT_TRUE(at_last == kGood || at_last == kIllegalModeForTrack)
          << spec_ << " last " << last << " sense " << at_last << "\n"
          << trail_;
    } else {
      EXPECT_EQ(at_last, kGood) << spec_ << " last " << last << "\n" << trail_;
    }
    EXPECT_EQ(after, kLbaOutOfRange) << spec_ << " after " << last << "\n" << trail_;
  }

  std::unique_ptr<Drive> drive_;
  bool cd_;
  std::mt19937 random_;
  std::string spec_;
  std::string trail_;
  std::map<std::uint32_t, std::uint32_t> written_;  // block -> first block of its write
};

TEST(SequenceFuzzTest, ReadCapacityAgreesWithReadAfterEveryRecordingStep) {
  const std::vector<std::pair<std::string, bool>> media = {
      {"dvd-r,blocks=40000", false},      {"dvd+r,blocks=40000", false},
      {"dvd-rw-seq,blocks=40000", false}, {"dvd-r-dl,blocks=40000", false},
      {"dvd+r-dl,blocks=40000", false},   {"cdr-blank,leadout=10:00:00", true},
  };
  for (const auto& [spec, cd] : media) {
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
      Sequence sequence(spec, cd, seed);
      sequence.Run(40);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(SequenceFuzzTest, EmptyReservationsRecordNothing) {
  auto drive = test::Ready("dvd-r");
  ASSERT_EQ(Send(*drive, test::Reserve(16), 0).sense, kGood);
  ASSERT_EQ(Send(*drive, test::Reserve(16), 0).sense, kGood);
  EXPECT_EQ(Be32(Send(*drive, test::Capacity(), 8).data, 0), 0U);
  EXPECT_EQ(Send(*drive, test::Read10(0, 1), 2048).sense, kLbaOutOfRange);
  // The second reservation written, the first still empty: the extent ends with the second.
  ASSERT_EQ(test::WriteAll(*drive, 16, test::Pattern(16, 2048, 3), 2048), kGood);
  EXPECT_EQ(Be32(Send(*drive, test::Capacity(), 8).data, 0), 0U);  // no complete session
  EXPECT_EQ(Send(*drive, test::Read10(31, 1), 2048).sense, kGood);
  EXPECT_EQ(Send(*drive, test::Read10(32, 1), 2048).sense, kLbaOutOfRange);
  EXPECT_EQ(Send(*drive, test::Read10(0, 1), 2048).sense, kLbaOutOfRange);
}

}  // namespace
}  // namespace zorvane::vdrive
