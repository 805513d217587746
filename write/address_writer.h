// Writing an image at a sector address the user gives, on media written anywhere: MRW
// CD-RW, DVD-RAM, DVD-RW restricted overwrite, DVD+RW.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "write/write_dialog.h"

namespace zorvane {

// Runs on its own thread with the dialog's job and what OK took from the dialog.
void AddressWriteWorker(const std::shared_ptr<WriteJob>& job, const WriteRequest& request);

// The start sector as the edit holds it: an unsigned number after optional blanks; text
// that is not a number gives 0.
std::uint32_t ParseStartSector(const std::string& text);

}  // namespace zorvane
