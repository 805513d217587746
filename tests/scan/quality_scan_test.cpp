// The PIE/PIF and BLER scans on virtual discs of each quality, with damaged ranges and
// without the vendor commands, and on a scripted drive for the start failures, the checks
// before the first command and the one-scan-at-a-time rule.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/templates.h"
#include "scan/quality_scan.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

class QualityScanTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    window_.SetChecked(kClearCommandPane, true);
    window_.SetChecked(kClearInfoPane, true);
  }

  void Insert(const std::string& spec) {
    CloseAllDevices();
    DevicePaths[0] = "virtual:" + spec;
  }

  static void WaitFor(const std::shared_ptr<QualityScanState>& state) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(900);
    while (!state->finished.load() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(state->finished.load());
  }

  // Runs a whole scan; the record holds its measurements.
  std::shared_ptr<QualityScanState> Scan() {
    record_ = std::make_shared<ScanRecord>();
    auto state = StartQualityScan(window_, record_);
    EXPECT_NE(state, nullptr);
    if (state) WaitFor(state);
    return state;
  }

  // The info console holds the last status line and the message that ended the scan.
  std::vector<std::string> InfoLines() const {
    std::vector<std::string> lines;
    const std::string text = info_console_.Text();
    std::size_t from = 0;
    while (from < text.size()) {
      const std::size_t end = text.find('\n', from);
      lines.push_back(text.substr(from, end - from));
      if (end == std::string::npos) break;
      from = end + 1;
    }
    return lines;
  }

  // A scripted drive with a disc of medium type `code` whose READ CAPACITY names
  // `capacity`.
  std::shared_ptr<ScriptedDrive> Scripted(std::uint8_t code, std::uint32_t capacity) {
    auto drive = Attach(0);
    CloseAllDevices();
    drive->On({0x00}, {});
    drive->On({0x5A}, {test::ModeSenseData(code)});
    Bytes answer = {0, 0, 0, 0, 0, 0, 8, 0};
    test::Put32(answer, 0, capacity);
    drive->On({0x25}, {answer});
    return drive;
  }

  MemoryDialog window_;
  std::shared_ptr<ScanRecord> record_;
};

TEST_F(QualityScanTest, DvdScanReportsEachIntervalAndEndsAtTheDiscsEnd) {
  // 20,000 sectors: PI8 intervals of 128 sectors at 0, 128, ..., 19,968.
  Insert("dvdrom,blocks=20000,quality=good");
  const auto state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kScanError);
  EXPECT_EQ(state->failure.load(), 0x052100);
  EXPECT_TRUE(state->dvd.load());
  const auto samples = record_->Samples();
  ASSERT_EQ(samples.size(), 157U);
  EXPECT_EQ(samples.front().position, 0);
  EXPECT_EQ(samples.back().position, 19968);
  const auto pie = record_->StatsOf(0);
  const auto pif = record_->StatsOf(1);
  EXPECT_EQ(pif.total, 0U);  // a good disc has no PI failures
  EXPECT_LT(pie.max, 4U);
  // Each line replaced the one before: the last line and the message remain.
  EXPECT_EQ(InfoLines(), (std::vector<std::string>{FormatText(128, "LBA=19968/19999, PIE=%i, PIF=0",
                                                              static_cast<int>(pie.total)),
                                                   "Scan Error."}));
  EXPECT_EQ(state->totals[0].load(), pie.total);
  EXPECT_EQ(TraceEnabled.load(), 1);
  // The start (SEEK to sector 0) is traced, the measurements are not.
  const std::string trace = command_console_.Text();
  EXPECT_NE(trace.find("2B 00 00 00 00 00 00 00 00 00"), std::string::npos);
  EXPECT_EQ(trace.find("F3 0E"), std::string::npos);
}

TEST_F(QualityScanTest, DvdDamageStandsAboveAPoorDisc) {
  Insert("dvd+rw,quality=poor,damage=100000-100300");
  const auto state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kScanError);
  const auto samples = record_->Samples();
  ASSERT_EQ(samples.size(), (2295104U + 127) / 128);  // the last interval is half one
  int damaged = 0;
  for (const ScanSample& sample : samples) {
    const bool hit = sample.position <= 100300 && sample.position + 127 >= 100000;
    if (hit) {
      ++damaged;
      EXPECT_GE(sample.values[0], 280U) << sample.position;
      EXPECT_GE(sample.values[1], 8U) << sample.position;
    } else {
      EXPECT_GE(sample.values[0], 20U) << sample.position;
      EXPECT_LT(sample.values[0], 170U) << sample.position;
    }
  }
  EXPECT_EQ(damaged, 3);  // 99,968, 100,096 and 100,224
  EXPECT_EQ(InfoLines().front().rfind("LBA=2295040/2295103, PIE=", 0), 0U);
}

TEST_F(QualityScanTest, WrittenDvdPlusRAtEachQuality) {
  for (const char* spec : {"dvd+r,quality=good", "dvd+r,quality=poor,damage=1000-1100"}) {
    SCOPED_TRACE(spec);
    Insert(spec);
    // Record 4,096 blocks at the start of the blank disc, 16 blocks a WRITE(10).
    std::vector<std::uint8_t> data(16 * 2048, 0x5A);
    for (std::uint32_t lba = 0; lba < 4096; lba += 16) {
      std::uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 16, 0};
      write[4] = static_cast<std::uint8_t>(lba >> 8);
      write[5] = static_cast<std::uint8_t>(lba);
      ASSERT_EQ(ExecuteOnCurrent(write, static_cast<std::uint32_t>(data.size()), data.data(),
                                 kDataOut, 0),
                0);
    }
    const std::uint8_t sync[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(ExecuteOnCurrent(sync, 0, nullptr, kDataNone, 1), 0);
    // The session closed, so that READ CAPACITY (complete sessions only) gives its end.
    const std::uint8_t close[10] = {0x5B, 0, 0x02, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(ExecuteOnCurrent(close, 0, nullptr, kDataNone, 1), 0);
    const auto state = Scan();
    EXPECT_EQ(state->end.load(), QualityScanEnd::kScanError);
    EXPECT_EQ(state->failure.load(), 0x052100);
    const auto samples = record_->Samples();
    ASSERT_EQ(samples.size(), 32U);
    const bool poor = std::string(spec).find("poor") != std::string::npos;
    for (const ScanSample& sample : samples) {
      const bool damaged = poor && sample.position <= 1100 && sample.position + 127 >= 1000;
      if (damaged) {
        EXPECT_GE(sample.values[0], 280U) << sample.position;
      } else if (poor) {
        EXPECT_GE(sample.values[0], 20U) << sample.position;
      } else {
        EXPECT_LT(sample.values[0], 4U) << sample.position;
        EXPECT_EQ(sample.values[1], 0U) << sample.position;
      }
    }
    EXPECT_EQ(InfoLines(),
              (std::vector<std::string>{FormatText(128, "LBA=3968/4095, PIE=%i, PIF=%i",
                                                   static_cast<int>(record_->StatsOf(0).total),
                                                   static_cast<int>(record_->StatsOf(1).total)),
                                        "Scan Error."}));
  }
}

TEST_F(QualityScanTest, BlankDiscsHaveNothingToMeasure) {
  // Said of the disc, not blamed on the drive, and no vendor command is sent.
  for (const char* preset : {"dvd+r", "dvd-r", "cdr-blank", "cdrw-blank"}) {
    SCOPED_TRACE(preset);
    Insert(preset);
    command_console_.Clear();
    info_console_.Clear();
    const auto state = Scan();
    EXPECT_EQ(state->end.load(), QualityScanEnd::kNothingToScan);
    EXPECT_EQ(state->measurements.load(), 0U);
    EXPECT_EQ(info_console_.Text(), "光碟片尚未寫入資料.\n");
    const std::string trace = command_console_.Text();
    EXPECT_EQ(trace.find("F3 0E"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("DF A"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("SEEK"), std::string::npos) << trace;
  }
}

TEST_F(QualityScanTest, CdScanLinesCountMeasurementsAndComputeBlerPerSecond) {
  for (const char* quality : {"good", "poor"}) {
    SCOPED_TRACE(quality);
    Insert(std::string("cdr-closed,quality=") + quality);
    const auto state = Scan();
    EXPECT_EQ(state->end.load(), QualityScanEnd::kScanError);
    EXPECT_EQ(state->failure.load(), 0x052100);
    EXPECT_FALSE(state->dvd.load());
    // One measurement per second from 00:02:00 over 10,002 blocks: 134 seconds.
    const auto samples = record_->Samples();
    ASSERT_EQ(samples.size(), 134U);
    EXPECT_EQ(samples.front().position, 150);
    EXPECT_EQ(samples.back().position, 150 + 133 * 75);
    const auto bler = record_->StatsOf(0);
    const auto e22 = record_->StatsOf(1);
    const auto e32 = record_->StatsOf(2);
    if (std::string(quality) == "good") {
      EXPECT_LT(bler.max, 6U);
      EXPECT_EQ(e22.total, 0U);
    } else {
      EXPECT_GE(bler.average, 40.0);
    }
    EXPECT_EQ(e32.total, 0U);
    const int total = static_cast<int>(bler.total);
    EXPECT_EQ(InfoLines(),
              (std::vector<std::string>{
                  FormatText(160, "02:15:00, LBA=133/10001, BLER/s=%.02f, BLER=%i, E22=%i, E32=0",
                             static_cast<double>(static_cast<float>(total) / 134.0f * 75.0f), total,
                             static_cast<int>(e22.total)),
                  "Scan Error."}));
  }
}

TEST_F(QualityScanTest, CdDamageRaisesItsSeconds) {
  // Sectors 750 to 900 lie in the seconds at 00:12:00 and 00:13:00 (sectors 750 and 825).
  Insert("cdr-closed,quality=good,damage=750-900");
  Scan();
  for (const ScanSample& sample : record_->Samples()) {
    const std::int64_t sector = sample.position - 150;
    const bool hit = sector <= 900 && sector + 74 >= 750;
    EXPECT_EQ(sample.values[0] >= 300, hit) << sector;
    EXPECT_EQ(sample.values[2] >= 1, hit) << sector;  // E32: uncorrectable
  }
}

TEST_F(QualityScanTest, WithoutVendorCommandsTheScansCannotStart) {
  Insert("cdr-closed,quirk=novendor");
  auto state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kStartError);
  EXPECT_EQ(state->failure.load(), 0x052000);
  EXPECT_EQ(info_console_.Text(), "Initial Scan Error 1.\n");
  // On a DVD the start is a SEEK, which every drive takes; the first measurement fails.
  Insert("dvdrom,blocks=2048,quirk=novendor");
  state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kScanError);
  EXPECT_EQ(info_console_.Text(), "Scan Error.\n");
}

TEST_F(QualityScanTest, ReadCapacityComesBeforeTheNoDiscCodes) {
  Insert("nodisc");
  auto state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kCapacityError);
  EXPECT_EQ(info_console_.Text(), "Read Capacity Error.\n");
  // A drive that reports no disc yet answers READ CAPACITY: the scan ends silently.
  auto drive = Scripted(0x70, 10001);
  state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kNoDisc);
  EXPECT_EQ(info_console_.Text(), "");
  EXPECT_EQ(drive->Opcodes().back(), 0x25);
  // An unreachable drive ends the scan before READ CAPACITY.
  DevicePaths[0].clear();
  CloseAllDevices();
  state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kNoDevice);
}

TEST_F(QualityScanTest, EachCdStartCommandHasItsMessage) {
  const char* messages[5] = {"Initial Scan Error 1.\n", "Initial Scan Error 2.\n",
                             "Initial Scan Error 3.\n", "Initial Scan Error 3.\n",
                             "Initial Scan Error 5.\n"};
  const Bytes starts[5] = {{0xDF, 0xA3, 0, 0, 0},
                           {0xDF, 0xA0, 0, 0, 2},
                           {0xDF, 0xA0, 0, 0, 0},
                           {0xDF, 0xA0, 0, 0, 4},
                           {0xDF, 0xA0, 0, 0, 2}};
  for (int failing = 0; failing < 5; ++failing) {
    SCOPED_TRACE(failing);
    auto drive = Scripted(0x11, 10001);
    drive->On({0xDF}, {});
    drive->On(starts[failing], {{}, 0x052400});
    // The fifth start repeats the second: the second goes through once before it.
    if (failing == 4) drive->On(starts[1], {}, 1);
    const auto state = Scan();
    EXPECT_EQ(state->end.load(), QualityScanEnd::kStartError);
    EXPECT_EQ(info_console_.Text(), messages[failing]);
    std::vector<Bytes> sent;
    for (const auto& record : drive->Requests()) {
      if (record.cdb[0] == 0xDF) sent.emplace_back(record.cdb.begin(), record.cdb.begin() + 5);
    }
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(failing + 1));
    for (int i = 0; i <= failing; ++i) EXPECT_EQ(sent[static_cast<std::size_t>(i)], starts[i]);
  }
}

TEST_F(QualityScanTest, CdCountAndResetFailuresHaveTheirMessages) {
  auto drive = Scripted(0x11, 10001);
  drive->On({0xDF}, {});
  drive->On({0xDF, 0x82, 0x09}, {{0x00, 0x02, 0x00}});
  drive->On({0xDF, 0x82, 0x05}, {{0x01, 0x2C, 0, 1, 0, 2}});  // BLER 300
  drive->On({0xDF, 0x97}, {{}, 0x040900});
  auto state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kResetError);
  EXPECT_EQ(info_console_.Text(),
            "00:02:00, LBA=0/10001, BLER/s=22500.00, BLER=300, E22=1, E32=2\nCX rst Error.\n");
  drive->On({0xDF, 0x97}, {});
  drive->On({0xDF, 0x82, 0x05}, {{}, 0x040900});
  state = Scan();
  EXPECT_EQ(state->end.load(), QualityScanEnd::kCountError);
  EXPECT_EQ(info_console_.Text(), "CX Read Error.\n");
}

TEST_F(QualityScanTest, OneScanAtATimeAndAStopEndsItQuietly) {
  auto drive = Scripted(0x41, 2295103);
  drive->On({0x2B}, {});
  // Each measurement waits until the test lets it go.
  std::mutex mutex;
  std::condition_variable changed;
  int released = 0;
  int measured = 0;
  drive->OnCall({0xF3}, [&](const PassThroughRequest&) {
    std::unique_lock lock(mutex);
    ++measured;
    changed.notify_all();
    changed.wait(lock, [&] { return released >= measured; });
    return ScriptedDrive::Reply{{0, 0, 0, 0, 0, 5, 0, 1}};
  });
  auto first = StartQualityScan(window_);
  ASSERT_NE(first, nullptr);
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return measured == 1; });
  }
  EXPECT_TRUE(QualityScanRunning());
  EXPECT_EQ(StartQualityScan(window_), nullptr);  // refused while the first runs
  first->run.store(false);
  {
    std::lock_guard lock(mutex);
    released = 1;
  }
  changed.notify_all();
  WaitFor(first);
  EXPECT_EQ(first->end.load(), QualityScanEnd::kStopped);
  EXPECT_EQ(first->measurements.load(), 1U);
  EXPECT_EQ(info_console_.Text(), "LBA=0/2295103, PIE=5, PIF=1\n");
  EXPECT_EQ(TraceEnabled.load(), 1);
  EXPECT_FALSE(QualityScanRunning());
  // The next scan starts again, and clears the consoles first.
  ConsoleLog(InfoConsole.load(), "earlier\n");
  drive->On({0x2B}, {{}, 0x052100});
  auto second = StartQualityScan(window_);
  ASSERT_NE(second, nullptr);
  WaitFor(second);
  EXPECT_EQ(info_console_.Text(), "Initial Scan Error 1.\n");
}

}  // namespace
}  // namespace zorvane
