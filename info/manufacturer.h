// The manufacturer report: who made the recordable medium (from the CD lead-in start
// time, or the DVD's own maker fields), the DVD physical format and pre-recorded
// information, and the write speeds offered for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "info/outcome.h"
#include "info/write_speeds.h"
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

// READ DISC STRUCTURE format 00h (the DVD physical format information), decoded.
struct PhysicalFormat {
  std::uint8_t book_type = 0;  // 0 DVD-ROM, 1 DVD-RAM, 2 DVD-R, 3 DVD-RW, 9 DVD+RW, 10 DVD+R
  std::uint8_t part_version = 0;
  std::uint8_t disc_size = 0;     // 0 120 mm, 1 80 mm
  std::uint8_t maximum_rate = 0;  // 0 2.52, 1 5.04, 2 10.08 Mbps, 15 not specified
  std::uint8_t layers = 0;        // the field: layers less one
  bool opposite_track_path = false;
  std::uint8_t layer_type = 0;  // bit 0 embossed, 1 recordable, 2 rewritable
  std::uint8_t linear_density = 0;
  std::uint8_t track_density = 0;
  std::uint32_t data_start = 0;  // physical sector numbers
  std::uint32_t data_end = 0;
  std::uint32_t layer0_end = 0;
  bool burst_cutting_area = false;
};

// What the drive answered about the medium's maker, decoded once; the console text and
// the JSON document are both written from it.
struct ManufacturerReport {
  enum class Kind { kNoDevice, kPressedCd, kNoDisc, kDoorOpen, kDvd, kCd };
  Kind kind = Kind::kNoDevice;
  std::uint8_t medium_code = 0;
  // DVD
  bool profile_read = false;
  std::uint8_t profile = 0;
  bool physical_refused = false;           // DVD+R/+RW: the physical format was refused
  std::optional<std::string> maker_id;     // DVD+R/+RW from the physical format
  std::vector<std::uint8_t> pre_recorded;  // DVD-R/-RW: format 0Eh as sent (128 bytes)
  std::optional<PhysicalFormat> physical;
  std::vector<std::uint8_t> physical_raw;  // format 00h as sent (128 bytes)
  std::array<std::uint8_t, 128> dump{};    // the reply buffer the report ends with
  // CD: the lead-in start time and the maker it names.
  bool lead_in_found = false;
  int lead_in_minute = 0;
  int lead_in_second = 0;
  int lead_in_frame = 0;
  // The write speeds offered for the medium.
  bool speeds_read = false;
  std::vector<WriteSpeedEntry> speeds;

  const char* LeadInMaker() const {
    return AtipMakerName(static_cast<std::uint8_t>(lead_in_second),
                         static_cast<std::uint8_t>(lead_in_frame));
  }
};

// Sends the maker queries and decodes the answers. Fails as ShowManufacturer does.
Outcome DecodeManufacturer(ManufacturerReport* report);

// The report's console lines.
void PrintManufacturer(Console* console, const ManufacturerReport& report);

// The report's fields as members of the JSON object being written.
void ManufacturerJson(JsonWriter& json, const ManufacturerReport& report);

// Writes the report to `console` (the information console). Fails when the probe stops
// it, when the disc is pressed, when no lead-in time names a CD's maker, and when a
// DVD's profile or (DVD+R/+RW) physical format cannot be read.
Outcome ShowManufacturer(Console* console);

}  // namespace zorvane
