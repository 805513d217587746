// How a report or a short job of the main window ended. The window needs no more than its
// consoles show; the command line turns a failure into its exit status and one line on
// standard error that says why.
#pragma once

#include <cstdint>
#include <string>

namespace zorvane {

struct Outcome {
  bool ok = true;
  std::string reason;  // why it failed, in English; empty when ok
};

inline Outcome Succeeded() {
  return {};
}

inline Outcome Failed(std::string reason) {
  return {false, std::move(reason)};
}

// A command of `cdb`'s opcode that ended with `result` (-1 or a sense code, not 0):
// "the drive refused NAME (SK/ASC/ASCQ=...h, TEXT)" or "NAME could not be sent to the
// drive (the request failed)".
Outcome CommandFailed(const std::uint8_t* cdb, std::int32_t result);

// A medium probe that stopped the job: no drive, no disc, or the tray open.
Outcome ProbeFailed(std::uint8_t code);

}  // namespace zorvane
