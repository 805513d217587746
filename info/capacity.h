// The disc capacity report: size and use of the loaded disc.
#pragma once

#include "base/dialog.h"

namespace zorvane {

// Writes the report to the information console (applying the window's clear-before-run
// rule first).
void ShowCapacity(Dialog& window);

}  // namespace zorvane
