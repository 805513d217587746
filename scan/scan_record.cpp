#include "scan/scan_record.h"

#include <cstring>

#include "transport/console.h"

namespace zorvane {

namespace {

constexpr std::int64_t kFramesPerSecond = 75;
constexpr std::int64_t kFramesPerMinute = 60 * kFramesPerSecond;
constexpr std::int64_t kLeadInFrames = 150;  // 00:02:00 is sector 0

const char* HeaderOf(ScanKind kind) {
  switch (kind) {
    case ScanKind::kC2:
      return "lba,sectors,c2_sectors,c2_flags\n";
    case ScanKind::kDvd:
      return "lba,pie,pif\n";
    case ScanKind::kCd:
      return "time,lba,bler,e22,e32\n";
  }
  return "\n";
}

std::string LineOf(ScanKind kind, const ScanSample& s) {
  const auto& v = s.values;
  const auto position = static_cast<long long>(s.position);
  switch (kind) {
    case ScanKind::kC2:
      return FormatText(256, "%lld,%u,%u,%u\n", position, v[0], v[1], v[2]);
    case ScanKind::kDvd:
      return FormatText(256, "%lld,%u,%u\n", position, v[0], v[1]);
    case ScanKind::kCd:
      return FormatText(256, "%s,%lld,%u,%u,%u\n", FrameTime(s.position).c_str(),
                        position - kLeadInFrames, v[0], v[1], v[2]);
  }
  return "\n";
}

}  // namespace

std::vector<ScanSeries> SeriesOf(ScanKind kind) {
  switch (kind) {
    case ScanKind::kC2:
      return {{"C2 sectors", 1, false}, {"C2 flags", 2, true}};
    case ScanKind::kDvd:
      return {{"PIE", 0, false}, {"PIF", 1, true}};
    case ScanKind::kCd:
      return {{"BLER", 0, false}, {"E22", 1, false}, {"E32", 2, false}};
  }
  return {};
}

std::string FrameTime(std::int64_t frames) {
  if (frames < 0) frames = 0;
  return FormatText(32, "%02lld:%02lld:%02lld", static_cast<long long>(frames / kFramesPerMinute),
                    static_cast<long long>(frames / kFramesPerSecond % 60),
                    static_cast<long long>(frames % kFramesPerSecond));
}

bool CsvWriter::Open(const std::string& path, ScanKind kind, std::string* error) {
  return Open(path, error) && Begin(kind, error);
}

bool CsvWriter::Open(const std::string& path, std::string* error) {
  failure_.clear();
  path_ = path;
  int code = 0;
  if (!file_.Create(path, &code)) {
    failure_ = path + ": " + std::strerror(code);
    if (error != nullptr) *error = failure_;
    return false;
  }
  return true;
}

bool CsvWriter::Begin(ScanKind kind, std::string* error) {
  kind_ = kind;
  return Put(HeaderOf(kind), error);
}

bool CsvWriter::Put(const std::string& line, std::string* error) {
  if (failure_.empty() && !file_.IsOpen()) failure_ = path_ + ": not open";
  int code = 0;
  if (failure_.empty() && !file_.Write(line.data(), line.size(), &code)) {
    failure_ = path_ + ": " + std::strerror(code);
  }
  if (!failure_.empty() && error != nullptr) *error = failure_;
  return failure_.empty();
}

bool CsvWriter::Write(const ScanSample& sample, std::string* error) {
  return Put(LineOf(kind_, sample), error);
}

bool CsvWriter::Commit(std::string* error) {
  if (failure_.empty() && !file_.IsOpen()) failure_ = path_ + ": not open";
  int code = 0;
  if (failure_.empty() && !file_.Commit(&code)) failure_ = path_ + ": " + std::strerror(code);
  if (!failure_.empty()) {
    file_.Abandon();
    if (error != nullptr) *error = failure_;
  }
  return failure_.empty();
}

std::string CsvWriter::KeepPartial(std::string* error) {
  int code = 0;
  std::string kept = file_.KeepPartial(&code);
  if (kept.empty() && code != 0 && error != nullptr)
    *error = path_ + ".part: " + std::strerror(code);
  return kept;
}

ScanKind ScanRecord::Kind() const {
  std::lock_guard lock(mutex_);
  return kind_;
}

void ScanRecord::Reset(ScanKind kind, std::int64_t extent) {
  std::lock_guard lock(mutex_);
  kind_ = kind;
  extent_ = extent;
  samples_.clear();
  ++version_;
}

void ScanRecord::Add(const ScanSample& sample) {
  std::lock_guard lock(mutex_);
  samples_.push_back(sample);
  ++version_;
}

std::int64_t ScanRecord::Extent() const {
  std::lock_guard lock(mutex_);
  return extent_;
}

std::size_t ScanRecord::Size() const {
  std::lock_guard lock(mutex_);
  return samples_.size();
}

std::uint64_t ScanRecord::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

std::vector<ScanSample> ScanRecord::Samples() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

ScanRecord::Stats ScanRecord::StatsOf(int value) const {
  std::lock_guard lock(mutex_);
  Stats stats;
  if (value < 0 || value >= 3) return stats;
  for (const ScanSample& sample : samples_) {
    const std::uint32_t v = sample.values[static_cast<std::size_t>(value)];
    stats.total += v;
    if (v > stats.max) stats.max = v;
  }
  if (!samples_.empty()) {
    stats.average = static_cast<double>(stats.total) / static_cast<double>(samples_.size());
  }
  return stats;
}

bool ScanRecord::WriteCsv(const std::string& path, std::string* error) const {
  const std::vector<ScanSample> samples = Samples();
  CsvWriter writer;
  if (!writer.Open(path, Kind(), error)) return false;
  for (const ScanSample& sample : samples) {
    if (!writer.Write(sample, error)) return false;  // the old file stays as it was
  }
  return writer.Commit(error);
}

}  // namespace zorvane
