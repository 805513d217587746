// The C2 scan's dialog: the sector reached, the last sector, the sectors with C2 errors and
// the C2 flags, and 結束(&X), which stops the scan and closes the dialog. The worker's
// figures are shown by the dialog's timer, each only when it changed.
#pragma once

#include <cstdint>
#include <memory>

#include "base/dialog.h"
#include "base/templates.h"
#include "scan/c2_worker.h"
#include "scan/scan_record.h"

namespace zorvane {

enum C2Control : int {
  kC2ExitButton = kCancelButton,  // 結束(&X)
  kC2SectorReached = 1031,
  kC2LastSector = 1032,
  kC2ErrorSectors = 1033,
  kC2ErrorFlags = 1035,
};

// The dialog's one timer and how often it shows the worker's figures.
inline constexpr int kC2Timer = 1;
inline constexpr int kC2TimerMilliseconds = 200;

const DialogTemplate& C2ScanTemplate();

class C2Dialog : public DialogHandler {
 public:
  // `record`, when given, receives each command's figures for a chart.
  explicit C2Dialog(std::shared_ptr<ScanRecord> record = nullptr);

  // Starts the worker and the timer; the main window's C2 button is disabled while the
  // scan runs.
  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;
  void OnTimer(Dialog& dialog, int timer_id) override;
  void OnClose(Dialog& dialog) override;

  // Shows the worker's figures that changed (the timer calls it).
  void Refresh(Dialog& dialog);

  const std::shared_ptr<C2ScanState>& State() const { return state_; }
  bool Finished() const { return state_->finished.load(); }

 private:
  void Stop();
  void ReleaseC2Button();

  std::shared_ptr<C2ScanState> state_;
  bool last_shown_ = false;
  bool released_ = false;
  bool closed_ = false;
  std::int64_t shown_position_ = 0;
  std::int64_t shown_sectors_ = 0;
  std::int64_t shown_flags_ = 0;
};

}  // namespace zorvane
