#include "read/read_dialog.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "info/commands.h"
#include "info/media.h"
#include "info/toc.h"
#include "transport/console.h"
#include "transport/discovery.h"

namespace zorvane {

namespace {

constexpr const char* kFinishedCaption = "結束(&X)";
constexpr const char* kRangeCaption = "讀取";
constexpr const char* kNegativeFirstMessage = "起始碟區 %lld 不可小於 0, 請更正讀取範圍.";
constexpr const char* kReversedRangeMessage = "起始碟區 %lld 大於結束碟區 %lld, 請更正讀取範圍.";

void EnableReadButton(bool enabled) {
  if (Dialog* window = MainWindow.load()) window->Enable(kReadButton, enabled);
}

// A sector typed into an edit: optional blanks and sign, then decimal digits; anything
// else (or nothing) is 0. Values beyond 32 bits are held at the nearest end.
std::int64_t SectorOf(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(begin, &end, 10);
  if (end == begin) return 0;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return value;
}

// The ADR/control byte the mode display shows in hexadecimal ("12h" gives 12h).
int AdrControlOf(const std::string& text) {
  int value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) break;
    value = (value * 16 + (std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10)) &
            0xFF;
  }
  return value;
}

const char* DeviceDescription() {
  const std::uint8_t slot = CurrentDevice.slot.load();
  for (int i = 0; i < DeviceCount; ++i) {
    if (DeviceTable[i].slot == slot) return DeviceTable[i].description;
  }
  return "";
}

}  // namespace

void ReadDialog::OnInit(Dialog& dialog) {
  EnableReadButton(false);

  std::vector<std::uint8_t> reply(kReplyBufferSize);
  reply[7] = 0;
  const std::int32_t result =
      ExecuteOnCurrent(cdb::kGetCurrentProfile, 0xFFFF, reply.data(), kDataIn, 1);
  const std::uint8_t profile = result == 0 ? reply[7] : 0;
  const char* description = DeviceDescription();
  if (profile != 0) {
    char name[32];
    ProfileName(profile, name, sizeof name);
    title_ = FormatText(kConsoleTextLimit, "讀取  %s 中的 %s", description, name);
    dialog.SetText(kReadMedium, name);
  } else {
    dialog.SetText(kReadMedium, FormatText(kConsoleTextLimit, "讀取  %s", description));
  }

  dialog.SetText(kReadFirstSector, "      0");
  dialog.SetText(kReadLastSector, FormatText(64, "%7i\n", 0));
  dialog.ClearItems(kTrackChoice);
  tracks_ = 0;
  for (int row = 0; row < kTrackRows; ++row) {
    const TrackEntry entry = TrackList.Get(row);
    if (entry.track == 0) break;
    dialog.AddItem(kTrackChoice,
                   FormatText(kConsoleTextLimit, "第%2i軌   模式%2Xh   從第%i至，第%i個碟區\n",
                              entry.track, entry.adr_control, entry.first_block, entry.last_block));
    ++tracks_;
  }
  if (kind_ == Kind::kCd && tracks_ > 0) dialog.AddItem(kTrackChoice, kWholeDiscChoice);
  dialog.SelectItem(kTrackChoice, 0);
  SelectTrack(dialog);
  path_.clear();
}

void ReadDialog::SelectTrack(Dialog& dialog) {
  const int index = dialog.SelectedItem(kTrackChoice);
  if (index < 0 || index >= kTrackRows) return;
  whole_disc_ = kind_ == Kind::kCd && tracks_ > 0 && index == tracks_;
  if (whole_disc_) {
    // Every track of every session: the range shown is the disc's, the file a cue sheet.
    dialog.SetText(kReadMode, "");
    dialog.SetText(kReadFirstSector, FormatText(64, "%7i\n", TrackList.Get(0).first_block));
    dialog.SetText(kReadLastSector, FormatText(64, "%7i\n", TrackList.Get(tracks_ - 1).last_block));
    filter_ = ReadFileFilter::kCue;
    return;
  }
  const TrackEntry entry = TrackList.Get(index);
  dialog.SetText(kReadMode, FormatText(64, "%02Xh\n", entry.adr_control));
  dialog.SetText(kReadFirstSector, FormatText(64, "%7i\n", entry.first_block));
  dialog.SetText(kReadLastSector, FormatText(64, "%7i\n", entry.last_block));
  // On a CD the control nibble says audio (bit 2 clear) whatever its copy and pre-emphasis
  // bits.
  const bool audio =
      kind_ == Kind::kCd ? (entry.adr_control & 0x04) == 0 : entry.adr_control == 0x10;
  if (audio) {
    filter_ = ReadFileFilter::kWave;
  } else {
    filter_ = kind_ == Kind::kDvd ? ReadFileFilter::kIso : ReadFileFilter::kCdImage;
  }
}

void ReadDialog::OnCommand(Dialog& dialog, int id) {
  switch (id) {
    case kTrackChoice:
      SelectTrack(dialog);
      break;
    case kReadBrowse:
      if (chooser_ && chooser_(filter_, &path_)) dialog.SetText(kReadPath, path_);
      break;
    case kOkButton:
      Start(dialog);
      break;
    case kCancelButton:
      Cancel(dialog);
      break;
    default:
      break;
  }
}

void ReadDialog::Start(Dialog& dialog) {
  if (job_ != nullptr && job_->outcome.load() == ReadOutcome::kRunning) return;
  std::shared_ptr<DiscReadJob> disc_job;
  if (whole_disc_) {
    // The whole disc goes to a cue sheet and its image beside it: a name without .cue
    // gets it.
    std::string path = dialog.Text(kReadPath);
    DiscFiles files;
    if (!DiscFilesOf(path, &files)) path += ".cue";
    disc_job = std::make_shared<DiscReadJob>(DiscReadRequest{path, false});
  }
  ReadRequest request;
  request.adr_control = AdrControlOf(dialog.Text(kReadMode));
  request.first = SectorOf(dialog.Text(kReadFirstSector));
  request.last = SectorOf(dialog.Text(kReadLastSector));
  request.path = dialog.Text(kReadPath);
  // A range that holds no sector is refused before anything is opened or sent.
  if (request.first < 0) {
    ShowMessage(kRangeCaption, kNegativeFirstMessage, static_cast<long long>(request.first));
    return;
  }
  if (request.first > request.last) {
    ShowMessage(kRangeCaption, kReversedRangeMessage, static_cast<long long>(request.first),
                static_cast<long long>(request.last));
    return;
  }
  for (int row = 0; row < kTrackRows; ++row) {
    const TrackEntry entry = TrackList.Get(row);
    if (entry.track == 0) break;
    request.track_ends.push_back(entry.last_block);
  }
  job_ = disc_job != nullptr ? disc_job : std::make_shared<ReadJob>(std::move(request));
  ticks_ = 0;
  highest_ = 0;
  range_shown_ = false;
  end_shown_ = false;
  shown_sector_ = -1;
  shown_width_ = 0;
  shown_done_ = -1;
  dialog.Enable(kOkButton, false);
  dialog.StartTimer(kClockTimer, 1000);
  dialog.StartTimer(kRefreshTimer, kRefreshMilliseconds);
  if (disc_job != nullptr) {
    StartDiscReadWorker(std::move(disc_job));
  } else {
    StartReadWorker(job_);
  }
}

void ReadDialog::Cancel(Dialog& dialog) {
  if (job_ != nullptr) job_->run.store(false);
  dialog.StopTimer(kClockTimer);
  dialog.StopTimer(kRefreshTimer);
  EnableReadButton(true);
  closed_ = true;
  dialog.EndDialog(kCancelButton);
}

void ReadDialog::OnClose(Dialog& /*dialog*/) {
  // The worker sees the cleared flag before its next command and ends on its own.
  if (job_ != nullptr) job_->run.store(false);
  if (!closed_) EnableReadButton(true);
  closed_ = true;
}

void ReadDialog::OnTimer(Dialog& dialog, int timer_id) {
  if (timer_id == kClockTimer) Tick(dialog);
  if (timer_id == kRefreshTimer) Refresh(dialog);
}

std::string ReadDialog::SpeedText(float sectors_per_second) const {
  if (kind_ == Kind::kDvd) {
    return FormatText(64, "%.2f(%.2f)\n", static_cast<double>(sectors_per_second / 692.5f),
                      static_cast<double>(sectors_per_second / 75.0f));
  }
  return FormatText(64, "%.2f\n", static_cast<double>(sectors_per_second / 75.0f));
}

void ReadDialog::Tick(Dialog& dialog) {
  if (job_ == nullptr) return;
  ++ticks_;
  if (!job_->started.load()) return;
  const std::int64_t current = job_->current.load();
  const std::int64_t previous = job_->previous.load();
  if (current == previous) return;
  dialog.SetText(kElapsedTime, FormatText(64, "%02i:%02i\n", ticks_ / 60, ticks_ % 60));
  const float speed = static_cast<float>(current - previous);
  if (speed > highest_) {
    highest_ = speed;
    dialog.SetText(kHighestSpeed, SpeedText(highest_));
  }
  dialog.SetText(kCurrentSpeed, SpeedText(speed));
  // The average over this read: from the first sector asked for.
  const float average =
      static_cast<float>(current - job_->request.first) / static_cast<float>(ticks_);
  dialog.SetText(kAverageSpeed, SpeedText(average));
  job_->previous.store(current);
}

void ReadDialog::Refresh(Dialog& dialog) {
  if (job_ == nullptr || end_shown_) return;
  // The outcome first: once it is published, the figures read after it are final.
  const ReadOutcome outcome = job_->outcome.load();
  if (job_->started.load()) {
    const std::int64_t total = job_->total.load();
    if (!range_shown_) {
      dialog.SetProgressRange(kReadProgress, 0, static_cast<int>(total));
      dialog.SetProgressPosition(kReadProgress, 0);
      range_shown_ = true;
    }
    const std::int64_t done = outcome == ReadOutcome::kFinished ? total : job_->done.load();
    if (done != shown_done_) {
      dialog.SetProgressPosition(kReadProgress, static_cast<int>(done));
      shown_done_ = done;
    }
    const std::int64_t sector = job_->current.load();
    const int width = job_->sector_width.load();
    if (sector != shown_sector_ || width != shown_width_) {
      dialog.SetText(kSectorReached,
                     FormatText(64, width == 7 ? "%7i\n" : "%6i\n", static_cast<int>(sector)));
      shown_sector_ = sector;
      shown_width_ = width;
    }
  }
  if (outcome == ReadOutcome::kRunning) return;

  end_shown_ = true;
  dialog.StopTimer(kRefreshTimer);
  dialog.StopTimer(kClockTimer);
  switch (outcome) {
    case ReadOutcome::kFinished:
      dialog.SetText(kCancelButton, kFinishedCaption);
      dialog.Enable(kOkButton, true);
      break;
    case ReadOutcome::kNotOpened:
      dialog.Enable(kOkButton, true);
      break;
    default:
      break;
  }
  if (outcome != ReadOutcome::kCancelled) EnableReadButton(true);
}

}  // namespace zorvane
