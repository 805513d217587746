// Linux SCSI generic pass-through: ioctl(SG_IO) on a device node such as /dev/sr0.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <memory>
#include <string>

#include "transport/backend.h"

namespace zorvane {

// Opens the node read-write and non-blocking (so an empty drive still opens); when
// read-write access is refused, opens it read-only, which the kernel accepts for the
// commands it lets unprivileged users send.
std::unique_ptr<DeviceHandle> OpenSgIoDevice(const std::string& path, int* system_error);

// The system call that carries out one request: returns 0, or -1 with errno set, as
// ioctl(fd, SG_IO, header) does. Tests put a kernel of their own in its place.
using SgIoCall = std::function<int(int fd, sg_io_hdr_t* header)>;

// A handle on an open descriptor, which it owns and closes. A null `call` is the real
// ioctl.
std::unique_ptr<DeviceHandle> WrapSgIoDescriptor(int fd, SgIoCall call = nullptr);

}  // namespace zorvane
