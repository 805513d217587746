#include "iso/source_list.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace zorvane {

const std::array<SourceColumn, kSourceColumnCount> kSourceColumns{{
    {"目的名稱", 128},
    {"大小", 90},
    {"型別", 40},
    {"修改日期", 128},
    {"來源名稱", 300},
    {"檔案數", 0},
    {"目錄數", 0},
    {"將佔光碟容量", 90},
}};

void MeasureTexts(const SourceMeasure& measure, SourceRowTexts& columns) {
  columns[1] = FormatText(64, "%10.2f KB", static_cast<double>(measure.bytes) / 1024.0);
  columns[2] = measure.folder ? "目錄" : "檔案";
  const LocalStamp stamp = LocalTimeOf(measure.modified);
  columns[3] = FormatText(64, "%02d/%02d/%02d %02d:%02d:%02d", stamp.year, stamp.month, stamp.day,
                          stamp.hour, stamp.minute, stamp.second);
  columns[5] = FormatText(32, "%lli", static_cast<long long>(measure.files));
  columns[6] = FormatText(32, "%lli", static_cast<long long>(measure.folders));
  columns[7] = FormatText(32, "%lli KB", static_cast<long long>(measure.sectors) * 2);
}

void SourceList::SetChanged(std::function<void()> changed) {
  std::lock_guard lock(front_mutex_);
  changed_ = std::move(changed);
}

void SourceList::SetLog(std::shared_ptr<Console> log) {
  std::lock_guard lock(front_mutex_);
  log_ = std::move(log);
}

void SourceList::Notify() {
  std::function<void()> changed;
  {
    std::lock_guard lock(front_mutex_);
    changed = changed_;
  }
  if (changed) gate_.Run(changed);
}

void SourceList::Log(const std::string& text) {
  std::shared_ptr<Console> log;
  {
    std::lock_guard lock(front_mutex_);
    log = log_;
  }
  if (log) gate_.Run([&] { log->Append(text); });
}

void SourceList::ApplyMeasure(Row& row, const SourceMeasure& measure) {
  row.measure = measure;
  row.measuring = false;
  MeasureTexts(measure, row.columns);
  row.counted = true;
  totals_.bytes += measure.bytes;
  totals_.disc_bytes += measure.sectors * kSectorBytes;
  totals_.files += measure.files;
  totals_.folders += measure.folders;
  totals_shown_ = true;
  after_delete_ = false;
}

void SourceList::Drop(const std::vector<std::string>& paths) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    // The bar covers the folders still waiting from an earlier drop as well.
    const int waiting = static_cast<int>(pending_.size()) + (current_stop_ ? 1 : 0);
    progress_high_ = waiting + static_cast<int>(paths.size());
    progress_position_ = 0;
  }
  Notify();
  bool start_thread = false;
  for (const std::string& path : paths) {
    const SourceMeasure look = LookUpSource(path);
    if (!look.found) {
      ShowMessage("test", "Invalid File Handle. Get Last Error reports %d\n", look.error);
    }
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
      Row row;
      row.key = next_key_++;
      row.columns[0] = DestinationName(path);
      row.columns[4] = path;
      if (!look.found) {
        row.columns[5] = "0";
        row.columns[6] = "0";
        ++progress_position_;
      } else if (!look.folder) {
        ApplyMeasure(row, look);
        ++progress_position_;
      } else {
        row.measuring = true;
        row.columns[1] = kMeasuringText;
        row.columns[2] = "目錄";
        pending_.push_back(Pending{row.key, path});
        if (!measuring_thread_) {
          measuring_thread_ = true;
          start_thread = true;
        }
      }
      rows_.push_back(std::move(row));
    }
    Notify();
  }
  if (start_thread) {
    // The thread holds the list, so a dialog closed meanwhile leaves it nothing dangling.
    std::thread([self = shared_from_this()] { self->MeasureLoop(); }).detach();
  }
}

void SourceList::MeasureLoop() {
  for (;;) {
    Pending job;
    std::shared_ptr<std::atomic<bool>> stop;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty() || closed_) {
        pending_.clear();
        measuring_thread_ = false;
        idle_.notify_all();
        return;
      }
      job = std::move(pending_.front());
      pending_.pop_front();
      stop = std::make_shared<std::atomic<bool>>(false);
      current_stop_ = stop;
      current_key_ = job.key;
    }
    const SourceMeasure measure = MeasureSource(job.path, stop.get());
    if (!stop->load()) {
      for (const ScanProblem& problem : measure.problems) {
        Log(FormatText(kConsoleTextLimit,
                       problem.while_reading ? "Reading %s stopped: %s (error %d)\n"
                                             : "Cannot list %s: %s (error %d)\n",
                       problem.path.c_str(), std::strerror(problem.error), problem.error));
      }
    }
    {
      std::lock_guard lock(mutex_);
      current_stop_.reset();
      current_key_ = 0;
      if (!stop->load()) Measured(job.key, measure);
      if (progress_position_ < progress_high_) ++progress_position_;
    }
    Notify();
  }
}

void SourceList::Measured(std::uint64_t key, const SourceMeasure& measure) {
  for (Row& row : rows_) {
    if (row.key == key) {
      ApplyMeasure(row, measure);
      return;
    }
  }
}

void SourceList::CancelMeasuring(std::uint64_t key) {
  if (current_stop_ && current_key_ == key) current_stop_->store(true);
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [key](const Pending& p) { return p.key == key; }),
                 pending_.end());
}

std::optional<std::vector<int>> SourceList::PressKey(SourceKey key, std::vector<int> selected) {
  std::optional<std::vector<int>> result;
  {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(rows_.size());
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    selected.erase(std::remove_if(selected.begin(), selected.end(),
                                  [count](int row) { return row < 0 || row >= count; }),
                   selected.end());
    switch (key) {
      case SourceKey::kUp:
      case SourceKey::kDown: {
        if (selected.size() != 1) break;
        const int row = selected.front();
        const int other = key == SourceKey::kUp ? row - 1 : row + 1;
        if (other < 0 || other >= count) break;
        std::swap(rows_[static_cast<std::size_t>(row)], rows_[static_cast<std::size_t>(other)]);
        result = std::vector<int>{other};
        break;
      }
      case SourceKey::kDelete: {
        if (selected.empty()) break;
        for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
          Row& row = rows_[static_cast<std::size_t>(*it)];
          if (row.counted) {
            totals_.files -= std::min(totals_.files, row.measure.files);
            totals_.folders -= std::min(totals_.folders, row.measure.folders);
            totals_.bytes -= std::min(totals_.bytes, row.measure.bytes);
            const std::uint64_t disc = row.measure.sectors * kSectorBytes;
            totals_.disc_bytes -= std::min(totals_.disc_bytes, disc);
          }
          if (row.measuring) CancelMeasuring(row.key);
          rows_.erase(rows_.begin() + *it);
        }
        totals_shown_ = true;
        after_delete_ = true;
        result = std::vector<int>{};
        break;
      }
    }
  }
  if (result) Notify();
  return result;
}

void SourceList::ClearAll() {
  {
    std::lock_guard lock(mutex_);
    if (current_stop_) current_stop_->store(true);
    pending_.clear();
    rows_.clear();
    totals_ = SourceTotals{};
    totals_shown_ = false;
    after_delete_ = false;
  }
  Notify();
}

void SourceList::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (current_stop_) current_stop_->store(true);
    pending_.clear();
  }
  gate_.Close();
}

SourceListView SourceList::View() const {
  std::lock_guard lock(mutex_);
  SourceListView view;
  for (const Row& row : rows_) {
    view.rows.push_back(row.columns);
    view.measuring.push_back(row.measuring);
  }
  if (totals_shown_) {
    const double bytes_kb = static_cast<double>(totals_.bytes) / 1024.0;
    view.total_size = after_delete_ ? FormatText(64, "%10.2f KB(%7lli KB)", bytes_kb,
                                                 static_cast<long long>(totals_.disc_bytes / 1024))
                                    : FormatText(64, "%10.2f KB(%7.0f KB)", bytes_kb,
                                                 static_cast<double>(totals_.disc_bytes) / 1024.0);
    view.total_folders = FormatText(32, "%lli", static_cast<long long>(totals_.folders));
    view.total_files = FormatText(32, "%lli", static_cast<long long>(totals_.files));
  }
  view.progress_high = progress_high_;
  view.progress_position = progress_position_;
  return view;
}

SourceTotals SourceList::Totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

std::size_t SourceList::RowCount() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::optional<std::string> SourceList::SourceAt(std::size_t row) const {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return std::nullopt;
  return rows_[row].columns[4];
}

std::vector<std::string> SourceList::Sources() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> sources;
  for (const Row& row : rows_) sources.push_back(row.columns[4]);
  return sources;
}

void SourceList::WaitUntilMeasured() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !measuring_thread_; });
}

}  // namespace zorvane
