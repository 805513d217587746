// The two walks over a source tree: the measurement of one dropped path (its size, its
// counts and the sectors it will take) and the listing of every source into a log. The
// measurement goes depth-first relative to each folder's descriptor, as du does; the
// listing goes breadth-first through a folder queue of its own. Both read sizes as 64-bit
// numbers, never follow a symbolic link, and carry on with the next folder when one cannot
// be read.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transport/console.h"

namespace zorvane {

// One 2048-byte data sector.
inline constexpr std::uint64_t kSectorBytes = 2048;

// A first-in first-out list of folder paths still to be visited. Each walk has its own.
class FolderQueue {
 public:
  void PushFolder(std::string path) { folders_.push_back(std::move(path)); }
  // Takes the oldest folder out; false when the queue is empty.
  bool PopFolder(std::string* path);
  bool Empty() const { return folders_.empty(); }

 private:
  std::deque<std::string> folders_;
};

// A folder the measurement could not read completely, and why (an errno value).
struct ScanProblem {
  std::string path;
  int error = 0;
  bool while_reading = false;  // false: the folder could not be opened
};

// What one source measures.
struct SourceMeasure {
  bool found = false;
  int error = 0;  // errno when not found
  bool folder = false;
  std::uint64_t bytes = 0;    // file data: the file's size, or all files below the folder
  std::uint64_t sectors = 0;  // ceil(bytes / 2048), rounded once for a whole folder
  std::uint64_t files = 0;
  std::uint64_t folders = 0;  // the dropped folder itself included
  std::time_t modified = 0;   // last write of the path itself
  bool stopped = false;       // the stop flag ended the walk early
  std::vector<ScanProblem> problems;
};

// Sectors of 2048 bytes that `bytes` of data need.
inline std::uint64_t SectorsFor(std::uint64_t bytes) {
  return bytes / kSectorBytes + (bytes % kSectorBytes != 0 ? 1 : 0);
}

// Looks the path up: found, folder flag, size and last write (symbolic links at the top
// are followed, so a dropped link to a folder measures the folder).
SourceMeasure LookUpSource(const std::string& path);

// Measures one dropped path. `stop`, when given and set, ends the walk early;
// `on_folder`, when given, hears of each folder just before it is read.
SourceMeasure MeasureSource(const std::string& path, const std::atomic<bool>* stop = nullptr,
                            const std::function<void(const std::string&)>& on_folder = {});

// The last component of a path, from its last slash on, slash included ("/a/b/" gives
// "/b"); the whole path when it has no slash.
std::string DestinationName(const std::string& path);

// Lists the sources into `log`. `source_at(i)` gives the path of row i or nothing past the
// last row (asked again after each row, so rows added meanwhile are listed). Runs while
// `run` holds. Returns false when the listing ended on a source that is not a folder.
bool ListSources(const std::function<std::optional<std::string>(std::size_t)>& source_at,
                 Console* log, const std::atomic<bool>& run);

// Attribute bits of an entry as the listing prints them: 0x01 read-only, 0x02 hidden
// (a name starting with '.'), 0x04 a device, pipe or socket, 0x10 folder, 0x20 file,
// 0x400 symbolic link.
unsigned AttributeBits(unsigned mode, const std::string& name, bool writable);

// The local time of `when` and its offset east of UTC in 15-minute units.
struct LocalStamp {
  int year, month, day, hour, minute, second;
  int quarter_hours;
};
LocalStamp LocalTimeOf(std::time_t when);

}  // namespace zorvane
