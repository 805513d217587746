// CD-TEXT: the texts of an audio CD (album and track titles, performers, ...) as the 18-byte
// packs of the lead-in's R-W sub-channel, READ TOC format 5's descriptors.
//
// A pack: byte 0 the pack type (80h title, 81h performer, 82h songwriter, 83h composer, 84h
// arranger, 85h message, 86h disc identification, 87h genre, 8Eh UPC/EAN and ISRC, 8Fh size
// information), byte 1 the track number of the text the pack's first character belongs to (0
// the album; for 8Fh the number 0..2 of the size-information pack), byte 2 the sequence number
// within the block, byte 3 the double-byte flag (bit 7), block number (bits 6-4) and character
// position (bits 3-0: characters of that text already in earlier packs, 15 for 15 or more),
// bytes 4-15 text, bytes 16-17 the CRC-16 (x^16+x^12+x^5+1, initial 0, inverted, high byte first)
// of bytes 0-15.
//
// Texts of one type follow each other NUL-terminated (two NULs with double-byte characters),
// album first, then each track; a text equal to the previous track's is a single TAB (two with
// double-byte characters). Packs 80h-85h carry the block's character code (ISO 8859-1, ASCII or
// MS-JIS, i.e. double-byte Shift-JIS); 86h, 87h and 8Eh are always single-byte ASCII. 87h holds
// the two-byte genre code before its text. The block ends with three 8Fh packs whose 36 bytes
// are: character code, first track, last track, copyright flags, the pack count of each type
// 80h..8Fh, the last sequence number of blocks 0..7, the language code of blocks 0..7.
//
// In the lead-in of a disc written session at once, the host sends the packs itself:
// - the cue sheet's first entry (the lead-in: CTL/ADR 01h or 41h, TNO 00h, INDEX 00h) carries
//   DATA FORM 41h: sub-channel form 01b (bits 7-6: R-W packed, 96 bytes from the host) over the
//   main-data form 01h (CD-DA made by the drive, no main data from the host). Without CD-TEXT
//   the entry's data form stays 01h;
// - the host then WRITEs 96-byte blocks starting at the start of the lead-in (the ATIP's start
//   time of lead-in as an LBA, e.g. 97:26:66 is -11634) up to LBA -151, then the disc from -150
//   as its cue sheet says. Each block holds four packs of 24 six-bit symbols each (18 bytes
//   read as a bit string from byte 0's most significant bit, six bits to a symbol, one symbol
//   in the low six bits of a byte); the packs repeat from the first one for the whole lead-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvane {

enum class CdTextCharset : std::uint8_t { kIso8859_1 = 0x00, kAscii = 0x01, kMsJis = 0x80 };

inline constexpr std::size_t kCdTextPackSize = 18;
// Packs one block holds: sequence numbers are one byte.
inline constexpr std::size_t kCdTextMaxPacks = 256;
// Bytes of one lead-in block of packed R-W sub-channel: four packs of 24 symbols.
inline constexpr std::size_t kCdTextLeadInBlockSize = 96;
// The lead-in cue sheet entry's DATA FORM with CD-TEXT from the host (and without).
inline constexpr std::uint8_t kCueLeadInWithCdText = 0x41;
inline constexpr std::uint8_t kCueLeadInPlain = 0x01;

// The texts of one block (language). Strings are UTF-8; index 0 of each vector is the album
// (disc), index i the track first_track + i - 1. Every vector has 1 + track count entries
// (missing texts are empty strings) or is empty when the block has no text of that kind.
struct CdText {
  CdTextCharset charset = CdTextCharset::kIso8859_1;
  std::uint8_t language = 0x09;  // EBU language code (09h English)
  int first_track = 1;
  std::vector<std::string> title, performer, songwriter, composer, arranger, message;
  std::vector<std::string> code;  // pack 8Eh: UPC/EAN (album) and ISRCs (tracks)
  std::string disc_id, genre_text;
  std::uint16_t genre_code = 0;

  // The largest size of the per-track vectors, less the album entry.
  int TrackCount() const;
  // No text at all.
  bool Empty() const;
  bool operator==(const CdText&) const = default;
};

// The CRC of a pack's first 16 bytes, as bytes 16-17 hold it.
std::uint16_t CdTextCrc(const std::uint8_t* pack16);

// Builds block 0's 18-byte packs with their CRCs and the size-information packs (8Fh).
// Refuses (false, *problem says why) texts the charset cannot hold, track numbers outside
// 1..99, or more packs than one block takes.
bool EncodeCdText(const CdText& text, std::vector<std::uint8_t>* packs, std::string* problem);

// Decodes packs (18 bytes each, e.g. READ TOC format 5's descriptors after the 4-byte header)
// into the first block's texts; packs with a bad CRC are skipped, as drives do, and counted in
// *bad_crc (may be null). False (*problem says why) when no good pack of a known type was found.
bool DecodeCdText(const std::uint8_t* packs, std::size_t size, CdText* text, int* bad_crc,
                  std::string* problem);

// The lead-in blocks, 96 bytes each, that a host sends in session at once for these packs
// (whole 18-byte packs, as EncodeCdText gives them): blocks first_block .. first_block +
// count - 1 counted from the start of the lead-in, the packs repeating from the first.
std::vector<std::uint8_t> CdTextLeadInBlocks(const std::vector<std::uint8_t>& packs,
                                             std::size_t first_block, std::size_t count);

// The packs back from lead-in blocks (the inverse of the symbol packing above), for checks.
std::vector<std::uint8_t> CdTextPacksFromLeadIn(const std::uint8_t* blocks, std::size_t size);

}  // namespace zorvane
