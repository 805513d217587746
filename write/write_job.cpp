#include "write/write_job.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "base/utilities.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"

namespace zorvane {

namespace {

std::mutex pacing_mutex;
WritePacing pacing;

}  // namespace

WritePacing CurrentWritePacing() {
  std::lock_guard lock(pacing_mutex);
  return pacing;
}

void SetWritePacing(WritePacing value) {
  std::lock_guard lock(pacing_mutex);
  pacing = value;
}

void WriteJob::Post(std::function<void(Dialog&)> update, std::uint32_t key) {
  std::lock_guard lock(mutex_);
  if (detached_) return;
  if (key != 0) {
    // The newer update replaces the waiting one and takes its turn after everything
    // queued before it.
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->first == key) {
        pending_.erase(it);
        break;
      }
    }
  }
  pending_.emplace_back(key, std::move(update));
}

void WriteJob::Apply(Dialog& dialog) {
  std::vector<std::pair<std::uint32_t, std::function<void(Dialog&)>>> updates;
  {
    std::lock_guard lock(mutex_);
    if (detached_) return;
    updates.swap(pending_);
  }
  for (auto& update : updates) update.second(dialog);
}

void WriteJob::Detach() {
  std::lock_guard lock(mutex_);
  detached_ = true;
  pending_.clear();
}

namespace {
// Keys of updates that replace each other: kind in the high half, control in the low.
std::uint32_t KeyOf(std::uint32_t kind, int id) {
  return kind << 16 | static_cast<std::uint32_t>(id & 0xFFFF);
}
}  // namespace

void PostedDialog::SetText(int id, std::string text) {
  job_->Post([id, text = std::move(text)](Dialog& dialog) { dialog.SetText(id, text); },
             KeyOf(1, id));
}

void PostedDialog::Enable(int id, bool enabled) {
  job_->Post([id, enabled](Dialog& dialog) { dialog.Enable(id, enabled); });
}

void PostedDialog::SetProgressRange(int id, int low, int high) {
  job_->Post([id, low, high](Dialog& dialog) { dialog.SetProgressRange(id, low, high); });
}

void PostedDialog::SetProgressPosition(int id, int position) {
  job_->Post([id, position](Dialog& dialog) { dialog.SetProgressPosition(id, position); },
             KeyOf(2, id));
}

void PostedDialog::SetProgressStep(int id, int step) {
  job_->Post([id, step](Dialog& dialog) { dialog.SetProgressStep(id, step); });
}

void PostedDialog::StartTimer(int timer_id, int milliseconds) {
  job_->Post(
      [timer_id, milliseconds](Dialog& dialog) { dialog.StartTimer(timer_id, milliseconds); });
}

void PostedDialog::StopTimer(int timer_id) {
  job_->Post([timer_id](Dialog& dialog) { dialog.StopTimer(timer_id); });
}

void PostedDialog::EnableMainButton(int id, bool enabled) {
  job_->Post([id, enabled](Dialog&) {
    if (Dialog* window = MainWindow.load()) window->Enable(id, enabled);
  });
}

DriveAddress CurrentDriveAddress() {
  return DriveAddress{CurrentDevice.slot.load(), CurrentDevice.target.load(),
                      CurrentDevice.lun.load()};
}

std::int32_t SendTo(const DriveAddress& drive, const std::uint8_t* cdb, std::uint32_t length,
                    void* buffer, std::uint8_t direction, std::uint8_t close_after) {
  return ExecuteCdb(cdb, drive.slot, drive.target, drive.lun, length, buffer, direction,
                    close_after);
}

BufferCapacity ReadBufferCapacity(const DriveAddress& drive, std::uint8_t close_after) {
  static constexpr std::uint8_t kCdb[10] = {0x5C, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0};
  std::uint8_t reply[12] = {};
  BufferCapacity capacity;
  if (SendTo(drive, kCdb, sizeof reply, reply, kDataIn, close_after) != 0) return capacity;
  capacity.length = ReadBe32(reply + 4);
  capacity.free = ReadBe32(reply + 8);
  capacity.known = true;
  return capacity;
}

WriteAttempt SendWrite(const DriveAddress& drive, const std::uint8_t* cdb, std::uint32_t bytes,
                       const void* data, const std::atomic<std::uint8_t>& run,
                       const std::function<void(const BufferCapacity&)>& on_buffer,
                       bool poll_buffer) {
  const WritePacing policy = CurrentWritePacing();
  const auto deadline = std::chrono::steady_clock::now() + policy.limit;
  bool sent_again = !poll_buffer;
  WriteAttempt attempt;
  for (;;) {
    BufferCapacity capacity;
    if (poll_buffer) {
      capacity = ReadBufferCapacity(drive, 0);
      if (on_buffer) on_buffer(capacity);
    }
    attempt.sense = SendTo(drive, cdb, bytes, const_cast<void*>(data), kDataOut, 0);
    if (attempt.sense == 0) {
      attempt.outcome = WriteOutcome::kWritten;
      return attempt;
    }
    const bool buffer_full = attempt.sense != -1 && capacity.known && capacity.free < bytes;
    if (IsDriveBusy(attempt.sense) || buffer_full) {
      // Not executed: the drive takes it later or never; wait a little and ask again.
      if (std::chrono::steady_clock::now() >= deadline) {
        attempt.timed_out = true;
        attempt.outcome = WriteOutcome::kFailed;
        return attempt;
      }
      if (run.load() == 0) {
        attempt.outcome = WriteOutcome::kStopped;
        return attempt;
      }
      std::this_thread::sleep_for(policy.pause);
      continue;
    }
    if (sent_again) {
      attempt.outcome = WriteOutcome::kFailed;
      return attempt;
    }
    sent_again = true;
  }
}

bool ReadImageChunk(int fd, std::uint8_t* buffer, std::size_t bytes, int* error) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::read(fd, buffer + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  // The last sector of an image that ends inside it is completed with zeros.
  if (done < bytes) std::memset(buffer + done, 0, bytes - done);
  return true;
}

void DumpBytes(const std::uint8_t* bytes, std::size_t count) {
  Console* console = CommandConsole.load();
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += FormatText(8, "%2.2X ", bytes[i]);
    if ((i + 1) % 16 == 0) text += "\n";
  }
  text += "\n";
  if (console != nullptr) console->Append(text);
}

Console* Info() {
  return InfoConsole.load();
}

Console* Trace() {
  return CommandConsole.load();
}

FileGuard::~FileGuard() {
  if (fd >= 0) ::close(fd);
}

void LogWriteSense(std::int32_t sense) {
  ConsoleLog(Trace(), "sense=%Xh, ", static_cast<unsigned>(sense));
  LogSenseText(Trace(), sense);
  ConsoleLog(Trace(), "GetLastError was %d\n", sense == -1 ? EIO : 0);
}

}  // namespace zorvane
