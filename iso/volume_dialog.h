// The volume-information dialog: what an ISO 9660 volume says about itself, the output
// path, the source list with its totals, and a log pane. OK starts VolumeInfoWorker,
// which lists the sources into the log and, when an output path is set, writes the image.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/dialog.h"
#include "base/templates.h"
#include "iso/iso_image.h"
#include "iso/source_list.h"

namespace zorvane {

enum VolumeControl : int {
  kBrowseButton = 54,
  kClearAllButton = 55,
  kVolumeLog = 1003,
  kSystemName = 1055,
  kVolumeName = 1056,
  kVolumeSetName = 1058,
  kVolumeSetSize = 1060,
  kSequenceNumber = 1063,
  kCopyrightFile = 1066,
  kAbstractFile = 1068,
  kBibliographicFile = 1070,
  kTotalSize = 1072,
  kPublisher = 1073,
  kTotalFolders = 1075,
  kDataPreparer = 1076,
  kDropProgress = 1077,
  kTotalFiles = 1078,
  kApplication = 1079,
  kCreationDate = 1081,
  kCreationOffset = 1082,
  kModificationDate = 1083,
  kModificationOffset = 1084,
  kExpirationDate = 1085,
  kExpirationOffset = 1086,
  kEffectiveDate = 1087,
  kOutputPath = 1088,
  kEffectiveOffset = 1089,
  kSourceList = 1091,
};

const DialogTemplate& VolumeInfoTemplate();

// The moment the defaults are taken from, and the names the system gives.
struct VolumeClock {
  int year, month, day, hour, minute, second, millisecond;
  int offset_minutes;  // east of UTC
};
VolumeClock VolumeClockNow();

struct SystemNames {
  std::string system;  // uname's system name
  std::string domain;  // the host's domain name, else the host name
  std::string user;    // the login name
};
SystemNames CurrentSystemNames();

// The dialog's fields as it opens.
VolumeFields VolumeDefaults(const VolumeClock& clock, const SystemNames& names);

// The fields as the dialog holds them now.
VolumeFields ReadVolumeFields(const Dialog& dialog);

class VolumeDialog : public DialogHandler {
 public:
  VolumeDialog();
  ~VolumeDialog() override;

  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;
  void OnClose(Dialog& dialog) override;

  // Front-end hooks, set before OnInit. The log pane (else lines go into control 1003
  // through the dialog); the save-file chooser behind Browse (`path` holds the current
  // output path and receives the choice); and what runs when the rows or totals change
  // (else they are written into the dialog from the thread that changed them).
  void SetLog(std::shared_ptr<Console> log);
  void SetSaveFileChooser(std::function<bool(std::string* path)> choose);
  void SetRowsChanged(std::function<void()> changed);

  SourceList& Sources() { return *sources_; }
  std::shared_ptr<SourceList> SharedSources() { return sources_; }

  // Writes the totals and the drop progress into the dialog.
  void ShowTotals(Dialog& dialog);

  // Waits until every worker started by OK has ended (not on a window's own thread).
  void WaitForWorkers();
  // The same for at most `limit`: true when none is running any more.
  bool WaitForWorkers(std::chrono::milliseconds limit);
  // Whether the last worker that ended did all it set out to do (false before any ended).
  bool LastJobSucceeded() const;

  // The moment and names the defaults come from (tests fix them).
  void SetClock(std::function<VolumeClock()> clock) { clock_ = std::move(clock); }
  void SetNames(std::function<SystemNames()> names) { names_ = std::move(names); }

 private:
  struct State;
  void StartWorker(Dialog& dialog);

  std::shared_ptr<State> state_;
  std::shared_ptr<SourceList> sources_;
  std::function<bool(std::string*)> choose_;
  std::function<void()> rows_changed_;
  std::function<VolumeClock()> clock_ = VolumeClockNow;
  std::function<SystemNames()> names_ = CurrentSystemNames;
  Dialog* dialog_ = nullptr;
};

// What VolumeInfoWorker does: lists the sources into `log`, then, when `output` is not
// empty and the run flag still holds, writes the image there. Returns true when every
// step it took succeeded.
bool RunVolumeJob(const VolumeFields& fields, const std::string& output, SourceList& sources,
                  Console* log, const std::atomic<bool>& run);

}  // namespace zorvane
