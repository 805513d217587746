// The disc capacity report: size and use of the loaded disc.
#pragma once

#include "base/dialog.h"
#include "info/outcome.h"

namespace zorvane {

// Writes the report to the information console (applying the window's clear-before-run
// rule first). Fails when the probe stops it (no drive, no disc, tray open) or, on a DVD,
// when the current profile cannot be read or names no disc.
Outcome ShowCapacity(Dialog& window);

}  // namespace zorvane
