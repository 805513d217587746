// The drive capability report: serial number, the capabilities mode page (2Ah), speeds,
// write-speed descriptors and the media profiles the drive supports.
#pragma once

#include <cstdint>

#include "info/outcome.h"

namespace zorvane {

// Speed factor of a speed in KB/s as the capability report shows it: CD 1x (176 KB/s)
// when the speed is within 36 KB/s above a multiple of it, DVD 1x (1,385 KB/s) otherwise.
int CapabilitySpeedFactor(std::uint16_t speed);

// Writes the report to the information console. Fails when the capabilities page cannot
// be read (the report ends after the serial line) or the profile list cannot (it ends
// after the write-speed descriptors).
Outcome ShowCapabilities();

}  // namespace zorvane
