// The disc kept in a file (state=PATH): its layout and the sectors written to it, stored
// sparsely, replaced atomically.
#pragma once

#include <string>

#include "vdrive/medium.h"

namespace zorvane::vdrive {

bool StateFileExists(const std::string& path);

// A state file that does not exist yet is created in its folder: false and the reason
// (naming the folder) when the folder is missing, is not a folder or cannot be written.
bool CheckStateFolder(const std::string& path, std::string* error);

// Writes the medium to `path` through a temporary file that replaces it by rename, so the
// file on disk is always a whole disc. False and the reason when anything fails.
bool SaveMedium(const Medium& medium, const std::string& path, std::string* error);

// Reads a medium back. A file that is not a disc state, or is damaged, is refused whole
// with an error naming the file.
bool LoadMedium(const std::string& path, Medium* medium, std::string* error);

}  // namespace zorvane::vdrive
