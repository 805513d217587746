// The volume dialog's window, opened by the ISO button.
#include "gui/main_window.h"
#include "gui/volume_window.h"

namespace zorvane {

void RegisterIsoWindows(GuiJobDialogs& jobs) {
  jobs.Register(kIsoImageDialog, [] { OpenVolumeDialog(); });
}

}  // namespace zorvane
