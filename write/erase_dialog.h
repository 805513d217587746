// Erasing a CD-RW or DVD-RW: the erase dialog (template 119) with its four blanking types,
// and the worker that sends the one BLANK command (Immed) and follows the drive to its end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/dialog.h"
#include "base/templates.h"
#include "write/write_job.h"

namespace zorvane {

enum EraseControl : int {
  kFullBlank = 1043,       // blanking type 0
  kMinimalBlank = 1046,    // blanking type 1
  kUncloseSession = 1049,  // blanking type 5
  kEraseSession = 1045,    // blanking type 6
  kEraseMedium = 1051,     // name of the medium to be erased
  kEraseStatus = 1247,
};

const DialogTemplate& EraseTemplate();

// The erase dialog's job: the write job's run flag, state and posted updates, the drive's
// progress indication and, after a failure, its cause in English for the command line.
class EraseJob : public WriteJob {
 public:
  std::atomic<int> percent{-1};  // the drive's progress indication (-1: none yet)
  // Called by the worker after every poll of the drive with its figure (-1: none); set
  // before the job starts.
  std::function<void(int percent)> on_progress;
  void SetFailure(std::string cause);
  std::string Failure() const;

 private:
  mutable std::mutex failure_mutex_;
  std::string failure_;
};

// Blanking type of the checked option button.
std::uint8_t BlankingType(Dialog& dialog);

class EraseDialog : public DialogHandler {
 public:
  // The window title of the current drive: "抹除  %s".
  std::string Title() const;

  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;
  void OnTimer(Dialog& dialog, int timer_id) override;
  void OnClose(Dialog& dialog) override;

  const std::shared_ptr<EraseJob>& Job() const { return job_; }

 private:
  void Start(Dialog& dialog);
  void StartErasing(Dialog& dialog);

  std::shared_ptr<EraseJob> job_ = std::make_shared<EraseJob>();
};

// Sends BLANK of `type` with Immed and follows the drive's progress to the end, showing it
// in the dialog. A cleared run flag stops the following (the drive goes on blanking).
void EraseWorker(const std::shared_ptr<EraseJob>& job, std::uint8_t type);

}  // namespace zorvane
