#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

using test::TransportTest;

class ExecuteCdbTest : public TransportTest {
 protected:
  std::int32_t Send(std::vector<std::uint8_t> cdb, std::uint32_t length = 0,
                    std::uint8_t direction = kDataNone, std::uint8_t close_after = 1,
                    std::uint8_t slot = 0) {
    cdb.resize(16, 0);
    return ExecuteCdb(cdb.data(), slot, 0, 0, length, buffer_, direction, close_after);
  }
  std::uint8_t buffer_[65536] = {};
};

TEST_F(ExecuteCdbTest, CdbLengthFollowsTheOpcodeGroup) {
  auto drive = Attach(0);
  drive->SetDefault({});
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {
      {0x12, 6},  {0x1F, 6},  {0x25, 10}, {0x5F, 10}, {0x60, 12}, {0x7F, 12}, {0x88, 12},
      {0xA8, 12}, {0xBF, 12}, {0xC5, 10}, {0xCF, 10}, {0xD8, 12}, {0xDF, 12}, {0xF3, 10}};
  for (const auto& [opcode, length] : cases) {
    EXPECT_EQ(CdbLength(opcode), length) << std::hex << int(opcode);
    Send({opcode, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    const auto record = drive->Requests().back();
    EXPECT_EQ(record.cdb.size(), length) << std::hex << int(opcode);
    EXPECT_EQ(record.cdb.back(), length - 1);  // only the group's bytes are sent
  }
}

TEST_F(ExecuteCdbTest, TimeoutCoversTheLongCommandsAndIsTenSecondsOtherwise) {
  auto drive = Attach(0);
  drive->SetDefault({});
  for (std::uint8_t opcode : {0x54, 0xA1, 0x35, 0x5B, 0x04, 0x2A, 0x00}) Send({opcode});
  const auto records = drive->Requests();
  ASSERT_EQ(records.size(), 7U);
  EXPECT_EQ(records[0].timeout_seconds, 120U);
  EXPECT_EQ(records[1].timeout_seconds, 5400U);  // a full blank at 1x
  EXPECT_EQ(records[2].timeout_seconds, 600U);   // the buffer drained at 1x
  EXPECT_EQ(records[3].timeout_seconds, 600U);   // a lead-out or border
  for (std::size_t i = 4; i < records.size(); ++i) EXPECT_EQ(records[i].timeout_seconds, 10U);
}

TEST_F(ExecuteCdbTest, OnlyTheLow16BitsOfTheTransferLengthAreSent) {
  auto drive = Attach(0);
  drive->SetDefault({});
  Send({0x28}, 0x10000, kDataIn);
  Send({0x28}, 0xFFFFFFFF, kDataIn);
  Send({0x28}, 0xFFFF, kDataIn);
  Send({0x28}, 2048, kDataIn);
  const auto records = drive->Requests();
  EXPECT_EQ(records[0].transfer_length, 0);
  EXPECT_EQ(records[1].transfer_length, 65535);
  EXPECT_EQ(records[2].transfer_length, 65535);
  EXPECT_EQ(records[3].transfer_length, 2048);
  EXPECT_EQ(records[3].direction, kDataIn);
  EXPECT_EQ(records[3].path_id, 0);
}

TEST_F(ExecuteCdbTest, SenseByteTwoIsTakenWhole) {
  auto drive = Attach(0);
  drive->On({0x55}, {{}, 0x256400});
  EXPECT_EQ(Send({0x55}), 0x256400);
  EXPECT_EQ(command_console_.Text(),
            "MODE SELECT  55 00 00 00 00 00 00 00 00 00\n"
            "SK/ASC/ASCQ=256400h, ILLEGAL MODE FOR THIS TRACK\n");
}

TEST_F(ExecuteCdbTest, GoodCommandLeavesTheTwoTraceLines) {
  auto drive = Attach(0);
  drive->On({0x12}, {test::InquiryData("ZORVANE", "X", "1")});
  EXPECT_EQ(Send({0x12, 0, 0, 0, 0xFF, 0}, 256, kDataIn), 0);
  EXPECT_EQ(command_console_.Text(),
            "INQUIRY  12 00 00 00 FF 00\n"
            "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
  EXPECT_EQ(buffer_[8], 'Z');
}

TEST_F(ExecuteCdbTest, TwelveByteAndUnknownOpcodesAreTraced) {
  auto drive = Attach(0);
  drive->On({0xD8}, {{}, 0x052000});
  Send({0xD8, 0, 0, 0, 0, 0x10, 0, 0, 0, 1, 0, 0});
  Send({0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0});
  EXPECT_EQ(command_console_.Text(),
            "UNKNOWN  D8 00 00 00 00 10 00 00 00 01 00 00\n"
            "SK/ASC/ASCQ=52000h, INVALID COMMAND OPERATION CODE\n"
            "READ CD  BE 00 00 00 00 00 00 00 01 F8 00 00\n"
            "SK/ASC/ASCQ=52000h, INVALID COMMAND OPERATION CODE\n");
}

TEST_F(ExecuteCdbTest, SenseWithoutTextLeavesTheLineOpen) {
  auto drive = Attach(0);
  drive->On({0x00}, {{}, 0x044080});
  EXPECT_EQ(Send({0x00}), 0x044080);
  EXPECT_EQ(command_console_.Text(), "TEST UNIT READY  00 00 00 00 00 00\nSK/ASC/ASCQ=44080h, ");
}

TEST_F(ExecuteCdbTest, FailedOpenIsRetriedOnTheNextCall) {
  auto drive = Attach(2);
  drive->SetDefault({});
  drive->FailOpens(1, ENOENT);
  EXPECT_EQ(Send({0x00}, 0, kDataNone, 1, 2), -1);
  EXPECT_EQ(messages_.Text(), "Error: Error opening f:  Error: 2\n");
  EXPECT_EQ(command_console_.Text(), "");  // nothing was sent
  EXPECT_FALSE(IsDeviceOpen(2));
  EXPECT_EQ(Send({0x00}, 0, kDataNone, 1, 2), 0);
  EXPECT_EQ(drive->OpenCount(), 1);
  EXPECT_EQ(drive->Requests().size(), 1U);
}

TEST_F(ExecuteCdbTest, FailedRequestKeepsTheDeviceOpenWhateverCloseAfterSays) {
  auto drive = Attach(0);
  drive->On({0x00}, {{}, 0, EIO}, 1);
  drive->SetDefault({});
  EXPECT_EQ(Send({0x00}, 0, kDataNone, 1), -1);
  EXPECT_EQ(command_console_.Text(), "TEST UNIT READY  00 00 00 00 00 00\nGetLastError was 5\n");
  EXPECT_TRUE(IsDeviceOpen(0));
  EXPECT_EQ(Send({0x00}, 0, kDataNone, 1), 0);
  EXPECT_EQ(drive->OpenCount(), 1);  // reused, not reopened
  EXPECT_FALSE(IsDeviceOpen(0));     // closed by the good command with close-after 1
  EXPECT_EQ(drive->CloseCount(), 1);
}

TEST_F(ExecuteCdbTest, RequestRefusedByTheSystemCarriesTheHint) {
  const std::string hint =
      "(refused by the system, not by the drive: this command may need read-write access to "
      "the device node or administrator rights)\n";
  auto drive = Attach(0);
  drive->On({0xBD}, {{}, 0, EPERM}, 1);
  drive->On({0x1E}, {{}, 0, EACCES}, 1);
  drive->On({0x00}, {{}, 0, ETIMEDOUT}, 1);
  EXPECT_EQ(Send({0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8}, 8, kDataIn), -1);
  EXPECT_EQ(Send({0x1E, 0, 0, 0, 1}), -1);
  EXPECT_EQ(Send({0x00}), -1);
  EXPECT_EQ(command_console_.Text(),
            "MECHANISM STATUS  BD 00 00 00 00 00 00 00 00 08 00 00\n"
            "GetLastError was 1\n" +
                hint +
                "PREVENT/ALLOW MEDIUM REMOVAL  1E 00 00 00 01 00\n"
                "GetLastError was 13\n" +
                hint +
                "TEST UNIT READY  00 00 00 00 00 00\n"
                "GetLastError was 110\n");
  // The refusal is not fatal: the device stays open and the next command goes through.
  drive->SetDefault({});
  EXPECT_EQ(Send({0x00}), 0);
  EXPECT_EQ(drive->OpenCount(), 1);
  // Without tracing the refusal is silent, like every other failure.
  command_console_.Clear();
  TraceEnabled = 0;
  drive->On({0xBD}, {{}, 0, EPERM}, 1);
  EXPECT_EQ(Send({0xBD}), -1);
  EXPECT_EQ(command_console_.Text(), "");
}

TEST_F(ExecuteCdbTest, ShortOrFailedReplyLeavesTheRestOfTheBufferAsItWas) {
  auto drive = Attach(0);
  drive->On({0x12}, {test::InquiryData("QEMU", "QEMU DVD-ROM", "2.5+")});  // 96 bytes
  drive->On({0x5A}, {{}, 0, EPERM}, 1);
  std::memset(buffer_, 0xAA, 512);
  EXPECT_EQ(Send({0x12, 0, 0, 0, 0xFF, 0}, 255, kDataIn), 0);
  EXPECT_EQ(buffer_[8], 'Q');
  for (int i = 96; i < 512; ++i) ASSERT_EQ(buffer_[i], 0xAA) << i;
  std::memset(buffer_, 0xAA, 512);
  EXPECT_EQ(Send({0x5A, 0, 0x2A, 0, 0, 0, 0, 0xFF, 0xFF}, 0xFFFF, kDataIn), -1);
  for (int i = 0; i < 512; ++i) ASSERT_EQ(buffer_[i], 0xAA) << i;
}

TEST_F(ExecuteCdbTest, CloseAfterOneClosesAndAnythingElseKeeps) {
  auto drive = Attach(0);
  drive->SetDefault({});
  Send({0x00}, 0, kDataNone, 0);
  Send({0x00}, 0, kDataNone, 2);
  EXPECT_TRUE(IsDeviceOpen(0));
  drive->On({0x00}, {{}, 0x023A00});
  Send({0x00}, 0, kDataNone, 1);  // a rejected command still completes the request
  EXPECT_FALSE(IsDeviceOpen(0));
  EXPECT_EQ(drive->OpenCount(), 1);
  EXPECT_EQ(drive->CloseCount(), 1);
}

// Silent with tracing off, and untraced calls (a job's background polls) silent with tracing
// on, leaving the switch as it was.
TEST_F(ExecuteCdbTest, SilentWhileTracingIsOffOrTheCallIsUntraced) {
  for (const bool untraced : {false, true}) {
    CloseAllDevices();
    TraceEnabled = untraced ? 1 : 0;
    auto send = [&](std::vector<std::uint8_t> cdb, std::uint8_t slot = 0) {
      cdb.resize(16, 0);
      return untraced ? ExecuteCdbUntraced(cdb.data(), slot, 0, 0, 0, buffer_, kDataNone, 1)
                      : ExecuteCdb(cdb.data(), slot, 0, 0, 0, buffer_, kDataNone, 1);
    };
    EXPECT_EQ(send({0x00}, 3), -1);  // g: has no device
    auto drive = Attach(0);
    drive->On({0x00}, {{}, 0x023A00});
    EXPECT_EQ(send({0x00}), 0x023A00);
    drive->On({0x00}, {{}, 0, EIO});
    EXPECT_EQ(send({0x00}), -1);
    EXPECT_EQ(command_console_.Text(), "");
    EXPECT_EQ(messages_.Count(), 0);
    EXPECT_EQ(TraceEnabled.load(), untraced ? 1 : 0);
  }
}

TEST_F(ExecuteCdbTest, LunAndSlotReachTheRequest) {
  auto drive = Attach(5);
  drive->SetDefault({});
  std::uint8_t cdb[6] = {0x00};
  ExecuteCdb(cdb, 5, 9, 0x1234, 0, nullptr, kDataNone, 1);
  EXPECT_EQ(drive->Requests().back().lun, 0x34);
  EXPECT_EQ(drive->Requests().back().path_id, 5);
  EXPECT_EQ(ExecuteCdb(cdb, 7, 0, 0, 0, nullptr, kDataNone, 1), -1);  // no such slot
}

TEST_F(ExecuteCdbTest, TwoThreadsNeverInterleaveInsideOneDevice) {
  auto drive = Attach(0);
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  drive->OnCall({}, [&](const PassThroughRequest&) {
    const int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --inside;
    return ScriptedDrive::Reply{};
  });
  TraceEnabled = 0;
  constexpr int kPerThread = 200;
  auto worker = [&](std::uint8_t close_after) {
    std::uint8_t cdb[10] = {0x28};
    std::uint8_t data[64];
    for (int i = 0; i < kPerThread; ++i) {
      // Alternate keeping and closing the device, so opens and closes race too.
      ExecuteCdb(cdb, 0, 0, 0, sizeof data, data, kDataIn, (i % 3 == 0) ? 1 : close_after);
    }
  };
  std::thread a(worker, 0);
  std::thread b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(drive->Requests().size(), 2U * kPerThread);
}

}  // namespace
}  // namespace zorvane
