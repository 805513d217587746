// The job dialogs the main window opens: each job folder's windows register their openers
// here (from gui/<job>_windows.cpp, so that the jobs' control names never meet), and the
// window enables a job's button once its opener exists.
#include "gui/main_window.h"

namespace zorvane {

void RegisterReadWindows(GuiJobDialogs& jobs);
void RegisterWriteWindows(GuiJobDialogs& jobs);
void RegisterScanWindows(GuiJobDialogs& jobs);
void RegisterIsoWindows(GuiJobDialogs& jobs);

void RegisterJobDialogs(GuiJobDialogs& jobs) {
  RegisterReadWindows(jobs);
  RegisterWriteWindows(jobs);
  RegisterScanWindows(jobs);
  RegisterIsoWindows(jobs);
}

}  // namespace zorvane
