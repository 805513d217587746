// The measurements of a scan, kept for the live chart and written as CSV: one sample per
// command of the C2 scan, per PI8 interval of a DVD scan, per second of a CD scan.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/output_file.h"

namespace zorvane {

enum class ScanKind {
  kC2,   // position: first sector of a READ CD; values: sectors read, C2 sectors, C2 flags
  kDvd,  // position: first sector of the interval; values: PIE, PIF
  kCd,   // position: disc time in frames (MM:SS:FF as frames from 00:00:00); BLER, E22, E32
};

struct ScanSample {
  std::int64_t position = 0;
  std::array<std::uint32_t, 3> values{};
};

// The figures a chart plots for a kind: their names and which value each one is.
struct ScanSeries {
  const char* name;
  int value;        // index into ScanSample::values
  bool right_axis;  // drawn against an axis of its own (PIF beside PIE)
};
std::vector<ScanSeries> SeriesOf(ScanKind kind);

// Disc time of a CD frame count as "MM:SS:FF".
std::string FrameTime(std::int64_t frames);

// A CSV file written as the samples come: a header line, then one line per sample. The
// lines go to a temporary file beside the target, which takes the target's name only when
// Commit is called: an existing file is never truncated by a scan that fails or is stopped.
// Every write is checked; the first failure (the path and the system's reason) is kept and
// reported by the calls after it. A writer neither committed nor kept removes its file.
class CsvWriter {
 public:
  CsvWriter() = default;
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // Creates the temporary file and writes the header of `kind`.
  bool Open(const std::string& path, ScanKind kind, std::string* error);
  // Creates the temporary file only; Begin writes the header once the kind is known.
  bool Open(const std::string& path, std::string* error);
  bool Begin(ScanKind kind, std::string* error);
  bool IsOpen() const { return file_.IsOpen(); }
  bool Write(const ScanSample& sample, std::string* error);
  // Renames the file over the target; false (and why) when anything written did not reach
  // the file, and then the target is untouched.
  bool Commit(std::string* error);
  // Keeps what was written as PATH.part; the name kept, or empty (nothing written, or the
  // rename failed: then *error says why).
  std::string KeepPartial(std::string* error);

 private:
  bool Put(const std::string& line, std::string* error);

  OutputFile file_;
  std::string path_;
  ScanKind kind_ = ScanKind::kC2;
  std::string failure_;
};

// The samples of one scan, shared by the worker that adds them and the front end that
// draws them. All calls may come from any thread.
class ScanRecord {
 public:
  explicit ScanRecord(ScanKind kind = ScanKind::kC2) : kind_(kind) {}

  ScanKind Kind() const;

  // Starts over: the kind of scan, its extent (the last position it can reach) and no
  // samples.
  void Reset(ScanKind kind, std::int64_t extent);
  void Add(const ScanSample& sample);

  std::int64_t Extent() const;
  std::size_t Size() const;
  // Changes with every Reset and Add, so a view can tell when to redraw.
  std::uint64_t Version() const;
  std::vector<ScanSample> Samples() const;

  struct Stats {
    std::uint64_t total = 0;
    std::uint32_t max = 0;
    double average = 0;  // per sample
  };
  Stats StatsOf(int value) const;

  // Writes every sample (see CsvWriter): the file takes the place of `path` only when
  // every line was written.
  bool WriteCsv(const std::string& path, std::string* error) const;

 private:
  mutable std::mutex mutex_;
  ScanKind kind_;
  std::int64_t extent_ = 0;
  std::uint64_t version_ = 0;
  std::vector<ScanSample> samples_;
};

}  // namespace zorvane
