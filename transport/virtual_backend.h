// The virtual drive behind the device spec "virtual:PRESET[,KEY=VALUE]...": one drive per
// slot, kept across opens and closes of the slot so that its tray, disc and pending
// conditions survive, and started anew when the slot's spec changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "transport/discovery.h"

namespace zorvane {

// Registers the "virtual" scheme with the transport (once; later calls do nothing).
void RegisterVirtualBackend();

// Checks a device spec before it is used: a "virtual:" spec must describe a drive that
// can start (the reason otherwise); any other spec passes.
bool ValidateDeviceSpec(std::string_view spec, std::string* error);

// Forgets every virtual drive (tests start from a fresh drive).
void ResetVirtualDrives();

// The demo set: a blank CD-R, a DVD+RW, an audio CD and a DVD-ROM on d: to g:.
std::vector<DriveMapping> DemoDriveMappings();

}  // namespace zorvane
