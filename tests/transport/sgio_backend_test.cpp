// The SG_IO backend against a kernel of the test's own: what it hands the kernel, what
// it gives back to the caller, and how it reads the kernel's verdicts.
#include "transport/sgio_backend.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

// A descriptor the handle may own and close.
int NullDescriptor() {
  return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}

PassThroughRequest DataIn(std::uint8_t* buffer, std::uint16_t length) {
  PassThroughRequest request;
  request.cdb[0] = 0x12;
  request.cdb[4] = static_cast<std::uint8_t>(length > 255 ? 255 : length);
  request.cdb_length = 6;
  request.direction = kDataIn;
  request.buffer = buffer;
  request.transfer_length = length;
  return request;
}

// What the fake kernel saw of the last request.
struct Seen {
  unsigned dxfer_len = 0;
  int direction = 0;
  std::uintptr_t address = 0;
  void* dxferp = nullptr;
  std::vector<std::uint8_t> data_at_call;
  unsigned timeout = 0;
  unsigned cmd_len = 0;
  std::vector<std::uint8_t> cdb;
};

// A kernel whose drive sends `reply` (a short data-in transfer written in place).
SgIoCall DriveSends(std::vector<std::uint8_t> reply, Seen* seen) {
  return [reply = std::move(reply), seen](int, sg_io_hdr_t* io) {
    seen->dxfer_len = io->dxfer_len;
    seen->direction = io->dxfer_direction;
    seen->dxferp = io->dxferp;
    seen->address = reinterpret_cast<std::uintptr_t>(io->dxferp);
    seen->timeout = io->timeout;
    seen->cmd_len = io->cmd_len;
    seen->cdb.assign(io->cmdp, io->cmdp + io->cmd_len);
    if (io->dxferp != nullptr) {
      const auto* bytes = static_cast<const std::uint8_t*>(io->dxferp);
      seen->data_at_call.assign(bytes, bytes + io->dxfer_len);
      if (io->dxfer_direction == SG_DXFER_FROM_DEV) {
        std::memcpy(io->dxferp, reply.data(), std::min<std::size_t>(reply.size(), io->dxfer_len));
      }
    }
    return 0;
  };
}

TEST(SgIoBackendTest, ShortReplyLeavesTheRestOfTheCallersBufferAsItWas) {
  Seen seen;
  const std::vector<std::uint8_t> reply(36, 0x11);
  auto handle = WrapSgIoDescriptor(NullDescriptor(), DriveSends(reply, &seen));
  std::uint8_t buffer[300];
  std::memset(buffer, 0xAA, sizeof buffer);
  PassThroughRequest request = DataIn(buffer, 255);
  ASSERT_EQ(handle->Execute(request), 0);
  for (int i = 0; i < 36; ++i) ASSERT_EQ(buffer[i], 0x11) << i;
  for (int i = 36; i < 300; ++i) ASSERT_EQ(buffer[i], 0xAA) << i;
  // The kernel got an aligned buffer holding the caller's bytes, of a length it maps
  // without a copy of its own.
  EXPECT_EQ(seen.direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(seen.address % 4096, 0U);
  EXPECT_EQ(seen.dxfer_len, 512U);
  ASSERT_EQ(seen.data_at_call.size(), 512U);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(seen.data_at_call[i], 0xAA) << i;
}

TEST(SgIoBackendTest, NothingPastTheTransferLengthReachesTheCaller) {
  Seen seen;
  // A drive (or kernel) that fills the whole rounded-up buffer.
  auto handle = WrapSgIoDescriptor(NullDescriptor(),
                                   DriveSends(std::vector<std::uint8_t>(65536, 0x55), &seen));
  const std::pair<std::uint16_t, unsigned> lengths[] = {
      {1, 512}, {511, 512}, {512, 512}, {513, 1024}, {2048, 2048}, {63488, 63488}, {65535, 65536}};
  for (const auto& [length, rounded] : lengths) {
    std::vector<std::uint8_t> buffer(length + 64, 0xAA);
    PassThroughRequest request = DataIn(buffer.data(), length);
    ASSERT_EQ(handle->Execute(request), 0);
    EXPECT_EQ(seen.dxfer_len, rounded) << length;
    EXPECT_EQ(buffer[length - 1], 0x55) << length;
    for (std::size_t i = length; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAA) << length;
  }
}

TEST(SgIoBackendTest, DataOutAndNoDataGoAsTheyAre) {
  Seen seen;
  auto handle = WrapSgIoDescriptor(NullDescriptor(), DriveSends({}, &seen));
  std::uint8_t out[100];
  for (int i = 0; i < 100; ++i) out[i] = static_cast<std::uint8_t>(i);
  PassThroughRequest request;
  request.cdb[0] = 0x55;
  request.cdb_length = 10;
  request.direction = kDataOut;
  request.buffer = out;
  request.transfer_length = 100;
  request.timeout_seconds = 120;
  ASSERT_EQ(handle->Execute(request), 0);
  EXPECT_EQ(seen.direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(seen.dxferp, out);
  EXPECT_EQ(seen.dxfer_len, 100U);
  EXPECT_EQ(seen.timeout, 120000U);
  EXPECT_EQ(seen.cmd_len, 10U);
  EXPECT_EQ(seen.cdb[0], 0x55);

  // A data phase without a buffer or without a length is no data phase.
  request.buffer = nullptr;
  ASSERT_EQ(handle->Execute(request), 0);
  EXPECT_EQ(seen.direction, SG_DXFER_NONE);
  EXPECT_EQ(seen.dxfer_len, 0U);
  request.buffer = out;
  request.direction = kDataIn;
  request.transfer_length = 0;
  ASSERT_EQ(handle->Execute(request), 0);
  EXPECT_EQ(seen.direction, SG_DXFER_NONE);
  EXPECT_EQ(seen.dxferp, nullptr);
}

TEST(SgIoBackendTest, FailuresAreSystemErrorCodesAndLeaveTheBufferAlone) {
  struct Case {
    int result;
    int errno_value;
    unsigned short host_status;
    unsigned short driver_status;
    int expected;
  };
  const Case cases[] = {
      {-1, EPERM, 0, 0, EPERM},    // the kernel's command filter
      {-1, EACCES, 0, 0, EACCES},  // not allowed on this node
      {-1, 0, 0, 0, EIO},          // a failure without a code is still one
      {0, 0, 0x03, 0, ETIMEDOUT},  // DID_TIME_OUT
      {-1, ENODEV, 0, 0, ENODEV},  // the device was removed
      {0, 0, 0x01, 0, ENODEV},     // DID_NO_CONNECT: unplugged
      {0, 0, 0x04, 0, ENODEV},     // DID_BAD_TARGET: gone from the bus
      {0, 0, 0x07, 0, EIO},        // DID_ERROR
      {0, 0, 0, 0x06, ETIMEDOUT},  // DRIVER_TIMEOUT
      {0, 0, 0, 0x04, EIO},        // DRIVER_ERROR
      {0, 0, 0, 0x08, 0},          // DRIVER_SENSE alone: the command completed
  };
  for (const Case& c : cases) {
    auto handle = WrapSgIoDescriptor(NullDescriptor(), [&c](int, sg_io_hdr_t* io) {
      std::memset(io->dxferp, 0x77, io->dxfer_len);  // whatever landed before the failure
      io->host_status = c.host_status;
      io->driver_status = c.driver_status;
      errno = c.errno_value;
      return c.result;
    });
    std::uint8_t buffer[64];
    std::memset(buffer, 0xAA, sizeof buffer);
    PassThroughRequest request = DataIn(buffer, sizeof buffer);
    EXPECT_EQ(handle->Execute(request), c.expected) << c.errno_value << " " << c.host_status;
    if (c.expected != 0) {
      for (std::uint8_t byte : buffer) ASSERT_EQ(byte, 0xAA);
    }
  }
}

TEST(SgIoBackendTest, SenseIsTakenWithinWhatTheKernelWrote) {
  // Descriptor-format sense: key 05, ASC/ASCQ 24/00.
  std::vector<std::uint8_t> sense = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
  unsigned char reported = 0;
  auto handle = WrapSgIoDescriptor(NullDescriptor(), [&](int, sg_io_hdr_t* io) {
    std::memcpy(io->sbp, sense.data(), sense.size());
    io->sb_len_wr = reported;
    io->status = 0x02;
    io->driver_status = 0x08;
    return 0;
  });
  PassThroughRequest request;
  request.cdb_length = 6;
  reported = static_cast<unsigned char>(sense.size());
  ASSERT_EQ(handle->Execute(request), 0);
  EXPECT_EQ(SenseCodeOf(request.sense), 0x052400);
  // A count beyond the sense buffer is cut to the buffer.
  reported = 255;
  ASSERT_EQ(handle->Execute(request), 0);
  EXPECT_EQ(SenseCodeOf(request.sense), 0x052400);
  // CHECK CONDITION without any sense written says nothing usable: a failed request.
  reported = 0;
  EXPECT_EQ(handle->Execute(request), EIO);
}

// A status other than GOOD counts only through sense that names what happened; without
// it the request failed, whatever the kernel's own verdicts said.
TEST(SgIoBackendTest, StatusOtherThanGoodWithoutUsableSenseIsAFailedRequest) {
  struct Case {
    unsigned char status;
    std::vector<std::uint8_t> sense;
    int expected;
    std::int32_t code;
  };
  const std::vector<std::uint8_t> none;
  const std::vector<std::uint8_t> not_ready = {0x70, 0, 0x02, 0, 0, 0,    0,
                                               10,   0, 0,    0, 0, 0x3A, 0x00};
  const std::vector<std::uint8_t> unknown_format = {0x7F, 0, 0x05, 0, 0, 0,   0,
                                                    10,   0, 0,    0, 0, 0x24};
  const std::vector<std::uint8_t> all_zero(18, 0);
  const Case cases[] = {
      {0x00, none, 0, 0},              // GOOD
      {0x04, none, 0, 0},              // CONDITION MET
      {0x02, not_ready, 0, 0x023A00},  // CHECK CONDITION with sense
      {0x02, none, EIO, 0},            // CHECK CONDITION, no sense
      {0x02, unknown_format, EIO, 0},  // sense in a format nobody knows
      {0x02, all_zero, EIO, 0},        // sense that says nothing
      {0x08, none, EBUSY, 0},          // BUSY
      {0x18, none, EBADE, 0},          // RESERVATION CONFLICT
      {0x28, none, EBUSY, 0},          // TASK SET FULL
      {0x40, none, ECANCELED, 0},      // TASK ABORTED
      {0x30, none, EIO, 0},            // ACA ACTIVE
      {0x08, not_ready, 0, 0x023A00},  // BUSY, yet with sense: the sense counts
  };
  for (const Case& c : cases) {
    auto handle = WrapSgIoDescriptor(NullDescriptor(), [&c](int, sg_io_hdr_t* io) {
      if (io->dxferp != nullptr) std::memset(io->dxferp, 0x77, io->dxfer_len);
      if (!c.sense.empty()) std::memcpy(io->sbp, c.sense.data(), c.sense.size());
      io->sb_len_wr = static_cast<unsigned char>(c.sense.size());
      io->status = c.status;
      io->masked_status = static_cast<unsigned char>(c.status >> 1);
      io->driver_status = c.sense.empty() ? 0 : 0x08;
      return 0;
    });
    std::uint8_t buffer[64];
    std::memset(buffer, 0xAA, sizeof buffer);
    PassThroughRequest request = DataIn(buffer, sizeof buffer);
    // A sense left from an earlier command must not survive into this one.
    std::memset(request.sense, 0x11, sizeof request.sense);
    EXPECT_EQ(handle->Execute(request), c.expected) << int{c.status};
    if (c.expected == 0) {
      EXPECT_EQ(SenseCodeOf(request.sense), c.code) << int{c.status};
    } else {
      for (std::uint8_t byte : buffer) ASSERT_EQ(byte, 0xAA) << int{c.status};
    }
  }
}

// Through the one door, such a request is -1 with its code in the trace.
TEST(SgIoBackendTest, BusyDriveIsAFailedCommandThroughExecuteCdb) {
  RegisterDeviceScheme("busysg", [](std::string_view, std::uint8_t, int*) {
    return WrapSgIoDescriptor(NullDescriptor(), [](int, sg_io_hdr_t* io) {
      io->status = 0x08;
      return 0;
    });
  });
  const std::string saved = DevicePaths[1];
  DevicePaths[1] = "busysg:";
  const std::uint8_t cdb[6] = {0x00, 0, 0, 0, 0, 0};
  TraceEnabled.store(0);
  EXPECT_EQ(ExecuteCdb(cdb, 1, 0, 0, 0, nullptr, kDataNone, 1), -1);
  TraceEnabled.store(1);
  CloseAllDevices();
  DevicePaths[1] = saved;
}

// Through the one door: a command the kernel refuses is reported with its code and the
// hint, and the caller's buffer keeps its bytes.
class SgIoTransportTest : public test::TransportTest {};

TEST_F(SgIoTransportTest, RefusedRequestIsTracedWithTheHint) {
  RegisterDeviceScheme("fakesg", [](std::string_view, std::uint8_t, int*) {
    return WrapSgIoDescriptor(NullDescriptor(), [](int, sg_io_hdr_t*) {
      errno = EPERM;
      return -1;
    });
  });
  DevicePaths[0] = "fakesg:";
  const std::uint8_t cdb[12] = {0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0};
  std::uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ExecuteCdb(cdb, 0, 0, 0, sizeof buffer, buffer, kDataIn, 0), -1);
  EXPECT_EQ(command_console_.Text(),
            "MECHANISM STATUS  BD 00 00 00 00 00 00 00 00 08 00 00\n"
            "GetLastError was 1\n"
            "(refused by the system, not by the drive: this command may need read-write access "
            "to the device node or administrator rights)\n");
  for (std::uint8_t byte : buffer) EXPECT_EQ(byte, 0xAA);
}

// A drive that goes away mid-job: the failed request names the drive, the shared device
// is closed, and the next command fails at the open instead of waiting on a dead node.
TEST_F(SgIoTransportTest, VanishedDriveIsNamedAndItsDeviceClosed) {
  static int opens = 0;
  opens = 0;
  RegisterDeviceScheme("gonesg", [](std::string_view, std::uint8_t, int* error) {
    if (++opens > 1) {
      *error = ENXIO;
      return std::unique_ptr<DeviceHandle>();
    }
    return WrapSgIoDescriptor(NullDescriptor(), [](int, sg_io_hdr_t* io) {
      io->host_status = 0x01;  // DID_NO_CONNECT
      return 0;
    });
  });
  DevicePaths[2] = "gonesg:";
  TraceEnabled.store(0);  // a job that reads untraced still hears of it
  const std::uint8_t cdb[12] = {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ExecuteCdb(cdb, 2, 0, 0, 0, nullptr, kDataNone, 0), -1);
  EXPECT_FALSE(IsDeviceOpen(2));
  EXPECT_EQ(ExecuteCdb(cdb, 2, 0, 0, 0, nullptr, kDataNone, 0), -1);
  EXPECT_EQ(opens, 2);
  const std::string trace = command_console_.Text();
  EXPECT_EQ(trace,
            "drive f: gonesg:: no drive answers behind the device node (it was removed or has "
            "no driver)\n");
  TraceEnabled.store(1);
}

}  // namespace
}  // namespace zorvane
