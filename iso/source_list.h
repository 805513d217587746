// The source list of the volume dialog: one row per dropped path with its eight column
// texts, the running totals and the drop progress. Folders are measured on a thread of
// the list's own, one after another in drop order; a row shows that it is being measured
// until its walk ends, and the totals take its figures then. Rows can be moved and
// deleted while they are measured.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "iso/source_scan.h"
#include "transport/console.h"

namespace zorvane {

inline constexpr int kSourceColumnCount = 8;

struct SourceColumn {
  const char* header;
  int width;  // pixels; 0: fitted to the header
};
extern const std::array<SourceColumn, kSourceColumnCount> kSourceColumns;

using SourceRowTexts = std::array<std::string, kSourceColumnCount>;

// Runs calls into a front end until it is closed; Close waits for a call in progress.
// The calls must not wait for the user-interface thread.
class Gate {
 public:
  template <typename F>
  bool Run(F&& call) {
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      ++busy_;
    }
    call();
    std::lock_guard lock(mutex_);
    if (--busy_ == 0) done_.notify_all();
    return true;
  }
  void Close() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    done_.wait(lock, [this] { return busy_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int busy_ = 0;
  bool closed_ = false;
};

// A console whose output stops when the gate closes.
class GatedConsole : public Console {
 public:
  explicit GatedConsole(std::shared_ptr<Console> inner) : inner_(std::move(inner)) {}
  void Append(std::string_view text) override {
    gate_.Run([&] { inner_->Append(text); });
  }
  void Clear() override {
    gate_.Run([&] { inner_->Clear(); });
  }
  void Close() { gate_.Close(); }

 private:
  std::shared_ptr<Console> inner_;
  Gate gate_;
};

// What the list shows: the rows, the texts of the totals and the progress bar.
struct SourceListView {
  std::vector<SourceRowTexts> rows;
  std::vector<bool> measuring;
  std::string total_size;     // 1072
  std::string total_folders;  // 1075
  std::string total_files;    // 1078
  int progress_high = 0;
  int progress_position = 0;
};

struct SourceTotals {
  std::uint64_t bytes = 0;
  std::uint64_t disc_bytes = 0;
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
};

// Keys the list handles.
enum class SourceKey { kUp, kDown, kDelete };

// Shown in the size column while a folder is measured.
inline constexpr const char* kMeasuringText = "計算中…";

class SourceList : public std::enable_shared_from_this<SourceList> {
 public:
  static std::shared_ptr<SourceList> Create() {
    return std::shared_ptr<SourceList>(new SourceList());
  }

  // Called after every change, from the thread that made it (the user-interface thread or
  // the measuring thread). It must not wait for the user-interface thread.
  void SetChanged(std::function<void()> changed);
  // Where the measurement says which folders it could not read.
  void SetLog(std::shared_ptr<Console> log);

  // Appends one row per path, in the given order; files are measured at once, folders on
  // the measuring thread. A path that cannot be found gets a message box and stays.
  void Drop(const std::vector<std::string>& paths);

  // Up and Down move the one selected row; Delete removes the selected rows and takes
  // their figures off the totals. Returns the rows to select afterwards, or nothing when
  // the key changed nothing.
  std::optional<std::vector<int>> PressKey(SourceKey key, std::vector<int> selected);

  // Deletes every row and empties the totals.
  void ClearAll();

  // Stops measuring; no more change calls after this returns.
  void Close();

  SourceListView View() const;
  SourceTotals Totals() const;
  std::size_t RowCount() const;
  std::optional<std::string> SourceAt(std::size_t row) const;
  std::vector<std::string> Sources() const;

  // Waits until no folder is being or waiting to be measured (not on the user-interface
  // thread of a window: measuring reports through it).
  void WaitUntilMeasured();

 private:
  SourceList() = default;

  struct Row {
    std::uint64_t key = 0;
    SourceRowTexts columns;
    bool measuring = false;
    bool counted = false;  // its figures are in the totals
    SourceMeasure measure;
  };
  struct Pending {
    std::uint64_t key;
    std::string path;
  };

  void Notify();
  void Measured(std::uint64_t key, const SourceMeasure& measure);
  void ApplyMeasure(Row& row, const SourceMeasure& measure);
  void MeasureLoop();
  void CancelMeasuring(std::uint64_t key);
  void Log(const std::string& text);

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<Row> rows_;
  std::deque<Pending> pending_;
  bool measuring_thread_ = false;
  std::uint64_t current_key_ = 0;
  std::shared_ptr<std::atomic<bool>> current_stop_;
  std::uint64_t next_key_ = 1;
  SourceTotals totals_;
  bool totals_shown_ = false;
  bool after_delete_ = false;
  int progress_high_ = 0;
  int progress_position_ = 0;
  bool closed_ = false;

  std::mutex front_mutex_;  // guards changed_ and log_
  std::function<void()> changed_;
  std::shared_ptr<Console> log_;
  Gate gate_;
};

// The texts of a measured row's columns 1, 2, 3, 5, 6 and 7 (0 and 4 are the paths).
void MeasureTexts(const SourceMeasure& measure, SourceRowTexts& columns);

}  // namespace zorvane
