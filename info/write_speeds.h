// The write speeds a drive offers for the loaded medium (GET PERFORMANCE, type 03h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "transport/console.h"

namespace zorvane {

struct WriteSpeedEntry {
  std::uint32_t speed;  // KB/s
  std::string line;     // "%4.1fx (%i KB/s)\n"
};

// Speed factor of a write speed: 1x is 176.5 KB/s on CD and 1,385 KB/s on DVD.
double WriteSpeedFactor(std::uint32_t speed, bool is_dvd);

// Sends the query and walks at most 15 descriptors of its 256-byte answer, in the drive's
// order, up to the first speed below 256 KB/s (or the end of the descriptors the drive
// sent). Returns false when the command fails.
bool QueryWriteSpeeds(bool is_dvd, std::vector<WriteSpeedEntry>* entries);

// Prints "\n", "光碟片寫入速率:\n" and one line per speed to the information console;
// nothing when the query fails.
void ListWriteSpeeds(int is_dvd);

// The list's console lines, as ListWriteSpeeds prints them.
void PrintWriteSpeeds(Console* console, const std::vector<WriteSpeedEntry>& entries);

// The list as the member "write_speeds": an array of {"kb_per_s", "factor"}.
void WriteSpeedsJson(JsonWriter& json, bool is_dvd, const std::vector<WriteSpeedEntry>& entries);

}  // namespace zorvane
