#include "write/write_dialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "base/output_file.h"
#include "base/utilities.h"
#include "info/media.h"
#include "info/reply.h"
#include "info/write_speeds.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "write/address_writer.h"
#include "write/cd_writer.h"
#include "write/dvd_writer.h"
#include "write/sao_writer.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kReadCapacity[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kReadBufferCapacity[10] = {0x5C, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kSetStreaming[12] = {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x1C, 0};

constexpr StreamingDescriptor kDescriptorDefaults = {
    0x00, 0x00, 0x00, 0x00,  // flags, reserved
    0x00, 0x00, 0x00, 0x00,  // start LBA
    0x05, 0x23, 0x10, 0x1F,  // end LBA
    0x00, 0x00, 0x56, 0x90,  // read size (kB)
    0x00, 0x00, 0x03, 0xE8,  // read time (ms)
    0x00, 0x00, 0x00, 0x00,  // write size (kB): the chosen speed
    0x00, 0x00, 0x03, 0xE8,  // write time (ms)
};
// Restore Drive Defaults: the performance the drive chooses itself.
constexpr std::uint8_t kRestoreDefaults = 0x04;

std::string Format(const char* format, double value) {
  return FormatText(kConsoleTextLimit, format, value);
}

bool EndsWithWav(const std::string& path) {
  if (path.size() < 3) return false;
  const std::string tail = path.substr(path.size() - 3);
  return (tail[0] == 'W' || tail[0] == 'w') && (tail[1] == 'A' || tail[1] == 'a') &&
         (tail[2] == 'V' || tail[2] == 'v');
}

}  // namespace

void ReportEndStepFailure(WriteJob& job, PostedDialog& dialog, const char* step,
                          std::int32_t sense) {
  const std::string line = StepFailed(step, sense);
  ConsoleLog(Info(), "%s\n", line.c_str());
  dialog.SetText(kFileMessage, line);
  job.SetFailure(line);
}

WriteDialog::WriteDialog(int template_id) : template_id_(template_id) {
  descriptor_ = kDescriptorDefaults;
}

int WriteDialog::OpenerButton() const {
  return IsAddressWrite() ? kAddressWriteButton : kWriteButton;
}

void WriteDialog::EnableOpener(bool enabled) const {
  if (Dialog* window = MainWindow.load()) window->Enable(OpenerButton(), enabled);
}

std::string WriteDialog::Title() const {
  const std::uint8_t slot = CurrentDevice.slot.load();
  for (int i = 0; i < DeviceCount; ++i) {
    if (DeviceTable[i].slot == slot) {
      return FormatText(kConsoleTextLimit, IsAddressWrite() ? "指定寫入  %s" : "寫入  %s",
                        DeviceTable[i].description);
    }
  }
  return IsAddressWrite() ? "指定寫入" : "寫入";
}

void WriteDialog::OnInit(Dialog& dialog) {
  std::uint8_t reply[12] = {};
  if (template_id_ != kDvdWriteDialog) {
    EnableOpener(false);
    if (ExecuteOnCurrent(kReadCapacity, 8, reply, kDataIn, 1) != 0) {
      Cancel(dialog);
      return;
    }
    dialog.SetText(kImagePath, "");
    if (Query(kReadBufferCapacity, reply, sizeof reply, sizeof reply) == 0) {
      buffer_length_ = ReadBe32(reply + 4);
      buffer_free_ = ReadBe32(reply + 8);
    }
    dialog.SetProgressRange(kBufferGauge, 0, static_cast<int>(buffer_length_));
    dialog.SetProgressStep(kBufferGauge, 1);
    dialog.SetProgressPosition(kBufferGauge, static_cast<int>(buffer_length_ - buffer_free_));
    if (IsAddressWrite()) {
      dialog.SetText(kStartSector, "      0");
    } else {
      dialog.SetChecked(kTrackAtOnce, true);
      dialog.SetChecked(kKeepSessionOpen, true);
      dialog.SetChecked(kMultiSession, true);
    }
    if (IsCd() && Query(kGetCurrentProfile, ReplyBuffer, 256, 255) == 0) {
      char name[32];
      ProfileName(ReplyBuffer[7], name);
      dialog.SetText(kCdProfileName, name);
    }
  } else {
    if (Query(kGetCurrentProfile, ReplyBuffer, 256, 255) != 0) {
      Cancel(dialog);
      return;
    }
    const std::uint8_t profile = ReplyBuffer[7];
    char name[32];
    ProfileName(profile, name);
    dialog.SetText(kDvdProfileName, name);
    switch (profile) {
      case 0x12:
      case 0x13:
      case 0x1A:
      case 0x2A:
        dialog.Enable(kCloseTrackOption, false);
        dialog.Enable(kCloseSessionDvdOption, false);
        dialog.Enable(kCloseDiscOption, false);
        break;
      case 0x11:
      case 0x15:
      case 0x1B:
      case 0x2B:
        dialog.Enable(kCloseTrackOption, false);
        dialog.SetChecked(kCloseSessionDvdOption, true);
        break;
      case 0x14:
        dialog.Enable(kCloseTrackOption, false);
        dialog.Enable(kCloseSessionDvdOption, false);
        dialog.SetChecked(kCloseDiscOption, true);
        break;
      default:
        break;
    }
    EnableOpener(false);
    if (ExecuteOnCurrent(kReadCapacity, 8, reply, kDataIn, 1) != 0) {
      ConsoleLog(Info(), "光碟片容量讀取失敗.\n");
      Cancel(dialog);
      return;
    }
    dialog.SetText(kImagePath, "");
  }
  if (!FillSpeeds(dialog)) {
    ConsoleLog(Info(), "寫入速率讀取失敗.\n");
    Cancel(dialog);
    return;
  }
  dialog.SelectItem(kSpeedCombo, 0);
  if (!SelectSpeed(dialog)) return;
  dialog.StartTimer(kUpdateTimer, kUpdatePeriodMs);
}

bool WriteDialog::FillSpeeds(Dialog& dialog) {
  dialog.ClearItems(kSpeedCombo);
  dialog.AddItem(kSpeedCombo, "設備預設\n");
  speeds_.clear();
  std::vector<WriteSpeedEntry> entries;
  if (!QueryWriteSpeeds(!IsCd(), &entries)) return false;
  for (const WriteSpeedEntry& entry : entries) {
    std::array<std::uint8_t, 4> raw{};
    WriteBe32(entry.speed, raw.data());
    speeds_.push_back(raw);
    dialog.AddItem(kSpeedCombo, entry.line);
  }
  return true;
}

bool WriteDialog::SelectSpeed(Dialog& dialog) {
  const int item = dialog.SelectedItem(kSpeedCombo);
  if (item >= 1 && static_cast<std::size_t>(item) <= speeds_.size()) {
    descriptor_[0] = 0x00;
    std::copy(speeds_[item - 1].begin(), speeds_[item - 1].end(), descriptor_.begin() + 20);
  } else {
    // The device default: the drive restores the performance it chooses itself.
    descriptor_[0] = kRestoreDefaults;
    std::fill(descriptor_.begin() + 20, descriptor_.begin() + 24, 0);
  }
  DumpBytes(descriptor_.data(), descriptor_.size());
  StreamingDescriptor data = descriptor_;
  if (ExecuteOnCurrent(kSetStreaming, data.size(), data.data(), kDataOut, 1) != 0) {
    ConsoleLog(Info(), "無法設定寫入速率.\n");
    Cancel(dialog);
    return false;
  }
  return true;
}

void WriteDialog::ChooseImage(Dialog& dialog) {
  std::string path = dialog.Text(kImagePath);
  if (chooser_ && chooser_(IsCd() ? 3 : 1, &path)) {
    dialog.SetText(kImagePath, path);
    sao_.reset();  // a new image in place of an album
  }
  path = dialog.Text(kImagePath);
  // Opened without blocking: a FIFO or a device never holds the dialog.
  file_problem_.clear();
  std::int64_t file_size = 0;
  errno = 0;
  const int fd = OpenInputFile(path, &file_size, &file_problem_);
  if (fd < 0) {
    dialog.SetText(kFileMessage, errno != 0 ? FormatText(kConsoleTextLimit,
                                                         "檔案無法被開啟, errorcode=%i\n", errno)
                                            : file_problem_ + "\n");
    return;
  }
  ::close(fd);
  dialog.SetText(kFileMessage, "");
  const auto size = static_cast<std::uint64_t>(file_size);
  if (IsCd()) {
    const float megabytes = static_cast<float>(size) * (1.0F / 1024.0F) * (1.0F / 1024.0F);
    dialog.SetText(kImageSize, Format("%.02f MB\n", static_cast<double>(megabytes)));
    const bool wave = EndsWithWav(path);
    dialog.SetChecked(kKeepSessionOpen, wave);
    dialog.SetChecked(kCloseSessionOption, !wave);
  } else if (IsAddressWrite()) {
    dialog.SetText(kImageSize, Format("%.02f KB\n", static_cast<double>(WholeUnits(size, 1024))));
    dialog.SetText(kSectorCount, FormatText(kConsoleTextLimit, "%i/%i\n", 0,
                                            static_cast<int>((size + 2047) / 2048)));
  } else {
    dialog.SetText(kImageSize,
                   Format("%.02f MB\n", static_cast<double>(WholeUnits(size, 1024 * 1024))));
    image_sectors_ = static_cast<std::uint32_t>((size + 2047) / 2048);
    dialog.SetText(kSectorCount,
                   FormatText(kConsoleTextLimit, "%i/%i\n", 0, static_cast<int>(image_sectors_)));
  }
}

void WriteDialog::OptionClicked(Dialog& dialog, int id) {
  // Option buttons of one group: the clicked one is checked, the others are not.
  auto choose = [&dialog, id](std::initializer_list<int> group) {
    for (int member : group) dialog.SetChecked(member, member == id);
  };
  if (!IsCd()) {
    choose({kCloseTrackOption, kCloseSessionDvdOption, kCloseDiscOption});
    return;
  }
  switch (id) {
    case kTrackAtOnce:
      choose({kTrackAtOnce, kSessionAtOnce});
      dialog.SetText(kKeepSessionOpen, "不關節區");
      dialog.SetText(kCloseSessionOption, "關掉節區");
      dialog.Enable(kMultiSession, true);
      break;
    case kSessionAtOnce:
      choose({kTrackAtOnce, kSessionAtOnce});
      dialog.SetText(kKeepSessionOpen, "不關碟片");
      dialog.SetText(kCloseSessionOption, "關掉碟片");
      if (dialog.IsChecked(kCloseSessionOption)) dialog.Enable(kMultiSession, false);
      break;
    case kKeepSessionOpen:
      choose({kKeepSessionOpen, kCloseSessionOption});
      dialog.Enable(kMultiSession, true);
      break;
    case kCloseSessionOption:
      choose({kKeepSessionOpen, kCloseSessionOption});
      if (dialog.IsChecked(kSessionAtOnce)) dialog.Enable(kMultiSession, false);
      break;
    default:
      break;
  }
}

void WriteDialog::Start(Dialog& dialog) {
  if (job_->Running()) return;
  // The drive is the job's alone until the worker ends (exclusive open, tray locked).
  std::string refusal;
  auto claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), &refusal);
  if (!claim) {
    ShowMessage("Error", "%s\n", refusal.c_str());
    job_->SetFailure(refusal);
    job_->state.store(WriteState::kFailed);
    return;
  }
  job_->run.store(1);
  job_->sectors_written.store(0);
  job_->total_sectors.store(0);
  job_->ClearFailure();
  previous_ = 0;
  highest_ = 0;
  current_ = 0;
  elapsed_ = 0;
  dialog.Enable(kOkButton, false);
  if (template_id_ != kDvdWriteDialog) dialog.StartTimer(kProgressTimer, 1000);

  WriteRequest request;
  request.template_id = template_id_;
  request.path = dialog.Text(kImagePath);
  request.track_at_once = dialog.IsChecked(kTrackAtOnce);
  request.session_at_once = dialog.IsChecked(kSessionAtOnce);
  request.close_disc = dialog.IsChecked(kCloseDiscOption);
  request.keep_session_open = dialog.IsChecked(kKeepSessionOpen);
  request.multi_session = dialog.IsChecked(kMultiSession);
  request.start_sector = dialog.Text(kStartSector);
  request.verify = dialog.IsChecked(kVerifyAfterWrite);
  request.test_write = !IsAddressWrite() && dialog.IsChecked(kTestWrite);
  job_->state.store(WriteState::kWriting);
  std::shared_ptr<WriteJob> job = job_;
  if (IsAddressWrite()) {
    StartJobWorker(job, claim, [job, request] { AddressWriteWorker(job, request); });
  } else if (IsCd() && (sao_ || IsCueSheetPath(request.path))) {
    SaoRequest sao = sao_ ? *sao_ : SaoRequest{};
    if (!sao_) sao.cue_path = request.path;
    sao.multi_session = request.multi_session;
    sao.verify = request.verify;
    sao.test_write = request.test_write;
    StartJobWorker(job, claim, [job, sao] { SaoWriteWorker(job, sao); });
  } else if (IsCd()) {
    StartJobWorker(job, claim, [job, request] { CdWriteWorker(job, request); });
  } else {
    StartJobWorker(job, claim, [job, request] { DvdWriteWorker(job, request); });
  }
}

void WriteDialog::AcceptAlbum(Dialog& dialog, std::shared_ptr<const SaoRequest> album) {
  if (job_->Running() || !album) return;
  const std::size_t count = album->waves.size();
  sao_ = std::move(album);
  dialog.SetText(kImagePath, "");
  dialog.SetText(kImageSize, "");
  dialog.SetText(kFileMessage,
                 FormatText(kConsoleTextLimit, "音樂光碟: %zu 首, 一次一節區寫入", count));
  dialog.SetChecked(kTrackAtOnce, false);
  dialog.SetChecked(kSessionAtOnce, true);
}

void WriteDialog::Cancel(Dialog& dialog) {
  job_->run.store(0);
  dialog.StopTimer(kProgressTimer);
  dialog.StopTimer(kUpdateTimer);
  job_->Detach();
  EnableOpener(true);
  dialog.EndDialog(kCancelButton);
}

void WriteDialog::OnCommand(Dialog& dialog, int id) {
  switch (id) {
    case kOkButton:
      Start(dialog);
      break;
    case kCancelButton:
      Cancel(dialog);
      break;
    case kBrowseImage:
      ChooseImage(dialog);
      break;
    case kAudioCdButton:
      if (audio_cd_opener_ && !job_->Running()) audio_cd_opener_();
      break;
    case kSpeedCombo:
      SelectSpeed(dialog);
      break;
    case kTrackAtOnce:
    case kSessionAtOnce:
    case kKeepSessionOpen:
    case kCloseSessionOption:
    case kCloseDiscOption:
      OptionClicked(dialog, id);
      break;
    case kTestWrite:
      // A test write records nothing, so there is nothing to read back.
      if (dialog.IsChecked(kTestWrite)) dialog.SetChecked(kVerifyAfterWrite, false);
      dialog.Enable(kVerifyAfterWrite, !dialog.IsChecked(kTestWrite));
      break;
    default:
      break;
  }
}

void WriteDialog::Tick(Dialog& dialog) {
  ++elapsed_;
  if (IsAddressWrite()) {
    std::uint8_t reply[12] = {};
    if (ExecuteOnCurrent(kReadBufferCapacity, sizeof reply, reply, kDataIn, 0) == 0) {
      buffer_length_ = ReadBe32(reply + 4);
      buffer_free_ = ReadBe32(reply + 8);
      dialog.SetProgressPosition(kBufferGauge, static_cast<int>(buffer_length_ - buffer_free_));
    }
  }
  const std::uint32_t written = job_->sectors_written.load();
  if (written == previous_) return;
  dialog.SetText(kElapsedTime,
                 FormatText(kConsoleTextLimit, "%02i:%02i\n", elapsed_ / 60, elapsed_ % 60));
  current_ = written - previous_;
  auto speed = [this](double sectors_per_second) {
    if (ShowsCdFactor()) return Format("%.2f\n", sectors_per_second / 75.0);
    return FormatText(kConsoleTextLimit, "%.2f(%.2f)\n", sectors_per_second / 692.5,
                      sectors_per_second / 75.0);
  };
  if (current_ > highest_) {
    highest_ = current_;
    dialog.SetText(kHighestSpeed, speed(highest_));
  }
  dialog.SetText(kCurrentSpeed, speed(current_));
  dialog.SetText(kAverageSpeed, speed(static_cast<double>(written) / elapsed_));
  if (template_id_ == kDvdWriteDialog) {
    dialog.SetText(kSectorCount,
                   FormatText(kConsoleTextLimit, "%i/%i\n", static_cast<int>(written + 1),
                              static_cast<int>(image_sectors_)));
  }
  previous_ = written;
}

void WriteDialog::OnTimer(Dialog& dialog, int timer_id) {
  if (timer_id == kUpdateTimer) job_->Apply(dialog);
  if (timer_id == kProgressTimer) Tick(dialog);
}

void WriteDialog::OnClose(Dialog& /*dialog*/) {
  job_->run.store(0);
  job_->Detach();
  EnableOpener(true);
}

}  // namespace zorvane
