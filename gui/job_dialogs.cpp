// The job dialogs the main window opens: each job registers its opener here, and the
// window enables a job's button once its opener exists.
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/volume_window.h"

namespace zorvane {

void RegisterJobDialogs(GuiJobDialogs& jobs) {
  jobs.Register(kIsoImageDialog, [] { OpenVolumeDialog(); });
}

}  // namespace zorvane
