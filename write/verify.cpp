#include "write/verify.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "base/utilities.h"
#include "info/media.h"
#include "transport/console.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"

namespace zorvane {

namespace {

// Sectors of one read: as many as one data phase (at most 65,535 bytes) carries.
std::uint32_t SectorsPerRead(ReadBack kind) {
  return 65535 / ReadBackSectorSize(kind);
}

void BuildRead(ReadBack kind, std::uint32_t lba, std::uint32_t count, std::uint8_t* cdb) {
  std::memset(cdb, 0, 12);
  if (kind == ReadBack::kData) {
    cdb[0] = 0x28;  // READ(10)
    WriteBe32(lba, cdb + 2);
    cdb[7] = static_cast<std::uint8_t>(count >> 8);
    cdb[8] = static_cast<std::uint8_t>(count);
    return;
  }
  cdb[0] = 0xBE;  // READ CD
  WriteBe32(lba, cdb + 2);
  cdb[6] = static_cast<std::uint8_t>(count >> 16);
  cdb[7] = static_cast<std::uint8_t>(count >> 8);
  cdb[8] = static_cast<std::uint8_t>(count);
  if (kind == ReadBack::kAudio) {
    cdb[1] = 0x04;  // CD-DA sectors only
    cdb[9] = 0x10;  // user data: the 2352 bytes
  } else {
    // Any Mode 2 sector as the 2336 bytes after its header: sub-header, user data and
    // EDC/ECC of a Form 1 or Form 2 sector, the user data of a formless one.
    cdb[9] = 0x58;
  }
}

const char* ReadName(ReadBack kind) {
  return kind == ReadBack::kData ? "READ(10)" : "READ CD";
}

}  // namespace

std::uint32_t ReadBackSectorSize(ReadBack kind) {
  switch (kind) {
    case ReadBack::kAudio:
      return 2352;
    case ReadBack::kMode2:
      return 2336;
    case ReadBack::kData:
      break;
  }
  return 2048;
}

VerifyResult CompareWritten(const DriveAddress& drive, ReadBack kind, std::uint32_t first,
                            std::uint32_t count, const ImageSectors& image,
                            const std::atomic<std::uint8_t>& run,
                            const std::function<void(std::uint32_t)>& progress) {
  const std::uint32_t size = ReadBackSectorSize(kind);
  const std::uint32_t per_read = SectorsPerRead(kind);
  std::vector<std::uint8_t> disc(std::size_t{per_read} * size);
  std::vector<std::uint8_t> expected(disc.size());
  const WritePacing pacing = CurrentWritePacing();
  VerifyResult result;
  std::uint8_t cdb[12];
  while (result.compared < count) {
    if (run.load() == 0) {
      result.stopped = true;
      return result;
    }
    const std::uint32_t lba = first + result.compared;
    const std::uint32_t sectors = std::min(per_read, count - result.compared);
    const std::uint32_t bytes = sectors * size;
    int error = 0;
    if (!image(expected.data(), sectors, &error)) {
      result.failure = std::string("the image could not be read again: ") + std::strerror(error);
      return result;
    }
    BuildRead(kind, lba, sectors, cdb);
    // A drive still closing the session or emptying its buffer is asked again, as a
    // WRITE is, until the pacing limit.
    const auto deadline = std::chrono::steady_clock::now() + pacing.limit;
    std::int32_t sense = 0;
    for (;;) {
      sense = ExecuteCdbUntraced(cdb, drive.slot, drive.target, drive.lun, bytes, disc.data(),
                                 kDataIn, 0);
      if (!IsDriveBusy(sense) || std::chrono::steady_clock::now() >= deadline) break;
      if (run.load() == 0) {
        result.stopped = true;
        return result;
      }
      std::this_thread::sleep_for(pacing.pause);
    }
    if (sense != 0) {
      result.failure =
          StepFailed(FormatText(96, "%s of %u blocks at LBA %u", ReadName(kind),
                                static_cast<unsigned>(sectors), static_cast<unsigned>(lba))
                         .c_str(),
                     sense);
      return result;
    }
    for (std::uint32_t i = 0; i < sectors; ++i) {
      const std::uint8_t* got = disc.data() + std::size_t{i} * size;
      const std::uint8_t* want = expected.data() + std::size_t{i} * size;
      if (std::memcmp(got, want, size) == 0) continue;
      if (result.different++ == 0) {
        result.first_lba = lba + i;
        result.first_byte =
            static_cast<std::uint32_t>(std::mismatch(got, got + size, want).first - got);
      }
    }
    result.compared += sectors;
    if (progress) progress(result.compared);
  }
  return result;
}

std::string VerifyLine(const VerifyResult& result) {
  std::string line =
      FormatText(96, "verify: %u of %u sectors differ", static_cast<unsigned>(result.different),
                 static_cast<unsigned>(result.compared));
  if (result.different > 0) {
    line +=
        FormatText(96, "; the first is LBA %u, byte %u", static_cast<unsigned>(result.first_lba),
                   static_cast<unsigned>(result.first_byte));
  }
  return line;
}

WriteState VerifyIfAsked(WriteJob& job, PostedDialog& dialog, const WriteRequest& request,
                         const DriveAddress& drive, ImageSource& image, ReadBack kind,
                         std::uint32_t first) {
  if (!request.verify) return WriteState::kFinished;
  if (request.test_write) {
    ConsoleLog(Info(), "verify: skipped, a test write records nothing to read back\n");
    return WriteState::kFinished;
  }
  const std::uint32_t count = image.sectors;
  const std::uint32_t size = ReadBackSectorSize(kind);
  TraceEnabled.store(1);
  ConsoleLog(Info(), "verify: reading back %u sectors from LBA %u\n", static_cast<unsigned>(count),
             static_cast<unsigned>(first));
  if (::lseek(image.file.fd, static_cast<off_t>(image.offset), SEEK_SET) < 0) {
    job.SetFailure(request.path + ": " + std::strerror(errno));
    return WriteState::kFailed;
  }
  image.left = image.bytes;
  job.sectors_verified.store(0);
  job.verifying.store(true);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(count));
  dialog.SetProgressPosition(kWriteGauge, 0);
  TraceEnabled.store(0);
  const VerifyResult result = CompareWritten(
      drive, kind, first, count,
      [&image, size](std::uint8_t* buffer, std::uint32_t sectors, int* error) {
        return ReadImage(image, buffer, std::size_t{sectors} * size, error);
      },
      job.run,
      [&job, &dialog, count](std::uint32_t done) {
        job.sectors_verified.store(done);
        dialog.SetProgressPosition(kWriteGauge, static_cast<int>(done));
        dialog.SetText(kSectorCount, FormatText(64, "%u/%u\n", static_cast<unsigned>(done),
                                                static_cast<unsigned>(count)));
      });
  TraceEnabled.store(1);
  job.verifying.store(false);
  if (result.stopped) {
    job.SetFailure(FormatText(128, "verify stopped after %u of %u sectors; the write had finished",
                              static_cast<unsigned>(result.compared),
                              static_cast<unsigned>(count)));
    return WriteState::kCancelled;
  }
  if (!result.failure.empty()) {
    const std::string line = "verify: " + result.failure;
    ConsoleLog(Info(), "%s\n", line.c_str());
    dialog.SetText(kFileMessage, line);
    job.SetFailure(line);
    return WriteState::kFailed;
  }
  const std::string line = VerifyLine(result);
  ConsoleLog(Info(), "%s\n", line.c_str());
  dialog.SetText(kFileMessage, line);
  if (result.different == 0) return WriteState::kFinished;
  job.SetFailure(line);
  return WriteState::kFailed;
}

bool TestWriteOffered(const DriveAddress& drive, std::uint8_t profile, std::string* refusal) {
  const char* medium = ProfileNameText(profile);
  const bool takes = profile == 0x09 || profile == 0x0A || profile == 0x11 || profile == 0x14 ||
                     profile == 0x15 || profile == 0x16;
  if (!takes) {
    *refusal = std::string("test write refused: the disc (") + medium +
               ") has no test write; only CD-R, CD-RW, DVD-R and DVD-RW sequential have. "
               "Nothing was written.";
    return false;
  }
  static constexpr std::uint8_t kModeSense[10] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0x00, 0xFF, 0};
  std::uint8_t reply[256] = {};
  if (const std::int32_t sense = SendTo(drive, kModeSense, 255, reply, kDataIn, 0); sense != 0) {
    *refusal = "test write refused: " + StepFailed("MODE SENSE (capabilities page 2Ah)", sense) +
               ". Nothing was written.";
    return false;
  }
  const std::size_t page = 8 + ReadBe16(reply + 6);
  if (page + 4 > sizeof reply || (reply[page] & 0x3F) != 0x2A || (reply[page + 3] & 0x04) == 0) {
    *refusal = std::string(
                   "test write refused: the drive's capabilities page (2Ah) offers no "
                   "test write on ") +
               medium + ". Nothing was written.";
    return false;
  }
  return true;
}

void ShowWriteEnd(PostedDialog& dialog, bool confirmed, bool test_write, std::uint32_t count) {
  if (confirmed && test_write) {
    ConsoleLog(Info(), "%s\n", kTestWriteLine);
    dialog.SetText(kFileMessage, kTestWriteLine);
  }
  if (confirmed) {
    dialog.SetProgressPosition(kWriteGauge, static_cast<int>(count));
    dialog.SetText(kCancelButton, "結束(&X)");
    dialog.Enable(kOkButton, true);
  }
  dialog.EnableMainButton(kWriteButton, true);
}

}  // namespace zorvane
