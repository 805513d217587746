// The disc in the drive: its kind, its sessions and tracks, what the lead-in areas and
// the pre-recorded groove hold, and its sector content.
//
// A medium is plain data that presets build and, for recordable kinds, that recording
// changes: the layout (sessions, tracks, PMA) and the written sectors are stored here and
// every answer of the drive is derived from them, so a TOC, the track and disc information,
// READ CAPACITY and the sectors always describe the same disc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vdrive/bytes.h"
#include "vdrive/cd_sector.h"
#include "vdrive/sector_store.h"

namespace zorvane::vdrive {

enum class Family : std::uint8_t { kNone, kCd, kDvd, kBd, kHdDvd };

// CD geometry around sessions, in blocks.
inline constexpr std::int32_t kFirstLeadoutBlocks = 6750;  // 1:30 after the first session
inline constexpr std::int32_t kLaterLeadoutBlocks = 2250;  // 0:30 after later sessions
inline constexpr std::int32_t kLeadinBlocks = 4500;        // 1:00 before each later session
inline constexpr std::int32_t kRunOutBlocks = 2;           // closing a track-at-once track

// DVD: the error correction block every recording is padded to, and the zone a closed
// session leaves before the next one (border-out and border-in, or closure and intro).
inline constexpr std::int32_t kEccBlockSectors = 16;
inline constexpr std::int32_t kFirstBorderBlocks = 16384;  // after the first session
inline constexpr std::int32_t kLaterBorderBlocks = 6144;   // after later sessions

// MRW on CD: packets of 32 user blocks, each with 7 link blocks.
inline std::int32_t MrwUserBlocks(std::int32_t leadout) {
  return leadout / 39 * 32;
}

// Background format status of DVD+RW and MRW (READ DISC INFORMATION byte 7).
enum class BackgroundFormat : std::uint8_t { kNone = 0, kStopped = 1, kRunning = 2, kDone = 3 };

struct Track {
  int number = 1;
  int session = 1;
  std::int32_t start = 0;     // first block of the track (index 1)
  std::int32_t pregap = 0;    // blocks of its pre-gap (index 0) recorded with it, before `start`
  std::int32_t size = 0;      // blocks the track spans, run-out blocks included
  std::int32_t recorded = 0;  // blocks written from `start` (size once complete)
  std::int32_t readable = 0;  // blocks from `start` whose user data reads back
  SectorType sector_type = SectorType::kMode1;
  std::uint8_t control = 4;  // Q sub-channel control nibble: 4 data, 0 audio
  bool complete = true;      // false: an incomplete track that takes more writes
  bool incremental = false;  // recorded in packets
  bool fixed_packet = false;
  std::int32_t packet_size = 0;
  bool reserved = false;  // its size was set by RESERVE TRACK
  bool generated = true;  // unwritten blocks read as the generated pattern (else zeros)
  std::string isrc;       // its ISRC (12 characters), empty when none was recorded

  std::int32_t End() const { return start + size; }
};

struct Session {
  int number = 1;
  bool closed = true;
  std::int32_t leadin_start = 0;   // LBA where its lead-in begins (negative for the first)
  std::int32_t leadout_start = 0;  // LBA of its lead-out, once closed
  bool appendable = false;         // closed with room for another session (B0 pointer)
  std::uint8_t disc_type = 0x00;   // A0 pointer: 00h CD-DA/CD-ROM, 10h CD-I, 20h CD-ROM XA
};

// An entry of the program memory area: a track's start and stop as the recorder noted them.
struct PmaEntry {
  std::uint8_t control = 4;
  std::uint8_t adr = 1;
  std::uint8_t point = 1;  // the track number
  Msf stop;
  Msf start;
};

// What the ATIP of a recordable CD carries.
struct Atip {
  Msf leadin{97, 24, 1};    // start time of the lead-in: identifies the disc maker
  Msf leadout{79, 59, 74};  // last possible start time of the lead-out
  std::uint8_t writing_power = 5;
  std::uint8_t reference_speed = 0;
  bool unrestricted = true;
  std::uint8_t sub_type = 0;
  std::uint8_t a1[3] = {0x24, 0x56, 0x20};
  std::uint8_t a3[3] = {0x31, 0x12, 0x00};
  std::uint8_t a2[3] = {0x00, 0x00, 0x00};
  bool a1_valid = true;
  bool a2_valid = false;
  bool a3_valid = true;
};

// What the control data zone (or the ADIP of DVD+R/+RW, or the pre-pits of DVD-R/-RW)
// says about a DVD.
struct DvdInfo {
  std::uint8_t book = 0x01;        // book type (high nibble) and part version (low nibble)
  std::uint8_t max_rate = 0x02;    // disc size 120 mm (high nibble), maximum rate
  std::uint8_t layer_type = 0x01;  // bit 0 embossed, bit 1 recordable, bit 2 rewritable
  bool opposite_track_path = false;
  std::string maker;    // manufacturer id: 8 bytes (ADIP) or 12 bytes (pre-pits)
  std::string type_id;  // DVD+R/+RW media type id, 3 bytes
  std::uint8_t revision = 0;
};

// Where the user data of the pressed or written sectors comes from.
struct Content {
  std::string image_path;  // a pressed medium read from this file (2048 bytes a block)
  std::uint64_t image_size = 0;
  std::shared_ptr<int> image_fd;  // open descriptor of the image, closed with the last copy
  // Sectors written by the host: the user data as written, on disk (null until the first
  // write). Sparse: a sector not there reads as the generated pattern of pressed media, or
  // as unwritten.
  std::shared_ptr<SectorStore> store;
};

enum class DiscStatus : std::uint8_t { kEmpty = 0, kIncomplete = 1, kComplete = 2, kOther = 3 };
enum class SessionState : std::uint8_t { kEmpty = 0, kIncomplete = 1, kComplete = 3 };

struct Medium {
  std::string preset;  // the preset it was built from
  bool present = false;
  Family family = Family::kNone;
  std::uint16_t profile = 0;     // MMC profile
  bool recordable = false;       // write-once or rewritable
  bool erasable = false;         // rewritable: CD-RW, DVD±RW, DVD-RAM
  bool random_writable = false;  // a formatted area written anywhere (DVD+RW, DVD-RAM, MRW...)
  bool formatted = false;
  bool mrw = false;
  std::uint8_t layers = 1;
  BackgroundFormat background_format = BackgroundFormat::kNone;
  // CD: the last possible lead-out start (LBA) of a recordable disc, or the lead-out of a
  // pressed one. DVD, BD, HD DVD: the user blocks of the data area (all layers).
  std::int32_t capacity = 0;
  Atip atip;
  DvdInfo dvd;
  std::vector<Session> sessions;  // the recorded ones, first to last; the last may be open
  std::vector<Track> tracks;      // every track on the disc, in order
  std::vector<PmaEntry> pma;
  std::string catalogue;  // media catalogue number (13 digits), empty when none was recorded
  // The CD-TEXT of the first session's lead-in: its 18-byte packs, each with a good CRC, by
  // block and sequence number (empty when the lead-in holds none).
  std::vector<std::uint8_t> cd_text;
  Content content;

  bool IsCd() const { return family == Family::kCd; }
  bool IsDvd() const { return family == Family::kDvd; }
  bool Sequential() const { return recordable && !random_writable; }
};

// Derived views: every answer of the drive reads the medium through these.

// The track holding `lba` (its pre-gap included), or null.
const Track* TrackAt(const Medium& medium, std::int32_t lba);

// The track with this number, or null.
const Track* TrackNumbered(const Medium& medium, int number);

DiscStatus StatusOf(const Medium& medium);
SessionState LastSessionState(const Medium& medium);

// Sessions whose lead-in has been written (the ones a TOC lists).
std::vector<const Session*> ClosedSessions(const Medium& medium);

// The tracks a TOC lists: those of closed sessions, or, while the first session is still
// open, the complete tracks the PMA describes.
std::vector<const Track*> TocTracks(const Medium& medium);

// The lead-out start a TOC lists with its tracks; nullopt when there is no track to list.
std::optional<std::int32_t> TocLeadout(const Medium& medium);

// The first and last track numbers of a session.
int FirstTrackOf(const Medium& medium, int session);
int LastTrackOf(const Medium& medium, int session);

// The track that can still be written on a sequential medium: the incomplete track of an
// open session, or the invisible track after the last one. Absent on a closed disc.
struct WritableTrack {
  int number = 1;
  int session = 1;
  std::int32_t start = 0;
  std::int32_t next_writable = 0;
  std::int32_t free_blocks = 0;
  std::int32_t size = 0;
  bool blank = true;  // the invisible track: nothing written yet
};
std::optional<WritableTrack> WritableTrackOf(const Medium& medium);

// Where a new session's lead-in begins on an appendable CD (the lead-in of the first
// session for a blank disc).
std::int32_t NextLeadinStart(const Medium& medium);

// The blocks a closed session leaves before the next session's first track on a DVD.
std::int32_t BorderBlocks(const Medium& medium);

// The medium's profile is DVD+R, DVD+R DL or DVD+RW.
bool IsPlusProfile(const Medium& medium);

// Takes every recording off: no sessions, tracks, PMA entries or written sectors.
void EraseRecording(Medium& medium);

// Makes the medium one formatted area of `blocks` that is written anywhere, read as zeros
// where nothing was written.
void SetFormattedArea(Medium& medium, std::int32_t blocks);

// The medium-type byte of the mode parameter header by the code table of ATAPI drives:
// 70h no disc, 71h tray open; CD 0xh pressed, 1xh CD-R, 2xh CD-RW, with x = 0 nothing
// recorded (type unknown), 1 data only, 2 audio only, 3 data and audio; 41h a 120 mm DVD;
// 00h any other disc (BD, HD DVD: the table has no code for them).
std::uint8_t LegacyMediumType(const Medium& medium, bool tray_open);

// The blocks READ CAPACITY reports: the last block of the recorded area plus one (0 when
// nothing readable is recorded).
std::int32_t ReadableBlocks(const Medium& medium);

// The end of the last recorded program area (a CD's last lead-out, or the end of the
// recorded DVD area); the vendor scans stop there.
std::int32_t RecordedEnd(const Medium& medium);

// Reads the user data of a block into `out` (UserDataSize of its type, 2352 for audio).
// Returns kGood or the sense of a failed read: the block is outside the medium, unwritten,
// or a run-out block.
Sense ReadUserData(const Medium& medium, std::int32_t lba, std::uint8_t* out, SectorType* type);

// The 2048-byte blocks [lba, lba + count) of a pressed disc read from its image file in one
// read, when they all lie in one Mode 1 track that the image backs and nothing was recorded
// over them: what ReadUserData gives block by block. False (nothing read) otherwise.
bool ReadImageBlocks(const Medium& medium, std::int32_t lba, std::uint32_t count,
                     std::uint8_t* out);

// The same blocks as a range of the image file, for a host that sends them on from the file
// itself: its descriptor (kept open while the range is in use) and byte offset. False when
// ReadImageBlocks would not read them, or when the range runs past the end of the file
// (those bytes read as zeros, which the file does not hold).
struct ImageRange {
  std::shared_ptr<int> fd;
  std::int64_t offset = 0;
  std::size_t length = 0;
};
bool ImageRangeOf(const Medium& medium, std::int32_t lba, std::uint32_t count, ImageRange* range);

// The generated content of a pressed or preset-written block: bytes 0..3 hold the LBA big
// endian and byte k (k >= 4) is (k + 3 * LBA) mod 256. Audio blocks hold 588 stereo
// samples: sample n is the 16-bit value ((LBA * 588 + n) * 97) mod 65536 on the left and
// its complement on the right, little endian.
void GeneratedUserData(SectorType type, std::int32_t lba, std::uint8_t* out);

// The Mode 2 sub-header of a data block (file 0, channel 0, data sub-mode).
void SubheaderOf(SectorType type, std::uint8_t out[4]);

}  // namespace zorvane::vdrive
