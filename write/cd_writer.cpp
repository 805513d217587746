#include "write/cd_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "base/shared_commands.h"
#include "base/utilities.h"
#include "info/media.h"
#include "transport/console.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/verify.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kModeSelect[10] = {0x55, 0x10, 0, 0, 0, 0, 0, 0x00, 0x3C, 0};
constexpr std::uint8_t kReadTrackInformation[10] = {0x52, 0x01, 0, 0, 0, 0xFF, 0, 0x00, 0xFF, 0};
constexpr std::size_t kListLength = 60;
constexpr std::uint32_t kChunk = 16;
// The run-out blocks the drive records after a track written track at once.
constexpr std::uint32_t kRunOut = 2;

bool TailIs(const std::string& path, const char* upper) {
  if (path.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    const char c = path[path.size() - 3 + static_cast<std::size_t>(i)];
    if (c != upper[i] && c != upper[i] + ('a' - 'A')) return false;
  }
  return true;
}

// The write parameters page for a track of `type` with the dialog's options.
std::array<std::uint8_t, kListLength> BuildParameterList(CdImageType type,
                                                         const WriteRequest& request,
                                                         bool* close_session) {
  std::array<std::uint8_t, kListLength> list{};
  list[1] = 0x3A;
  list[2] = 0x21;
  std::uint8_t* page = list.data() + 8;
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = 0x41;
  page[3] = 0xC4;
  page[4] = 0x08;
  page[5] = 0x10;
  page[15] = 0x96;
  switch (type) {
    case CdImageType::kAudio:
      page[3] = 0xC0;
      page[4] = 0x00;
      break;
    case CdImageType::kMode2:
      // Mode 2 sectors of 2,336 bytes (sub-header and user data), in a CD-ROM XA session.
      page[4] = 0x09;
      page[8] = 0x20;
      break;
    case CdImageType::kMode1:
      break;
  }
  *close_session = true;
  if (request.track_at_once) {
    page[2] = static_cast<std::uint8_t>((page[2] & 0xF0) | 0x01);
    *close_session = !request.keep_session_open;
    if (!request.multi_session) page[3] &= 0x3F;
  } else if (request.session_at_once) {
    page[2] = static_cast<std::uint8_t>((page[2] & 0xF0) | 0x02);
  }
  if (request.test_write) page[2] |= 0x10;
  return list;
}

std::uint32_t SectorSizeOf(CdImageType type) {
  switch (type) {
    case CdImageType::kAudio:
      return 2352;
    case CdImageType::kMode2:
      return 2336;
    case CdImageType::kMode1:
      break;
  }
  return 2048;
}

const char* TypeLine(CdImageType type) {
  switch (type) {
    case CdImageType::kAudio:
      return "CD-DA\n";
    case CdImageType::kMode2:
      return "CD-ROM Mode 2\n";
    case CdImageType::kMode1:
      break;
  }
  return "CD-ROM Mode 1\n";
}

}  // namespace

CdImageType CdImageTypeOf(const std::string& path) {
  if (TailIs(path, "WAV")) return CdImageType::kAudio;
  if (TailIs(path, "MD2")) return CdImageType::kMode2;
  return CdImageType::kMode1;
}

void CdWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request) {
  PostedDialog dialog(job);
  const DriveAddress drive = CurrentDriveAddress();
  auto end = [&job](WriteState state) {
    TraceEnabled.store(1);
    job->state.store(state);
  };
  dialog.SetText(kCancelButton, "取消(&C)");

  // The image is checked before the drive is asked anything: a FIFO, a device, a folder,
  // an empty file or a WAVE file that is not CD audio never reaches the disc.
  const CdImageType type = CdImageTypeOf(request.path);
  const std::uint32_t sector = SectorSizeOf(type);
  ImageSource image;
  if (std::string problem;
      !OpenCheckedImage(request.path, type == CdImageType::kAudio, sector, &image, &problem)) {
    job->SetFailure(problem);
    dialog.Enable(kOkButton, true);
    dialog.EnableMainButton(kWriteButton, true);
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }
  ::posix_fadvise(image.file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  std::vector<std::uint8_t> reply(kReplyBufferSize);
  std::uint8_t code = ProbeMediumType(0, reply.data());
  if (code == kMediumNoDisc || code == kMediumDoorOpen) {
    // Some drives put 70h in the header with a disc loaded: only "medium not present"
    // from the drive itself ends the write here.
    const std::int32_t ready = SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 0);
    if ((ready & 0xFFFF00) == 0x023A00) {
      job->SetFailure(StepFailed("TEST UNIT READY", ready));
      dialog.EnableMainButton(kWriteButton, true);
      end(WriteState::kFailed);
      return;
    }
    code = kMediumUnknown;
  }
  if (code == kMediumNoDevice) {
    job->SetFailure("the drive does not answer");
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }

  ConsoleLog(Info(), "%s", TypeLine(type));
  ReportPadding(image);
  const std::uint32_t count = image.sectors;
  job->total_sectors.store(count);
  dialog.SetText(kSectorCount, FormatText(64, "%i/%i\n", 0, static_cast<int>(count)));
  dialog.SetProgressPosition(kWriteGauge, 0);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(count + 1));
  dialog.SetProgressStep(kWriteGauge, static_cast<int>(kChunk));

  BufferCapacity capacity = ReadBufferCapacity(drive, 1);
  dialog.SetProgressPosition(kBufferGauge, 0);
  dialog.SetProgressRange(kBufferGauge, 0, static_cast<int>(capacity.length));
  dialog.SetProgressStep(kBufferGauge, 1);
  dialog.SetProgressPosition(kBufferGauge, static_cast<int>(capacity.length - capacity.free));

  // A DVD (or any medium of another family) is not written by this writer.
  bool other_family = IsDvdMedium(code);
  std::uint8_t profile_reply[256] = {};
  std::uint8_t profile = 0;
  if (SendTo(drive, kGetCurrentProfile, 255, profile_reply, kDataIn, 0) == 0) {
    // Profile 0 (a drive still becoming ready) tells nothing; the CD profiles lie below
    // 10h.
    if (ReadBe16(profile_reply + 6) >= 0x10) other_family = true;
    profile = profile_reply[7];
  }
  if (other_family) {
    ConsoleLog(Info(), "光碟片不是CD-R/RW, 無法以CD方式寫入.\n");
    job->SetFailure("the disc is not a CD-R or CD-RW");
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }

  std::uint8_t track_reply[256] = {};
  if (const std::int32_t sense = SendTo(drive, kReadTrackInformation, 255, track_reply, kDataIn, 0);
      sense != 0) {
    ConsoleLog(Info(), "ReadTrackInfo Error\n");
    job->SetFailure(StepFailed("READ TRACK INFORMATION", sense));
    ConsoleLog(Trace(), "GetLastError was %d\n", 0);
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }
  const std::uint32_t nwa = ReadBe32(track_reply + 12);
  // A track written track at once ends with two run-out blocks, and it has to fit the
  // free blocks of the invisible track whole.
  const std::uint32_t free_blocks = ReadBe32(track_reply + 16);
  const std::uint64_t needed = std::uint64_t{count} + (request.track_at_once ? kRunOut : 0);
  if (needed > free_blocks) {
    RefuseTooLarge(*job,
                   request.track_at_once
                       ? FormatText(96, "The image of %u sectors with its 2 run-out blocks", count)
                       : FormatText(96, "The image of %u sectors", count),
                   needed, free_blocks);
    dialog.StopTimer(kProgressTimer);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }

  if (std::string refusal; request.test_write && !TestWriteOffered(drive, profile, &refusal)) {
    ConsoleLog(Info(), "%s\n", refusal.c_str());
    job->SetFailure(refusal);
    dialog.StopTimer(kProgressTimer);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }

  bool close_session = true;
  std::array<std::uint8_t, kListLength> list = BuildParameterList(type, request, &close_session);
  // A test write records no track: there is no session to close.
  if (request.test_write) close_session = false;
  DumpBytes(list.data(), list.size());
  if (const std::int32_t sense = SendTo(drive, kModeSelect, kListLength, list.data(), kDataOut, 0);
      sense != 0) {
    ConsoleLog(Info(), "ModeSelect Error\n");
    job->SetFailure(StepFailed("MODE SELECT (write parameters)", sense));
    ConsoleLog(Trace(), "GetLastError was %d\n", 0);
    dialog.StopTimer(kProgressTimer);
    end(WriteState::kFailed);
    return;
  }

  WriteLoop loop;
  loop.start = nwa;
  loop.count = count;
  loop.block_size = sector;
  loop.chunk = kChunk;
  loop.count_text = true;
  loop.read = [&image, &request](std::int64_t, std::uint8_t* data, std::size_t bytes,
                                 std::string* path, int* error) {
    *path = request.path;
    return ReadImage(image, data, bytes, error);
  };
  if (RunWriteLoop(*job, dialog, drive, loop) != WriteOutcome::kWritten) return;

  // End steps. Their commands are traced, and a drive that does not confirm the track
  // (or the session) makes the write a failure.
  TraceEnabled.store(1);
  bool confirmed = true;
  if (const std::int32_t sense = SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, 0);
      sense != 0) {
    ReportEndStepFailure(*job, dialog, "SYNCHRONIZE CACHE", sense);
    confirmed = false;
  }
  capacity = ReadBufferCapacity(drive, 0);
  if (capacity.known) {
    dialog.SetProgressPosition(kBufferGauge, static_cast<int>(capacity.length - capacity.free));
  }
  if (close_session) {
    CloseTrackSessionCommand.Set(2, 0x02);
    CloseTrackSessionCommand.Set(4, 0x00);
    CloseTrackSessionCommand.Set(5, 0x01);
    std::uint8_t close[12];
    CloseTrackSessionCommand.Snapshot(close);
    if (const std::int32_t sense = SendTo(drive, close, 0, nullptr, kDataNone, 0); sense != 0) {
      ConsoleLog(Info(), "關閉節區失敗.\n");
      ReportEndStepFailure(*job, dialog, "CLOSE SESSION", sense);
      confirmed = false;
    }
  }
  const WriteState verified = confirmed
                                  ? VerifyIfAsked(*job, dialog, request, drive, image,
                                                  type == CdImageType::kAudio   ? ReadBack::kAudio
                                                  : type == CdImageType::kMode2 ? ReadBack::kMode2
                                                                                : ReadBack::kData,
                                                  nwa)
                                  : WriteState::kFailed;
  confirmed = verified == WriteState::kFinished;
  ShowWriteEnd(dialog, confirmed, request.test_write, count);
  std::this_thread::sleep_for(CurrentWritePacing().settle);
  dialog.StopTimer(kProgressTimer);
  SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 1);
  end(verified);
}

}  // namespace zorvane
