#include "write/dvd_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/shared_commands.h"
#include "base/utilities.h"
#include "info/checks.h"
#include "info/media.h"
#include "transport/console.h"
#include "transport/polling.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/verify.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kEject[6] = {0x1B, 0x01, 0, 0, 0x02, 0};
constexpr std::uint8_t kLoad[6] = {0x1B, 0x01, 0, 0, 0x03, 0};
constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kModeSelect[10] = {0x55, 0x10, 0, 0, 0, 0, 0, 0x00, 0x3C, 0};
constexpr std::size_t kListLength = 60;
constexpr std::uint32_t kChunk = 31;
// DVD-RW restricted overwrite takes whole ECC blocks only: 16 sectors a command.
constexpr std::uint32_t kEccBlock = 16;
constexpr std::uint32_t kSector = 2048;

std::int32_t ReadTrackInformation(const DriveAddress& drive, std::uint8_t track,
                                  std::uint8_t* reply) {
  std::uint8_t cdb[10] = {0x52, 0x01, 0, 0, 0, track, 0, 0x00, 0xFF, 0};
  std::memset(reply, 0, 256);
  return SendTo(drive, cdb, 255, reply, kDataIn, 1);
}

bool InList(std::uint8_t profile, std::initializer_list<std::uint8_t> list) {
  for (std::uint8_t entry : list) {
    if (entry == profile) return true;
  }
  return false;
}

}  // namespace

std::uint8_t DvdCloseFunction(const WriteRequest& request, std::uint8_t profile) {
  if (request.track_at_once && InList(profile, {0x11, 0x14, 0x15, 0x1B, 0x2B, 0x42, 0x51})) {
    return 1;
  }
  if (request.session_at_once) return 2;
  if (request.close_disc) {
    if (InList(profile, {0x11, 0x14, 0x15})) return 2;
    if (InList(profile, {0x1B, 0x2B, 0x42, 0x51})) return 6;
  }
  return 0;
}

void DvdWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request) {
  PostedDialog dialog(job);
  const DriveAddress drive = CurrentDriveAddress();
  auto end = [&job](WriteState state) {
    TraceEnabled.store(1);
    job->state.store(state);
  };

  // The image is checked before the drive is asked anything.
  ImageSource image;
  if (std::string problem; !OpenCheckedImage(request.path, false, kSector, &image, &problem)) {
    job->SetFailure(problem);
    dialog.Enable(kOkButton, true);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }
  ::posix_fadvise(image.file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const std::uint64_t size = image.bytes;

  BufferCapacity capacity = ReadBufferCapacity(drive, 1);
  if (capacity.known && capacity.length != capacity.free) {
    // The drive still holds data: eject and load the tray, and wait for it.
    SendTo(drive, kEject, 0, nullptr, kDataNone, 1);
    SendTo(drive, kLoad, 0, nullptr, kDataNone, 1);
    RepeatWhile([&drive] { return SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 1); },
                {kBecomingReady});
    capacity = ReadBufferCapacity(drive, 1);
  }
  dialog.SetProgressPosition(kBufferGauge, 0);
  dialog.SetProgressRange(kBufferGauge, 0, static_cast<int>(capacity.length));
  dialog.SetProgressStep(kBufferGauge, 1);
  dialog.SetProgressPosition(kBufferGauge, static_cast<int>(capacity.length - capacity.free));

  dialog.SetText(kImageSize,
                 FormatText(64, "%.02f MB\n", static_cast<double>(WholeUnits(size, 1024 * 1024))));

  std::uint8_t reply[256] = {};
  if (const std::int32_t sense = SendTo(drive, kGetCurrentProfile, 255, reply, kDataIn, 1);
      sense != 0) {
    ConsoleLog(Info(), "GetConfiguration Error\n");
    job->SetFailure(StepFailed("GET CONFIGURATION", sense));
    dialog.EnableMainButton(kWriteButton, true);
    ConsoleLog(Trace(), "GetLastError was %d\n", 0);
    end(WriteState::kFailed);
    return;
  }
  std::uint8_t profile = reply[7];
  if (ReadBe16(reply + 6) == 0) {
    // A drive that is still becoming ready reports no current profile yet.
    std::vector<std::uint8_t> mode(kReplyBufferSize);
    WaitUntilReady(false, mode.data());
    if (SendTo(drive, kGetCurrentProfile, 255, reply, kDataIn, 1) == 0) profile = reply[7];
  }
  if (profile == 0x14) {
    ConsoleLog(Info(), "不少燒錄機 DVD-RW Sequential Recording 會有問題!\n");
    ConsoleLog(Info(), "可「格式化」成 DVD-RW dvd-RW Restricted Overwrite 後再行燒錄.\n");
  }

  std::uint32_t nwa = 0;
  // Blocks the image may take: the invisible or incomplete track's free blocks, or the
  // formatted area of an overwritable disc (none known: not checked).
  std::uint64_t room = 0;
  bool room_known = false;
  if (InList(profile, {0x11, 0x14, 0x15})) {
    // The last track that answers is the one being written next.
    int track = 2;
    while (track < 0xFF &&
           ReadTrackInformation(drive, static_cast<std::uint8_t>(track), reply) == 0) {
      ++track;
    }
    if (const std::int32_t sense =
            ReadTrackInformation(drive, static_cast<std::uint8_t>(track - 1), reply);
        sense != 0) {
      ConsoleLog(Info(), "ReadTrackInfo Error, TNO=%i\n", track - 1);
      job->SetFailure(StepFailed("READ TRACK INFORMATION", sense));
      dialog.EnableMainButton(kWriteButton, true);
      ConsoleLog(Trace(), "GetLastError was %d\n", 0);
      end(WriteState::kFailed);
      return;
    }
    nwa = ReadBe32(reply + 12);
  } else if (InList(profile, {0x1B, 0x2B})) {
    if (const std::int32_t sense = ReadTrackInformation(drive, 0xFF, reply); sense != 0) {
      ConsoleLog(Info(), "ReadTrackInfo Error\n");
      job->SetFailure(StepFailed("READ TRACK INFORMATION", sense));
      dialog.EnableMainButton(kWriteButton, true);
      ConsoleLog(Trace(), "GetLastError was %d\n", 0);
      end(WriteState::kFailed);
      return;
    }
    nwa = ReadBe32(reply + 12);
  }
  if (InList(profile, {0x11, 0x14, 0x15, 0x1B, 0x2B})) {
    room = ReadBe32(reply + 16);
    room_known = true;
  } else if (IsOverwritableDvd(profile)) {
    room = FormattedCapacity(drive);
    room_known = room != 0;
  }

  const bool restricted_overwrite = profile == 0x13;
  const std::uint32_t chunk = restricted_overwrite ? kEccBlock : kChunk;
  const std::uint32_t count = image.sectors;
  const std::uint32_t pad = count % 16 == 0 ? 0 : 16 - count % 16;
  ReportPadding(image);
  if (room_known && std::uint64_t{count} + pad > room) {
    RefuseTooLarge(*job,
                   pad == 0
                       ? FormatText(96, "The image of %u sectors", count)
                       : FormatText(96, "The image of %u sectors padded to an ECC block", count),
                   std::uint64_t{count} + pad, room);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }
  job->total_sectors.store(count);
  dialog.SetText(kSectorCount, FormatText(64, "%i/%i\n", 0, static_cast<int>(count)));
  ConsoleLog(Info(), "EndSectors=%i\n", static_cast<int>(pad));
  dialog.SetProgressPosition(kWriteGauge, 0);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(count + 1));
  dialog.SetProgressStep(kWriteGauge, static_cast<int>(chunk));
  char name[32];
  ProfileName(profile, name);
  dialog.SetText(kDvdProfileName, name);

  if (std::string refusal; request.test_write && !TestWriteOffered(drive, profile, &refusal)) {
    ConsoleLog(Info(), "%s\n", refusal.c_str());
    job->SetFailure(refusal);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }

  if (const std::uint8_t function = DvdCloseFunction(request, profile); function != 0) {
    CloseTrackSessionCommand.Set(2, function);
  }

  if (InList(profile, {0x11, 0x14, 0x15, 0x16})) {
    std::uint8_t list[kListLength] = {};
    list[1] = 0x3A;
    list[2] = 0x21;
    std::uint8_t* page = list + 8;
    page[0] = 0x05;
    page[1] = 0x32;
    page[2] = request.close_disc ? 0x62 : 0x60;
    // A test write is simulated incrementally: no track is reserved, none is closed.
    if (request.test_write) page[2] = 0x70;
    page[3] = request.close_disc ? 0x25 : 0xE5;
    page[4] = 0x08;
    page[5] = 0x10;
    page[13] = 0x10;
    page[15] = 0x96;
    if (const std::int32_t sense = SendTo(drive, kModeSelect, kListLength, list, kDataOut, 1);
        sense != 0) {
      job->SetFailure(StepFailed("MODE SELECT (write parameters)", sense));
      dialog.EnableMainButton(kWriteButton, true);
      ConsoleLog(Info(), "ModeSelect Error: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
                 kModeSelect[0], kModeSelect[1], kModeSelect[2], kModeSelect[3], kModeSelect[4],
                 kModeSelect[5], kModeSelect[6], kModeSelect[7], kModeSelect[8], kModeSelect[9]);
      ConsoleLog(Trace(), "GetLastError was %d\n", 0);
      end(WriteState::kFailed);
      return;
    }
  }

  if (!IsOverwritableDvd(profile) && !request.test_write) {
    std::uint8_t reserve[10] = {0x53, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    WriteBe32(count + pad, reserve + 5);
    if (const std::int32_t sense = SendTo(drive, reserve, 0, nullptr, kDataNone, 1); sense != 0) {
      job->SetFailure(StepFailed("RESERVE TRACK", sense));
      dialog.EnableMainButton(kWriteButton, true);
      ConsoleLog(Info(), "ReserveTrack Error: %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
                 reserve[0], reserve[1], reserve[2], reserve[3], reserve[4], reserve[5], reserve[6],
                 reserve[7], reserve[8], reserve[9]);
      ConsoleLog(Trace(), "GetLastError was %d\n", 0);
      end(WriteState::kFailed);
      return;
    }
  }

  ReadBufferCapacity(drive, 0);
  dialog.StartTimer(kProgressTimer, 1000);

  WriteLoop loop;
  loop.start = nwa;
  loop.count = count;
  loop.block_size = kSector;
  loop.chunk = chunk;
  loop.write12 = true;
  loop.single_tail = !restricted_overwrite;
  loop.tail_gauge_step = true;
  loop.whole_chunks = restricted_overwrite;
  loop.close_after = 1;
  loop.read = [&image, &request](std::int64_t, std::uint8_t* data, std::size_t bytes,
                                 std::string* path, int* error) {
    *path = request.path;
    return ReadImage(image, data, bytes, error);
  };
  if (RunWriteLoop(*job, dialog, drive, loop) != WriteOutcome::kWritten) return;
  auto show_buffer = [&dialog](const BufferCapacity& now) {
    if (now.known) {
      dialog.SetProgressPosition(kBufferGauge, static_cast<int>(now.length - now.free));
    }
  };
  // Restricted overwrite wrote the zeros of the last ECC block with it.
  const std::uint32_t lba = nwa + count + (restricted_overwrite ? pad : 0);
  std::uint8_t write[12] = {0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

  ConsoleLog(Info(), "EndSectors=%i, i=%i\n", static_cast<int>(pad), static_cast<int>(lba));
  bool confirmed = true;
  if (pad != 0 && !restricted_overwrite) {
    std::vector<std::uint8_t> buffer(std::size_t{pad} * kSector, 0);
    WriteBe32(lba, write + 2);
    WriteBe32(pad, write + 6);
    const WriteAttempt attempt =
        SendWrite(drive, write, pad * kSector, buffer.data(), job->run, show_buffer);
    if (attempt.outcome != WriteOutcome::kWritten) {
      TraceEnabled.store(1);
      const std::string line =
          WriteFailure(lba, pad, attempt) + " (the zeros of the last ECC block)";
      ConsoleLog(Info(), "%s\n", line.c_str());
      dialog.SetText(kFileMessage, line);
      job->SetFailure(line);
      confirmed = false;
    }
  }

  // End steps, traced; a drive that does not confirm them makes the write a failure.
  TraceEnabled.store(1);
  if (const std::int32_t sense = SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, 0);
      sense != 0) {
    ReportEndStepFailure(*job, dialog, "SYNCHRONIZE CACHE", sense);
    confirmed = false;
  }
  capacity = ReadBufferCapacity(drive, 0);
  show_buffer(capacity);
  if (!IsOverwritableDvd(profile) && profile != 0x14 && !request.test_write) {
    std::uint8_t close[12];
    CloseTrackSessionCommand.Snapshot(close);
    if (const std::int32_t sense = SendTo(drive, close, 0, nullptr, kDataNone, 0); sense != 0) {
      const std::uint8_t function = close[2] & 0x07;
      if (function != 1) ConsoleLog(Info(), "關閉節區失敗.\n");
      ReportEndStepFailure(*job, dialog, function == 1 ? "CLOSE TRACK" : "CLOSE SESSION", sense);
      confirmed = false;
    }
  }
  const WriteState verified =
      confirmed ? VerifyIfAsked(*job, dialog, request, drive, image, ReadBack::kData, nwa)
                : WriteState::kFailed;
  confirmed = verified == WriteState::kFinished;
  ShowWriteEnd(dialog, confirmed, request.test_write, count);
  std::vector<std::uint8_t> mode(kReplyBufferSize);
  WaitUntilReady(false, mode.data());
  dialog.StopTimer(kProgressTimer);
  TraceEnabled.store(1);
  SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 1);
  end(verified);
}

}  // namespace zorvane
