// What a write dialog and its worker share: the run flag, the dialog's own sector counter,
// the job's outcome, and the updates the worker posts for the dialog's controls. The
// worker never calls the dialog directly: it posts updates, and the dialog applies them on
// its own thread (a closed dialog drops them), so a dialog that goes away while its worker
// runs leaves nothing dangling.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/dialog.h"
#include "transport/console.h"

namespace zorvane {

enum class WriteState : int {
  kIdle,       // no run yet
  kWriting,    // the worker is running
  kFinished,   // the image was written and the end steps done
  kFailed,     // the worker ended on an error
  kCancelled,  // the run flag was cleared; the worker stopped before its next chunk
};

// How long a WRITE the drive cannot take yet (becoming ready, operation or long write in
// progress, a full buffer) is offered again, and the pause at the end of a CD write.
struct WritePacing {
  std::chrono::milliseconds pause{5};
  std::chrono::milliseconds limit{60000};
  std::chrono::milliseconds settle{3000};
};
WritePacing CurrentWritePacing();
void SetWritePacing(WritePacing pacing);

class WriteJob {
 public:
  // 1 = keep writing; the dialog's Cancel sets 0.
  std::atomic<std::uint8_t> run{0};
  // SectorsWritten of this dialog: sectors written since the worker's start address.
  std::atomic<std::uint32_t> sectors_written{0};
  // Sectors of the image being written (for progress displays outside the dialog).
  std::atomic<std::uint32_t> total_sectors{0};
  std::atomic<WriteState> state{WriteState::kIdle};

  bool Running() const { return state.load() == WriteState::kWriting; }

  // Queues an update of the dialog's controls. Updates with the same non-zero key replace
  // each other while they wait (a gauge position, a counter text).
  void Post(std::function<void(Dialog&)> update, std::uint32_t key = 0);
  // Applies the queued updates in order (on the dialog's thread).
  void Apply(Dialog& dialog);
  // The dialog is gone: updates from now on are dropped.
  void Detach();

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::uint32_t, std::function<void(Dialog&)>>> pending_;
  bool detached_ = false;
};

// The worker's side of the dialog: each call is posted to the job and carried out when the
// dialog applies its updates.
class PostedDialog {
 public:
  explicit PostedDialog(std::shared_ptr<WriteJob> job) : job_(std::move(job)) {}
  void SetText(int id, std::string text);
  void Enable(int id, bool enabled);
  void SetProgressRange(int id, int low, int high);
  void SetProgressPosition(int id, int position);
  void SetProgressStep(int id, int step);
  void StartTimer(int timer_id, int milliseconds);
  void StopTimer(int timer_id);
  // A button of the main window (the one that opened the dialog).
  void EnableMainButton(int id, bool enabled);

 private:
  std::shared_ptr<WriteJob> job_;
};

// The drive of one run, taken when the worker starts.
struct DriveAddress {
  std::uint8_t slot = 0;
  std::uint8_t target = 0;
  std::uint32_t lun = 0;
};
DriveAddress CurrentDriveAddress();

std::int32_t SendTo(const DriveAddress& drive, const std::uint8_t* cdb, std::uint32_t length,
                    void* buffer, std::uint8_t direction, std::uint8_t close_after);

// READ BUFFER CAPACITY (5Ch, allocation FFh): buffer length and free length in bytes.
struct BufferCapacity {
  std::uint32_t length = 0;
  std::uint32_t free = 0;
  bool known = false;
};
BufferCapacity ReadBufferCapacity(const DriveAddress& drive, std::uint8_t close_after);

// Senses that mean "not executed yet, offer it again".
inline constexpr std::int32_t kBecomingReady = 0x020401;
inline constexpr std::int32_t kOperationInProgress = 0x020407;
inline constexpr std::int32_t kLongWriteInProgress = 0x020408;
inline bool IsDriveBusy(std::int32_t sense) {
  return sense == kBecomingReady || sense == kOperationInProgress || sense == kLongWriteInProgress;
}

enum class WriteOutcome { kWritten, kFailed, kStopped };
struct WriteAttempt {
  WriteOutcome outcome = WriteOutcome::kFailed;
  std::int32_t sense = 0;  // the last result
  bool timed_out = false;  // the drive stayed busy or full past the pacing limit
};

// Sends one WRITE (data out, `bytes` bytes) until the drive takes it. Before each send the
// buffer capacity is read and handed to `on_buffer`. While the drive answers that it is
// busy, or refuses the write with less free buffer than the write needs, the same WRITE is
// offered again after a short pause until the pacing limit has passed; any other refusal
// is sent once more. Stops early (kStopped) when `run` is cleared during the waits.
//
// With `poll_buffer` clear, no buffer capacity is read and a refusal other than "busy" is
// final at once (the address writer sends each WRITE once).
WriteAttempt SendWrite(const DriveAddress& drive, const std::uint8_t* cdb, std::uint32_t bytes,
                       const void* data, const std::atomic<std::uint8_t>& run,
                       const std::function<void(const BufferCapacity&)>& on_buffer,
                       bool poll_buffer = true);

// Reads up to `bytes` bytes of an image file; the part past the end of the file is filled
// with zeros. Returns false on a read error (errno in `*error`).
bool ReadImageChunk(int fd, std::uint8_t* buffer, std::size_t bytes, int* error);

// Whole units (kilobytes, megabytes) in a byte count, as the size displays show them.
inline std::uint64_t WholeUnits(std::uint64_t bytes, std::uint64_t unit) {
  return bytes / unit;
}

// The two consoles the writers print to.
Console* Info();
Console* Trace();

// Closes an image file on every way out of a writer.
struct FileGuard {
  int fd = -1;
  ~FileGuard();
};

// The command console's lines for a WRITE that failed for good: the sense and its text,
// and the system error code (EIO when the request itself failed, 0 otherwise).
void LogWriteSense(std::int32_t sense);

// The dump of a parameter list (28 or 60 bytes) to the command console: "%2.2X " per byte, a line
// end after every 16th byte and one at the end.
void DumpBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace zorvane
