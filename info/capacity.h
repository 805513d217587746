// The disc capacity report: size and use of the loaded disc.
#pragma once

#include <cstdint>
#include <optional>

#include "base/dialog.h"
#include "base/json_writer.h"
#include "info/outcome.h"
#include "transport/console.h"

namespace zorvane {

// What the drive answered about the disc's size, decoded once; the console text and the
// JSON document are both written from it.
struct CapacityReport {
  std::uint8_t medium_code = 0;
  bool dvd = false;
  bool profile_read = false;  // DVD: GET CONFIGURATION answered
  std::uint8_t profile = 0;   // DVD: the current profile (0: no disc)
  // CD: the lead-out start time, from the ATIP or else from the disc information.
  bool has_lead_out = false;
  bool lead_out_from_disc_information = false;
  int lead_out_minute = 0;
  int lead_out_second = 0;
  int lead_out_frame = 0;
  std::optional<std::uint32_t> free_blocks;  // READ TRACK INFORMATION, when not 0
  std::optional<std::uint32_t> last_block;   // READ CAPACITY, when given and not 0
  std::optional<bool> closed;                // CD-R/RW: the disc status says complete

  int LeadOutBlocks() const {
    return (lead_out_minute * 60 + lead_out_second) * 75 + lead_out_frame;
  }
};

// Sends the capacity queries for a disc of medium-type `code` (after the probe) and
// decodes their answers. Fails on a DVD whose current profile cannot be read or is 0.
Outcome DecodeCapacity(std::uint8_t code, CapacityReport* report);

// The report's console lines.
void PrintCapacity(Console* console, const CapacityReport& report);

// The report's fields as members of the JSON object being written.
void CapacityJson(JsonWriter& json, const CapacityReport& report);

// Writes the report to the information console (applying the window's clear-before-run
// rule first). Fails when the probe stops it (no drive, no disc, tray open) or, on a DVD,
// when the current profile cannot be read or names no disc.
Outcome ShowCapacity(Dialog& window);

}  // namespace zorvane
