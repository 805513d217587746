// Erasing and formatting: BLANK on CD-RW and DVD-RW, FORMAT UNIT on CD-RW (MRW), DVD-RW,
// DVD-RAM and DVD+RW. Long operations either hold the command (time=real waits as long as
// the medium needs) or, with Immed set, run on while the drive answers not ready with their
// progress; the background formats of DVD+RW and MRW leave the drive ready.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/cd_sector.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

constexpr std::size_t kBlockSize = 2048;

// The medium back to a blank disc for sequential recording.
void BlankDisc(Medium& m) {
  EraseRecording(m);
  m.random_writable = false;
  m.formatted = false;
  m.mrw = false;
  m.background_format = BackgroundFormat::kNone;
  if (m.IsCd()) {
    m.capacity = MsfToLba(m.atip.leadout);
  } else {
    m.profile = 0x14;  // DVD-RW in sequential recording
  }
}

// Takes the last session off a sequential disc: its tracks, their PMA entries and sectors.
void EraseLastSession(Medium& m, std::int32_t* first, std::int32_t* end) {
  const int number = m.sessions.back().number;
  *first = 0;
  *end = 0;
  bool any = false;
  std::vector<Track> kept;
  for (const Track& track : m.tracks) {
    if (track.session != number) {
      kept.push_back(track);
      continue;
    }
    if (!any) *first = std::max(0, track.start - track.pregap);
    any = true;
    *end = track.End();
    m.pma.erase(std::remove_if(m.pma.begin(), m.pma.end(),
                               [&](const PmaEntry& e) { return e.point == track.number; }),
                m.pma.end());
  }
  m.tracks = std::move(kept);
  if (m.content.store) m.content.store->Erase(*first, *end);
  m.sessions.pop_back();
}

}  // namespace

Sense Drive::FinishLongCommand(bool immed, Sense sense, std::chrono::microseconds duration) {
  DrainBuffer();
  duration += WriteDuration(buffer_fill_);  // what the buffer holds is recorded first
  buffer_fill_ = 0;
  simulated_blocks_ = 0;
  if (immed) {
    Begin(operation_, sense, duration);  // the disc is saved when the operation ends
    return kGood;
  }
  if (const std::chrono::microseconds rest = Spend(duration); rest.count() > 0) {
    // The host timed out: the drive goes on with the operation, not ready meanwhile.
    Begin(operation_, sense, rest);
    return kGood;
  }
  return Confirm();
}

Sense Drive::Blank(Command& c) {
  const bool immed = (c.cdb[1] & 0x10) != 0;
  const std::uint8_t type = c.cdb[1] & 0x07;
  Medium& m = medium_;
  const bool cd_rw = m.profile == 0x0A;
  const bool dvd_rw = m.profile == 0x13 || m.profile == 0x14;
  if (!cd_rw && !dvd_rw) {
    // DVD+RW and DVD-RAM are formatted, never blanked: the drive knows the command but not
    // for this medium. Nothing on a write-once or pressed disc can be erased.
    return m.erasable ? kIncompatibleMedium : kCannotFormatIncompatible;
  }
  const std::uint64_t sector = m.IsCd() ? kRawSectorSize : kBlockSize;
  const std::int32_t whole = m.IsCd() ? MsfToLba(m.atip.leadout) : m.capacity;
  const bool first_session = m.sessions.size() <= 1;
  const std::int32_t session_edges =
      kLeadinBlocks + (first_session ? kFirstLeadoutBlocks : kLaterLeadoutBlocks);
  std::uint64_t blocks = 0;
  switch (type) {
    case 0:  // the whole disc
      blocks = static_cast<std::uint64_t>(whole);
      BlankDisc(m);
      break;
    case 1:  // minimal: the lead-in, PMA and first pre-gap; the rest can no longer be reached
      blocks = m.IsCd() ? static_cast<std::uint64_t>(session_edges + kPregapFrames)
                        : static_cast<std::uint64_t>(whole / 20);
      BlankDisc(m);
      break;
    case 5: {  // unclose the last session: its lead-in and lead-out are erased
      if (m.random_writable || m.sessions.empty() || !m.sessions.back().closed) {
        return kInvalidField;
      }
      Session& last = m.sessions.back();
      last.closed = false;
      last.appendable = false;
      last.leadout_start = 0;
      blocks = static_cast<std::uint64_t>(session_edges);
      break;
    }
    case 6: {  // erase the last session, open or closed
      if (m.random_writable || m.sessions.empty()) return kInvalidField;
      std::int32_t first = 0;
      std::int32_t end = 0;
      EraseLastSession(m, &first, &end);
      blocks = static_cast<std::uint64_t>(std::max(end - first, 0)) +
               static_cast<std::uint64_t>(session_edges);
      break;
    }
    default:
      return kInvalidField;  // track blanking and unreserving are not offered
  }
  cue_ = CueSheet{};  // a session at once not yet written is given up with the disc
  return FinishLongCommand(immed, kOperationInProgress, WriteDuration(blocks * sector));
}

Sense Drive::FormatUnit(Command& c) {
  // A format descriptor is required: FmtData with the MMC format code 001b.
  if ((c.cdb[1] & 0x10) == 0 || (c.cdb[1] & 0x07) != 1) return kInvalidField;
  Medium& m = medium_;
  if (!m.erasable) return kCannotFormatIncompatible;
  const std::uint8_t* list = c.data_out;
  // The drive takes the list header, then as many bytes as it announces.
  if (c.data_out_length < 4 || c.data_out_length < 4 + std::size_t{Get16(list + 2)}) {
    return kHostOverrun;
  }
  c.data_out_taken = 4 + std::size_t{Get16(list + 2)};
  if (Get16(list + 2) != 8) return kInvalidFieldInParameters;
  const bool immed = (list[1] & 0x02) != 0;
  const std::uint32_t blocks = Get32(list + 4);
  const std::uint8_t type = list[8] >> 2;
  // The number of blocks may be all ones (the largest); otherwise not above the largest.
  auto fits = [&](std::int32_t largest) {
    return blocks == 0xFFFFFFFF || blocks <= static_cast<std::uint32_t>(largest);
  };
  auto background = [&](std::int32_t area) {
    SetFormattedArea(m, area);
    m.background_format = BackgroundFormat::kRunning;
    Begin(background_, kGood, WriteDuration(static_cast<std::uint64_t>(area) * kBlockSize));
    return Confirm();
  };
  switch (m.profile) {
    case 0x0A: {  // CD-RW: Mount Rainier, formatted in the background
      const std::int32_t area = MrwUserBlocks(MsfToLba(m.atip.leadout));
      if (type != 0x24 || !fits(area)) return kInvalidFieldInParameters;
      m.mrw = true;
      return background(area);
    }
    case 0x1A:  // DVD+RW basic format, in the background
      if (type != 0x26 || !fits(m.capacity)) return kInvalidFieldInParameters;
      return background(m.capacity);
    case 0x13:
    case 0x14: {  // DVD-RW: full (00h) or quick (15h) to restricted overwrite; 10h sequential
      if ((type != 0x00 && type != 0x10 && type != 0x15) || !fits(m.capacity)) {
        return kInvalidFieldInParameters;
      }
      const auto whole = static_cast<std::uint64_t>(m.capacity) * kBlockSize;
      if (type == 0x10) {
        BlankDisc(m);
      } else {
        SetFormattedArea(m, m.capacity);
        m.profile = 0x13;
      }
      return FinishLongCommand(immed, kFormatInProgress,
                               WriteDuration(type == 0x15 ? whole / 20 : whole));
    }
    case 0x12: {  // DVD-RAM: full format with certification (00h), spare expansion (01h)
      if ((type != 0x00 && type != 0x01) || !fits(m.capacity)) return kInvalidFieldInParameters;
      const auto whole = static_cast<std::uint64_t>(m.capacity) * kBlockSize;
      if (type == 0x00) SetFormattedArea(m, m.capacity);
      return FinishLongCommand(immed, kFormatInProgress,
                               WriteDuration(type == 0x00 ? 2 * whole : whole / 20));
    }
    default:
      return kCannotFormatIncompatible;
  }
}

}  // namespace zorvane::vdrive
