#include "write/write_job.h"

#include <unistd.h>
#include "transport/exclusive_use.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "base/output_file.h"
#include "base/utilities.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/wave.h"
#include "write/write_dialog.h"

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

void WriteJob::SetFailure(std::string text) {
  std::lock_guard lock(failure_mutex_);
  if (failure_.empty()) failure_ = std::move(text);
}

std::string WriteJob::Failure() const {
  std::lock_guard lock(failure_mutex_);
  return failure_;
}

void WriteJob::ClearFailure() {
  std::lock_guard lock(failure_mutex_);
  failure_.clear();
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

void StartJobWorker(const std::shared_ptr<WriteJob>& job, std::shared_ptr<ExclusiveUse> claim,
                    std::function<void()> work) {
  StartCountedWorker(job->worker,
                     [job, claim = std::move(claim), work = std::move(work)]() mutable {
                       work();
                       claim.reset();
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

std::string SenseInWords(std::int32_t sense) {
  if (sense == -1) return "the request to the drive failed (no sense)";
  std::string text =
      FormatText(64, "sense %02X/%02X/%02X", static_cast<unsigned>(sense >> 16 & 0xFF),
                 static_cast<unsigned>(sense >> 8 & 0xFF), static_cast<unsigned>(sense & 0xFF));
  if (const char* words = SenseText(sense); words != nullptr) {
    std::string name(words);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    text += " (" + name + ")";
  }
  return text;
}

std::string StepFailed(const char* step, std::int32_t sense) {
  return std::string(step) + " failed: " + SenseInWords(sense);
}

bool OpenImage(const std::string& path, bool wave, std::uint32_t sector_size, ImageSource* image,
               std::string* problem) {
  std::int64_t size = 0;
  image->file.fd = OpenInputFile(path, &size, problem);
  if (image->file.fd < 0) return false;
  image->offset = 0;
  image->bytes = static_cast<std::uint64_t>(size);
  if (wave) {
    // The chunks before the samples are read from the first mebibyte of the file.
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(image->bytes, 1 << 20));
    std::size_t got = 0;
    while (got < head.size()) {
      const ssize_t n =
          ::pread(image->file.fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *problem = path + ": " + std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    WaveData data;
    std::string holds;
    if (!ParseWaveHeader(head.data(), got, image->bytes, &data, &holds)) {
      *problem = path + " holds " + holds +
                 "; a CD audio track takes 16-bit stereo PCM at 44100 Hz (RIFF WAVE)";
      return false;
    }
    image->offset = data.offset;
    image->bytes = data.size;
  }
  const std::uint64_t sectors = (image->bytes + sector_size - 1) / sector_size;
  if (sectors > 0xFFFFFFFFULL) {
    *problem = path + " is larger than any disc";
    return false;
  }
  image->sectors = static_cast<std::uint32_t>(sectors);
  image->padding = static_cast<std::uint32_t>(sectors * sector_size - image->bytes);
  image->left = image->bytes;
  if (::lseek(image->file.fd, static_cast<off_t>(image->offset), SEEK_SET) < 0) {
    *problem = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool OpenCheckedImage(const std::string& path, bool wave, std::uint32_t sector_size,
                      ImageSource* image, std::string* problem) {
  errno = 0;
  if (OpenImage(path, wave, sector_size, image, problem)) return true;
  if (image->file.fd < 0 && errno != 0) {
    ConsoleLog(Info(), "檔案 %s 無法被開啟, errorcode=%i\n", path.c_str(), errno);
  }
  ConsoleLog(Info(), "%s\n", problem->c_str());
  return false;
}

std::string WriteFailure(std::int64_t lba, std::uint32_t blocks, const WriteAttempt& attempt) {
  const std::string where = FormatText(96, "WRITE of %u blocks at LBA %lld",
                                       static_cast<unsigned>(blocks), static_cast<long long>(lba));
  if (attempt.timed_out) {
    return where + ": the drive did not take it within " +
           std::to_string(CurrentWritePacing().limit.count() / 1000) + " s, last " +
           SenseInWords(attempt.sense);
  }
  return StepFailed(where.c_str(), attempt.sense);
}

void StopWithSynchronize(WriteJob& job, const DriveAddress& drive, std::uint8_t close_after) {
  static constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  TraceEnabled.store(1);
  if (const std::int32_t sense =
          SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, close_after);
      sense != 0) {
    job.SetFailure(StepFailed("SYNCHRONIZE CACHE", sense));
  }
}

bool ReadImage(ImageSource& image, std::uint8_t* buffer, std::size_t bytes, int* error) {
  const auto from_file = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, image.left));
  if (!ReadImageChunk(image.file.fd, buffer, from_file, error)) return false;
  image.left -= from_file;
  if (from_file < bytes) std::memset(buffer + from_file, 0, bytes - from_file);
  return true;
}

WriteOutcome RunWriteLoop(WriteJob& job, PostedDialog& dialog, const DriveAddress& drive,
                          const WriteLoop& loop) {
  constexpr std::uint32_t kSingleSectorTail = 150;
  auto end = [&job](WriteState state) {
    TraceEnabled.store(1);
    job.state.store(state);
  };
  std::vector<WriteRange> ranges = loop.ranges;
  if (ranges.empty()) ranges.push_back({loop.count, loop.block_size});
  std::uint32_t largest = 0;
  for (const WriteRange& range : ranges) largest = std::max(largest, range.block_size);
  std::vector<std::uint8_t> buffer(std::size_t{loop.chunk} * largest);
  auto show_buffer = [&dialog](const BufferCapacity& now) {
    if (now.known) {
      dialog.SetProgressPosition(kBufferGauge, static_cast<int>(now.length - now.free));
    }
  };
  std::uint8_t write[12] = {};
  write[0] = loop.write12 ? 0xAA : 0x2A;
  const std::int64_t last = loop.start + loop.count;
  std::int64_t lba = loop.start;
  std::size_t range = 0;
  std::int64_t range_end = loop.start + ranges[0].blocks;
  std::uint32_t chunk = loop.chunk;
  int gauge = 0;
  while (lba < last) {
    const auto done = static_cast<std::uint32_t>(lba - loop.start);
    job.sectors_written.store(done);
    if (loop.count_text) {
      dialog.SetText(kSectorCount, FormatText(64, "%i/%i\n", static_cast<int>(done + 1),
                                              static_cast<int>(loop.count)));
    }
    TraceEnabled.store(0);
    if (job.run.load() == 0) {
      StopWithSynchronize(job, drive, loop.close_after);
      if (!loop.stop_line.empty()) ConsoleLog(Info(), "%s\n", loop.stop_line.c_str());
      end(WriteState::kCancelled);
      return WriteOutcome::kStopped;
    }
    if (loop.single_tail && last - lba < kSingleSectorTail) {
      chunk = 1;
      if (loop.tail_gauge_step) dialog.SetProgressStep(kWriteGauge, 1);
    }
    while (lba >= range_end && range + 1 < ranges.size()) {
      ++range;
      range_end += ranges[range].blocks;
    }
    const std::uint32_t size = ranges[range].block_size;
    // The image's own blocks of this WRITE; with whole chunks the last one carries the
    // remaining blocks and then zeros.
    const auto image_blocks =
        static_cast<std::uint32_t>(std::min<std::int64_t>({chunk, last - lba, range_end - lba}));
    const std::uint32_t blocks = loop.whole_chunks ? chunk : image_blocks;
    std::string path;
    int read_error = 0;
    if (!loop.read(lba, buffer.data(), std::size_t{image_blocks} * size, &path, &read_error)) {
      TraceEnabled.store(1);
      ConsoleLog(Info(), "檔案 %s 讀取失敗, errorcode=%i\n", path.c_str(), read_error);
      job.SetFailure(path + ": " + std::strerror(read_error));
      static constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, loop.close_after);
      dialog.StopTimer(kProgressTimer);
      end(WriteState::kFailed);
      return WriteOutcome::kFailed;
    }
    if (blocks > image_blocks) {
      std::memset(buffer.data() + std::size_t{image_blocks} * size, 0,
                  std::size_t{blocks - image_blocks} * size);
    }
    // Addresses before 0 (the first pre-gap of a session at once) go as two's complement.
    WriteBe32(static_cast<std::uint32_t>(lba), write + 2);
    if (loop.write12) {
      WriteBe32(blocks, write + 6);
    } else {
      write[7] = static_cast<std::uint8_t>(blocks >> 8);
      write[8] = static_cast<std::uint8_t>(blocks);
    }
    const WriteAttempt attempt = SendWrite(
        drive, write, blocks * size, buffer.data(), job.run,
        loop.poll_buffer ? std::function<void(const BufferCapacity&)>(show_buffer) : nullptr,
        loop.poll_buffer);
    if (attempt.outcome == WriteOutcome::kStopped) {
      StopWithSynchronize(job, drive, loop.close_after);
      if (!loop.stop_line.empty()) ConsoleLog(Info(), "%s\n", loop.stop_line.c_str());
      end(WriteState::kCancelled);
      return WriteOutcome::kStopped;
    }
    if (attempt.outcome == WriteOutcome::kFailed) {
      TraceEnabled.store(1);
      if (loop.write12) {
        ConsoleLog(Info(), "Write: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
                   write[0], write[1], write[2], write[3], write[4], write[5], write[6], write[7],
                   write[8], write[9], write[10], write[11]);
      } else {
        ConsoleLog(Info(), "WRITE Error: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
                   write[0], write[1], write[2], write[3], write[4], write[5], write[6], write[7],
                   write[8], write[9]);
      }
      LogWriteSense(attempt.sense);
      job.SetFailure(WriteFailure(lba, blocks, attempt));
      dialog.StopTimer(kProgressTimer);
      end(WriteState::kFailed);
      return WriteOutcome::kFailed;
    }
    lba += blocks;
    gauge += static_cast<int>(blocks);
    dialog.SetProgressPosition(kWriteGauge, gauge);
  }
  job.sectors_written.store(loop.count);
  return WriteOutcome::kWritten;
}

void ReportPadding(const ImageSource& image) {
  if (image.padding == 0) return;
  ConsoleLog(Info(), "The image ends inside a sector: %u zero bytes were added to complete it.\n",
             static_cast<unsigned>(image.padding));
}

std::uint32_t FormattedCapacity(const DriveAddress& drive) {
  static constexpr std::uint8_t kReadFormatCapacities[10] = {0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0};
  std::uint8_t reply[252] = {};
  std::uint32_t unformatted = 0;
  if (SendTo(drive, kReadFormatCapacities, sizeof reply, reply, kDataIn, 0) == 0 && reply[3] >= 8) {
    // The current/maximum descriptor: 10b describes the formatted medium.
    const std::uint32_t blocks = ReadBe32(reply + 4);
    if ((reply[8] & 0x03) == 0x02) return blocks;
    if ((reply[8] & 0x03) == 0x01) unformatted = blocks;
  }
  static constexpr std::uint8_t kReadCapacity[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::uint8_t capacity[8] = {};
  if (SendTo(drive, kReadCapacity, sizeof capacity, capacity, kDataIn, 0) == 0) {
    const std::uint32_t last = ReadBe32(capacity);
    if (last != 0 && last != 0xFFFFFFFFU) return last + 1;
  }
  return unformatted;
}

void RefuseTooLarge(WriteJob& job, const std::string& what, std::uint64_t needed,
                    std::uint64_t available) {
  const std::string line = FormatText(
      kConsoleTextLimit, "%s needs %llu blocks, but the disc has %llu.", what.c_str(),
      static_cast<unsigned long long>(needed), static_cast<unsigned long long>(available));
  ConsoleLog(Info(), "%s\n", line.c_str());
  job.SetFailure(line + " Nothing was written.");
}

void LogWriteSense(std::int32_t sense) {
  ConsoleLog(Trace(), "sense=%Xh, ", static_cast<unsigned>(sense));
  LogSenseText(Trace(), sense);
  ConsoleLog(Trace(), "GetLastError was %d\n", sense == -1 ? EIO : 0);
}

}  // namespace zorvane
