// Reading a whole CD to a BIN/CUE pair: every track of every session as raw 2352-byte
// sectors (audio as it comes, data with sync, header and EDC/ECC) into NAME.bin, pregaps
// included, and a cue sheet NAME.cue that names the tracks, their indices from the Q
// sub-channel, their flags, ISRCs, the catalogue number, the CD-TEXT and the sessions.
// With the sub-channel asked for, NAME.sub holds the 96 bytes of raw P-W of each sector.
//
// The files are written under temporary names and renamed into place only when the whole
// disc was read; a read error or a stop keeps what was read as NAME.bin.part (and
// NAME.sub.part) and writes no cue sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "read/read_worker.h"

namespace zorvane {

// One track as the cue sheet describes it.
struct DiscTrack {
  int number = 1;
  int session = 1;
  std::uint8_t control = 0;  // the Q control nibble of the TOC: 4 data, 8 four channels,
                             // 2 copy permitted, 1 pre-emphasis
  enum class Mode { kAudio, kMode1, kMode2 } mode = Mode::kAudio;
  std::int64_t file_index0 = -1;       // sector in the .bin where its index 0 begins (-1: none)
  std::int64_t file_index1 = 0;        // sector in the .bin where index 1 begins
  std::int32_t unrecorded_pregap = 0;  // blocks before it that hold nothing (PREGAP)
  std::string isrc;
  std::string title, performer, songwriter, composer, arranger, message;  // CD-TEXT
};

struct DiscLayout {
  std::vector<DiscTrack> tracks;
  std::string catalogue;  // 13 digits, or empty
  std::string title, performer, songwriter, composer, arranger, message, genre, disc_id;
};

// The cue sheet text for `layout` with its sectors in the file named `bin_name`.
std::string CueSheetText(const DiscLayout& layout, const std::string& bin_name);

// The three names of a read to `cue_path` (which must end in .cue, any case): false when
// it does not.
struct DiscFiles {
  std::string cue, bin, sub;
};
bool DiscFilesOf(const std::string& cue_path, DiscFiles* files);

struct DiscReadRequest {
  std::string cue_path;
  bool subchannel = false;
};

// The state a run shares with its front end: the read job's figures and outcome (the read
// dialog shows them as it shows a track's read), and what the whole-disc read was asked.
struct DiscReadJob : ReadJob {
  explicit DiscReadJob(DiscReadRequest r) : ReadJob(ReadRequest{}), disc(std::move(r)) {}

  const DiscReadRequest disc;
};

// Reads the disc of CurrentDevice on the calling thread.
void DiscReadWorker(const std::shared_ptr<DiscReadJob>& job);
void StartDiscReadWorker(std::shared_ptr<DiscReadJob> job);

}  // namespace zorvane
