#include "write/sao_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "base/output_file.h"
#include "base/utilities.h"
#include "transport/console.h"
#include "transport/polling.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/verify.h"
#include "write/write_dialog.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kSynchronizeCache[10] = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
// GET CONFIGURATION of the CD Mastering feature alone.
constexpr std::uint8_t kGetMastering[10] = {0x46, 0x02, 0x00, 0x2E, 0, 0, 0, 0, 0x20, 0};
constexpr std::uint8_t kReadDiscInformation[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 0x22, 0};
constexpr std::uint8_t kReadTrackInformation[10] = {0x52, 0x01, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0};
constexpr std::uint8_t kModeSelect[10] = {0x55, 0x10, 0, 0, 0, 0, 0, 0x00, 0x3C, 0};
constexpr std::size_t kListLength = 60;
constexpr std::uint32_t kChunk = 16;
// A cue sheet is a page of text: a larger file is not one.
constexpr std::int64_t kCueSheetFileLimit = 1 << 20;

bool ReadAt(int fd, std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset, int* error) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::pread(fd, buffer + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return false;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done < bytes) std::memset(buffer + done, 0, bytes - done);
  return true;
}

bool ReadCueText(const std::string& path, std::string* text, std::string* problem) {
  std::int64_t size = 0;
  FileGuard file;
  file.fd = OpenInputFile(path, &size, problem);
  if (file.fd < 0) return false;
  if (size > kCueSheetFileLimit) {
    *problem = FormatText(kConsoleTextLimit,
                          "%s holds %lld bytes; a cue sheet of more than %lld "
                          "bytes is not read",
                          path.c_str(), static_cast<long long>(size),
                          static_cast<long long>(kCueSheetFileLimit));
    return false;
  }
  text->assign(static_cast<std::size_t>(size), '\0');
  int error = 0;
  if (!ReadAt(file.fd, reinterpret_cast<std::uint8_t*>(text->data()), text->size(), 0, &error)) {
    *problem = path + ": " + std::strerror(error);
    return false;
  }
  return true;
}

// Opens a file a sheet names (or a WAVE file of an album) and keeps it open for the write.
bool OpenTrackFile(const std::string& path, bool wave, SaoPlan* plan, CueFileInfo* info,
                   std::string* problem) {
  auto source = std::make_unique<ImageSource>();
  if (!OpenImage(path, wave, 2352, source.get(), problem)) return false;
  info->wave = wave;
  info->offset = source->offset;
  info->bytes = source->bytes;
  plan->files.push_back(std::move(source));
  plan->paths.push_back(path);
  return true;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

const char* DiscStatus(std::uint8_t status) {
  switch (status & 0x03) {
    case 1:
      return "appendable";
    case 2:
      return "complete";
    default:
      return "in another state";
  }
}

}  // namespace

bool IsCueSheetPath(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".cue";
}

bool PlanSao(const SaoRequest& request, SaoPlan* plan, std::string* problem) {
  plan->files.clear();
  plan->paths.clear();
  std::vector<SaoTrack> tracks;
  CdText text;
  if (!request.cue_path.empty()) {
    std::string sheet;
    if (!ReadCueText(request.cue_path, &sheet, problem)) return false;
    CueImage image;
    const CueFileLookup lookup = [plan](const std::string& path, bool wave, CueFileInfo* info,
                                        std::string* why) {
      return OpenTrackFile(path, wave, plan, info, why);
    };
    if (!ParseCueImage(sheet, Folder(request.cue_path), lookup, &image, problem)) {
      if (problem->rfind(request.cue_path, 0) != 0 && problem->find('/') == std::string::npos) {
        *problem = request.cue_path + ": " + *problem;
      }
      return false;
    }
    tracks = std::move(image.tracks);
    plan->catalogue = image.catalogue;
    text = image.text;
  } else {
    if (request.waves.empty()) {
      *problem = "no WAVE file given";
      return false;
    }
    std::vector<CueFileInfo> infos;
    for (const std::string& path : request.waves) {
      CueFileInfo info;
      if (!OpenTrackFile(path, true, plan, &info, problem)) return false;
      infos.push_back(info);
    }
    tracks = AudioTracks(infos, request.gap);
    const int count = static_cast<int>(tracks.size());
    if (!request.cdtext_file.empty()) {
      std::string lines;
      if (!ReadCueText(request.cdtext_file, &lines, problem)) return false;
      if (!ParseCdTextLines(lines, count, &text, problem)) {
        *problem = request.cdtext_file + ": " + *problem;
        return false;
      }
    }
    for (std::size_t i = 0; i < request.track_titles.size() && i < tracks.size(); ++i) {
      if (request.track_titles[i].empty()) continue;
      text.title.resize(static_cast<std::size_t>(count) + 1);
      text.title[i + 1] = request.track_titles[i];
    }
    auto album = [count](std::vector<std::string>* field, const std::string& value) {
      if (value.empty()) return;
      field->resize(static_cast<std::size_t>(count) + 1);
      (*field)[0] = value;
    };
    album(&text.title, request.title);
    album(&text.performer, request.performer);
  }
  plan->cdtext.clear();
  if (!request.drop_text && !text.Empty() && !EncodeAlbumText(text, &plan->cdtext, problem)) {
    return false;
  }
  if (!BuildSaoSession(tracks, plan->catalogue, !plan->cdtext.empty(), &plan->session, problem)) {
    if (!request.cue_path.empty()) *problem = request.cue_path + ": " + *problem;
    return false;
  }
  return true;
}

namespace {

// Reads the session back, track range by track range, and compares each block with its file:
// audio as its 2,352 bytes, Mode 1 as its 2,048 bytes of user data, Mode 2 as the 2,336
// bytes after the header; a block sent whole (2,352 bytes) is compared by the part the drive
// keeps, since the drive builds sync, header and EDC/ECC afresh. Ranges of zeros the host
// made up (pre-gaps, post-gaps) and blocks ahead of LBA 0 are not read back.
WriteState VerifySession(WriteJob& job, PostedDialog& dialog, const DriveAddress& drive,
                         const SaoPlan& plan) {
  std::uint32_t total = 0;
  for (const SaoSource& source : plan.session.sources) {
    if (source.file >= 0 && source.start + source.blocks > 0) {
      total += static_cast<std::uint32_t>(source.start + source.blocks -
                                          std::max<std::int64_t>(source.start, 0));
    }
  }
  ConsoleLog(Info(), "verify: reading back %u sectors of the session\n",
             static_cast<unsigned>(total));
  job.sectors_verified.store(0);
  job.verifying.store(true);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(total));
  dialog.SetProgressPosition(kWriteGauge, 0);
  VerifyResult all;
  std::uint32_t done_before = 0;
  for (const SaoSource& source : plan.session.sources) {
    if (source.file < 0 || source.start + source.blocks <= 0) continue;
    const bool audio = source.form == 0x00;
    const bool mode2 = source.form == 0x30 || source.form == 0x31;
    const ReadBack kind = audio ? ReadBack::kAudio : mode2 ? ReadBack::kMode2 : ReadBack::kData;
    const std::uint32_t kept = ReadBackSectorSize(kind);
    const std::size_t skip = source.block_size == 2352 && !audio ? 16 : 0;  // sync and header
    const auto first = static_cast<std::uint32_t>(std::max<std::int64_t>(source.start, 0));
    const auto count = static_cast<std::uint32_t>(source.start + source.blocks - first);
    std::uint64_t at = (first - source.start) * std::uint64_t{source.block_size};
    const ImageSource& file = *plan.files[static_cast<std::size_t>(source.file)];
    std::vector<std::uint8_t> block(source.block_size);
    const VerifyResult result = CompareWritten(
        drive, kind, first, count,
        [&](std::uint8_t* buffer, std::uint32_t sectors, int* error) {
          for (std::uint32_t i = 0; i < sectors; ++i, at += source.block_size) {
            const std::uint64_t from_file =
                at >= source.bytes ? 0 : std::min<std::uint64_t>(block.size(), source.bytes - at);
            if (!ReadAt(file.file.fd, block.data(), static_cast<std::size_t>(from_file),
                        source.offset + at, error)) {
              return false;
            }
            std::memset(block.data() + from_file, 0, block.size() - from_file);
            std::memcpy(buffer + std::size_t{i} * kept, block.data() + skip, kept);
          }
          return true;
        },
        job.run,
        [&job, &dialog, done_before](std::uint32_t done) {
          job.sectors_verified.store(done_before + done);
          dialog.SetProgressPosition(kWriteGauge, static_cast<int>(done_before + done));
        });
    done_before += result.compared;
    if (result.different > 0 && all.different == 0) {
      all.first_lba = result.first_lba;
      all.first_byte = result.first_byte;
    }
    all.different += result.different;
    all.compared += result.compared;
    if (result.stopped || !result.failure.empty()) {
      all.stopped = result.stopped;
      all.failure = result.failure;
      break;
    }
  }
  job.verifying.store(false);
  if (all.stopped) {
    job.SetFailure(FormatText(128, "verify stopped after %u of %u sectors; the write had finished",
                              static_cast<unsigned>(all.compared), static_cast<unsigned>(total)));
    return WriteState::kCancelled;
  }
  const std::string line = all.failure.empty() ? VerifyLine(all) : "verify: " + all.failure;
  ConsoleLog(Info(), "%s\n", line.c_str());
  dialog.SetText(kFileMessage, line);
  if (all.failure.empty() && all.different == 0) return WriteState::kFinished;
  job.SetFailure(line);
  return WriteState::kFailed;
}

}  // namespace

void SaoWriteWorker(const std::shared_ptr<WriteJob>& job, const SaoRequest& request) {
  PostedDialog dialog(job);
  const DriveAddress drive = CurrentDriveAddress();
  auto end = [&job](WriteState state) {
    TraceEnabled.store(1);
    job->state.store(state);
  };
  // A refusal before the first command that changes the disc: the figures on the
  // information console and as the job's failure.
  auto refuse = [&](const std::string& line) {
    ConsoleLog(Info(), "%s\n", line.c_str());
    job->SetFailure(line);
    dialog.StopTimer(kProgressTimer);
    dialog.Enable(kOkButton, true);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
  };
  dialog.SetText(kCancelButton, "取消(&C)");

  SaoPlan plan;
  if (std::string problem; !PlanSao(request, &plan, &problem)) {
    refuse(problem);
    return;
  }
  const SaoSession& session = plan.session;

  // The disc: a blank CD-R or CD-RW.
  std::uint8_t reply[256] = {};
  if (const std::int32_t sense = SendTo(drive, kGetCurrentProfile, 255, reply, kDataIn, 0);
      sense != 0) {
    refuse(StepFailed("GET CONFIGURATION", sense));
    return;
  }
  const std::uint16_t profile = ReadBe16(reply + 6);
  if (profile != 0x09 && profile != 0x0A) {
    refuse(profile == 0 ? std::string("no disc in the drive (current profile 0000h)")
                        : FormatText(96, "the disc (profile %04Xh) is not a CD-R or CD-RW",
                                     static_cast<unsigned>(profile)));
    return;
  }
  if (std::string refusal; request.test_write && !TestWriteOffered(drive, profile, &refusal)) {
    refuse(refusal);
    return;
  }
  std::memset(reply, 0, sizeof reply);
  if (const std::int32_t sense = SendTo(drive, kReadDiscInformation, 34, reply, kDataIn, 0);
      sense != 0) {
    refuse(StepFailed("READ DISC INFORMATION", sense));
    return;
  }
  if ((reply[2] & 0x03) != 0) {
    refuse(std::string("the disc is ") + DiscStatus(reply[2]) +
           ", not blank: a session at once is written on a blank CD-R or CD-RW");
    return;
  }
  // The drive: CD Mastering (002Eh) current with its SAO bit.
  std::memset(reply, 0, sizeof reply);
  const std::int32_t mastering = SendTo(drive, kGetMastering, 32, reply, kDataIn, 0);
  const bool has_mastering = mastering == 0 && ReadBe32(reply) >= 8 + 4 &&
                             ReadBe16(reply + 8) == 0x002E && (reply[10] & 0x01) != 0;
  if (!has_mastering || (reply[12] & 0x20) == 0) {
    refuse(has_mastering ? "the drive does not write session at once (CD Mastering, feature "
                           "002Eh, has SAO clear)"
                         : "the drive does not write session at once (it reports no current CD "
                           "Mastering feature, 002Eh)");
    return;
  }
  const bool text = !plan.cdtext.empty();
  if (text && (reply[12] & 0x01) == 0) {
    refuse(
        "the drive cannot write CD-TEXT in the lead-in (CD Mastering, feature 002Eh, has R-W "
        "clear); --no-cdtext writes the disc without its texts");
    return;
  }
  // With CD-TEXT the host sends the lead-in's sub-channel from the start of the lead-in that
  // the ATIP gives.
  std::int64_t leadin = kSaoFirstBlock;
  if (text) {
    static constexpr std::uint8_t kReadAtip[10] = {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 0x1C, 0};
    std::memset(reply, 0, sizeof reply);
    if (const std::int32_t sense = SendTo(drive, kReadAtip, 28, reply, kDataIn, 0); sense != 0) {
      refuse(StepFailed("READ TOC/PMA/ATIP (ATIP, for the lead-in's start)", sense));
      return;
    }
    const std::int64_t frames = (std::int64_t{reply[8]} * 60 + reply[9]) * 75 + reply[10];
    leadin = reply[8] >= 90 ? frames - 450150 : frames - 150;
    if (leadin >= kSaoFirstBlock || leadin < -45150) {
      refuse(FormatText(128, "the ATIP gives the lead-in's start as %02u:%02u:%02u, no lead-in",
                        reply[8], reply[9], reply[10]));
      return;
    }
  }
  // The room: the session's blocks from LBA 0 to the lead-out against the free blocks.
  std::memset(reply, 0, sizeof reply);
  if (const std::int32_t sense = SendTo(drive, kReadTrackInformation, 255, reply, kDataIn, 0);
      sense != 0) {
    refuse(StepFailed("READ TRACK INFORMATION", sense));
    return;
  }
  const std::uint32_t free_blocks = ReadBe32(reply + 16);
  if (session.leadout > static_cast<std::int64_t>(free_blocks)) {
    RefuseTooLarge(*job,
                   session.tracks == 1 ? std::string("The session of 1 track")
                                       : FormatText(96, "The session of %d tracks", session.tracks),
                   static_cast<std::uint64_t>(session.leadout), free_blocks);
    dialog.StopTimer(kProgressTimer);
    dialog.Enable(kOkButton, true);
    dialog.EnableMainButton(kWriteButton, true);
    end(WriteState::kFailed);
    return;
  }

  // Write parameters: session at once, the first track's mode, the disc closed unless a
  // next session is asked for.
  std::uint8_t list[kListLength] = {};
  list[1] = 0x3A;
  std::uint8_t* page = list + 8;
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = request.test_write ? 0x52 : 0x42;
  // The lead-in entry (the first of ADR 1) carries the first track's control nibble.
  std::uint8_t control = 0;
  for (std::size_t i = 0; i + 8 <= session.sheet.size(); i += 8) {
    if ((session.sheet[i] & 0x0F) == 1) {
      control = session.sheet[i] >> 4;
      break;
    }
  }
  page[3] = static_cast<std::uint8_t>((request.multi_session ? 0xC0 : 0x00) | (control & 0x0F));
  page[4] = (control & 0x04) != 0 ? 0x08 : 0x00;
  page[15] = 0x96;
  DumpBytes(list, kListLength);
  if (const std::int32_t sense = SendTo(drive, kModeSelect, kListLength, list, kDataOut, 0);
      sense != 0) {
    refuse(StepFailed("MODE SELECT (write parameters)", sense));
    return;
  }
  std::vector<std::uint8_t> sheet = session.sheet;
  DumpBytes(sheet.data(), sheet.size());
  std::uint8_t send_cue[10] = {0x5D, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  send_cue[6] = static_cast<std::uint8_t>(sheet.size() >> 16);
  send_cue[7] = static_cast<std::uint8_t>(sheet.size() >> 8);
  send_cue[8] = static_cast<std::uint8_t>(sheet.size());
  if (const std::int32_t sense = SendTo(drive, send_cue, static_cast<std::uint32_t>(sheet.size()),
                                        sheet.data(), kDataOut, 0);
      sense != 0) {
    refuse(StepFailed("SEND CUE SHEET", sense));
    return;
  }

  WriteLoop loop;
  loop.start = leadin;
  if (leadin < kSaoFirstBlock) {
    loop.ranges.push_back({static_cast<std::uint32_t>(kSaoFirstBlock - leadin),
                           static_cast<std::uint32_t>(kCdTextLeadInBlockSize)});
    loop.count = loop.ranges.back().blocks;
  }
  for (const SaoSource& source : session.sources) {
    loop.ranges.push_back({source.blocks, source.block_size});
    loop.count += source.blocks;
  }
  loop.chunk = kChunk;
  loop.single_tail = false;
  loop.count_text = true;
  loop.stop_line =
      "The session at once was cut before its lead-out: the drive records no table of contents "
      "for it (a CD-R is spoilt, a CD-RW must be blanked before it is written again).";
  job->total_sectors.store(loop.count);
  dialog.SetText(kSectorCount, FormatText(64, "%i/%i\n", 0, static_cast<int>(loop.count)));
  dialog.SetProgressPosition(kWriteGauge, 0);
  dialog.SetProgressRange(kWriteGauge, 0, static_cast<int>(loop.count + 1));
  dialog.SetProgressStep(kWriteGauge, static_cast<int>(kChunk));
  ConsoleLog(Info(),
             "Session at once: %d tracks, %u blocks from LBA %lld to the lead-out at %lld\n",
             session.tracks, static_cast<unsigned>(loop.count), static_cast<long long>(leadin),
             static_cast<long long>(session.leadout));
  std::size_t cursor = 0;
  loop.read = [&](std::int64_t lba, std::uint8_t* buffer, std::size_t bytes, std::string* path,
                  int* error) {
    if (lba < kSaoFirstBlock) {
      // The lead-in's CD-TEXT packs, four to a 96-byte block, repeating.
      const std::vector<std::uint8_t> blocks = CdTextLeadInBlocks(
          plan.cdtext, static_cast<std::size_t>(lba - leadin), bytes / kCdTextLeadInBlockSize);
      std::memcpy(buffer, blocks.data(), std::min(bytes, blocks.size()));
      return true;
    }
    while (cursor + 1 < session.sources.size() &&
           lba >= session.sources[cursor].start + session.sources[cursor].blocks) {
      ++cursor;
    }
    const SaoSource& source = session.sources[cursor];
    if (source.file < 0) {
      std::memset(buffer, 0, bytes);
      return true;
    }
    const std::uint64_t at = static_cast<std::uint64_t>(lba - source.start) * source.block_size;
    const std::uint64_t from_file =
        at >= source.bytes ? 0 : std::min<std::uint64_t>(bytes, source.bytes - at);
    const ImageSource& file = *plan.files[static_cast<std::size_t>(source.file)];
    *path = plan.paths[static_cast<std::size_t>(source.file)];
    if (!ReadAt(file.file.fd, buffer, static_cast<std::size_t>(from_file), source.offset + at,
                error)) {
      return false;
    }
    std::memset(buffer + from_file, 0, bytes - static_cast<std::size_t>(from_file));
    return true;
  };
  if (RunWriteLoop(*job, dialog, drive, loop) != WriteOutcome::kWritten) return;

  // End steps: the flush after the last block records the lead-in, the tracks and the
  // lead-out. A drive that does not confirm it makes the write a failure.
  TraceEnabled.store(1);
  bool confirmed = true;
  if (const std::int32_t sense = SendTo(drive, kSynchronizeCache, 0, nullptr, kDataNone, 0);
      sense != 0) {
    ReportEndStepFailure(*job, dialog, "SYNCHRONIZE CACHE", sense);
    confirmed = false;
  }
  std::this_thread::sleep_for(CurrentWritePacing().settle);
  dialog.StopTimer(kProgressTimer);
  // The drive records the lead-in and the lead-out after the flush: wait while it says so.
  RepeatWhile([&drive] { return SendTo(drive, kTestUnitReady, 0, nullptr, kDataNone, 1); },
              {kBecomingReady, kOperationInProgress, kLongWriteInProgress});
  WriteState state = confirmed ? WriteState::kFinished : WriteState::kFailed;
  if (confirmed && request.verify && !request.test_write) {
    state = VerifySession(*job, dialog, drive, plan);
  }
  // The finished captions only once the verify, if any, found the session as it was sent.
  ShowWriteEnd(dialog, state == WriteState::kFinished, request.test_write, loop.count);
  end(state);
}

}  // namespace zorvane
