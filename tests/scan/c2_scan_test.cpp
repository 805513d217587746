// The C2 scan on virtual discs (damaged ranges, run-out blocks, faults) and on a scripted
// drive (the exact commands at the disc's end), driven through its dialog as the window
// and the command line drive it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_commands.h"
#include "base/templates.h"
#include "scan/c2_dialog.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

class C2ScanTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    window_.SetChecked(kClearCommandPane, true);
    window_.SetChecked(kClearInfoPane, true);
    window_.Enable(kC2Button, true);
    MainWindow.store(&window_);
    for (const ControlTemplate& control : C2ScanTemplate().controls) {
      if (control.id != kNoId) dialog_.SetText(control.id, control.caption);
    }
  }
  void TearDown() override {
    MainWindow.store(nullptr);
    TransportTest::TearDown();
  }

  void Insert(const std::string& spec) {
    CloseAllDevices();
    DevicePaths[0] = "virtual:" + spec;
  }

  // Runs the scan to its end as the window's timer would, ticking the dialog. The wait is
  // bounded only against a hang: a full CD under a sanitizer takes minutes.
  void Run(C2Dialog& handler) {
    handler.OnInit(dialog_);
    EXPECT_FALSE(window_.IsEnabled(kC2Button));  // disabled while the scan runs
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(900);
    while (!handler.Finished() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      handler.OnTimer(dialog_, kC2Timer);
    }
    ASSERT_TRUE(handler.Finished());
    handler.OnTimer(dialog_, kC2Timer);
  }

  std::string Shown(int id) { return dialog_.Text(id); }

  // The C2 flags of one sector as the drive gives them with C2 field 01b (the flags
  // without the block error byte), counted bit by bit.
  static int FlagsOfSector(std::uint32_t lba) {
    std::uint8_t cdb[12] = {0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x02, 0, 0};
    cdb[2] = static_cast<std::uint8_t>(lba >> 24);
    cdb[3] = static_cast<std::uint8_t>(lba >> 16);
    cdb[4] = static_cast<std::uint8_t>(lba >> 8);
    cdb[5] = static_cast<std::uint8_t>(lba);
    std::vector<std::uint8_t> reply(65536, 0);
    if (ExecuteOnCurrent(cdb, 0xFFFF, reply.data(), kDataIn, 0) != 0) return -1;
    int bits = 0;
    for (int i = 0; i < 294; ++i) {
      for (int bit = 0; bit < 8; ++bit) bits += (reply[static_cast<std::size_t>(i)] >> bit) & 1;
    }
    return bits;
  }

  MemoryDialog window_;
  MemoryDialog dialog_;
};

TEST_F(C2ScanTest, FullEightyMinuteCdCountsExactlyTheDamagedSectors) {
  // 359,849 blocks: sectors 0 to 359,848, the last one damaged too.
  Insert("cdrom,blocks=359849,damage=1000-1009,damage=200000-200049,damage=359800-359848");
  test::RecordingJobs jobs;
  PressC2Scan(window_, jobs);
  ASSERT_EQ(jobs.opened, std::vector<int>{kC2ScanDialog});
  C2Dialog handler;
  Run(handler);
  EXPECT_EQ(handler.State()->phase.load(), C2Phase::kDone);
  EXPECT_EQ(handler.State()->scanned.load(), 359849U);
  int flags = 0;
  for (std::uint32_t first : {1000U, 200000U, 359800U}) {
    const std::uint32_t last = first == 1000 ? 1009 : first == 200000 ? 200049 : 359848;
    for (std::uint32_t lba = first; lba <= last; ++lba) {
      const int sector = FlagsOfSector(lba);
      ASSERT_GT(sector, 0) << lba;
      flags += sector;
    }
  }
  EXPECT_EQ(FlagsOfSector(999), 0);
  EXPECT_EQ(FlagsOfSector(1010), 0);
  EXPECT_EQ(Shown(kC2ErrorSectors), "   109\n");
  EXPECT_EQ(Shown(kC2ErrorFlags), FormatText(32, "%7i\n", flags));
  EXPECT_EQ(Shown(kC2SectorReached), "359848\n");
  EXPECT_EQ(Shown(kC2LastSector), "359848\n");
  EXPECT_EQ(info_console_.Text(), "");
  // A scan that ran to its end keeps the C2 button disabled until the dialog closes.
  EXPECT_FALSE(window_.IsEnabled(kC2Button));
  handler.OnCommand(dialog_, kC2ExitButton);
  EXPECT_TRUE(window_.IsEnabled(kC2Button));
  EXPECT_EQ(dialog_.EndResult(), kC2ExitButton);
}

TEST_F(C2ScanTest, RunOutBlocksOfATrackAtOnceDiscEndTheScanComplete) {
  // The closed CD-R: a 10,000-block track and its two run-out blocks, which READ CD
  // refuses with 05/64/00; READ CAPACITY names the second run-out block.
  Insert("cdr-closed,damage=9990-10001");
  C2Dialog handler;
  Run(handler);
  EXPECT_EQ(handler.State()->phase.load(), C2Phase::kDone);
  EXPECT_EQ(handler.State()->scanned.load(), 10000U);
  EXPECT_EQ(Shown(kC2ErrorSectors), "    10\n");
  EXPECT_EQ(Shown(kC2SectorReached), " 10001\n");
  EXPECT_EQ(Shown(kC2LastSector), " 10001\n");
  EXPECT_EQ(info_console_.Text(), "");
  // The run-out blocks are no failure: nothing is sent again for the trace.
  const std::string trace = command_console_.Text();
  EXPECT_EQ(trace.find("BE 01"), std::string::npos) << trace;
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(C2ScanTest, AFailureNearTheEndOfAPressedDiscEndsTheScan) {
  // last = 1000: the command at 975 holds sector 990. A pressed disc has no run-out
  // blocks, and an unreadable sector is a failure wherever it lies.
  for (const char* fault : {"fault=BE@990:031100", "fault=BE@1000:031100", "fault=BE@999:052100"}) {
    Insert(std::string("cdrom,blocks=1001,damage=980-981,") + fault);
    command_console_.Clear();
    info_console_.Clear();
    C2Dialog handler;
    Run(handler);
    EXPECT_EQ(handler.State()->phase.load(), C2Phase::kCommandError) << fault;
    EXPECT_EQ(info_console_.Text(), "Read CD C2 Command Error.\n") << fault;
    EXPECT_NE(command_console_.Text().find("BE 01 00 00 03"), std::string::npos) << fault;
    EXPECT_EQ(command_console_.Text().find("TEST UNIT READY"), std::string::npos) << fault;
  }
}

TEST_F(C2ScanTest, AFailureEarlierEndsTheScanWithItsMessage) {
  Insert("cdrom,blocks=1001,damage=100-101,fault=BE@500:031100");
  C2Dialog handler;
  Run(handler);
  EXPECT_EQ(handler.State()->phase.load(), C2Phase::kCommandError);
  EXPECT_EQ(info_console_.Text(), "Read CD C2 Command Error.\n");
  // The figures stay as they were before the failing command.
  EXPECT_EQ(Shown(kC2SectorReached), "   475\n");
  EXPECT_EQ(Shown(kC2LastSector), "  1000\n");
  EXPECT_EQ(Shown(kC2ErrorSectors), "     2\n");
  EXPECT_TRUE(window_.IsEnabled(kC2Button));
  EXPECT_EQ(command_console_.Text().find("TEST UNIT READY"), std::string::npos);
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(C2ScanTest, NoC2QuirkIsRefusedByTheButtonsChecks) {
  Insert("cdr-closed,quirk=noc2");
  test::RecordingJobs jobs;
  PressC2Scan(window_, jobs);
  EXPECT_EQ(info_console_.Text(), "光碟設備不支援ReadCD指令檢測C2!\n");
  EXPECT_TRUE(jobs.opened.empty());
  Insert("cdr-closed");
  PressC2Scan(window_, jobs);
  EXPECT_EQ(jobs.opened, std::vector<int>{kC2ScanDialog});
}

class C2ScriptedTest : public C2ScanTest {
 protected:
  // A drive whose READ CAPACITY names `last`; READ CD answers 296-byte blocks, with the
  // flags `flags_of` gives each sector.
  void Script(std::uint32_t last) {
    drive_ = Attach(0);
    Bytes capacity = {0, 0, 0, 0, 0, 0, 8, 0};
    test::Put32(capacity, 0, last);
    drive_->On({0x25}, {capacity});
    drive_->On({0x00}, {});
    drive_->OnCall({0xBE}, [this](const PassThroughRequest& request) {
      const std::uint32_t lba = static_cast<std::uint32_t>(request.cdb[2]) << 24 |
                                static_cast<std::uint32_t>(request.cdb[3]) << 16 |
                                static_cast<std::uint32_t>(request.cdb[4]) << 8 | request.cdb[5];
      ScriptedDrive::Reply reply;
      for (std::uint32_t i = 0; i < request.cdb[8] && fail_of; ++i) {
        if (const std::int32_t sense = fail_of(lba + i); sense != 0)
          return ScriptedDrive::Reply{{}, sense};
      }
      for (std::uint32_t i = 0; i < request.cdb[8]; ++i) {
        Bytes block(296, 0);
        if (flags_of) flags_of(lba + i, block);
        reply.data.insert(reply.data.end(), block.begin(), block.end());
      }
      return reply;
    });
  }

  // (first sector, sectors) of every READ CD the scan sent.
  std::vector<std::pair<std::uint32_t, int>> ReadCds() const {
    std::vector<std::pair<std::uint32_t, int>> reads;
    for (const auto& record : drive_->Requests()) {
      if (record.cdb[0] != 0xBE) continue;
      EXPECT_EQ(record.cdb[1], 0x01);
      EXPECT_EQ(record.cdb[9], 0x04);
      EXPECT_EQ(record.transfer_length, 0xFFFF);
      const std::uint32_t lba = static_cast<std::uint32_t>(record.cdb[4]) << 8 | record.cdb[5];
      reads.emplace_back(lba, record.cdb[8]);
    }
    return reads;
  }

  std::shared_ptr<ScriptedDrive> drive_;
  std::function<void(std::uint32_t, Bytes&)> flags_of;
  std::function<std::int32_t(std::uint32_t)> fail_of;  // the sense a sector answers
};

TEST_F(C2ScriptedTest, OnlyTheRunOutAnswerOnTheRunOutBlocksEndsTheScanComplete) {
  struct Case {
    std::uint32_t last;
    std::uint32_t first_failing;  // this sector and every one after it fail
    std::int32_t sense;
    C2Phase phase;
    std::uint32_t scanned;
    std::uint32_t failed_at = 0;  // the sector named when the scan failed
  };
  const Case cases[] = {
      // Both run-out blocks answer as run-out blocks do: every sector before them read.
      {10001, 10000, 0x056400, C2Phase::kDone, 10000},
      {1000, 999, 0x056300, C2Phase::kDone, 999},
      {1010, 1009, 0x056400, C2Phase::kDone, 1009},
      // Only the last one: it alone is passed over.
      {1010, 1010, 0x056400, C2Phase::kDone, 1010},
      {24, 23, 0x056400, C2Phase::kDone, 23},
      // A third block from the end is data that could not be read.
      {1010, 1008, 0x056400, C2Phase::kCommandError, 1000, 1008},
      {10001, 9999, 0x056300, C2Phase::kCommandError, 9975, 9975},
      // Another answer on the run-out blocks is a failure.
      {1010, 1009, 0x031100, C2Phase::kCommandError, 1000, 1000},
      {1010, 1010, 0x052100, C2Phase::kCommandError, 1000, 1000},
      {1000, 1000, 0x031100, C2Phase::kCommandError, 1000, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.last << " from " << c.first_failing << " " << std::hex << c.sense);
    fail_of = [&c](std::uint32_t lba) { return lba >= c.first_failing ? c.sense : 0; };
    flags_of = [&c](std::uint32_t lba, Bytes& block) {
      if (lba + 3 >= c.first_failing) block[0] = 0x01;  // the last sectors before the end
    };
    info_console_.Clear();
    CloseAllDevices();
    Script(c.last);
    C2Dialog handler;
    Run(handler);
    EXPECT_EQ(handler.State()->phase.load(), c.phase);
    EXPECT_EQ(handler.State()->scanned.load(), c.scanned);
    if (c.phase == C2Phase::kDone) {
      EXPECT_EQ(info_console_.Text(), "");
      // The sectors read one at a time before the run-out blocks are counted.
      EXPECT_EQ(Shown(kC2ErrorSectors), FormatText(32, "%6i\n", 3));
      EXPECT_EQ(drive_->Opcodes().back(), 0x00);
    } else {
      EXPECT_EQ(info_console_.Text(), "Read CD C2 Command Error.\n");
      EXPECT_EQ(handler.State()->failure.load(), c.sense);
      EXPECT_EQ(handler.State()->failed_at.load(), c.failed_at);
      EXPECT_EQ(drive_->Opcodes().back(), 0xBE);  // sent again for the trace
    }
  }
}

TEST_F(C2ScriptedTest, LastThousandIsReadToItsLastSector) {
  Script(1000);
  C2Dialog handler;
  Run(handler);
  const auto reads = ReadCds();
  ASSERT_EQ(reads.size(), 41U);
  for (std::size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(reads[i], std::make_pair(static_cast<std::uint32_t>(i * 25), 25));
  }
  // Sector 1000, the last READ CAPACITY names, has a command of its own.
  EXPECT_EQ(reads.back(), std::make_pair(1000U, 1));
  EXPECT_EQ(Shown(kC2SectorReached), "  1000\n");
  EXPECT_EQ(Shown(kC2LastSector), "  1000\n");
  EXPECT_EQ(drive_->Opcodes().back(), 0x00);  // TEST UNIT READY at the end
}

TEST_F(C2ScriptedTest, LastOneThousandTenEndsWithElevenSectors) {
  Script(1010);
  C2Dialog handler;
  Run(handler);
  const auto reads = ReadCds();
  ASSERT_EQ(reads.size(), 41U);
  EXPECT_EQ(reads.back(), std::make_pair(1000U, 11));
  EXPECT_EQ(Shown(kC2SectorReached), "  1010\n");
}

TEST_F(C2ScriptedTest, FlagBitsCountAndTheBlockErrorByteDoesNot) {
  flags_of = [](std::uint32_t lba, Bytes& block) {
    if (lba == 30) {
      block[0] = 0x01;
      block[150] = 0x40;
      block[293] = 0x80;  // three set bits
      block[294] = 0xFF;
    }
    if (lba == 31) block[294] = 0x01;   // only the block error byte
    if (lba == 1000) block[10] = 0x03;  // the last sector
  };
  Script(1000);
  C2Dialog handler;
  Run(handler);
  EXPECT_EQ(Shown(kC2ErrorSectors), "     2\n");
  EXPECT_EQ(Shown(kC2ErrorFlags), "      5\n");
  const auto samples = handler.State()->scanned.load();
  EXPECT_EQ(samples, 1001U);
}

TEST_F(C2ScriptedTest, ExitStopsBeforeTheNextCommandAndFreesTheButton) {
  Script(100000);
  C2Dialog handler;
  // The user presses 結束(&X) while the command at 500 is being counted.
  handler.State()->on_command = [&](const ScanSample& sample) {
    if (sample.position == 500) handler.OnCommand(dialog_, kC2ExitButton);
  };
  handler.OnInit(dialog_);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!handler.Finished() && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(handler.Finished());
  EXPECT_EQ(handler.State()->phase.load(), C2Phase::kStopped);
  EXPECT_EQ(ReadCds().back(), std::make_pair(500U, 25));
  EXPECT_EQ(drive_->Opcodes().back(), 0xBE);  // no TEST UNIT READY after a stop
  EXPECT_TRUE(window_.IsEnabled(kC2Button));
  EXPECT_EQ(dialog_.EndResult(), kC2ExitButton);
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(C2ScriptedTest, ReadCapacityFailingLeavesZerosAndTheButtonFree) {
  drive_ = Attach(0);
  drive_->On({0x25}, {{}, 0x023A01});
  C2Dialog handler;
  Run(handler);
  EXPECT_EQ(handler.State()->phase.load(), C2Phase::kNoCapacity);
  EXPECT_EQ(Shown(kC2SectorReached), "     0");
  EXPECT_EQ(Shown(kC2ErrorFlags), "      0");
  EXPECT_EQ(info_console_.Text(), "");
  EXPECT_TRUE(window_.IsEnabled(kC2Button));
  EXPECT_FALSE(dialog_.TimerRunning(kC2Timer));
}

}  // namespace
}  // namespace zorvane
