// Formatting: MRW on a CD-RW, a full format of DVD-RAM and DVD-RW, the basic format of
// DVD+RW, started in the background; and following a running format to its end.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "base/dialog.h"

namespace zorvane {

// The main window's format button: clear-before-run, the probe with its report, and one
// FORMAT UNIT with Immed for the loaded medium. True when the drive took the command.
bool FormatMedium(Dialog& window);

// Follows the format running on the current drive: the progress indication of REQUEST
// SENSE while the drive reports a format in progress, then the background format status
// of READ DISC INFORMATION. `progress` gets percentages (-1 when the drive gives none).
// Returns true when the drive reports the format ended, false when the drive cannot be
// reached, `stop` is set or `limit` has passed.
bool WaitForFormat(const std::function<void(int percent)>& progress,
                   const std::atomic<bool>* stop = nullptr,
                   std::chrono::milliseconds pause = std::chrono::milliseconds(500),
                   std::chrono::milliseconds limit = std::chrono::hours(6));

// The line that says the disc is ready after a format.
inline constexpr const char* kFormatDoneMessage = "格式化完成, 光碟片已可使用.\n";

// For the window: follows the format on a thread of its own and logs its progress (each
// tenth) and its end to the information console.
void FollowFormat();

}  // namespace zorvane
