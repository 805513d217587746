// Linux SCSI generic pass-through: ioctl(SG_IO) on a device node such as /dev/sr0.
#pragma once

#include <memory>
#include <string>

#include "transport/backend.h"

namespace zorvane {

// Opens the node read-write and non-blocking (so an empty drive still opens); when
// read-write access is refused, opens it read-only, which the kernel accepts for the
// commands it lets unprivileged users send.
std::unique_ptr<DeviceHandle> OpenSgIoDevice(const std::string& path, int* system_error);

}  // namespace zorvane
