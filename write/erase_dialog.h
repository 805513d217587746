// Erasing a CD-RW or DVD-RW: the erase dialog (template 119) with its four blanking types,
// and the worker that sends the one BLANK command.
#pragma once

#include <cstdint>
#include <memory>
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

  const std::shared_ptr<WriteJob>& Job() const { return job_; }

 private:
  void Start(Dialog& dialog);
  void StartErasing(Dialog& dialog);

  std::shared_ptr<WriteJob> job_ = std::make_shared<WriteJob>();
};

// Sends BLANK of `type` (Immed clear) and shows the result in the dialog.
void EraseWorker(const std::shared_ptr<WriteJob>& job, std::uint8_t type);

}  // namespace zorvane
