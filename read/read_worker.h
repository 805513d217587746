// Reading a range of sectors of the loaded disc into a file: 2048-byte user data of a DVD
// or a CD data track, 2336-byte Mode 2 sectors, or a WAVE file of an audio track.
//
// The worker never calls into the dialog's controls: it publishes its position and its end
// in the job it shares with the dialog, and the dialog's refresh timer shows them on the UI
// thread. So the read never waits for the UI thread, and a window that closes never meets
// a worker in the middle of a call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/worker_latch.h"

namespace zorvane {

// Control identifiers of the two read dialogs.
enum ReadControl : int {
  kReadBrowse = 54,
  kReadFirstSector = 1028,
  kReadLastSector = 1029,
  kReadPath = 1030,
  kReadProgress = 1034,
  kSectorReached = 1041,
  kCurrentSpeed = 1044,
  kHighestSpeed = 1069,
  kAverageSpeed = 1080,
  kElapsedTime = 1084,
  kReadMode = 1086,
  kTrackChoice = 1089,
  kReadMedium = 1090,
};

// The dialog's timers: the one-second clock of the speeds, and the refresh that shows the
// worker's position and end.
inline constexpr int kClockTimer = 1;
inline constexpr int kRefreshTimer = 2;
inline constexpr int kRefreshMilliseconds = 100;

// What the dialog hands the worker when OK is pressed.
struct ReadRequest {
  int adr_control = 0x14;  // the track's ADR/control byte as the mode display shows it (hex)
  std::int64_t first = 0;  // first sector to read
  std::int64_t last = 0;   // last sector to read
  std::string path;        // output file
  // The last block of each track as the table of contents counts it (run-out included):
  // only there may a read meet run-out blocks.
  std::vector<std::int64_t> track_ends;
};

enum class ReadOutcome : int {
  kRunning,
  kFinished,   // the range was read and the file renamed into place
  kFailed,     // a command or the file ended the read; OK stays disabled
  kNotOpened,  // the file could not be created; OK is enabled again
  kCancelled,  // the run flag was cleared
};

// The output file is written under a temporary name beside the target and renamed over it
// only when the read finished; a failed or stopped read keeps what it read as NAME.part.

// The state one dialog's run shares with its worker; each run has its own.
struct ReadJob {
  explicit ReadJob(ReadRequest r) : request(std::move(r)) {}

  const ReadRequest request;

  std::atomic<bool> run{true};            // cleared by Cancel
  std::atomic<std::int64_t> current{0};   // first sector of the next command
  std::atomic<std::int64_t> previous{0};  // current sector at the previous clock tick
  std::atomic<std::int64_t> total{0};     // sectors in the range (progress bar's range)
  std::atomic<std::int64_t> done{0};      // sectors read and written
  std::atomic<bool> started{false};       // the range and progress are set
  std::atomic<int> sector_width{6};       // field width of the sector reached

  // Published last, after the file is closed and the drive left as it ends.
  std::atomic<ReadOutcome> outcome{ReadOutcome::kRunning};
  // The worker thread, ended once nothing of it runs any more (StartReadWorker).
  mutable WorkerLatch worker;

  // Why the read did not finish, for front ends that must say it (empty when it did).
  std::string Reason() const;
  void SetReason(std::string reason);
  // "kept N sectors in NAME.part" after a failed or stopped read that kept its sectors.
  std::string Kept() const;
  void SetKept(std::string kept);

 private:
  mutable std::mutex mutex_;
  std::string reason_;
  std::string kept_;
};

// Runs the read on the calling thread (the dialog starts it on a thread of its own).
void ReadWorker(const std::shared_ptr<ReadJob>& job);

// Starts ReadWorker on a detached thread that holds the job.
void StartReadWorker(std::shared_ptr<ReadJob> job);

// The 44-byte header of a WAVE file of `data_length` bytes of 44.1 kHz 16-bit stereo.
void MakeWaveHeader(std::uint32_t data_length, std::uint8_t header[44]);

}  // namespace zorvane
