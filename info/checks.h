// The checks in front of every report and job: the clear-before-run rule, the silent
// medium probe with its no-disc and door-open messages, and the wait for a ready drive.
#pragma once

#include <cstdint>

#include "base/dialog.h"
#include "info/media.h"
#include "transport/transport.h"

namespace zorvane {

// The no-disc and door-open messages.
inline constexpr const char* kNoDiscMessage = "尚未放入光碟片!\n";
inline constexpr const char* kDoorOpenMessage = "門沒關!\n";

// Clear-before-run: check box 1013 empties the command console, then check box 1014
// empties the information console.
void ApplyClearRule(Dialog& window);

// The first step of most buttons and reports: clear-before-run, a silent probe, and the
// no-disc or door-open message. False when the job stops there; `code` is the probe's.
bool ClearAndProbe(Dialog& window, std::uint8_t* code);

// Waits until the current drive is ready (paced and bounded), with "請稍候..." and
// "OK!\n" around the wait when `announce` is set.
void WaitUntilReady(bool announce, std::uint8_t* reply = ReplyBuffer);

}  // namespace zorvane
