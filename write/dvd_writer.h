// The DVD image writer: one image of 2048-byte sectors onto any recordable or rewritable
// DVD, padded to a whole ECC block, into a reserved track on sequential media and from
// sector 0 on overwritable media.
#pragma once

#include <cstdint>
#include <memory>

#include "write/write_dialog.h"

namespace zorvane {

// Runs on its own thread with the dialog's job and what OK took from the dialog.
void DvdWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request);

// Byte 2 of CLOSE TRACK/SESSION for the checked option and the profile; 0 when the
// combination leaves the shared block as it is.
std::uint8_t DvdCloseFunction(const WriteRequest& request, std::uint8_t profile);

// Overwritable profiles: DVD-RAM, DVD-RW restricted overwrite, DVD+RW, DVD+RW DL.
inline bool IsOverwritableDvd(std::uint8_t profile) {
  return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A;
}

}  // namespace zorvane
