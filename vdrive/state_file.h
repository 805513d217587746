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
// file on disk is always a whole disc: its written sectors are synced in their data file
// (PATH.sectors-N) first, and only the extents that say where they lie go in the state
// file. A sector store that is not this file's, or mostly holds blocks written over since,
// is first copied to a new data file, which the medium then uses. False and the reason
// when anything fails (the file on disk is then the one before). The temporary file is
// PATH.tmp-XXXXXX; those a killed writer left are removed by the next save or load. The
// state file and its data files are readable by their owner alone (0600).
bool SaveMedium(Medium& medium, const std::string& path, std::string* error);

// A name for a new data file of the state file `state_path`: PATH.sectors-N, not in use.
std::string NewSectorFileName(const std::string& state_path);

// Reads a medium back. A file that is not a disc state, or is damaged, is refused whole
// with an error naming the file.
bool LoadMedium(const std::string& path, Medium* medium, std::string* error);

}  // namespace zorvane::vdrive
