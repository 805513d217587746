// A CD written session at once: the tracks of a cue sheet (read with libcue) or of a list
// of WAVE files, laid out from the first pre-gap (LBA -150) to the lead-out, as the MMC cue
// sheet that SEND CUE SHEET takes and the ranges of blocks the host then sends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/cdtext.h"

namespace zorvane {

// One track as it is recorded.
struct SaoTrack {
  std::uint8_t form =
      0x00;  // data form of the main data: 00h CD-DA, 10h/11h Mode 1, 30h/31h Mode 2
  std::uint32_t block_size = 2352;  // bytes the host sends a block
  std::uint8_t control = 0;         // Q control nibble: 4CH 8h, data 4h, DCP 2h, PRE 1h
  bool scms = false;
  std::string isrc;                    // 12 characters, or empty
  std::uint32_t zero_pregap = 0;       // blocks of zeros ahead of the file's pre-gap
  std::uint32_t file_pregap = 0;       // blocks of the file before index 01
  std::vector<std::uint32_t> indexes;  // index 02, 03 ...: blocks after index 01
  std::uint32_t blocks = 0;            // blocks of the file from index 01 on
  std::uint32_t zero_postgap = 0;      // blocks of zeros after them
  int file = -1;                       // the file the blocks come from
  std::uint64_t offset = 0;            // its byte of the track's first file block
  std::uint64_t bytes = 0;             // bytes the file gives; zeros complete the last block (WAVE)
};

// A stretch of the session that the host sends from one place: a file or zeros.
struct SaoSource {
  std::int64_t start = 0;
  std::uint32_t blocks = 0;
  std::uint32_t block_size = 0;
  int file = -1;  // -1: zeros
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;  // bytes from the file; the rest of the blocks are zeros
  std::uint8_t form = 0;    // the track's data form (SaoTrack::form)
};

inline constexpr std::int64_t kSaoFirstBlock = -150;
// Blocks of the shortest track (4 s) and of the first pre-gap (2 s).
inline constexpr std::uint32_t kSaoMinimumTrack = 300;
inline constexpr std::uint32_t kSaoFirstPregap = 150;
// The cue sheet a drive takes: 4,096 bytes.
inline constexpr std::size_t kSaoSheetLimit = 4096;

struct SaoSession {
  std::vector<std::uint8_t> sheet;  // SEND CUE SHEET's parameter list
  std::vector<SaoSource> sources;   // from kSaoFirstBlock to the lead-out, in order
  std::int64_t leadout = 0;         // the lead-out's LBA
  int tracks = 0;
};

// Lays the tracks out from LBA -150 (the first track gets 150 blocks of pre-gap at least)
// and builds the sheet: the catalogue number (two ADR 2 entries), the lead-in (DATA FORM
// 41h when CD-TEXT packs follow, else the form generated after the first track), each track's ISRC
// (two ADR 3 entries), index 00 when it has a pre-gap, index 01 and the further indexes, the
// lead-out. False with the reason and its figures for what a disc cannot hold: no track or more
// than 99, a track shorter than 4 s, a catalogue number or ISRC of other characters, a sheet past
// 4,096 bytes.
bool BuildSaoSession(const std::vector<SaoTrack>& tracks, const std::string& catalogue, bool cdtext,
                     SaoSession* session, std::string* problem);

// What a file named by a cue sheet holds: WAVE sample data from `offset`, or a binary file
// whole.
struct CueFileInfo {
  bool wave = false;
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;
};
// Opens (or looks up) a file the sheet names, by its path resolved against the sheet's
// folder; false with the path and what is wrong.
using CueFileLookup = std::function<bool(const std::string& path, bool wave, CueFileInfo* info,
                                         std::string* problem)>;

struct CueImage {
  std::vector<std::string> files;  // in the order the sheet names them
  std::vector<CueFileInfo> infos;
  std::vector<SaoTrack> tracks;
  std::string catalogue;
  CdText text;  // the CDTEXT fields (TITLE ... UPC_EAN, REM GENRE); Empty() when none
};

// Reads a cue sheet's text with libcue: FILE (BINARY, or WAVE by the name's .wav ending),
// TRACK AUDIO, MODE1/2048, MODE1/2352, MODE2/2336, MODE2/2352, INDEX, PREGAP, POSTGAP,
// FLAGS DCP 4CH PRE SCMS, ISRC, CATALOG and the CDTEXT fields. Each file is looked up once
// and the tracks checked against its size: a binary file's tracks in whole blocks, no track
// past the end of its file. False with the reason naming the figures.
bool ParseCueImage(const std::string& text, const std::string& folder, const CueFileLookup& lookup,
                   CueImage* image, std::string* problem);

// The tracks of an audio CD from WAVE files (their sample data sizes in `infos`): `gap`
// blocks of silence ahead of each track after the first, 150 ahead of the first.
std::vector<SaoTrack> AudioTracks(const std::vector<CueFileInfo>& infos, std::uint32_t gap);

// The texts of an album as a file of lines gives them (the --cdtext file): KEY=TEXT for the
// album, KEY N=TEXT for track N, KEY one of TITLE, PERFORMER, SONGWRITER, COMPOSER, ARRANGER,
// MESSAGE; blank lines and lines starting with # are skipped. Fills `text` for `tracks`
// tracks; false with the line's number and what is wrong.
bool ParseCdTextLines(const std::string& lines, int tracks, CdText* text, std::string* problem);

// Packs for the texts: ISO 8859-1 where every text fits it, else MS-JIS. False with the
// reason when neither holds them or they take more than one block.
bool EncodeAlbumText(CdText text, std::vector<std::uint8_t>* packs, std::string* problem);

}  // namespace zorvane
