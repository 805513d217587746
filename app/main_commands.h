// What the main window's buttons do, apart from the widgets: start-up, the tray, device
// switching, closing a session, and the medium checks in front of every job dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/dialog.h"
#include "info/checks.h"
#include "info/media.h"
#include "info/outcome.h"
#include "transport/exclusive_use.h"

namespace zorvane {

// The working directory when the window was first shown (the command list is read from
// it).
extern std::string StartDirectory;

// Opens the dialogs of the long jobs. Until a job's dialog exists, CanOpen is false and
// its button stays disabled; the checks in front of it run all the same.
class JobDialogs {
 public:
  virtual ~JobDialogs() = default;
  virtual bool CanOpen(int template_id) const = 0;
  virtual void Open(int template_id) = 0;
  // The PIE/PIF and BLER scan, which has no dialog of its own.
  virtual bool CanStartQualityScan() const = 0;
  virtual void StartQualityScan() = 0;
};

// The window's first showing: start directory, both check boxes checked, one start-up
// line per drive in the command console, the device list (each item the drive letter and
// the first 24 characters of its description, "d: ZORVANE VIRTUAL DVD-RW  "), and
// the first drive made current. The consoles must be set before.
void StartMainWindow(Dialog& window);

// The tray and session commands and the two report buttons tell how they ended: the
// window shows only what its consoles say, the command line gives the outcome as its exit
// status.
// Opening a tray that is already open has nothing to do and succeeds; closing one that is
// closed likewise.
Outcome OpenTray(Dialog& window);
Outcome CloseTray(Dialog& window);
// Claims the current drive for a job that changes its disc (see exclusive_use.h); a
// refusal is shown in a message box and returned in words.
std::shared_ptr<ExclusiveUse> ClaimCurrentDrive(std::string* refusal);

// Makes row `index` of the device table current (the device list's selection).
void SwitchDevice(Dialog& window, int index);
// A close that the drive refuses, or that cannot be sent, ends with "關閉節區失敗.\n"
// instead of "已完成\n".
Outcome CloseSession(Dialog& window);

// The report buttons: capabilities (after a probe that reaches the drive) and the
// manufacturer report, each after the clear-before-run rule.
Outcome PressCapabilities(Dialog& window);
Outcome PressManufacturer(Dialog& window);

// The medium checks of the job buttons; each ends by opening the job's dialog through
// `dialogs` when the medium suits it.
// Reading: the table of contents report fills TrackList; a read dialog opens only when it
// found a track.
void PressRead(Dialog& window, JobDialogs& dialogs);
void PressWrite(Dialog& window, JobDialogs& dialogs);
void PressAddressWrite(Dialog& window, JobDialogs& dialogs);
// The C2 scan's checks tell why the dialog did not open (a disc with nothing written has
// nothing to scan; only a written CD lets the drive be blamed for refusing the C2 test).
Outcome PressC2Scan(Dialog& window, JobDialogs& dialogs);
void PressErase(Dialog& window, JobDialogs& dialogs);

}  // namespace zorvane
