// Options both front ends take: which device each drive letter is, and which drive is
// current at start.
#pragma once

#include <string>
#include <vector>

#include "transport/discovery.h"

namespace zorvane {

struct FrontEndOptions {
  std::vector<DriveMapping> mappings;  // --drive L=SPEC
  int device_slot = -1;                // --device L
  bool demo = false;                   // --demo
};

enum class OptionResult { kNotAnOption, kTaken, kError };

// Looks at args[*index]: a front-end option is taken (with its value, advancing *index
// past it), anything else is left. Accepts "--drive L=SPEC", "--drive=L=SPEC",
// "--device L", "--device=L" and "--demo". A virtual drive's spec is checked here, so a
// spec it cannot start from is an error of the command line.
OptionResult TakeFrontEndOption(const std::vector<std::string>& args, std::size_t* index,
                                FrontEndOptions* options, std::string* error);

// Help text lines for the front-end options.
const char* FrontEndOptionsHelp();

// The drive map the options ask for: the demo set with the --drive mappings laid over it
// letter by letter, or the --drive mappings alone.
std::vector<DriveMapping> RequestedMappings(const FrontEndOptions& options);

// After discovery: makes the --device drive current, or the first drive found. Returns
// false with a message when the asked-for drive was not found.
bool SelectStartDevice(const FrontEndOptions& options, std::string* error);

// Why no drive answered: for each slot that has a device spec, one line naming the slot,
// what the slot was given and the reason (the system's error text, or the drive's refusal), as
// found by opening the device again and sending it INQUIRY without a trace. Used after discovery
// found nothing.
std::vector<std::string> ExplainMissingDrives();

// The last line after those reasons: where to go without a drive.
inline constexpr const char* kNoDriveHint =
    "no drive answered; --demo attaches virtual drives (a blank CD-R, a DVD+RW, an audio CD "
    "and a DVD-ROM) to try the program without one";

}  // namespace zorvane
