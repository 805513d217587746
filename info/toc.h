// The table of contents report, and TrackList: the tracks it found, from which the read
// dialogs offer sector ranges.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "base/dialog.h"
#include "info/outcome.h"

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

// Writes the table of contents of the loaded disc to the information console and fills
// TrackList (applying the window's clear-before-run rule first). Fails when the probe
// stops it (no drive, no disc, tray open); a disc without a table (a blank one) is no
// failure.
Outcome ShowTableOfContents(Dialog& window);

}  // namespace zorvane
