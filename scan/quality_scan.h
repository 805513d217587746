// The PIE/PIF scan of a DVD and the BLER/E22/E32 scan of a CD, with the vendor commands of
// the drives that offer them. One status line per measurement in the information console
// (the console is emptied before each, so it reads as a live display). The scan ends when
// a command fails (the drive fails the measurement after the end of the disc) or when it
// is stopped. Only one quality scan runs at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/dialog.h"
#include "scan/scan_record.h"

namespace zorvane {

enum class QualityScanEnd : int {
  kRunning,
  kNoDevice,       // the probe could not reach the drive
  kCapacityError,  // "Read Capacity Error."
  kNoDisc,         // no disc, or the tray is open
  kNothingToScan,  // "光碟片尚未寫入資料." (READ CAPACITY names no recorded block)
  kStartError,     // "Initial Scan Error N."
  kScanError,      // "Scan Error." (a measurement or the CD position failed)
  kCountError,     // "CX Read Error."
  kResetError,     // "CX rst Error."
  kStopped,        // the run flag was cleared
};

// Shared by the worker and whoever started it. The worker writes the figures; the
// starter reads them and clears `run` to stop the scan before its next command.
struct QualityScanState {
  std::atomic<bool> run{true};
  std::atomic<QualityScanEnd> end{QualityScanEnd::kRunning};
  std::atomic<bool> dvd{false};            // known once the scan has begun measuring
  std::atomic<std::uint32_t> capacity{0};  // last sector (READ CAPACITY)
  std::atomic<std::uint32_t> measurements{0};
  std::atomic<std::int32_t> failure{0};       // result of the command that ended the scan
  std::atomic<std::uint32_t> totals[3] = {};  // PIE, PIF (DVD) or BLER, E22, E32 (CD)
  std::atomic<bool> finished{false};          // set last, after every figure

  // Optional: the measurements for a chart (reset with the kind when the scan begins).
  std::shared_ptr<ScanRecord> record;
  // Optional: called on the worker's thread with each measurement.
  std::function<void(const ScanSample&)> on_sample;
};

// True while a quality scan runs.
bool QualityScanRunning();

// Applies the clear-before-run rule to `window` on the calling thread, then runs the scan
// on a thread of its own. Returns null, and starts nothing, while another quality scan
// runs: two scans would interleave their vendor commands on one drive.
std::shared_ptr<QualityScanState> StartQualityScan(
    Dialog& window, std::shared_ptr<ScanRecord> record = nullptr,
    std::function<void(const ScanSample&)> on_sample = {});

// The scan itself from the medium probe on (the thread's body).
void QualityScanWorker(const std::shared_ptr<QualityScanState>& state);

// The BLER per second of a CD status line: the BLER total over the measurements so far
// (n + 1 of them) at 75 blocks a second, in single precision.
float BlerPerSecond(std::uint32_t bler_total, std::uint32_t n);

}  // namespace zorvane
