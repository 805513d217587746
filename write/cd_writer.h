// The CD image writer: one ISO, MD2 or WAVE image as one track, track at once, at the
// drive's next writable address, then optionally the session closed.
#pragma once

#include <memory>

#include "write/write_dialog.h"

namespace zorvane {

// Runs on its own thread with the dialog's job and what OK took from the dialog.
void CdWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request);

// Image type by the last three characters of the path (either case).
enum class CdImageType { kMode1, kMode2, kAudio };
CdImageType CdImageTypeOf(const std::string& path);

}  // namespace zorvane
