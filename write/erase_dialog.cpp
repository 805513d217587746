#include "write/erase_dialog.h"

#include <thread>

#include "info/checks.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/transport.h"
#include "write/format.h"
#include "write/write_dialog.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kTestUnitReady[6] = {0, 0, 0, 0, 0, 0};
constexpr const char* kEraseOnlyMessage = "抹除僅使用於CD-RW與DVD-RW";

constexpr ControlTemplate kEraseControls[] = {
    {kNoId, K::kGroupBox, "抹除方式", 7, 7, 170, 62, kStyleNone},
    {kFullBlank, K::kRadioButton, "完全抹除", 15, 19, 70, 10, kStyleGroup},
    {kMinimalBlank, K::kRadioButton, "最低限度抹除", 95, 19, 75, 10, kStyleNone},
    {kUncloseSession, K::kRadioButton, "重啟節區", 15, 35, 70, 10, kStyleNone},
    {kEraseSession, K::kRadioButton, "節區抹除", 95, 35, 75, 10, kStyleNone},
    {kEraseMedium, K::kStatic, "", 15, 52, 155, 10, kStyleGroup},
    {kEraseStatus, K::kStatic, "完全抹除會頗為費時，需注意！", 7, 76, 170, 10, kStyleNone},
    {kOkButton, K::kButton, "確定(&O)", 185, 10, 50, 15, kStyleDefault},
    {kCancelButton, K::kButton, "結束(&X)", 185, 30, 50, 15, kStyleNone},
};

constexpr int kEraseOptions[] = {kFullBlank, kMinimalBlank, kUncloseSession, kEraseSession};

}  // namespace

const DialogTemplate& EraseTemplate() {
  static const DialogTemplate form{kEraseDialog, "抹除", 242, 94, "細明體", 9, kEraseControls};
  return form;
}

void EraseJob::SetFailure(std::string cause) {
  std::lock_guard lock(failure_mutex_);
  failure_ = std::move(cause);
}

std::string EraseJob::Failure() const {
  std::lock_guard lock(failure_mutex_);
  return failure_;
}

std::uint8_t BlankingType(Dialog& dialog) {
  if (dialog.IsChecked(kFullBlank)) return 0;
  if (dialog.IsChecked(kUncloseSession)) return 5;
  if (dialog.IsChecked(kEraseSession)) return 6;
  return 1;
}

std::string EraseDialog::Title() const {
  const std::uint8_t slot = CurrentDevice.slot.load();
  for (int i = 0; i < DeviceCount; ++i) {
    if (DeviceTable[i].slot == slot) {
      return FormatText(kConsoleTextLimit, "抹除  %s", DeviceTable[i].description);
    }
  }
  return "抹除";
}

void EraseDialog::OnInit(Dialog& dialog) {
  dialog.SetChecked(kMinimalBlank, true);
  if (Dialog* window = MainWindow.load()) ApplyClearRule(*window);
  dialog.StartTimer(kUpdateTimer, kUpdatePeriodMs);
}

void EraseDialog::StartErasing(Dialog& dialog) {
  // The drive is the job's alone until the worker ends (exclusive open, tray locked).
  std::string refusal;
  auto claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), &refusal);
  if (!claim) {
    ShowMessage("Error", "%s\n", refusal.c_str());
    job_->SetFailure(refusal);
    job_->state.store(WriteState::kFailed);
    return;
  }
  dialog.Enable(kOkButton, false);
  dialog.Enable(kCancelButton, false);
  job_->run.store(1);
  job_->state.store(WriteState::kWriting);
  std::shared_ptr<EraseJob> job = job_;
  const std::uint8_t type = BlankingType(dialog);
  StartJobWorker(job, claim, [job, type] { EraseWorker(job, type); });
}

void EraseDialog::Start(Dialog& dialog) {
  if (job_->Running()) return;
  std::uint8_t code = ProbeMediumType(0);
  if (code == kMediumNoDisc || code == kMediumDoorOpen) {
    // Only the drive's own "medium not present" counts: some drives put 70h in the mode
    // header with a disc loaded.
    const std::int32_t ready = ExecuteOnCurrent(kTestUnitReady, 0, nullptr, kDataNone, 1);
    if ((ready & 0xFFFF00) == 0x023A00) {
      dialog.SetText(kEraseStatus, code == kMediumNoDisc ? "未放入光碟片!" : "門沒關!");
      job_->SetFailure(code == kMediumNoDisc ? "no disc in the drive" : "the tray is open");
      job_->state.store(WriteState::kFailed);
      return;
    }
    code = kMediumUnknown;
  }
  if (code >= 0x20 && code <= 0x29) {
    dialog.SetText(kEraseMedium, "CD-RW");
    StartErasing(dialog);
    return;
  }
  if (const std::int32_t result = Query(kGetCurrentProfile, ReplyBuffer, 256, 255); result != 0) {
    // Without the profile only a DVD (or a disc of unknown type) could still be a DVD-RW:
    // any other medium is no disc to erase whatever the drive would have said.
    if (!IsDvdMedium(code) && code != kMediumUnknown)
      dialog.SetText(kEraseStatus, kEraseOnlyMessage);
    job_->SetFailure("GET CONFIGURATION failed: " + ResultInWords(result));
    job_->state.store(WriteState::kFailed);
    return;
  }
  const std::uint8_t profile = ReplyBuffer[7];
  char name[32];
  ProfileName(profile, name);
  dialog.SetText(kEraseMedium, name);
  // A drive that reports no medium-type code (00h) is judged by its current profile.
  const bool erasable =
      profile == 0x13 || profile == 0x14 || (code == kMediumUnknown && profile == 0x0A);
  if ((IsDvdMedium(code) || code == kMediumUnknown) && erasable) {
    StartErasing(dialog);
    return;
  }
  dialog.SetText(kEraseStatus, kEraseOnlyMessage);
  job_->SetFailure(std::string("a ") + name +
                   " is not erased: only CD-RW and DVD-RW discs are blanked");
  job_->state.store(WriteState::kFailed);
}

void EraseDialog::OnCommand(Dialog& dialog, int id) {
  switch (id) {
    case kOkButton:
      Start(dialog);
      break;
    case kCancelButton:
      job_->Detach();
      dialog.StopTimer(kUpdateTimer);
      dialog.EndDialog(kCancelButton);
      break;
    case kFullBlank:
    case kMinimalBlank:
    case kUncloseSession:
    case kEraseSession:
      for (int option : kEraseOptions) dialog.SetChecked(option, option == id);
      break;
    default:
      break;
  }
}

void EraseDialog::OnTimer(Dialog& dialog, int timer_id) {
  if (timer_id == kUpdateTimer) job_->Apply(dialog);
}

void EraseDialog::OnClose(Dialog& /*dialog*/) {
  // The worker stops following the drive with the dialog (the drive goes on blanking).
  job_->run.store(0);
  job_->Detach();
}

void EraseWorker(const std::shared_ptr<EraseJob>& job, std::uint8_t type) {
  PostedDialog dialog(job);
  const DriveAddress drive = CurrentDriveAddress();
  dialog.SetText(kEraseStatus, "請稍候...\n");
  // Immed: the drive takes the command and blanks on its own, reporting its progress to
  // REQUEST SENSE, so the job can show it and stop following when asked.
  const std::uint8_t blank[12] = {
      0xA1, static_cast<std::uint8_t>(0x10 | type), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  TraceEnabled.store(1);
  const std::int32_t result = SendTo(drive, blank, 0, nullptr, kDataNone, 0);
  WriteState state = WriteState::kFailed;
  if (result != 0) {
    // A refused or failed BLANK is no blank disc; its sense is in the command console.
    job->SetFailure("BLANK failed: " + ResultInWords(result));
  } else {
    const FollowResult followed = FollowDrive(
        drive, type <= 1 ? FollowedOperation::kBlankWhole : FollowedOperation::kBlankPart,
        [&job, &dialog](int percent) {
          if (job->on_progress) job->on_progress(percent);
          if (percent < 0 || percent == job->percent.exchange(percent)) return;
          dialog.SetText(kEraseStatus, FormatText(kConsoleTextLimit, "請稍候... %d%%\n", percent));
        },
        [&job] { return job->run.load() == 0; });
    if (followed.end == FollowEnd::kDone) {
      state = WriteState::kFinished;
    } else if (followed.end == FollowEnd::kStopped) {
      state = WriteState::kCancelled;
    } else {
      job->SetFailure(followed.cause);
    }
  }
  if (state == WriteState::kFinished) dialog.SetText(kEraseStatus, "完成\n");
  if (state == WriteState::kFailed) dialog.SetText(kEraseStatus, "抹除失敗\n");
  dialog.Enable(kOkButton, true);
  dialog.Enable(kCancelButton, true);
  dialog.SetText(kCancelButton, "結束(&X)");
  job->state.store(state);
}

}  // namespace zorvane
