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
};

enum class OptionResult { kNotAnOption, kTaken, kError };

// Looks at args[*index]: a front-end option is taken (with its value, advancing *index
// past it), anything else is left. Accepts "--drive L=SPEC", "--drive=L=SPEC",
// "--device L", "--device=L".
OptionResult TakeFrontEndOption(const std::vector<std::string>& args, std::size_t* index,
                                FrontEndOptions* options, std::string* error);

// Help text lines for the front-end options.
const char* FrontEndOptionsHelp();

// After discovery: makes the --device drive current, or the first drive found. Returns
// false with a message when the asked-for drive was not found.
bool SelectStartDevice(const FrontEndOptions& options, std::string* error);

}  // namespace zorvane
