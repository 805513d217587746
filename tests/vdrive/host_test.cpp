// The drive as the host adapter sees it: data phases that do not fit the host's buffer fail
// the request, and the bytes moved are the bytes the drive really sent or took.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "tests/support/test_support.h"
#include "tests/vdrive/vdrive_test_support.h"
#include "transport/backend.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace zorvane::vdrive {
namespace {

using test::Answer;
using test::Ready;
using test::Send;
using test::SendOut;

TEST(HostTest, DataInLongerThanTheBufferFailsTheRequest) {
  auto drive = Ready("cdrom");
  // One block into a 512-byte buffer, 31 into one of 30: the adapter fails both.
  for (const auto& [count, room] :
       std::vector<std::pair<std::uint16_t, std::size_t>>{{1, 512}, {31, 30 * 2048}, {1, 2047}}) {
    const Answer read = Send(*drive, test::Read10(16, count), room);
    EXPECT_EQ(read.status, Status::kTransportFailure) << count << " blocks into " << room;
    EXPECT_EQ(read.reply.system_error, EIO);
    EXPECT_TRUE(read.data.empty());
  }
  EXPECT_EQ(Send(*drive, test::Read12(16, 2), 4096).status, Status::kGood);
  // A raw sector is 2352 bytes: a 2048-byte buffer is short for it.
  EXPECT_EQ(Send(*drive, test::ReadCd(16, 1, 0, 0xF8), 2048).status, Status::kTransportFailure);
  EXPECT_EQ(Send(*drive, test::ReadCd(16, 1, 0, 0xF8), 2352).status, Status::kGood);
  // A data-in command sent without a buffer has nowhere to put its answer.
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 36, 0}, 0).status, Status::kTransportFailure);
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 36, 0}, 35).status, Status::kTransportFailure);
  // An allocation length of zero moves nothing and needs no buffer.
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 0, 0}, 0).status, Status::kGood);
  // A command refused before its data phase answers its sense whatever the buffer.
  EXPECT_EQ(Send(*drive, test::Read10(333000, 1), 512).sense, kLbaOutOfRange);
}

TEST(HostTest, TheBytesMovedAreWhatTheDriveSent) {
  auto drive = Ready("cdrom");
  // INQUIRY answers 36 bytes whatever the allocation: the rest is the residual.
  const Answer inquiry = Send(*drive, {0x12, 0, 0, 0, 96, 0}, 96);
  EXPECT_EQ(inquiry.status, Status::kGood);
  EXPECT_EQ(inquiry.reply.transferred, 36U);
  // The allocation length cuts the answer; a larger buffer is left alone past it.
  EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 20, 0}, 200).reply.transferred, 20U);
  EXPECT_EQ(Send(*drive, test::Read10(0, 3), 65535).reply.transferred, 3U * 2048);
}

TEST(HostTest, DataOutShorterThanTheDriveTakesFailsTheRequest) {
  auto drive = Ready("cdr-blank");
  ASSERT_EQ(test::SelectWrite(*drive, test::WriteSetup{}).sense, kGood);
  // Two blocks announced, one sent: the adapter fails it and nothing is recorded.
  const Answer short_write = SendOut(*drive, test::Write10(0, 2), std::vector<std::uint8_t>(2048));
  EXPECT_EQ(short_write.status, Status::kTransportFailure);
  EXPECT_EQ(test::Invisible(*drive).next, 0U);
  // More sent than the blocks: the drive takes what it needs, the rest is the residual.
  const Answer long_write = SendOut(*drive, test::Write10(0, 2), std::vector<std::uint8_t>(6144));
  EXPECT_EQ(long_write.status, Status::kGood);
  EXPECT_EQ(long_write.reply.transferred, 4096U);
  EXPECT_EQ(test::Invisible(*drive).next, 2U);
  // MODE SELECT: a parameter list length beyond the bytes sent.
  std::vector<std::uint8_t> list(8 + 2 + 0x32, 0);
  EXPECT_EQ(SendOut(*drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 200, 0}, list).status,
            Status::kTransportFailure);
  // SET STREAMING: the descriptor announced, but not sent.
  EXPECT_EQ(SendOut(*drive, {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, std::vector<std::uint8_t>(8))
                .status,
            Status::kTransportFailure);
}

class HostTransportTest : public zorvane::test::TransportTest {};

TEST_F(HostTransportTest, ExecuteCdbReturnsMinusOneForAnOverrun) {
  zorvane::DevicePaths[0] = "virtual:cdrom";
  std::uint8_t buffer[512] = {};
  std::uint8_t cdb[16] = {0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0};
  EXPECT_EQ(zorvane::ExecuteCdb(cdb, 0, 0, 0, sizeof buffer, buffer, zorvane::kDataIn, 1), -1);
  // Four blocks of the same disc do fit a buffer of 8 kB.
  std::vector<std::uint8_t> large(8192);
  cdb[8] = 4;
  EXPECT_EQ(zorvane::ExecuteCdb(cdb, 0, 0, 0, static_cast<std::uint32_t>(large.size()),
                                large.data(), zorvane::kDataIn, 1),
            0);
  EXPECT_EQ(large[3], 0x10);  // LBA 16: bytes 0..3 hold the address
  EXPECT_EQ(large[2048 + 3], 0x11);
}

TEST_F(HostTransportTest, TheRequestsTimeOutReachesTheDrive) {
  zorvane::RegisterVirtualBackend();
  int error = 0;
  std::unique_ptr<zorvane::DeviceHandle> handle =
      zorvane::OpenDevice("virtual:cdrw-blank,time=real", 5, &error);
  ASSERT_NE(handle, nullptr) << error;
  zorvane::PassThroughRequest request;
  request.cdb[0] = 0x00;
  request.cdb_length = 6;
  while (handle->Execute(request) == 0 && request.sense[2] != 0) {
  }  // past the unit attention
  // A minimal blank takes some seconds at the CD-RW's speed: a one-second time-out ends it.
  request.cdb[0] = 0xA1;
  request.cdb[1] = 0x01;
  request.cdb_length = 12;
  request.timeout_seconds = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(handle->Execute(request), ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace zorvane::vdrive
