#include "scan/c2_dialog.h"

#include <thread>

#include "transport/console.h"

namespace zorvane {

namespace {

std::string Count6(std::int64_t value) {
  return FormatText(32, "%6i\n", static_cast<int>(value));
}

std::string Count7(std::int64_t value) {
  return FormatText(32, "%7i\n", static_cast<int>(value));
}

void EnableC2Button(bool enabled) {
  if (Dialog* window = MainWindow.load()) window->Enable(kC2Button, enabled);
}

}  // namespace

C2Dialog::C2Dialog(std::shared_ptr<ScanRecord> record) : state_(std::make_shared<C2ScanState>()) {
  state_->record = std::move(record);
}

void C2Dialog::OnInit(Dialog& dialog) {
  state_->run.store(true);
  // The button stays disabled from here, so a second press cannot open a second scan;
  // it comes back when the scan is stopped, fails, or the dialog closes.
  EnableC2Button(false);
  std::thread([state = state_] { C2ScanWorker(state); }).detach();
  dialog.StartTimer(kC2Timer, kC2TimerMilliseconds);
}

void C2Dialog::OnCommand(Dialog& dialog, int id) {
  if (id != kC2ExitButton) return;
  Stop();
  dialog.EndDialog(kC2ExitButton);
}

void C2Dialog::OnTimer(Dialog& dialog, int timer_id) {
  if (timer_id != kC2Timer || closed_) return;
  Refresh(dialog);
}

void C2Dialog::OnClose(Dialog& dialog) {
  if (closed_) return;
  Stop();
  dialog.StopTimer(kC2Timer);
  closed_ = true;
}

void C2Dialog::Stop() {
  state_->run.store(false);
  ReleaseC2Button();
}

void C2Dialog::ReleaseC2Button() {
  if (released_) return;
  released_ = true;
  EnableC2Button(true);
}

void C2Dialog::Refresh(Dialog& dialog) {
  if (closed_) return;
  // `finished` first: once it is seen, every figure below is the final one.
  const bool finished = state_->finished.load();
  const C2Phase phase = state_->phase.load();
  if (phase == C2Phase::kStarting || phase == C2Phase::kNoCapacity) {
    if (finished) {
      dialog.StopTimer(kC2Timer);
      ReleaseC2Button();
    }
    return;
  }
  const std::uint32_t last = state_->last.load();
  if (!last_shown_) {
    dialog.SetText(kC2LastSector, Count6(last));
    last_shown_ = true;
  }
  const std::uint32_t position = state_->position.load();
  if (position != shown_position_) {
    dialog.SetText(kC2SectorReached, Count6(position));
    shown_position_ = position;
  }
  const std::uint32_t sectors = state_->error_sectors.load();
  if (sectors != shown_sectors_) {
    dialog.SetText(kC2ErrorSectors, Count6(sectors));
    shown_sectors_ = sectors;
  }
  const std::uint32_t flags = state_->error_flags.load();
  if (flags != shown_flags_) {
    dialog.SetText(kC2ErrorFlags, Count7(flags));
    shown_flags_ = flags;
  }
  if (!finished) return;
  dialog.StopTimer(kC2Timer);
  if (phase == C2Phase::kDone) {
    // The end of the scan shows the last sector in both places.
    dialog.SetText(kC2SectorReached, Count6(last));
    dialog.SetText(kC2LastSector, Count6(last));
  } else {
    // Stopped or failed: the C2 button is free again; a finished scan keeps it disabled
    // until the dialog is closed.
    ReleaseC2Button();
  }
}

}  // namespace zorvane
