#include "transport/sgio_backend.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "transport/transport.h"

namespace zorvane {

namespace {

// Host adapter status codes of the Linux SCSI midlayer.
constexpr unsigned kDidNoConnect = 0x01;  // the device is gone (unplugged, removed)
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDidBadTarget = 0x04;

int HostError(unsigned host) {
  switch (host) {
    case kDidTimeOut:
      return ETIMEDOUT;
    case kDidNoConnect:
    case kDidBadTarget:
      return ENODEV;
    default:
      return EIO;
  }
}
// Driver status: the low bits name a driver failure; 0x08 only says sense is present.
constexpr unsigned kDriverStatusMask = 0x07;
constexpr unsigned kDriverTimeout = 0x06;

// SCSI status bytes (SAM) as SG_IO reports them in `status`.
constexpr unsigned kStatusGood = 0x00;
constexpr unsigned kStatusCheckCondition = 0x02;
constexpr unsigned kStatusConditionMet = 0x04;
constexpr unsigned kStatusBusy = 0x08;
constexpr unsigned kStatusReservationConflict = 0x18;
constexpr unsigned kStatusTaskSetFull = 0x28;
constexpr unsigned kStatusTaskAborted = 0x40;

// A command that ended with a status other than GOOD and left no sense that says what
// happened did not succeed: it is a failed request, with the code a user can look up.
// (The kernel itself reports a reservation conflict as EBADE.)
int StatusError(unsigned status) {
  switch (status) {
    case kStatusBusy:
    case kStatusTaskSetFull:
      return EBUSY;
    case kStatusReservationConflict:
      return EBADE;
    case kStatusTaskAborted:
      return ECANCELED;
    case kStatusCheckCondition:
    default:
      return EIO;
  }
}

// The block layer maps a user buffer straight into the request, without a copy of its
// own, when its address and length are aligned (to 512 bytes on the queues of sr and
// libata). Only then do the bytes a drive does not send stay as they were.
constexpr std::size_t kDirectAlignment = 512;

// A data-in phase lands here first: one page-aligned buffer for the largest transfer.
struct alignas(4096) Bounce {
  std::uint8_t bytes[65536];
};

class SgIoHandle : public DeviceHandle {
 public:
  SgIoHandle(int fd, SgIoCall call) : fd_(fd), call_(std::move(call)) {}
  ~SgIoHandle() override { ::close(fd_); }
  SgIoHandle(const SgIoHandle&) = delete;
  SgIoHandle& operator=(const SgIoHandle&) = delete;

  // A reply shorter than the allocation leaves the rest of the caller's buffer as it
  // was. How much the drive really sent is not known here: the kernel's residual count
  // (resid) is not used, because ATAPI drives behind libata report a full transfer for
  // a short reply, and replies are parsed from their own length fields anyway. So a
  // data-in phase goes to an aligned bounce buffer that first takes the caller's bytes,
  // with its length rounded up to the alignment (the drive still sends no more than the
  // CDB allows); the kernel then maps it directly and writes only what the drive sends,
  // and exactly transfer_length bytes go back. On an unaligned request the kernel would
  // copy through a zeroed buffer of its own and overwrite the whole allocation. The sg
  // driver (/dev/sgN) always copies that way, so there the bytes past a short reply
  // come back as zeros.
  int Execute(PassThroughRequest& request) override {
    unsigned char sense[64] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.cmd_len = request.cdb_length;
    io.cmdp = request.cdb;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = request.timeout_seconds * 1000U;
    const bool has_data =
        request.direction != kDataNone && request.buffer != nullptr && request.transfer_length != 0;
    const bool data_in = has_data && request.direction == kDataIn;
    if (!has_data) {
      io.dxfer_direction = SG_DXFER_NONE;
    } else if (data_in) {
      std::memcpy(bounce_->bytes, request.buffer, request.transfer_length);
      io.dxfer_direction = SG_DXFER_FROM_DEV;
      io.dxfer_len = static_cast<unsigned>((request.transfer_length + kDirectAlignment - 1) /
                                           kDirectAlignment * kDirectAlignment);
      io.dxferp = bounce_->bytes;
    } else {
      io.dxfer_direction = SG_DXFER_TO_DEV;
      io.dxfer_len = request.transfer_length;
      io.dxferp = request.buffer;
    }
    errno = 0;
    const int result = call_ ? call_(fd_, &io) : ::ioctl(fd_, SG_IO, &io);
    if (result < 0) return errno != 0 ? errno : EIO;
    if (io.host_status != 0) return HostError(io.host_status);
    const unsigned driver = io.driver_status & kDriverStatusMask;
    if (driver != 0) return (io.driver_status & 0x0F) == kDriverTimeout ? ETIMEDOUT : EIO;
    std::uint8_t fixed[kSenseLength] = {};
    const unsigned sense_length = io.sb_len_wr < sizeof sense ? io.sb_len_wr : sizeof sense;
    if (sense_length > 0) ToFixedSense(sense, sense_length, fixed);
    const unsigned status = io.status & 0xFE;
    if (status != kStatusGood && status != kStatusConditionMet && SenseCodeOf(fixed) == 0) {
      return StatusError(status);
    }
    if (data_in) std::memcpy(request.buffer, bounce_->bytes, request.transfer_length);
    std::memcpy(request.sense, fixed, sizeof fixed);
    return 0;
  }

 private:
  int fd_;
  SgIoCall call_;
  std::unique_ptr<Bounce> bounce_ = std::make_unique<Bounce>();
};

}  // namespace

std::unique_ptr<DeviceHandle> WrapSgIoDescriptor(int fd, SgIoCall call) {
  return std::make_unique<SgIoHandle>(fd, std::move(call));
}

std::unique_ptr<DeviceHandle> OpenSgIoDevice(const std::string& path, int* system_error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) {
    *system_error = errno != 0 ? errno : ENODEV;
    return nullptr;
  }
  return WrapSgIoDescriptor(fd);
}

}  // namespace zorvane
