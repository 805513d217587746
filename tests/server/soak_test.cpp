// The real zorvane-vdrive program on loopback, bounded in connections and time: many
// connections opened, used and dropped at every stage; then the server killed while a
// writer writes and confirms, again and again, and the state file must hold a readable disc
// with the last confirmed content (or the content whose confirmation was under way).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/server/initiator.h"

namespace zorvane::vdrive::server::test {
namespace {

constexpr std::uint32_t kFirstBlock = 4096;
constexpr std::uint16_t kBlocks = 16;

Bytes Round(std::uint32_t round) {
  Bytes data(kBlocks * 2048);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(round * 37 + i / 2048);
  }
  return data;
}

// Which round the blocks hold, or -1 when they hold no whole round.
int RoundOf(const Bytes& data, std::uint32_t limit) {
  for (std::uint32_t round = 0; round <= limit; ++round) {
    if (data == Round(round)) return static_cast<int>(round);
  }
  return -1;
}

TEST(IscsiSoak, ManyConnectionsUsedAndDroppedAtEveryStage) {
  Program program("dvdrom");
  ASSERT_NE(program.port(), 0);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 40;
  std::atomic<int> served{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t) * 7919u);
      for (int n = 0; n < kPerThread; ++n) {
        Initiator initiator(program.port());
        switch (random() % 5) {
          case 0:  // dropped during login
            initiator.SendLogin(0x81, {{"InitiatorName", kTestInitiator}});
            break;
          case 1:  // dropped halfway through a header
            initiator.SendRaw(Bytes(20, 0x01));
            break;
          case 2: {  // a read, then dropped without logout
            if (initiator.Login().empty()) {
              ++wrong;
              break;
            }
            const auto lba = static_cast<std::uint32_t>(random() % 1000);
            const Outcome read = initiator.Command(Read10(lba, 4), 4 * 2048);
            if (read.data.size() != 4 * 2048 ||
                !std::equal(read.data.begin(), read.data.begin() + 2048,
                            PressedBlock(lba).begin())) {
              ++wrong;
            } else {
              ++served;
            }
            break;
          }
          case 3: {  // a read cut off while its Data-In is coming
            if (initiator.Login().empty()) {
              ++wrong;
              break;
            }
            std::uint8_t h[48];
            initiator.CommandHeader(h, Read10(0, 512), 0xC0, 512 * 2048, 1);
            initiator.SendPdu(h);
            break;
          }
          default: {  // a whole session with its logout
            if (initiator.Login().empty() || initiator.Command(TestUnitReady(), 0).status != 0) {
              ++wrong;
              break;
            }
            std::uint8_t h[48] = {};
            h[0] = 0x46;
            h[1] = 0x80;
            SetBe32(h + 24, initiator.cmd_sn);
            initiator.SendPdu(h);
            if (!initiator.ClosedWithin(2000)) ++wrong;
            ++served;
          }
        }
        initiator.Drop();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(served.load(), 0);
  Initiator last(program.port());
  ASSERT_FALSE(last.Login().empty());
  EXPECT_EQ(last.Command(TestUnitReady(), 0).status, 0);
}

TEST(IscsiSoak, KilledMidWriteTheStateFileHoldsTheLastConfirmedDisc) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("zorvane-soak-" + std::to_string(getpid()) + "-" +
       std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  const std::string spec = "dvd+rw,state=" + (dir / "disc.state").string();
  std::mt19937 random(42);
  std::uint32_t round = 0;  // the next round to write
  int confirmed = -1;       // the last round whose SYNCHRONIZE CACHE was answered
  for (int kill = 0; kill < 8; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    Program program(spec);
    ASSERT_NE(program.port(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> last_confirmed{confirmed};
    std::atomic<int> confirming{confirmed};  // the round whose SYNCHRONIZE CACHE was sent last
    std::atomic<std::uint32_t> next_round{round};
    std::thread writer([&] {
      Initiator initiator(program.port());
      if (initiator.Login({{"InitialR2T", "No"}, {"FirstBurstLength", "8192"}}).empty()) return;
      // What a new server shows first is the disc as last confirmed.
      Outcome before = initiator.Command(Read10(kFirstBlock, kBlocks), kBlocks * 2048);
      for (int i = 0; i < 3 && before.status != 0; ++i) {  // the unit attention of the load
        before = initiator.Command(Read10(kFirstBlock, kBlocks), kBlocks * 2048);
      }
      if (confirmed >= 0 && RoundOf(before.data, next_round.load()) != confirmed) {
        ADD_FAILURE() << "the served disc does not hold round " << confirmed
                      << ", which its state file held";
      }
      while (!stop.load()) {
        const std::uint32_t r = next_round.load();
        if (initiator.Command(Write10(kFirstBlock, kBlocks), 0, Round(r)).status != 0) return;
        next_round.store(r + 1);
        confirming.store(static_cast<int>(r));
        if (initiator.Command(SynchronizeCache(), 0).status != 0) return;
        last_confirmed.store(static_cast<int>(r));
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 200));
    program.Kill();  // in the middle of a write, a sync or the state file being saved
    stop = true;
    writer.join();
    confirmed = last_confirmed.load();
    round = next_round.load();
    ASSERT_GE(confirmed, 0) << "no write was confirmed before the kill";

    // The state file alone: a readable disc holding a whole round, the last confirmed or
    // the one whose confirmation was under way.
    std::string error;
    std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
    ASSERT_TRUE(drive) << error;
    Bytes data(kBlocks * 2048);
    const Bytes cdb = Read10(kFirstBlock, kBlocks);
    Reply reply;
    for (int i = 0; i < 4; ++i) {
      reply = drive->Execute(cdb.data(), cdb.size(), Direction::kIn, data.data(), data.size());
      if (reply.status == Status::kGood) break;
    }
    ASSERT_EQ(reply.status, Status::kGood);
    const int held = RoundOf(data, round);
    EXPECT_TRUE(held == confirmed || held == confirming.load())
        << "the state file holds round " << held << ", the last confirmed is " << confirmed
        << ", the one being confirmed " << confirming.load();
    RecordProperty("rounds" + std::to_string(kill), std::to_string(round));
    confirmed = held;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zorvane::vdrive::server::test
