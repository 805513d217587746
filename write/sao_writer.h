// The CD session-at-once writer: a cue sheet's tracks (BIN and WAVE files) or an audio CD
// mastered from WAVE files, sent with SEND CUE SHEET and written from LBA -150 (from the
// start of the lead-in when CD-TEXT goes with it) to the lead-out in one sequence.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "write/cue_image.h"
#include "write/write_job.h"

namespace zorvane {

struct SaoRequest {
  std::string cue_path;            // a cue sheet, or
  std::vector<std::string> waves;  // the WAVE files of an audio CD, in track order
  std::uint32_t gap = 150;         // blocks of silence ahead of each WAVE track after the first
  bool multi_session = false;      // leave the disc open for a next session
  bool drop_text = false;          // write no CD-TEXT, even where the sheet has some
  // CD-TEXT of an audio CD: the album's title and performer, and a file of lines for the
  // rest (see ParseCdTextLines); they override what the file gives for the album.
  std::string title, performer, cdtext_file;
  std::vector<std::string> track_titles;  // a title for each WAVE file ("" none)
  bool verify = false;      // read the session back and compare it with its files
  bool test_write = false;  // the drive simulates the write and records nothing
};

// What is checked before the drive is asked anything: the sheet read, every file it names
// opened and its size compared with the sheet, the session laid out.
struct SaoPlan {
  SaoSession session;
  std::vector<std::unique_ptr<ImageSource>> files;
  std::vector<std::string> paths;
  std::string catalogue;
  std::vector<std::uint8_t> cdtext;  // the lead-in's CD-TEXT packs; empty: none
};
bool PlanSao(const SaoRequest& request, SaoPlan* plan, std::string* problem);

// Runs on its own thread, as the other writers do.
void SaoWriteWorker(const std::shared_ptr<WriteJob>& job, const SaoRequest& request);

// A path that names a cue sheet (".cue" in either case).
bool IsCueSheetPath(const std::string& path);

}  // namespace zorvane
