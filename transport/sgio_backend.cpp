#include "transport/sgio_backend.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zorvane {

namespace {

// Host adapter status codes of the Linux SCSI midlayer.
constexpr unsigned kDidTimeOut = 0x03;
// Driver status: the low bits name a driver failure; 0x08 only says sense is present.
constexpr unsigned kDriverStatusMask = 0x07;
constexpr unsigned kDriverTimeout = 0x06;

class SgIoHandle : public DeviceHandle {
 public:
  explicit SgIoHandle(int fd) : fd_(fd) {}
  ~SgIoHandle() override { ::close(fd_); }
  SgIoHandle(const SgIoHandle&) = delete;
  SgIoHandle& operator=(const SgIoHandle&) = delete;

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
    if (!has_data) {
      io.dxfer_direction = SG_DXFER_NONE;
    } else {
      io.dxfer_direction = request.direction == kDataOut ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
      io.dxfer_len = request.transfer_length;
      io.dxferp = request.buffer;
    }
    if (::ioctl(fd_, SG_IO, &io) < 0) return errno != 0 ? errno : EIO;
    if (io.host_status != 0) return io.host_status == kDidTimeOut ? ETIMEDOUT : EIO;
    const unsigned driver = io.driver_status & kDriverStatusMask;
    if (driver != 0) return (io.driver_status & 0x0F) == kDriverTimeout ? ETIMEDOUT : EIO;
    std::memset(request.sense, 0, sizeof request.sense);
    if (io.sb_len_wr > 0) ToFixedSense(sense, io.sb_len_wr, request.sense);
    return 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DeviceHandle> OpenSgIoDevice(const std::string& path, int* system_error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) {
    *system_error = errno != 0 ? errno : ENODEV;
    return nullptr;
  }
  return std::make_unique<SgIoHandle>(fd);
}

}  // namespace zorvane
