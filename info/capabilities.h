// The drive capability report: serial number, the capabilities mode page (2Ah), speeds,
// write-speed descriptors and the media profiles the drive supports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "info/outcome.h"
#include "transport/console.h"

namespace zorvane {

// What the drive answered about itself, decoded once; the console text and the JSON
// document are both written from it. A report cut short by a refusal holds what came
// before it.
struct CapabilitiesReport {
  std::optional<std::string> serial;
  bool page_read = false;           // the capabilities page (2Ah) was there
  std::uint8_t read_bits = 0;       // page byte 2
  std::uint8_t write_bits = 0;      // page byte 3
  std::uint8_t support_bits = 0;    // page byte 4
  std::uint8_t cd_bits = 0;         // page byte 5
  std::uint8_t mechanism_bits = 0;  // page byte 6
  std::uint8_t audio_bits = 0;      // page byte 7
  std::uint16_t volume_levels = 0;
  std::uint16_t buffer_kb = 0;
  std::uint16_t max_read_speed = 0;  // KB/s
  std::uint16_t current_read_speed = 0;
  std::uint16_t max_write_speed = 0;
  std::uint16_t current_write_speed = 0;
  struct WriteSpeed {
    std::uint8_t rotation = 0;  // 0 CLV or non-pure CAV, 1 pure CAV
    std::uint16_t speed = 0;    // KB/s
  };
  std::vector<WriteSpeed> write_speeds;
  std::vector<std::uint8_t> page;  // the page as sent, for what is not decoded
  bool profiles_read = false;
  std::uint8_t current_profile = 0;
  std::vector<std::uint8_t> profiles;  // the Profile List's descriptors, in the drive's order
  bool mrw = false;                    // the MRW feature is there
  bool mrw_current = false;
};

// Sends the capability queries and decodes the answers. Fails as ShowCapabilities does.
Outcome DecodeCapabilities(CapabilitiesReport* report);

// The report's console lines (as far as the report got).
void PrintCapabilities(Console* console, const CapabilitiesReport& report);

// The report's fields as members of the JSON object being written.
void CapabilitiesJson(JsonWriter& json, const CapabilitiesReport& report);

// Speed factor of a speed in KB/s as the capability report shows it: CD 1x (176 KB/s)
// when the speed is within 36 KB/s above a multiple of it, DVD 1x (1,385 KB/s) otherwise.
int CapabilitySpeedFactor(std::uint16_t speed);

// Writes the report to the information console. Fails when the capabilities page cannot
// be read (the report ends after the serial line) or the profile list cannot (it ends
// after the write-speed descriptors).
Outcome ShowCapabilities();

}  // namespace zorvane
