#include "write/address_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "base/utilities.h"
#include "info/media.h"
#include "transport/console.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/dvd_writer.h"
#include "write/verify.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint32_t kChunk = 16;
constexpr std::uint32_t kSector = 2048;
constexpr const char* kAddressWriteOnly =
    "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n";

// Whether the MRW feature (0028h) is current: the disc is formatted for MRW.
bool MrwCurrent(const DriveAddress& drive) {
  static constexpr std::uint8_t kGetMrwFeature[10] = {0x46, 0x02, 0x00, 0x28, 0, 0, 0, 0, 0x10, 0};
  std::uint8_t reply[16] = {};
  if (SendTo(drive, kGetMrwFeature, sizeof reply, reply, kDataIn, 0) != 0) return false;
  return ReadBe32(reply) >= 8 && ReadBe16(reply + 8) == 0x0028 && (reply[10] & 0x01) != 0;
}

}  // namespace

std::uint32_t ParseStartSector(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (*begin < '0' || *begin > '9') return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(begin, &end, 10);
  if (errno != 0 || value > 0xFFFFFFFFULL) return 0;
  return static_cast<std::uint32_t>(value);
}

void AddressWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request) {
  PostedDialog dialog(job);
  const DriveAddress drive = CurrentDriveAddress();
  auto end = [&job](WriteState state) {
    TraceEnabled.store(1);
    job->state.store(state);
  };

  const std::uint32_t start = ParseStartSector(request.start_sector);
  // The image is checked before the drive is asked anything.
  ImageSource image;
  if (std::string problem; !OpenCheckedImage(request.path, false, kSector, &image, &problem)) {
    job->SetFailure(problem);
    dialog.Enable(kOkButton, true);
    dialog.EnableMainButton(kAddressWriteButton, true);
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }
  const std::uint64_t size = image.bytes;
  dialog.SetText(kImageSize,
                 FormatText(64, "%.02f KB\n", static_cast<double>(WholeUnits(size, 1024))));
  const std::uint32_t count = image.sectors;
  job->total_sectors.store(count);
  dialog.SetText(kSectorCount, FormatText(64, "%i/%i\n", 0, static_cast<int>(count)));
  dialog.SetProgressPosition(kWriteGauge, 0);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(count + 1));
  dialog.SetProgressStep(kWriteGauge, static_cast<int>(kChunk));

  std::uint8_t reply[256] = {};
  if (const std::int32_t sense = SendTo(drive, kGetCurrentProfile, 255, reply, kDataIn, 1);
      sense != 0) {
    ConsoleLog(Info(), "GetConfiguration Error\n");
    job->SetFailure(StepFailed("GET CONFIGURATION", sense));
    dialog.EnableMainButton(kAddressWriteButton, true);
    ConsoleLog(Trace(), "GetLastError was %d\n", 0);
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }
  const std::uint8_t profile = reply[7];
  char name[32];
  ProfileName(profile, name);
  dialog.SetText(kDvdProfileName, name);
  // Only media written at any address take this write: an MRW CD-RW (the MRW feature
  // current), DVD-RAM, DVD+RW and DVD-RW restricted overwrite. A plain CD-RW would take
  // the WRITE as a new track at once, wherever the start sector points.
  if (!IsOverwritableDvd(profile) && !MrwCurrent(drive)) {
    ConsoleLog(Info(), "%s", kAddressWriteOnly);
    char medium[32];
    ProfileName(profile, medium);
    job->SetFailure(std::string("the disc (") + medium +
                    ") is not written at addresses: only MRW CD-RW, DVD-RAM, DVD+RW and DVD-RW "
                    "restricted overwrite are");
    dialog.StopTimer(kProgressTimer);
    dialog.EnableMainButton(kAddressWriteButton, true);
    end(WriteState::kFailed);
    return;
  }
  bool aligned = false;
  if (profile == 0x13) {
    const char* broken = nullptr;
    if (start % 16 != 0) {
      broken = "寫入碟區的起始位置必須是16的倍數\n";
    } else if (size % 32768 != 0) {
      broken = "檔案大小必須是32KB的倍數\n";
    }
    if (broken != nullptr) {
      dialog.SetText(kFileMessage, broken);
      job->SetFailure(start % 16 != 0
                          ? "DVD-RW restricted overwrite is written in ECC blocks: the start "
                            "sector must be a multiple of 16"
                          : "DVD-RW restricted overwrite is written in ECC blocks: the image "
                            "size must be a multiple of 32 KB");
      dialog.EnableMainButton(kAddressWriteButton, true);
      dialog.Enable(kOkButton, true);
      dialog.StopTimer(kProgressTimer);
      end(WriteState::kFailed);
      return;
    }
    aligned = true;
  }
  // The range has to lie inside the formatted area.
  if (const std::uint32_t formatted = FormattedCapacity(drive);
      formatted != 0 && std::uint64_t{start} + count > formatted) {
    RefuseTooLarge(*job, FormatText(128, "Writing %u sectors from sector %u", count, start),
                   std::uint64_t{start} + count, formatted);
    dialog.StopTimer(kProgressTimer);
    dialog.EnableMainButton(kAddressWriteButton, true);
    end(WriteState::kFailed);
    return;
  }
  ReportPadding(image);

  WriteLoop loop;
  loop.start = start;
  loop.count = count;
  loop.block_size = kSector;
  loop.chunk = kChunk;
  loop.poll_buffer = false;
  loop.single_tail = !aligned;
  loop.tail_gauge_step = true;
  loop.count_text = true;
  loop.close_after = 1;
  loop.read = [&image, &request](std::int64_t, std::uint8_t* data, std::size_t bytes,
                                 std::string* path, int* error) {
    *path = request.path;
    return ReadImage(image, data, bytes, error);
  };
  if (RunWriteLoop(*job, dialog, drive, loop) != WriteOutcome::kWritten) return;

  // End steps, traced; a drive that does not confirm the data makes the write a failure.
  TraceEnabled.store(1);
  bool confirmed = true;
  if (const std::int32_t sense = SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, 0);
      sense != 0) {
    ReportEndStepFailure(*job, dialog, "SYNCHRONIZE CACHE", sense);
    confirmed = false;
  }
  const WriteState verified =
      confirmed ? VerifyIfAsked(*job, dialog, request, drive, image, ReadBack::kData, start)
                : WriteState::kFailed;
  confirmed = verified == WriteState::kFinished;
  if (confirmed) {
    dialog.SetText(kSectorCount,
                   FormatText(64, "%i/%i\n", static_cast<int>(count), static_cast<int>(count)));
    dialog.SetProgressRange(kWriteGauge, 0, 10);
    dialog.SetProgressPosition(kWriteGauge, 10);
    dialog.SetText(kCancelButton, "結束(&X)");
    dialog.Enable(kOkButton, true);
  }
  dialog.EnableMainButton(kAddressWriteButton, true);
  std::this_thread::sleep_for(CurrentWritePacing().settle);
  dialog.StopTimer(kProgressTimer);
  SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 1);
  end(verified);
}

}  // namespace zorvane
