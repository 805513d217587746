#include "read/read_worker.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "base/output_file.h"
#include "base/utilities.h"
#include "info/commands.h"
#include "info/media.h"
#include "info/outcome.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

constexpr std::size_t kReadBufferSize = 65535;
constexpr std::int64_t kSingleSectorTail = 150;  // the last sectors go one at a time
constexpr std::uint32_t kWaveHeaderSize = 44;

// ILLEGAL MODE FOR THIS TRACK: what drives answer for the run-out blocks that end a track
// written track at once (and for any block that is not of the kind asked for).
constexpr SenseCode kIllegalModeForTrack = 0x056400;
// Run-out blocks after the data of a track-at-once track.
constexpr std::int64_t kRunOutBlocks = 2;

constexpr const char* kOpenFailedMessage = "檔案 %s 無法被開啟, errorcode=%i\n";
constexpr const char* kWriteFailedMessage = "檔案 %s 無法寫入, errorcode=%i\n";

Console* Info() {
  return InfoConsole.load();
}

// Writes the read's sectors on a thread of its own, so that the drive's next command and
// the file system's write of the last one overlap. A few buffers go round: the reader
// fills a free one and hands it over; the writer writes it and gives it back. After a
// failed write the writer takes nothing more and the reader learns it at its next buffer.
class OutputPipe {
 public:
  static constexpr std::size_t kBuffers = 4;

  explicit OutputPipe(OutputFile& file) : file_(file) {
    for (auto& buffer : storage_) {
      buffer.resize(kReadBufferSize + 1);
      free_.push_back(buffer.data());
    }
    thread_ = std::thread([this] { Run(); });
  }
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;
  ~OutputPipe() {
    int ignored = 0;
    Finish(&ignored);
  }

  // A free buffer, or null once a write has failed.
  std::uint8_t* Acquire() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || !free_.empty(); });
    if (failed_) return nullptr;
    std::uint8_t* buffer = free_.front();
    free_.pop_front();
    return buffer;
  }

  void Submit(std::uint8_t* buffer, std::size_t size) {
    {
      std::lock_guard lock(mutex_);
      pending_.emplace_back(buffer, size);
    }
    changed_.notify_all();
  }

  // Gives back a buffer that was not filled.
  void Release(std::uint8_t* buffer) {
    {
      std::lock_guard lock(mutex_);
      free_.push_back(buffer);
    }
    changed_.notify_all();
  }

  // Writes everything handed over and ends the writer. False (with the error) when a write
  // failed.
  bool Finish(int* error) {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (failed_) *error = error_;
    return !failed_;
  }

  int Error() {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      if (pending_.empty()) return;  // stopped, and all written
      const auto [buffer, size] = pending_.front();
      pending_.pop_front();
      bool written = true;
      int error = 0;
      if (!failed_) {
        lock.unlock();
        written = file_.Write(buffer, size, &error);
        lock.lock();
      }
      if (!written) {
        failed_ = true;
        error_ = error;
      }
      free_.push_back(buffer);
      changed_.notify_all();
    }
  }

  OutputFile& file_;
  std::vector<std::uint8_t> storage_[kBuffers];
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::uint8_t*> free_;
  std::deque<std::pair<std::uint8_t*, std::size_t>> pending_;
  bool stop_ = false;
  bool failed_ = false;
  int error_ = 0;
  std::thread thread_;
};

struct Method {
  std::uint8_t opcode;       // A8h READ(12) or BEh READ CD
  std::uint8_t sector_type;  // READ CD byte 1: the expected sector type
  std::uint8_t fields;       // READ CD byte 9: the fields of each sector
  int per_command;
  std::size_t sector_size;
  bool dvd;
  bool audio;
  const char* message;  // logged when a failure ends the read
};

constexpr Method kDvdMethod{0xA8, 0x00, 0x00, 31, 2048, true, false, "Read12 Command Error.\n"};
// Mode 2 formless sectors: their 2336 bytes are user data.
constexpr Method kMode2Method{0xBE, 0x0C, 0x10, 25, 2336, false, false, "ReadCD Command Error.\n"};
// CD-ROM XA sectors (Form 1 and Form 2 mixed, as on a VCD or a multisession CD-R), which a
// drive will not read as formless Mode 2: any sector type, with the sub-header, user data
// and EDC/ECC fields, the same 2336 bytes a sector.
constexpr Method kXaMethod{0xBE, 0x00, 0x58, 25, 2336, false, false, "ReadCD Command Error.\n"};
constexpr Method kDataMethod{0xA8, 0x00, 0x00, 30, 2048, false, false, "Read12 Command Error.\n"};
constexpr Method kAudioMethod{0xBE, 0x04, 0x10, 25, 2352, false, true, "ReadCDDA Command Error.\n"};

// READ CD's expected sector types of the two CD-ROM XA forms (byte 1).
constexpr std::uint8_t kXaForm1 = 0x10;
constexpr std::uint8_t kXaForm2 = 0x14;

void BuildCommand(const Method& method, std::int64_t lba, int count, std::uint8_t cdb[12]) {
  std::memset(cdb, 0, 12);
  cdb[0] = method.opcode;
  WriteBe32(static_cast<std::uint32_t>(lba), cdb + 2);
  if (method.opcode == 0xA8) {
    cdb[9] = static_cast<std::uint8_t>(count);  // byte 1 clear: no FUA
  } else {
    cdb[1] = method.sector_type;
    cdb[8] = static_cast<std::uint8_t>(count);
    cdb[9] = method.fields;  // no C2 pointers, no sub-channel
  }
}

bool EndsInMd2(const std::string& path) {
  if (path.size() < 3) return false;
  const char* tail = path.c_str() + path.size() - 3;
  return (tail[0] == 'M' || tail[0] == 'm') && (tail[1] == 'D' || tail[1] == 'd') && tail[2] == '2';
}

class Reader {
 public:
  explicit Reader(const std::shared_ptr<ReadJob>& job)
      : job_(*job),
        slot_(CurrentDevice.slot.load()),
        target_(CurrentDevice.target.load()),
        lun_(CurrentDevice.lun.load()),
        scratch_(kReadBufferSize + 1) {}

  void Run();

 private:
  // A data-in command with a data phase of `length` bytes.
  std::int32_t Send(const std::uint8_t* cdb, std::uint8_t* buffer, std::uint32_t length,
                    std::uint8_t close_after) {
    return ExecuteCdb(cdb, slot_, target_, lun_, length, buffer, kDataIn, close_after);
  }
  void ReadRange(Method method);
  // Whether the drive reads the sector at `lba` as a CD-ROM XA sector of either form.
  bool IsXaSector(std::int64_t lba);
  // Whether `lba` is one of the run-out blocks that may end a track written track at once.
  bool InRunOut(std::int64_t lba) const;
  // Ends the writer and gives a WAVE file the lengths of what it holds. False, with the
  // write message logged once, when the file system refused anything.
  bool FlushOutput();
  // The end of a read that finished: the file renamed over the target.
  void Finish();
  // The end of a read that failed or was stopped: what was read kept as NAME.part.
  void KeepPartial(ReadOutcome outcome);
  void LogWriteFailure(int error);
  void End(ReadOutcome outcome) {
    TraceEnabled.store(1);
    job_.outcome.store(outcome);
  }
  void Fail(std::string reason) {
    job_.SetReason(std::move(reason));
    KeepPartial(ReadOutcome::kFailed);
  }

  ReadJob& job_;
  const std::uint8_t slot_;
  const std::uint8_t target_;
  const std::uint32_t lun_;
  std::vector<std::uint8_t> scratch_;  // for the commands whose answer is not kept
  OutputFile file_;
  std::unique_ptr<OutputPipe> pipe_;
  bool wave_ = false;
  std::size_t sector_size_ = 2048;
  std::uint32_t announced_ = 0;  // the data length the WAVE header gives
  bool write_failed_ = false;    // the write message is logged
};

void Reader::LogWriteFailure(int error) {
  if (write_failed_) return;
  write_failed_ = true;
  ConsoleLog(Info(), kWriteFailedMessage, job_.request.path.c_str(), error);
  job_.SetReason(FormatText(kConsoleTextLimit, "cannot write %s: %s", job_.request.path.c_str(),
                            std::strerror(error)));
}

bool Reader::FlushOutput() {
  int error = 0;
  bool ok = pipe_ == nullptr || pipe_->Finish(&error);
  // Even after a failed write the header tells what the file holds: it lies within the
  // file, so rewriting it takes no more room.
  const std::uint64_t data = wave_ && file_.Written() >= kWaveHeaderSize
                                 ? static_cast<std::uint64_t>(file_.Written()) - kWaveHeaderSize
                                 : 0;
  const std::uint32_t length =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(data, 0xFFFFFFFFu - 36));
  if (wave_ && file_.Written() >= kWaveHeaderSize && length != announced_) {
    std::uint8_t field[4];
    int patch_error = 0;
    WriteLe32(length + 36, field);
    bool patched = file_.WriteAt(4, field, 4, &patch_error);
    WriteLe32(length, field);
    if (patched) patched = file_.WriteAt(40, field, 4, &patch_error);
    if (!patched && ok) {
      ok = false;
      error = patch_error;
    }
  }
  if (!ok) LogWriteFailure(error);
  return ok;
}

void Reader::Finish() {
  int error = 0;
  if (!FlushOutput()) {
    KeepPartial(ReadOutcome::kFailed);
    return;
  }
  if (!file_.Commit(&error)) {
    LogWriteFailure(error);
    End(ReadOutcome::kFailed);
    return;
  }
  ExecuteCdb(cdb::kTestUnitReady, slot_, target_, lun_, 0, nullptr, kDataNone, 1);
  End(ReadOutcome::kFinished);
}

void Reader::KeepPartial(ReadOutcome outcome) {
  if (file_.IsOpen()) {
    FlushOutput();
    const std::int64_t header = wave_ ? kWaveHeaderSize : 0;
    const std::int64_t sectors = std::max<std::int64_t>(0, file_.Written() - header) /
                                 static_cast<std::int64_t>(sector_size_);
    int error = 0;
    // Whole sectors only: a write the file system cut short leaves no part of one behind.
    // (Should that fail, the count said is still the whole sectors the file begins with.)
    const off_t whole =
        static_cast<off_t>(header + sectors * static_cast<std::int64_t>(sector_size_));
    const bool cut = ::ftruncate(file_.Descriptor(), whole) == 0;
    (void)cut;
    // A file without one whole sector is of no use: it goes.
    const std::string part = sectors > 0 ? file_.KeepPartial(&error) : std::string();
    if (sectors == 0) file_.Abandon();
    if (!part.empty()) {
      const std::string kept = FormatText(kConsoleTextLimit, "kept %lld sectors in %s",
                                          static_cast<long long>(sectors), part.c_str());
      ConsoleLog(Info(), "%s\n", kept.c_str());
      job_.SetKept(kept);
    } else if (sectors > 0) {
      ConsoleLog(Info(), "%s could not be kept: %s\n", job_.request.path.c_str(),
                 std::strerror(error));
    }
  }
  End(outcome);
}

bool Reader::IsXaSector(std::int64_t lba) {
  for (const std::uint8_t form : {kXaForm1, kXaForm2}) {
    const Method probe{0xBE, form, 0x10, 1, 2336, false, false, ""};
    std::uint8_t cdb[12];
    BuildCommand(probe, lba, 1, cdb);
    if (Send(cdb, scratch_.data(), form == kXaForm1 ? 2048 : 2324, 0) == 0) return true;
  }
  return false;
}

bool Reader::InRunOut(std::int64_t lba) const {
  const std::vector<std::int64_t>& ends = job_.request.track_ends;
  if (ends.empty()) return true;  // no table of contents to tell: the range's end decides
  return std::any_of(ends.begin(), ends.end(),
                     [lba](std::int64_t end) { return lba <= end && end - lba < kRunOutBlocks; });
}

void Reader::Run() {
  std::vector<std::uint8_t> probe(kReplyBufferSize);
  const std::uint8_t code = ProbeMediumType(0, probe.data());
  if (code == kMediumNoDisc || code == kMediumDoorOpen) {
    job_.SetReason(code == kMediumNoDisc ? "no disc in the drive" : "the drive's door is open");
    End(ReadOutcome::kFailed);
    return;
  }
  if (const std::int32_t result = Send(cdb::kReadCapacity, scratch_.data(), 0xFFFF, 0);
      result != 0) {
    job_.SetReason(CommandFailed(cdb::kReadCapacity, result).reason);
    End(ReadOutcome::kFailed);
    return;
  }

  const ReadRequest& request = job_.request;
  int error = 0;
  if (request.first < 0 || request.first > request.last) {
    // The dialog refuses such a range before the read starts; nothing is opened for it.
    job_.SetReason(FormatText(kConsoleTextLimit, "no sectors from %lld to %lld",
                              static_cast<long long>(request.first),
                              static_cast<long long>(request.last)));
    End(ReadOutcome::kFailed);
    return;
  }
  if (!file_.Create(request.path, &error)) {
    ConsoleLog(Info(), kOpenFailedMessage, request.path.c_str(), error);
    job_.SetReason(error == ENODEV ? request.path + " is not a regular file (a device or FIFO)"
                                   : FormatText(kConsoleTextLimit, "cannot create %s: %s",
                                                request.path.c_str(), std::strerror(error)));
    End(ReadOutcome::kNotOpened);
    return;
  }

  const std::int64_t total = request.last - request.first + 1;
  job_.current.store(request.first);
  job_.previous.store(request.first);
  job_.total.store(total);
  job_.done.store(0);

  // The control nibble of the track says audio (bit 2 clear) or data, whatever its copy
  // and pre-emphasis bits; a name ending in md2 asks a CD for its Mode 2 sectors.
  const Method* method = &kAudioMethod;
  if (IsDvdMedium(code)) {
    method = &kDvdMethod;
  } else if (EndsInMd2(request.path)) {
    method = &kMode2Method;
  } else if ((request.adr_control & 0x04) != 0) {
    method = &kDataMethod;
  }
  job_.sector_width.store(method->dvd ? 7 : 6);
  job_.started.store(true);
  sector_size_ = method->sector_size;
  pipe_ = std::make_unique<OutputPipe>(file_);
  ReadRange(*method);
}

void Reader::ReadRange(Method method) {
  const ReadRequest& request = job_.request;
  std::uint8_t* buffer = pipe_->Acquire();
  if (method.audio) {
    wave_ = true;
    const std::uint64_t bytes = static_cast<std::uint64_t>(job_.total.load()) * 2352;
    announced_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 0xFFFFFFFFu - 36));
    MakeWaveHeader(announced_, buffer);
    pipe_->Submit(buffer, kWaveHeaderSize);
    buffer = nullptr;
  }

  std::int64_t p = request.first;
  int count = method.per_command;
  bool failed_once = false;
  bool tried_xa = false;
  std::uint8_t cdb[12];
  while (p <= request.last) {
    job_.current.store(p);
    TraceEnabled.store(0);
    if (!job_.run.load()) {
      if (buffer != nullptr) pipe_->Release(buffer);
      KeepPartial(ReadOutcome::kCancelled);
      return;
    }
    if (buffer == nullptr) buffer = pipe_->Acquire();
    if (buffer == nullptr) {  // the file system took no more
      KeepPartial(ReadOutcome::kFailed);
      return;
    }
    if (request.last - p < kSingleSectorTail) count = 1;
    BuildCommand(method, p, count, cdb);
    // The data phase is what the command asks for: a host buffer longer than that lets
    // some targets (QEMU's SCSI CD) read past the command's blocks, and fail at the end of
    // the disc. What it covers is cleared first: a short answer leaves zeros in the file.
    const auto length = static_cast<std::uint32_t>(count * method.sector_size);
    std::memset(buffer, 0, length);
    const std::int32_t result = Send(cdb, buffer, length, 0);
    if (result == 0) {
      pipe_->Submit(buffer, static_cast<std::size_t>(count) * method.sector_size);
      buffer = nullptr;
      p += count;
      job_.done.fetch_add(count);
      continue;
    }

    // A track written track at once ends in two run-out blocks that hold no data and that
    // no drive reads: meeting them at the end of the range ends the read, complete.
    if (!method.dvd && count == 1 && result == kIllegalModeForTrack &&
        request.last - p < kRunOutBlocks && InRunOut(p)) {
      break;
    }
    // A drive that will not read a CD-ROM XA track as formless Mode 2 reads it as any
    // sector type with the sub-header: the same 2336 bytes, for the rest of the read.
    if (method.sector_type == kMode2Method.sector_type && method.opcode == 0xBE && !tried_xa &&
        result == kIllegalModeForTrack) {
      tried_xa = true;
      if (IsXaSector(p)) {
        method = kXaMethod;
        continue;
      }
    }
    if (method.audio) {
      ConsoleLog(Info(),
                 "ReadCD Error: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X \n",
                 cdb[0], cdb[1], cdb[2], cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9],
                 cdb[10], cdb[11]);
    }
    if (!method.dvd && !failed_once) {
      // One sector at a time from the sector that failed, for the rest of the read.
      failed_once = true;
      count = 1;
      continue;
    }
    TraceEnabled.store(1);
    Send(cdb, buffer, length, 0);
    pipe_->Release(buffer);
    const bool in_tail = request.last - p < kSingleSectorTail;
    if (!((method.dvd || method.audio) && in_tail)) ConsoleLog(Info(), "%s", method.message);
    Fail(FormatText(kConsoleTextLimit, "read failed at sector %lld: %s", static_cast<long long>(p),
                    CommandFailed(cdb, result).reason.c_str()));
    return;
  }
  if (buffer != nullptr) pipe_->Release(buffer);

  job_.current.store(p);
  job_.sector_width.store(6);
  Finish();
}

}  // namespace

std::string ReadJob::Reason() const {
  std::lock_guard lock(mutex_);
  return reason_;
}

void ReadJob::SetReason(std::string reason) {
  std::lock_guard lock(mutex_);
  reason_ = std::move(reason);
}

std::string ReadJob::Kept() const {
  std::lock_guard lock(mutex_);
  return kept_;
}

void ReadJob::SetKept(std::string kept) {
  std::lock_guard lock(mutex_);
  kept_ = std::move(kept);
}

void MakeWaveHeader(std::uint32_t data_length, std::uint8_t header[44]) {
  std::memcpy(header, "RIFF", 4);
  WriteLe32(data_length + 36, header + 4);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  WriteLe32(16, header + 16);
  header[20] = 1;  // PCM
  header[21] = 0;
  header[22] = 2;  // channels
  header[23] = 0;
  WriteLe32(44100, header + 24);
  WriteLe32(176400, header + 28);
  header[32] = 4;  // block align
  header[33] = 0;
  header[34] = 16;  // bits per sample
  header[35] = 0;
  std::memcpy(header + 36, "data", 4);
  WriteLe32(data_length, header + 40);
}

void ReadWorker(const std::shared_ptr<ReadJob>& job) {
  // A file size limit must end the read with a message, not end the program.
  static const bool ignore_file_size_signal = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)ignore_file_size_signal;
  Reader(job).Run();
}

void StartReadWorker(std::shared_ptr<ReadJob> job) {
  WorkerLatch& latch = job->worker;
  StartCountedWorker(latch, [job = std::move(job)] { ReadWorker(job); });
}

}  // namespace zorvane
