// Recording: WRITE(10), WRITE(12), SYNCHRONIZE CACHE, CLOSE TRACK/SESSION and RESERVE
// TRACK. Sequential media take writes at a next writable address only (CD-R/RW track at
// once, DVD-R/-RW incremental and disc at once, DVD+R); formatted media take them anywhere
// in the formatted area (DVD-RAM, DVD+RW, DVD-RW restricted overwrite, MRW). CD session at
// once follows a cue sheet (commands_cue.cpp).
#include <algorithm>
#include <cstring>

#include "vdrive/bytes.h"
#include "vdrive/cd_sector.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

// Write types of the write parameters page.
constexpr std::uint8_t kPacket = 0;
constexpr std::uint8_t kTrackAtOnce = 1;
constexpr std::uint8_t kSessionAtOnce = 2;
constexpr std::uint8_t kRaw = 3;

constexpr std::size_t kBlockSize = 2048;

std::int64_t RoundUp(std::int64_t value, std::int64_t unit) {
  return (value + unit - 1) / unit * unit;
}

// DVD-R, DVD-RW in sequential recording, DVD-R DL.
bool IsMinusSequential(const Medium& m) {
  return m.profile == 0x11 || m.profile == 0x14 || m.profile == 0x15;
}

}  // namespace

Sense Drive::Write10(Command& c) {
  return WriteBlocks(c, Get32(c.cdb + 2), Get16(c.cdb + 7));
}

Sense Drive::Write12(Command& c) {
  return WriteBlocks(c, Get32(c.cdb + 2), Get32(c.cdb + 6));
}

bool Drive::CurrentWriteMode(WriteMode* mode) const {
  *mode = WriteMode{};
  if (!medium_.IsCd()) return true;  // DVD: Mode 1, 2048-byte blocks
  mode->control = write_parameters_[3] & 0x0F;
  switch (write_parameters_[4] & 0x0F) {
    case 0x00:
      mode->type = SectorType::kAudio;
      mode->block_size = kRawSectorSize;
      break;
    case 0x08:
      break;
    case 0x09:
      mode->type = SectorType::kMode2Formless;
      mode->block_size = 2336;
      break;
    case 0x0A:
      mode->type = SectorType::kMode2Form1;
      break;
    case 0x0B:
      mode->type = SectorType::kMode2Form1;
      mode->block_size = 2056;
      mode->header = 8;
      break;
    case 0x0C:
      mode->type = SectorType::kMode2Form2;
      mode->block_size = 2324;
      break;
    case 0x0D:
      // Sub-header and data of either form as the host made them: kept whole, with the
      // EDC the drive adds, as the 2336 bytes after the header.
      mode->type = SectorType::kMode2Formless;
      mode->block_size = 2332;
      mode->append_edc = true;
      break;
    default:
      return false;  // raw blocks with sub-channel: raw recording only
  }
  return true;
}

Sense Drive::WriteBlocks(Command& c, std::uint32_t lba, std::uint32_t count) {
  const Medium& m = medium_;
  if (!m.recordable) return kCannotWriteIncompatible;
  if (m.random_writable) return WriteRandom(c, lba, count);
  if (m.profile == 0x1A) return kCannotWriteUnknownFormat;  // a DVD+RW is formatted first
  return WriteSequential(c, lba, count);
}

Sense Drive::WriteRandom(Command& c, std::uint32_t lba, std::uint32_t count) {
  const std::uint64_t end = static_cast<std::uint64_t>(lba) + count;
  if (end > static_cast<std::uint64_t>(medium_.capacity)) {
    c.information = lba;
    c.information_valid = true;
    return kLbaOutOfRange;
  }
  // Restricted overwrite records whole ECC blocks: a write must start on one and cover
  // whole blocks.
  if (medium_.profile == 0x13 && (lba % kEccBlockSectors != 0 || count % kEccBlockSectors != 0)) {
    return kInvalidField;
  }
  if (count == 0) return kGood;
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kBlockSize;
  if (c.data_out_length < bytes) return kHostOverrun;
  if (const Sense sense = FillBuffer(bytes); sense != kGood) return sense;
  c.data_out_taken = bytes;
  return StoreSectors(c.data_out, static_cast<std::int32_t>(lba), count, WriteMode{});
}

Sense Drive::WriteSequential(Command& c, std::uint32_t lba, std::uint32_t count) {
  Medium& m = medium_;
  const std::uint8_t write_type = write_parameters_[2] & 0x0F;
  const bool test_write = (write_parameters_[2] & 0x10) != 0 && !IsPlusProfile(m);
  WriteMode mode;
  if (m.IsCd()) {
    // Session at once follows the cue sheet the host sent; without one (and in raw
    // recording, which this drive does not offer) nothing may be written.
    if (write_type == kSessionAtOnce && cue_.active) {
      return WriteSessionAtOnce(c, static_cast<std::int32_t>(lba), count, test_write);
    }
    if (write_type == kSessionAtOnce || write_type == kRaw) return kCommandSequenceError;
    if (write_type == kPacket || !CurrentWriteMode(&mode)) return kIllegalModeForTrack;
  }
  auto refuse = [&](Sense sense) {
    c.information = lba;
    c.information_valid = true;
    return sense;
  };
  if (lba > 0x7FFFFFFF) return refuse(kInvalidAddressForWrite);
  // A test write records nothing: the drive only pretends the address moved on.
  const std::int64_t address =
      static_cast<std::int64_t>(lba) - (test_write ? simulated_blocks_ : 0);
  Track* target = nullptr;
  for (Track& track : m.tracks) {
    if (!track.complete && track.start + track.recorded == address) target = &track;
  }
  std::optional<WritableTrack> invisible;
  std::int64_t free = 0;
  if (target != nullptr) {
    free = target->size - target->recorded;
  } else {
    invisible = WritableTrackOf(m);
    if (!invisible || !invisible->blank || invisible->next_writable != address) {
      return refuse(kInvalidAddressForWrite);
    }
    free = invisible->free_blocks;
  }
  if (test_write) free -= simulated_blocks_;
  if (static_cast<std::int64_t>(count) > free) return refuse(kLbaOutOfRange);
  // Disc at once records the track a reservation sized.
  const bool disc_at_once = IsMinusSequential(m) && write_type == kSessionAtOnce;
  if (disc_at_once && (target == nullptr || !target->reserved)) return kCommandSequenceError;
  if (target != nullptr && target->recorded > 0 && target->sector_type != mode.type) {
    return refuse(kIllegalModeForTrack);
  }
  if (count == 0) return kGood;
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * mode.block_size;
  if (c.data_out_length < bytes) return kHostOverrun;
  if (const Sense sense = FillBuffer(bytes); sense != kGood) return sense;
  c.data_out_taken = bytes;
  if (test_write) {
    simulated_blocks_ += count;
    return kGood;
  }
  if (const Sense sense = StoreSectors(c.data_out, static_cast<std::int32_t>(address), count, mode);
      sense != kGood) {
    return sense;
  }
  if (target == nullptr) {
    target = &OpenTrack(*invisible, mode);
  } else if (target->recorded == 0) {
    target->sector_type = mode.type;  // a reserved track takes the mode of its first write
    target->control = mode.control;
  }
  target->recorded += static_cast<std::int32_t>(count);
  target->readable = target->recorded;
  if (target->reserved && target->recorded == target->size) {
    target->complete = true;
    // Disc at once: writing the last block of the reserved track finalises the disc.
    if (disc_at_once) CloseSession(true);
  }
  return kGood;
}

Sense Drive::StoreSectors(const std::uint8_t* data, std::int32_t lba, std::uint32_t count,
                          const WriteMode& mode) {
  if (!medium_.content.store) {
    std::string error;
    medium_.content.store = NewSectorStore(&error);
    if (!medium_.content.store) return kWriteError;
  }
  const std::size_t keep = UserDataSize(mode.type);
  const std::uint8_t* blocks = data;
  std::vector<std::uint8_t> kept;
  if (mode.header != 0 || mode.append_edc || keep != mode.block_size) {
    // The drive keeps the user data: the sub-header goes, the EDC it adds comes in.
    const std::size_t payload = mode.block_size - mode.header;
    kept.assign(std::size_t{count} * keep, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* block = data + static_cast<std::size_t>(i) * mode.block_size;
      std::uint8_t* sector = kept.data() + std::size_t{i} * keep;
      std::memcpy(sector, block + mode.header, std::min(keep, payload));
      if (mode.append_edc) {
        const std::uint32_t edc = ComputeEdc(block, mode.block_size);
        for (std::size_t k = 0; k < 4; ++k) {
          sector[mode.block_size + k] = static_cast<std::uint8_t>(edc >> (8 * k));
        }
      }
    }
    blocks = kept.data();
  }
  return medium_.content.store->Write(lba, count, static_cast<std::uint32_t>(keep), blocks)
             ? kGood
             : kWriteError;
}

Session& Drive::OpenSession(int number) {
  Medium& m = medium_;
  if (m.sessions.empty() || m.sessions.back().closed) {
    Session session;
    session.number = number;
    session.closed = false;
    if (m.IsCd()) {
      session.leadin_start = NextLeadinStart(m);
      session.disc_type = write_parameters_[8];
    } else if (!m.sessions.empty()) {
      session.leadin_start = m.sessions.back().leadout_start + BorderBlocks(m);
    }
    m.sessions.push_back(session);
  }
  return m.sessions.back();
}

Track& Drive::OpenTrack(const WritableTrack& where, const WriteMode& mode) {
  OpenSession(where.session);
  const std::uint8_t write_type = write_parameters_[2] & 0x0F;
  Track track;
  track.number = where.number;
  track.session = where.session;
  track.start = where.start;
  track.size = where.size;
  track.recorded = 0;
  track.readable = 0;
  track.sector_type = mode.type;
  track.control = mode.control;
  track.complete = false;
  track.generated = false;
  // DVD tracks are recorded in ECC blocks. An incremental DVD-R/-RW track is a track of
  // variable packets (each write links on at the next ECC block): only a DVD-RW formatted
  // to restricted overwrite describes its one track as fixed packets.
  track.incremental = !medium_.IsCd() && write_type != kSessionAtOnce;
  track.fixed_packet = false;
  track.packet_size = track.incremental ? kEccBlockSectors : 0;
  medium_.tracks.push_back(track);
  return medium_.tracks.back();
}

void Drive::CloseTrack(Track& track) {
  if (track.complete) return;
  Medium& m = medium_;
  if (m.IsCd()) {
    // Track at once: the drive ends the track with its two run-out blocks and notes the
    // track in the PMA. A track is at least four seconds long: the drive pads a shorter
    // one to 300 blocks (they read as zeros), as recorders do.
    constexpr std::int32_t kShortestTrack = 300;
    if (track.recorded > 0) track.recorded = std::max(track.recorded, kShortestTrack);
    track.readable = track.recorded;
    track.size = track.recorded + kRunOutBlocks;
    track.recorded = track.size;
    PmaEntry entry;
    entry.control = track.control;
    entry.point = static_cast<std::uint8_t>(track.number);
    entry.start = LbaToMsf(track.start);
    entry.stop = LbaToMsf(track.End() - 1);
    m.pma.push_back(entry);
  } else {
    // DVD: padded to a whole ECC block, a reserved track to its reserved size.
    const std::int64_t padded =
        track.reserved ? track.size : RoundUp(track.recorded, kEccBlockSectors);
    track.size = static_cast<std::int32_t>(padded);
    track.recorded = track.size;
    track.readable = track.size;
  }
  track.complete = true;
}

Sense Drive::CloseSession(bool finalize) {
  Medium& m = medium_;
  if (m.sessions.empty() || m.sessions.back().closed) return kCommandSequenceError;
  Session& session = m.sessions.back();
  for (const Track& track : m.tracks) {
    if (track.session == session.number && track.reserved && track.recorded == 0) {
      return kEmptyReservedTrack;
    }
  }
  std::int32_t end = 0;
  for (Track& track : m.tracks) {
    if (track.session != session.number) continue;
    CloseTrack(track);
    end = track.End();
  }
  session.closed = true;
  session.leadout_start = end;
  const std::uint8_t multi_session = write_parameters_[3] >> 6;
  // DVD+R sessions are closed appendable; finalising closes the disc. Elsewhere the
  // multi-session field decides: 11b leaves room for another session.
  session.appendable = !finalize && (IsPlusProfile(m) || multi_session == 3);
  if (m.IsCd()) session.disc_type = write_parameters_[8];
  return kGood;
}

Sense Drive::SynchronizeCache(Command& c) {
  const bool immed = (c.cdb[1] & 0x02) != 0;
  DrainBuffer();
  // Once the host has sent a whole session at once, the drive records its lead-in and
  // lead-out as well.
  const std::chrono::microseconds closing = FinishSessionAtOnce((write_parameters_[2] & 0x10) != 0);
  const std::chrono::microseconds rest =
      immed ? closing : Spend(WriteDuration(buffer_fill_) + closing);
  buffer_fill_ = 0;
  // Past the host's time-out the drive goes on recording what its buffer held.
  if (rest.count() > 0) Begin(operation_, kOperationInProgress, rest);
  simulated_blocks_ = 0;
  Medium& m = medium_;
  if (m.Sequential()) {
    const std::uint8_t write_type = write_parameters_[2] & 0x0F;
    for (Track& track : m.tracks) {
      if (track.complete || track.recorded == 0) continue;
      if (m.IsCd()) {
        // Track at once: the flush ends the track, run-out and all.
        if (write_type == kTrackAtOnce) CloseTrack(track);
        continue;
      }
      // DVD: what was written is recorded in whole ECC blocks.
      track.recorded = static_cast<std::int32_t>(
          std::min<std::int64_t>(RoundUp(track.recorded, kEccBlockSectors), track.size));
      track.readable = track.recorded;
      if (track.reserved && track.recorded == track.size) track.complete = true;
    }
  }
  return Confirm();
}

Sense Drive::CloseTrackSession(Command& c) {
  const bool immed = (c.cdb[1] & 0x01) != 0;
  const std::uint8_t function = c.cdb[2] & 0x07;
  const int number = static_cast<int>(Get16(c.cdb + 4));
  Medium& m = medium_;
  if (!m.recordable) return kCannotWriteIncompatible;
  if (m.random_writable || m.profile == 0x1A) {
    // Formatted media: closing stops a background format (DVD+RW: 000b quick stop, 010b
    // compatible stop; MRW: 010b); DVD-RAM and restricted overwrite have nothing open.
    const bool plus = m.profile == 0x1A;
    if ((plus && (function == 0 || function == 2)) || (m.mrw && function == 2)) {
      if (background_.active) {
        background_.active = false;
        m.background_format = BackgroundFormat::kStopped;
      }
      return Confirm();
    }
    if (!plus && !m.mrw && (function == 1 || function == 2)) return Confirm();
    return kInvalidField;
  }
  std::chrono::microseconds duration{0};
  switch (function) {
    case 1: {
      Track* track = nullptr;
      for (Track& candidate : m.tracks) {
        if (candidate.number == number) track = &candidate;
      }
      if (track == nullptr) return kInvalidField;
      if (!track->complete && track->recorded == 0) return kEmptyReservedTrack;
      CloseTrack(*track);
      duration =
          WriteDuration(m.IsCd() ? kRunOutBlocks * kRawSectorSize : kEccBlockSectors * kBlockSize);
      break;
    }
    case 2:
    case 5:
    case 6: {
      // 101b and 110b finalise a DVD+R: the open session is closed and no other follows.
      const bool finalize = function != 2;
      if (finalize && !IsPlusProfile(m)) return kInvalidField;
      const bool first = ClosedSessions(m).empty();
      if (finalize && !m.sessions.empty() && m.sessions.back().closed) {
        m.sessions.back().appendable = false;
      } else if (const Sense sense = CloseSession(finalize); sense != kGood) {
        return sense;
      }
      const std::uint64_t blocks =
          m.IsCd() ? static_cast<std::uint64_t>(
                         kLeadinBlocks + (first ? kFirstLeadoutBlocks : kLaterLeadoutBlocks)) *
                         kRawSectorSize
                   : static_cast<std::uint64_t>(first ? kFirstBorderBlocks : kLaterBorderBlocks) *
                         kBlockSize;
      duration = WriteDuration(blocks);
      break;
    }
    default:
      return kInvalidField;
  }
  return FinishLongCommand(immed, kOperationInProgress, duration);
}

Sense Drive::ReserveTrack(Command& c) {
  Medium& m = medium_;
  if (c.cdb[1] & 0x01) return kInvalidField;  // reservations by address are not taken
  if (!m.recordable) return kCannotWriteIncompatible;
  // Reservations are for sequential DVD recording.
  if (m.IsCd() || !m.Sequential() || m.profile == 0x1A) return kInvalidField;
  const std::optional<WritableTrack> where = WritableTrackOf(m);
  if (!where) return kInvalidAddressForWrite;       // a closed disc
  if (!where->blank) return kCommandSequenceError;  // the invisible track holds data
  const std::uint32_t requested = Get32(c.cdb + 5);
  if (requested == 0) return kInvalidField;
  const std::int64_t size = RoundUp(requested, kEccBlockSectors);
  if (size > where->free_blocks) return kInvalidField;
  if (m.tracks.size() >= 99) return kNoMoreReservations;
  Track& track = OpenTrack(*where, WriteMode{});
  track.size = static_cast<std::int32_t>(size);
  track.reserved = true;
  return Confirm();
}

}  // namespace zorvane::vdrive
