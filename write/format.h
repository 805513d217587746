// Formatting: MRW on a CD-RW, a full format of DVD-RAM and DVD-RW, the basic format of
// DVD+RW, started in the background; and following a long operation of the drive (a
// format, a blank) to its end by the drive's own answers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "base/dialog.h"
#include "write/write_job.h"

namespace zorvane {

// The main window's format button: clear-before-run, the probe with its report, and one
// FORMAT UNIT with Immed for the loaded medium. True when the drive took the command;
// otherwise `failure` (when given) says why in English, with the sense in words.
bool FormatMedium(Dialog& window, std::string* failure = nullptr);

// A command's result in words: "05/30/06 CANNOT FORMAT MEDIUM - INCOMPATIBLE MEDIUM" for a
// sense code, "the request to the drive failed" for -1.
std::string ResultInWords(std::int32_t result);

// What a long operation the drive runs on its own (after a command with Immed) leaves.
enum class FollowEnd {
  kDone,     // the drive reports the operation ended and the disc as it should be
  kFailed,   // the drive reports a failure, or could not be polled
  kStopped,  // the caller stopped following; the drive goes on
};
struct FollowResult {
  FollowEnd end = FollowEnd::kFailed;
  int percent = -1;   // the last progress indication seen (-1: none)
  std::string cause;  // kFailed: what went wrong, in English, with the sense in words
};

// What the end is checked against once the drive no longer reports the operation running.
enum class FollowedOperation {
  kFormat,      // background status complete, or a formatted capacity
  kBlankWhole,  // full or minimal blank: the disc status is empty
  kBlankPart,   // unclose or session erase: the operation ended without an error
};

// How often the drive is polled, and how many polls in a row may fail before following
// gives up. Tests shorten the pause.
struct FollowPacing {
  std::chrono::milliseconds pause{500};
  int failed_polls = 3;
};
FollowPacing CurrentFollowPacing();
void SetFollowPacing(FollowPacing pacing);

// Polls the drive, untraced, until the operation ends: REQUEST SENSE for the progress
// indication (sense-key specific bytes) while the drive reports it not ready with an
// operation in progress or gives an indication; then the end check of `operation`.
// `progress` gets the percentage after every poll (-1 when the drive gives none),
// `poll_failed` the command and its result in words for each poll that found no answer
// (the pacing's count of them in a row ends the following as failed), and `stop` is asked
// between polls. Never touches TraceEnabled.
FollowResult FollowDrive(const DriveAddress& drive, FollowedOperation operation,
                         const std::function<void(int percent)>& progress,
                         const std::function<bool()>& stop,
                         const std::function<void(const std::string&)>& poll_failed = {});

// The line that says the disc is ready after a format.
inline constexpr const char* kFormatDoneMessage = "格式化完成, 光碟片已可使用.\n";

// For the window: follows the format on a thread of its own and logs its progress (each
// whole percent the drive reports) and its end to the information console. Starting a new
// follower stops the one before.
void FollowFormat();
// Stops the window's follower (the drive goes on); for the window's close and for tests.
void StopFollowingFormat();

}  // namespace zorvane
