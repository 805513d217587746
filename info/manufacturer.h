// The manufacturer report: who made the recordable medium (from the CD lead-in start
// time, or the DVD's own maker fields), the DVD physical format and pre-recorded
// information, and the write speeds offered for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "info/outcome.h"
#include "transport/console.h"

namespace zorvane {

struct AtipMaker {
  std::uint8_t minute;  // not used by the look-up
  std::uint8_t second;
  std::uint8_t frame;  // a multiple of 10
  const char* name;
};

// 105 rows in look-up order; the last is "UNKNOWN".
inline constexpr std::size_t kAtipMakerCount = 105;
extern const AtipMaker AtipMakerTable[kAtipMakerCount];

// The maker of the first row whose second matches and whose frame lies in the same ten
// frames; "UNKNOWN" when none does.
const char* AtipMakerName(std::uint8_t second, std::uint8_t frame);

// The first 128 bytes of a reply as a hex dump block.
void HexDump128(Console* console, const std::uint8_t* reply);

// READ DISC STRUCTURE format 00h decoded (nothing when the command fails).
void ShowDvdPhysicalFormat();

// READ DISC STRUCTURE format 0Eh (DVD-R/-RW pre-recorded information) decoded for the
// profile (nothing when the command fails).
void ShowDvdPrePitInfo(std::uint8_t profile);

// Writes the report to `console` (the information console). Fails when the probe stops
// it, when the disc is pressed, when no lead-in time names a CD's maker, and when a
// DVD's profile or (DVD+R/+RW) physical format cannot be read.
Outcome ShowManufacturer(Console* console);

}  // namespace zorvane
