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
#include "base/worker_latch.h"
#include "transport/console.h"

namespace zorvane {

class ExclusiveUse;

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
  // While the written sectors are read back and compared: the sectors compared so far.
  std::atomic<bool> verifying{false};
  std::atomic<std::uint32_t> sectors_verified{0};

  bool Running() const { return state.load() == WriteState::kWriting; }
  // The worker thread, ended only after its last step (StartJobWorker).
  WorkerLatch worker;

  // Why the run failed, in words for the command line: the step and the drive's sense, or
  // the path and the system's reason. The first failure given stands; "" while none.
  void SetFailure(std::string text);
  std::string Failure() const;
  void ClearFailure();

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
  mutable std::mutex failure_mutex_;
  std::string failure_;
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

// Runs `work` on a thread of its own that holds `claim` (the drive, exclusively) while it
// runs; when the work returns the claim is let go, and then the job's worker latch ends.
void StartJobWorker(const std::shared_ptr<WriteJob>& job, std::shared_ptr<ExclusiveUse> claim,
                    std::function<void()> work);

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

// A sense code in words: "sense 05/21/00 (LOGICAL BLOCK ADDRESS OUT OF RANGE)", or the
// request's own failure for -1.
std::string SenseInWords(std::int32_t sense);
// "STEP failed: " and the sense in words.
std::string StepFailed(const char* step, std::int32_t sense);

// The image a writer sends, opened read-only without blocking before the first drive
// command: a non-empty regular file, and for CD audio a WAVE file of 16-bit stereo PCM at
// 44,100 Hz, of which only the sample data is sent.
struct ImageSource {
  FileGuard file;
  std::uint64_t offset = 0;   // first byte sent
  std::uint64_t bytes = 0;    // bytes sent from the file
  std::uint32_t sectors = 0;  // sectors they fill, the last one completed with zeros
  std::uint32_t padding = 0;  // the zero bytes that complete the last sector
  std::uint64_t left = 0;     // bytes not read yet
};
// Reads the next `bytes` bytes of the image; past its end (a WAVE file's later chunks
// included) the buffer is filled with zeros. False on a read error (errno in `*error`).
bool ReadImage(ImageSource& image, std::uint8_t* buffer, std::size_t bytes, int* error);
// False with `problem` naming the path and what is wrong; the file is positioned at
// `offset` on success.
bool OpenImage(const std::string& path, bool wave, std::uint32_t sector_size, ImageSource* image,
               std::string* problem);
// OpenImage with the information console's lines: the window's own line with the system's
// error code when the file cannot be opened, then the problem in words.
bool OpenCheckedImage(const std::string& path, bool wave, std::uint32_t sector_size,
                      ImageSource* image, std::string* problem);
// The job's failure for a WRITE that was not taken: its address and blocks, and the sense
// or the time the drive stayed busy.
std::string WriteFailure(std::int64_t lba, std::uint32_t blocks, const WriteAttempt& attempt);
// The end step of a stopped write: SYNCHRONIZE CACHE, so that what the drive took is
// recorded; a refusal is kept as the job's failure.
void StopWithSynchronize(WriteJob& job, const DriveAddress& drive, std::uint8_t close_after);
// The information console's line for an image that ends inside a sector (nothing when it
// does not).
void ReportPadding(const ImageSource& image);

// The chunk loop every writer shares: each WRITE's blocks read from the image, sent with
// the paced resends, counted on the job and the dialog's gauge, the run flag looked at
// before each one. A loop that does not finish ends the job itself: on a stop with
// SYNCHRONIZE CACHE (what the drive took is kept) and kCancelled, on a refused WRITE or a
// failed read with the reason as the job's failure and kFailed. A writer's end steps begin
// where RunWriteLoop returns kWritten.
struct WriteRange {
  std::uint32_t blocks = 0;
  std::uint32_t block_size = 0;
};
struct WriteLoop {
  std::int64_t start = 0;   // the first block's address (a session at once starts at -150)
  std::uint32_t count = 0;  // blocks of the image
  // The block sizes of consecutive ranges of the `count` blocks (a session at once sends
  // each range in its data form's size); empty: every block is `block_size` bytes. A WRITE
  // never covers two ranges.
  std::vector<WriteRange> ranges;
  std::uint32_t block_size = 2048;
  std::uint32_t chunk = 16;      // blocks a WRITE
  bool write12 = false;          // WRITE(12) rather than WRITE(10)
  bool poll_buffer = true;       // read the buffer capacity before each WRITE (see SendWrite)
  bool single_tail = true;       // the last 150 blocks one WRITE each
  bool tail_gauge_step = false;  // ... and the gauge steps by one there
  bool whole_chunks = false;     // each WRITE a whole chunk, the last completed with zeros
  bool count_text = false;       // the sector counter names the block being written
  std::uint8_t close_after = 0;  // of the SYNCHRONIZE CACHE after a stop or a failed read
  std::string stop_line;         // the information console's line on a stop ("" none)
  // Fills `bytes` bytes of `buffer` with the image's blocks from `lba` on; false with the
  // file's path and errno when the read fails.
  std::function<bool(std::int64_t lba, std::uint8_t* buffer, std::size_t bytes, std::string* path,
                     int* error)>
      read;
};
WriteOutcome RunWriteLoop(WriteJob& job, PostedDialog& dialog, const DriveAddress& drive,
                          const WriteLoop& loop);

// Blocks of the formatted area of a medium written at addresses: the current capacity of
// READ FORMAT CAPACITIES when it describes a formatted medium, else the blocks READ
// CAPACITY reports; 0 when neither tells.
std::uint32_t FormattedCapacity(const DriveAddress& drive);

// The refusal of an image that does not fit: both figures, on the information console and
// as the job's failure.
void RefuseTooLarge(WriteJob& job, const std::string& what, std::uint64_t needed,
                    std::uint64_t available);

// The command console's lines for a WRITE that failed for good: the sense and its text,
// and the system error code (EIO when the request itself failed, 0 otherwise).
void LogWriteSense(std::int32_t sense);

// The dump of a parameter list (28 or 60 bytes) to the command console: "%2.2X " per byte, a line
// end after every 16th byte and one at the end.
void DumpBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace zorvane
