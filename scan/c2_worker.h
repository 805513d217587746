// The C2 error scan: READ CD of the C2 error flags, 25 sectors a command, from the first
// sector to the last the drive reports, counting the sectors with flags and the flags.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "scan/scan_record.h"

namespace zorvane {

// Sectors a command asks for, and what the drive answers for each: 294 bytes of C2 error
// flags (one bit per byte of the 2352-byte sector), the block error byte and a pad byte.
inline constexpr std::uint32_t kC2SectorsPerCommand = 25;
inline constexpr std::size_t kC2FlagBytes = 294;
inline constexpr std::size_t kC2BlockSize = 296;

// The set bits in the flag bytes of one 296-byte block (the block error byte and the pad
// are not counted).
int CountC2Flags(const std::uint8_t* block);

enum class C2Phase : int {
  kStarting,  // before READ CAPACITY has answered
  kScanning,
  kDone,          // every sector scanned, up to the run-out blocks of a track-at-once
                  // track (or the disc holds nothing to scan)
  kStopped,       // the run flag was cleared
  kCommandError,  // a READ CD failed (anywhere but on the run-out blocks, as they answer)
  kNoCapacity,    // READ CAPACITY failed
};

// Shared by the dialog and its worker. The worker writes the figures; the dialog reads
// them and clears `run` to stop the scan before its next command.
struct C2ScanState {
  std::atomic<bool> run{true};
  std::atomic<C2Phase> phase{C2Phase::kStarting};
  std::atomic<std::uint32_t> last{0};      // last sector (READ CAPACITY)
  std::atomic<std::uint32_t> position{0};  // first sector of the command just read
  std::atomic<std::uint32_t> scanned{0};   // sectors read so far
  std::atomic<std::uint32_t> error_sectors{0};
  std::atomic<std::uint32_t> error_flags{0};
  std::atomic<std::int32_t> failure{0};     // result of the command that ended the scan
  std::atomic<std::uint32_t> failed_at{0};  // its first sector
  std::atomic<bool> finished{false};        // set last, after every figure

  // Optional: each command's figures, for the chart (added on the worker's thread).
  std::shared_ptr<ScanRecord> record;
  // Optional: called on the worker's thread after each command has been counted.
  std::function<void(const ScanSample&)> on_command;
};

// Runs the whole scan on the calling thread (the dialog starts it on a thread of its
// own). Commands go to the drive that was current when it started; tracing is on again
// when it returns.
void C2ScanWorker(const std::shared_ptr<C2ScanState>& state);

}  // namespace zorvane
