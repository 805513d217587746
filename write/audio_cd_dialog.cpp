#include "write/audio_cd_dialog.h"

#include <cmath>
#include <cstdlib>

#include "base/utilities.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/vocabulary.h"
#include "write/write_job.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr ControlTemplate kAudioControls[] = {
    {kNoId, K::kStatic, "檔案名稱", 7, 9, 36, 10, kStyleNone},
    {kAudioWavePath, K::kEdit, "", 45, 7, 160, 13, kStyleNone},
    {kAudioAdd, K::kButton, "加入", 210, 6, 44, 15, kStyleNone},
    {kNoId, K::kStatic, "曲目名稱", 7, 26, 36, 10, kStyleNone},
    {kAudioTrackTitle, K::kEdit, "", 45, 24, 160, 13, kStyleNone},
    {kAudioRename, K::kButton, "更改名稱", 210, 23, 44, 15, kStyleNone},
    {kAudioTrackList, K::kListBox, "", 7, 42, 198, 80, kStyleVScroll},
    {kAudioRemove, K::kButton, "移除", 210, 42, 44, 15, kStyleNone},
    {kNoId, K::kStatic, "專輯名稱", 7, 130, 36, 10, kStyleNone},
    {kAudioAlbumTitle, K::kEdit, "", 45, 128, 100, 13, kStyleNone},
    {kNoId, K::kStatic, "演出者", 150, 130, 30, 10, kStyleNone},
    {kAudioPerformer, K::kEdit, "", 182, 128, 72, 13, kStyleNone},
    {kNoId, K::kStatic, "間隔(秒)", 7, 148, 36, 10, kStyleNone},
    {kAudioGap, K::kEdit, "2", 45, 146, 30, 13, kStyleNone},
    {kNoId, K::kStatic, "總時間", 85, 148, 30, 10, kStyleNone},
    {kAudioTotalTime, K::kStatic, "00:00:00", 117, 148, 40, 10, kStyleNone},
    {kNoId, K::kStatic, "光碟容量", 162, 148, 36, 10, kStyleNone},
    {kAudioCapacity, K::kStatic, "", 200, 148, 54, 10, kStyleNone},
    {kAudioMessage, K::kStatic, "", 7, 164, 247, 10, kStyleNone},
    {kOkButton, K::kButton, "確定(&O)", 150, 180, 50, 15, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 204, 180, 50, 15, kStyleNone},
};

std::string FileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const DialogTemplate& AudioCdTemplate() {
  static const DialogTemplate form{kAudioCdDialog, "音樂光碟", 262,           202,
                                   "細明體",       9,          kAudioControls};
  return form;
}

std::string BlocksAsTime(std::uint64_t blocks) {
  return FormatText(32, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(blocks / 4500),
                    static_cast<unsigned long long>(blocks / 75 % 60),
                    static_cast<unsigned long long>(blocks % 75));
}

std::uint64_t AudioCdDialog::TotalBlocks(std::uint32_t gap) const {
  std::uint64_t total = kSaoFirstPregap;
  for (std::size_t i = 0; i < tracks_.size(); ++i) total += tracks_[i].blocks + (i > 0 ? gap : 0);
  return total;
}

void AudioCdDialog::OnInit(Dialog& dialog) {
  // The free blocks of the blank disc's invisible track.
  static constexpr std::uint8_t kReadTrackInformation[10] = {0x52, 0x01, 0, 0,    0,
                                                             0xFF, 0,    0, 0xFF, 0};
  std::uint8_t reply[256] = {};
  capacity_ = ExecuteOnCurrent(kReadTrackInformation, 255, reply, kDataIn, 1) == 0
                  ? ReadBe32(reply + 16) + kSaoFirstPregap
                  : 0;
  dialog.SetText(kAudioCapacity, capacity_ != 0 ? BlocksAsTime(capacity_) : "--:--:--");
  Refresh(dialog);
}

bool AudioCdDialog::Gap(Dialog& dialog, std::uint32_t* blocks) const {
  const std::string text = dialog.Text(kAudioGap);
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || text.find_first_not_of("0123456789.") != std::string::npos ||
      seconds > 60) {
    return false;
  }
  *blocks = static_cast<std::uint32_t>(std::lround(seconds * 75));
  return true;
}

void AudioCdDialog::Refresh(Dialog& dialog) {
  dialog.ClearItems(kAudioTrackList);
  for (std::size_t i = 0; i < tracks_.size(); ++i) {
    const Track& track = tracks_[i];
    dialog.AddItem(
        kAudioTrackList,
        FormatText(kConsoleTextLimit, "%02zu  %s  %s", i + 1, BlocksAsTime(track.blocks).c_str(),
                   (track.title.empty() ? FileName(track.path) : track.title).c_str()));
  }
  std::uint32_t gap = 0;
  const bool gap_ok = Gap(dialog, &gap);
  const std::uint64_t total = TotalBlocks(gap);
  dialog.SetText(kAudioTotalTime, BlocksAsTime(total));
  const bool over = capacity_ != 0 && total > capacity_;
  if (over) {
    dialog.SetText(kAudioMessage, "總時間超過光碟容量");
  } else if (!gap_ok) {
    dialog.SetText(kAudioMessage, "間隔(秒)須為 0 到 60 的數字");
  }
  dialog.Enable(kOkButton, !tracks_.empty() && !over && gap_ok);
}

void AudioCdDialog::Add(Dialog& dialog) {
  std::string path = dialog.Text(kAudioWavePath);
  if (chooser_ && chooser_(&path)) dialog.SetText(kAudioWavePath, path);
  if (path.empty()) return;
  if (tracks_.size() >= 99) {
    dialog.SetText(kAudioMessage, "一張光碟最多 99 首");
    return;
  }
  ImageSource image;
  std::string problem;
  if (!OpenImage(path, true, 2352, &image, &problem)) {
    dialog.SetText(kAudioMessage, problem);
    return;
  }
  if (image.sectors < kSaoMinimumTrack) {
    dialog.SetText(kAudioMessage, "曲目須至少 4 秒");
    return;
  }
  tracks_.push_back({path, dialog.Text(kAudioTrackTitle), image.sectors});
  dialog.SetText(kAudioMessage, "");
  dialog.SetText(kAudioWavePath, "");
  dialog.SetText(kAudioTrackTitle, "");
  Refresh(dialog);
}

void AudioCdDialog::Finish(Dialog& dialog) {
  std::uint32_t gap = 0;
  Refresh(dialog);
  if (tracks_.empty() || !Gap(dialog, &gap) || !dialog.IsEnabled(kOkButton)) return;
  auto album = std::make_shared<SaoRequest>();
  for (const Track& track : tracks_) {
    album->waves.push_back(track.path);
    album->track_titles.push_back(track.title);
  }
  album->gap = gap;
  album->title = dialog.Text(kAudioAlbumTitle);
  album->performer = dialog.Text(kAudioPerformer);
  if (accept_) accept_(album);
  dialog.EndDialog(kOkButton);
}

void AudioCdDialog::OnCommand(Dialog& dialog, int id) {
  const int selected = dialog.SelectedItem(kAudioTrackList);
  const bool picked = selected >= 0 && static_cast<std::size_t>(selected) < tracks_.size();
  switch (id) {
    case kAudioAdd:
      Add(dialog);
      break;
    case kAudioRemove:
      if (picked) tracks_.erase(tracks_.begin() + selected);
      Refresh(dialog);
      break;
    case kAudioRename:
      if (picked) tracks_[static_cast<std::size_t>(selected)].title = dialog.Text(kAudioTrackTitle);
      Refresh(dialog);
      if (picked) dialog.SelectItem(kAudioTrackList, selected);
      break;
    case kAudioTrackList:
      if (picked)
        dialog.SetText(kAudioTrackTitle, tracks_[static_cast<std::size_t>(selected)].title);
      break;
    case kAudioGap:
      Refresh(dialog);
      break;
    case kOkButton:
      Finish(dialog);
      break;
    case kCancelButton:
      dialog.EndDialog(kCancelButton);
      break;
    default:
      break;
  }
}

}  // namespace zorvane
