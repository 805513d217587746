// CD session at once: SEND CUE SHEET and the writes and closing that follow it.
//
// The cue sheet lays out the whole session before anything is written: the lead-in, each
// track with its pre-gap (index 0) and its further indexes, and the lead-out, as 8-byte
// entries (CTL/ADR, TNO, INDEX, DATA FORM, SCMS, MIN, SEC, FRAME) in ascending order. The
// host then sends every block from the first address the sheet asks for up to the lead-out
// in one sequence, each range in the block size of its data form. A flush after the last
// block records the lead-in with the table of contents and the lead-out.
//
// CD-TEXT: a lead-in entry with DATA FORM 41h (sub-channel form 01b over the CD-DA the drive
// generates) has the host send the lead-in's R-W sub-channel itself, packed: 96 bytes a block
// from the start of the lead-in up to the program area, four CD-TEXT packs in each. The drive
// keeps the packs of the first session's lead-in for READ TOC format 5.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

constexpr std::uint8_t kSessionAtOnce = 2;
constexpr std::uint8_t kLeadout = 0xAA;
constexpr std::int32_t kMinimumTrackBlocks = 300;  // 4 seconds

// What a data form asks of the host: a kind of sector and how its blocks are sent, or
// nothing for a form the drive records itself (silence, or data blocks of zeros).
struct Form {
  bool known = false;
  bool generated = false;
  bool audio = false;
  SectorType type = SectorType::kMode1;
  std::size_t block_size = 0;
  std::size_t header = 0;  // bytes a block starts with that the drive does not keep
};

// The data forms of the main channel; sub-channel data with the blocks (bits 6-7) is not
// taken.
Form FormOf(std::uint8_t code) {
  Form f;
  f.known = true;
  switch (code) {
    case 0x00:  // CD-DA: 2352 bytes of samples
      f.audio = true;
      f.type = SectorType::kAudio;
      f.block_size = kRawSectorSize;
      break;
    case 0x01:  // CD-DA: silence the drive generates
      f.audio = true;
      f.type = SectorType::kAudio;
      f.generated = true;
      break;
    case 0x10:  // Mode 1: 2048 bytes of user data
      f.block_size = 2048;
      break;
    case 0x11:  // Mode 1: the whole sector; sync, header and EDC/ECC are the drive's own
      f.block_size = kRawSectorSize;
      f.header = 16;
      break;
    case 0x14:  // Mode 1: zeros the drive generates
      f.generated = true;
      break;
    case 0x30:  // Mode 2: 2336 bytes of user data
      f.type = SectorType::kMode2Formless;
      f.block_size = 2336;
      break;
    case 0x31:  // Mode 2: the whole sector
      f.type = SectorType::kMode2Formless;
      f.block_size = kRawSectorSize;
      f.header = 16;
      break;
    case 0x34:  // Mode 2: zeros the drive generates
      f.type = SectorType::kMode2Formless;
      f.generated = true;
      break;
    default:
      f.known = false;
  }
  return f;
}

// The characters of a catalogue number (digits) or an ISRC (digits and capitals).
bool AllOf(const std::string& text, bool letters) {
  return std::all_of(text.begin(), text.end(), [&](char c) {
    return (c >= '0' && c <= '9') || (letters && c >= 'A' && c <= 'Z');
  });
}

// A time of the cue sheet as an address; nullopt when it is no time.
std::optional<std::int32_t> EntryAddress(const std::uint8_t* entry) {
  if (entry[5] > 99 || entry[6] >= 60 || entry[7] >= kFramesPerSecond) return std::nullopt;
  return MsfToLba(Msf{entry[5], entry[6], entry[7]});
}

}  // namespace

Sense Drive::SendCueSheet(Command& c) {
  const std::size_t length = Get24(c.cdb + 6);
  if (length > c.data_out_length) return kHostOverrun;
  c.data_out_taken = length;
  Medium& m = medium_;
  if (!m.IsCd() || !m.recordable || m.random_writable) return kCannotWriteIncompatible;
  // The sheet belongs to session at once, and a session already being written takes none.
  if ((write_parameters_[2] & 0x0F) != kSessionAtOnce || cue_.started) {
    return kCommandSequenceError;
  }
  // A new session on a blank or appendable disc: not after track-at-once tracks of a
  // session still open, not on a closed disc.
  const std::optional<WritableTrack> where = WritableTrackOf(m);
  const bool session_open = !m.sessions.empty() && !m.sessions.back().closed;
  if (!where || !where->blank || session_open) return kCommandSequenceError;
  if (length == 0) return kGood;
  if (length % 8 != 0 || length > kCueSheetBytes) return kInvalidFieldInParameters;

  const std::uint8_t* entry = c.data_out;
  const std::size_t entries = length / 8;
  std::size_t at = 0;
  auto adr = [&](std::size_t i) { return entry[8 * i] & 0x0F; };
  CueSheet sheet;
  // The media catalogue number: two entries of ADR 2 ahead of the lead-in, 13 digits in
  // the seven bytes after CTL/ADR and the six after that (the last byte zero).
  if (at < entries && adr(at) == 2) {
    if (at + 1 >= entries || adr(at + 1) != 2 || entry[15] != 0) return kInvalidFieldInParameters;
    sheet.catalogue.assign(entry + 1, entry + 8);
    sheet.catalogue.append(entry + 9, entry + 15);
    if (!AllOf(sheet.catalogue, false)) return kInvalidFieldInParameters;
    at += 2;
  }
  // The lead-in: TNO 00h, index 00h, the main data the drive generates, with the R-W
  // sub-channel from the host (sub-channel form 01b: 41h, CD-TEXT) or not (01h, 14h). Raw
  // R-W (11b) and main data from the host are not taken.
  if (at >= entries) return kInvalidFieldInParameters;
  const std::uint8_t* leadin = entry + 8 * at;
  const std::optional<std::int32_t> leadin_start = EntryAddress(leadin);
  const std::uint8_t subchannel_form = leadin[3] >> 6;
  const Form leadin_form = FormOf(leadin[3] & 0x3F);
  if ((leadin[0] & 0x0F) != 1 || leadin[1] != 0 || leadin[2] != 0 || !leadin_start ||
      !leadin_form.known || !leadin_form.generated ||
      (subchannel_form != 0 && subchannel_form != 1)) {
    return kInvalidFieldInParameters;
  }
  sheet.leadin_text = subchannel_form == 1;
  ++at;

  std::int32_t previous = *leadin_start;
  int track = 0;  // the track of the last entry (0: none yet)
  int index = -1;
  bool leadout = false;
  for (; at < entries; ++at) {
    const std::uint8_t* e = entry + 8 * at;
    if (leadout) return kInvalidFieldInParameters;  // the lead-out ends the sheet
    if ((e[0] & 0x0F) == 3) {
      // An ISRC: two entries of ADR 3 naming the track they stand before, six of its
      // twelve characters each.
      const int next = track == 0 ? where->number : track + 1;
      if (at + 1 >= entries || adr(at + 1) != 3 || e[1] != next || e[9] != next) {
        return kInvalidFieldInParameters;
      }
      std::string isrc(e + 2, e + 8);
      isrc.append(e + 10, e + 16);
      if (!AllOf(isrc, true)) return kInvalidFieldInParameters;
      sheet.isrc.emplace_back(next, isrc);
      ++at;
      continue;
    }
    const std::optional<std::int32_t> address = EntryAddress(e);
    if ((e[0] & 0x0F) != 1 || !address || *address < previous) return kInvalidFieldInParameters;
    previous = *address;
    if (!sheet.ranges.empty()) sheet.ranges.back().end = *address;
    const Form form = FormOf(e[3]);
    if (e[1] == kLeadout) {
      if (e[2] != 1 || !form.known || !form.generated || track == 0 || index < 1) {
        return kInvalidFieldInParameters;
      }
      sheet.leadout = *address;
      leadout = true;
      continue;
    }
    const std::uint8_t control = e[0] >> 4;
    if (!form.known || (e[4] != 0x00 && e[4] != 0x80)) return kInvalidFieldInParameters;
    // The control nibble says audio or data, as the data form does.
    if (((control & 0x04) == 0) != form.audio) return kInvalidFieldInParameters;
    if (e[1] == track) {
      // The next index of the track, in the track's kind of sector.
      const CueRange& last = sheet.ranges.back();
      if (e[2] != index + 1 || form.type != last.mode.type || control != last.control) {
        return kInvalidFieldInParameters;
      }
    } else {
      // The next track, from its pre-gap (index 0) or its start (index 1); the one before
      // it has its start.
      const int next = track == 0 ? where->number : track + 1;
      if (e[1] != next || next > 99 || e[2] > 1 || (track != 0 && index < 1)) {
        return kInvalidFieldInParameters;
      }
      track = next;
    }
    index = e[2];
    CueRange range;
    range.track = track;
    range.index = index;
    range.start = *address;
    range.end = *address;
    range.control = control;
    range.mode.type = form.type;
    range.mode.block_size = form.block_size;
    range.mode.header = form.header;
    range.mode.control = control;
    range.generated = form.generated;
    sheet.ranges.push_back(range);
  }
  if (!leadout) return kInvalidFieldInParameters;

  // The session's program area begins with the first track's pre-gap of 2 seconds at
  // least, each track holds 4 seconds at least, and the lead-out lies within the disc.
  const std::int32_t area = where->start - kPregapFrames;
  if (sheet.ranges.front().start != area || sheet.leadout > m.capacity) {
    return kInvalidFieldInParameters;
  }
  for (std::size_t i = 0; i < sheet.ranges.size(); ++i) {
    const CueRange& range = sheet.ranges[i];
    if (range.index != 1) continue;
    if (range.track == sheet.ranges.front().track && range.start - area < kPregapFrames) {
      return kInvalidFieldInParameters;
    }
    std::int32_t end = sheet.leadout;
    for (std::size_t j = i + 1; j < sheet.ranges.size(); ++j) {
      if (sheet.ranges[j].track != range.track) {
        end = sheet.ranges[j].start;
        break;
      }
    }
    if (end - range.start < kMinimumTrackBlocks) return kInvalidFieldInParameters;
  }
  sheet.active = true;
  sheet.next = sheet.leadout;
  for (const CueRange& range : sheet.ranges) {
    if (!range.generated && range.end > range.start) {
      sheet.next = range.start;
      break;
    }
  }
  if (sheet.leadin_text) {
    // The host's sub-channel blocks come first, from the start of this session's lead-in.
    sheet.leadin_start = NextLeadinStart(m);
    if (sheet.leadin_start >= area) return kInvalidFieldInParameters;
    sheet.next = sheet.leadin_start;
    sheet.text = std::make_shared<CdTextCollector>();
  }
  cue_ = sheet;
  return kGood;
}

Sense Drive::WriteSessionAtOnce(Command& c, std::int32_t lba, std::uint32_t count,
                                bool test_write) {
  auto refuse = [&](Sense sense) {
    c.information = static_cast<std::uint32_t>(lba);
    c.information_valid = true;
    return sense;
  };
  // The blocks come in one sequence, from the first the sheet asks for to the lead-out.
  if (lba != cue_.next) return refuse(kInvalidAddressForWrite);
  const std::int64_t end = static_cast<std::int64_t>(lba) + count;
  if (end > cue_.leadout) return refuse(kLbaOutOfRange);
  if (count == 0) return kGood;
  // The pieces of the ranges the write covers; the host sends no block of a range the
  // drive generates.
  struct Piece {
    const CueRange* range;
    std::int32_t first;
    std::uint32_t count;
  };
  std::vector<Piece> pieces;
  std::uint64_t bytes = 0;
  // Lead-in blocks of R-W sub-channel, ahead of the program area.
  const std::int32_t area = cue_.ranges.front().start;
  std::uint32_t leadin_blocks = 0;
  if (cue_.leadin_text && lba < area) {
    leadin_blocks = static_cast<std::uint32_t>(std::min<std::int64_t>(end, area) - lba);
    bytes += std::uint64_t{leadin_blocks} * kLeadinSubchannelBlock;
  }
  for (const CueRange& range : cue_.ranges) {
    const std::int64_t from = std::max<std::int64_t>(range.start, lba);
    const std::int64_t to = std::min<std::int64_t>(range.end, end);
    if (from >= to) continue;
    if (range.generated) return refuse(kInvalidAddressForWrite);
    pieces.push_back(
        {&range, static_cast<std::int32_t>(from), static_cast<std::uint32_t>(to - from)});
    bytes += static_cast<std::uint64_t>(to - from) * range.mode.block_size;
  }
  if (c.data_out_length < bytes) return kHostOverrun;
  if (const Sense sense = FillBuffer(bytes); sense != kGood) return sense;
  c.data_out_taken = bytes;
  cue_.started = true;
  const std::uint8_t* data = c.data_out;
  if (!test_write) {
    for (std::uint32_t i = 0; i < leadin_blocks; ++i) {
      cue_.text->AddLeadinBlock(data + std::size_t{i} * kLeadinSubchannelBlock);
    }
  }
  data += std::size_t{leadin_blocks} * kLeadinSubchannelBlock;
  for (const Piece& piece : pieces) {
    const std::size_t size = piece.range->mode.block_size;
    // A test write records nothing; blocks before LBA 0 (the first pre-gap) are recorded
    // but no command reads them back, so they are not kept.
    std::int32_t first = piece.first;
    std::uint32_t blocks = piece.count;
    const std::uint8_t* from = data;
    if (first < 0) {
      const std::uint32_t skip =
          std::min<std::uint32_t>(blocks, static_cast<std::uint32_t>(-first));
      first += static_cast<std::int32_t>(skip);
      blocks -= skip;
      from += std::size_t{skip} * size;
    }
    if (!test_write && blocks > 0) {
      if (const Sense sense = StoreSectors(from, first, blocks, piece.range->mode);
          sense != kGood) {
        return sense;
      }
    }
    data += std::size_t{piece.count} * size;
  }
  cue_.next = static_cast<std::int32_t>(end);
  // Past the lead-in and the ranges the drive generates, to the next block the host sends.
  if (cue_.next == area) {
    for (const CueRange& range : cue_.ranges) {
      if (!range.generated && range.end > range.start) {
        cue_.next = range.start;
        break;
      }
    }
  }
  for (const CueRange& range : cue_.ranges) {
    if (range.start == cue_.next && range.generated) cue_.next = range.end;
  }
  return kGood;
}

std::chrono::microseconds Drive::FinishSessionAtOnce(bool test_write) {
  if (!cue_.active || cue_.next != cue_.leadout) return std::chrono::microseconds::zero();
  const CueSheet sheet = cue_;
  cue_ = CueSheet{};
  if (test_write) return std::chrono::microseconds::zero();  // nothing was recorded
  Medium& m = medium_;
  const bool first = ClosedSessions(m).empty();
  const std::optional<WritableTrack> where = WritableTrackOf(m);
  const int session = where ? where->session : 1;
  OpenSession(session);
  // Each track from its index 1 up to the next track's first entry (its pre-gap) or the
  // lead-out; its own pre-gap lies before its start.
  for (std::size_t i = 0; i < sheet.ranges.size(); ++i) {
    const CueRange& head = sheet.ranges[i];
    if (i > 0 && sheet.ranges[i - 1].track == head.track) continue;
    Track track;
    track.number = head.track;
    track.session = session;
    track.start = head.start;
    std::int32_t end = sheet.leadout;
    for (std::size_t j = i; j < sheet.ranges.size(); ++j) {
      const CueRange& range = sheet.ranges[j];
      if (range.track != head.track) {
        end = range.start;
        break;
      }
      if (range.index == 1) track.start = range.start;
    }
    track.pregap = track.start - head.start;
    track.size = end - track.start;
    track.recorded = track.size;
    track.readable = track.size;
    track.sector_type = head.mode.type;
    track.control = head.control;
    track.complete = true;
    track.generated = false;
    for (const auto& [number, isrc] : sheet.isrc) {
      if (number == track.number) track.isrc = isrc;
    }
    m.tracks.push_back(track);
  }
  // The disc's catalogue number is the first one a session recorded; READ TOC format 5
  // reads the CD-TEXT of the first session's lead-in.
  if (m.catalogue.empty()) m.catalogue = sheet.catalogue;
  if (first && sheet.leadin_text) m.cd_text = sheet.text->Packs();
  CloseSession(false);
  const std::int32_t leadout = first ? kFirstLeadoutBlocks : kLaterLeadoutBlocks;
  const auto edges =
      static_cast<std::uint64_t>(kLeadinBlocks) + static_cast<std::uint64_t>(leadout);
  return WriteDuration(edges * kRawSectorSize);
}

}  // namespace zorvane::vdrive
