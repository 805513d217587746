// The table of contents report, and TrackList: the tracks it found, from which the read
// dialogs offer sector ranges.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/dialog.h"
#include "base/json_writer.h"
#include "info/outcome.h"
#include "transport/console.h"

namespace zorvane {

struct TrackEntry {
  std::uint8_t track = 0;        // 1..99; 0 marks an empty row and ends the list
  std::uint8_t adr_control = 0;  // as the drive returned it
  std::int32_t first_block = 0;
  std::int32_t last_block = 0;  // inclusive
};

inline constexpr int kTrackRows = 99;

// The 99 rows, shared by the report (UI thread) and the reader (its worker); each access
// takes the table's lock.
class TrackTable {
 public:
  void Set(int row, const TrackEntry& entry);
  TrackEntry Get(int row) const;
  void Clear();          // every row
  void ClearFirstRow();  // what the report itself clears

 private:
  mutable std::mutex mutex_;
  std::array<TrackEntry, kTrackRows> rows_{};
};

extern TrackTable TrackList;

// One track of the table, as the report shows it.
struct TocTrack {
  std::uint8_t track = 0;
  std::uint8_t session = 0;  // CD only (0 on DVD)
  std::uint8_t adr_control = 0;
  std::int32_t start = 0;
  std::int32_t length = 0;
  // The descriptor's two times as sent (CD: raw TOC and PMA descriptors' MIN/SEC/FRAME
  // and PMIN/PSEC/PFRAME).
  std::array<std::uint8_t, 3> time{};
  std::array<std::uint8_t, 3> p_time{};
};

// A raw CD TOC descriptor that is not a track (points A0h..C0h), as sent.
struct TocPoint {
  std::uint8_t session = 0;
  std::uint8_t adr_control = 0;
  std::uint8_t point = 0;
  std::array<std::uint8_t, 3> time{};
  std::uint8_t zero = 0;  // byte 7
  std::array<std::uint8_t, 3> p_time{};
};

// What the drive answered for the table of contents (and, on recordable CDs, the PMA),
// decoded once; the console text and the JSON document are both written from it.
struct TocReport {
  std::uint8_t medium_code = 0;
  bool dvd = false;
  bool table_read = false;  // false: the drive gave no table
  int data_length = 0;      // of the table's header
  std::uint8_t first = 0;   // CD: first session, DVD: first track (header byte 2)
  std::uint8_t last = 0;    // CD: last session, DVD: last track (header byte 3)
  // In the drive's order: CD descriptors are tracks or points, told apart by `entries`.
  std::vector<TocTrack> tracks;
  std::vector<TocPoint> points;
  // CD: the order of the descriptors: true for the next track, false for the next point.
  std::vector<bool> entries;
  enum class Pma { kNotAsked, kRefused, kEmpty, kRead } pma = Pma::kNotAsked;
  std::vector<TocTrack> pma_tracks;
  std::vector<std::uint8_t> raw;  // the table as the drive sent it
};

// Sends the table queries for a disc of medium-type `code` (after the probe), decodes the
// answers and fills TrackList.
void DecodeTableOfContents(std::uint8_t code, TocReport* report);

// The report's console lines.
void PrintTableOfContents(Console* console, const TocReport& report);

// The report's fields as members of the JSON object being written.
void TableOfContentsJson(JsonWriter& json, const TocReport& report);

// Writes the table of contents of the loaded disc to the information console and fills
// TrackList (applying the window's clear-before-run rule first). Fails when the probe
// stops it (no drive, no disc, tray open); a disc without a table (a blank one) is no
// failure.
Outcome ShowTableOfContents(Dialog& window);

}  // namespace zorvane
