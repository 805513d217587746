// The disc's table of contents and its recording state: READ TOC/PMA/ATIP, READ DISC
// INFORMATION, READ TRACK INFORMATION, READ CAPACITY and READ FORMAT CAPACITIES.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

// An address as an LBA or as a CD time (MSF); false when the time cannot express it.
bool AppendAddress(std::vector<std::uint8_t>& out, std::int32_t lba, bool msf) {
  if (!msf) {
    Append32(out, static_cast<std::uint32_t>(lba));
    return true;
  }
  if (!MsfExpresses(lba)) return false;
  const Msf time = LbaToMsf(lba);
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(time.minute));
  out.push_back(static_cast<std::uint8_t>(time.second));
  out.push_back(static_cast<std::uint8_t>(time.frame));
  return true;
}

void AppendMsf(std::vector<std::uint8_t>& out, const Msf& time) {
  out.push_back(static_cast<std::uint8_t>(time.minute));
  out.push_back(static_cast<std::uint8_t>(time.second));
  out.push_back(static_cast<std::uint8_t>(time.frame));
}

// One 11-byte descriptor of the raw TOC or the PMA.
void AppendRaw(std::vector<std::uint8_t>& out, int session, std::uint8_t adr, std::uint8_t control,
               std::uint8_t point, const Msf& time, std::uint8_t zero, const Msf& p_time) {
  out.push_back(static_cast<std::uint8_t>(session));
  out.push_back(static_cast<std::uint8_t>(adr << 4 | control));
  out.push_back(0);  // TNO: the lead-in
  out.push_back(point);
  AppendMsf(out, time);
  out.push_back(zero);
  AppendMsf(out, p_time);
}

// A descriptor whose P fields hold an address: as the time it is, or, on a drive that makes
// the raw TOC follow the MSF bit, as a 32-bit LBA over the zero byte and the P time.
void AppendRawAddress(std::vector<std::uint8_t>& out, int session, std::uint8_t adr,
                      std::uint8_t control, std::uint8_t point, const Msf& time, std::uint8_t zero,
                      std::int32_t p_lba, bool as_lba) {
  AppendRaw(out, session, adr, control, point, time, zero, LbaToMsf(p_lba));
  if (as_lba) Put32(&out[out.size() - 4], static_cast<std::uint32_t>(p_lba));
}

Msf Raw(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  return Msf{a, b, c};
}

bool IsRecordableCd(const Medium& m) {
  return m.IsCd() && m.recordable;
}

// A session a TOC describes: the closed ones, or the open first session that the drive
// describes from the PMA.
struct TocSession {
  int number;
  std::vector<const Track*> tracks;
  std::int32_t leadout;
  const Session* session;  // null for the PMA-described one
};

std::vector<TocSession> TocSessions(const Medium& m) {
  std::vector<TocSession> sessions;
  const std::vector<const Track*> listed = TocTracks(m);
  for (const Session* session : ClosedSessions(m)) {
    TocSession entry{session->number, {}, session->leadout_start, session};
    for (const Track* track : listed) {
      if (track->session == session->number) entry.tracks.push_back(track);
    }
    if (!entry.tracks.empty()) sessions.push_back(entry);
  }
  if (sessions.empty() && !listed.empty()) {
    sessions.push_back(TocSession{1, listed, listed.back()->End(), nullptr});
  }
  return sessions;
}

}  // namespace

Sense Drive::ReadToc(Command& c) {
  const bool msf = (c.cdb[1] & 0x02) != 0;
  std::uint8_t format = c.cdb[2] & 0x0F;
  if (format == 0 && (c.cdb[9] >> 6) != 0) format = c.cdb[9] >> 6;  // the older field
  const std::uint8_t number = c.cdb[6];
  c.allocation = Get16(c.cdb + 7);
  const Medium& m = medium_;
  c.answer.assign(4, 0);

  if (format == 3 || format == 4) {
    if (!IsRecordableCd(m)) return kInvalidField;
    if (format == 3) {
      const bool as_lba = spec_.quirks.raw_toc_msf && !msf;
      for (const PmaEntry& entry : m.pma) {
        AppendRawAddress(c.answer, 0, entry.adr, entry.control, entry.point, entry.stop, 0,
                         MsfToLba(entry.start), as_lba);
        c.answer[c.answer.size() - 11] = 0;  // reserved in the PMA
      }
    } else {
      if (spec_.quirks.no_atip) return kInvalidField;
      const Atip& a = m.atip;
      c.answer.resize(28, 0);
      c.answer[4] =
          static_cast<std::uint8_t>(0x80 | (a.writing_power & 7) << 4 | (a.reference_speed & 7));
      c.answer[5] = a.unrestricted ? 0x40 : 0x00;
      c.answer[6] = static_cast<std::uint8_t>(0x80 | (m.erasable ? 0x40 : 0) |
                                              (a.sub_type & 7) << 3 | (a.a1_valid ? 4 : 0) |
                                              (a.a2_valid ? 2 : 0) | (a.a3_valid ? 1 : 0));
      auto put = [&](std::size_t at, const Msf& t) {
        c.answer[at] = static_cast<std::uint8_t>(t.minute);
        c.answer[at + 1] = static_cast<std::uint8_t>(t.second);
        c.answer[at + 2] = static_cast<std::uint8_t>(t.frame);
      };
      put(8, a.leadin);
      put(12, a.leadout);
      std::copy(a.a1, a.a1 + 3, c.answer.begin() + 16);
      std::copy(a.a2, a.a2 + 3, c.answer.begin() + 20);
      std::copy(a.a3, a.a3 + 3, c.answer.begin() + 24);
    }
    Put16(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 2));
    return kGood;
  }

  if (format == 5) {
    // CD-TEXT: the packs of the first lead-in after the header, or the header alone when
    // the disc has none.
    if (!m.IsCd()) return kInvalidField;
    c.answer.insert(c.answer.end(), m.cd_text.begin(), m.cd_text.end());
    Put16(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 2));
    return kGood;
  }

  const std::vector<TocSession> sessions = TocSessions(m);
  if (sessions.empty()) return kInvalidField;  // nothing recorded yet: no table of contents
  const Track* first_track = sessions.front().tracks.front();
  const Track* last_track = sessions.back().tracks.back();

  if (format == 0) {
    const int from = number == 0 ? first_track->number : number;
    if (number != 0xAA && from > last_track->number) return kInvalidField;
    c.answer[2] = static_cast<std::uint8_t>(first_track->number);
    c.answer[3] = static_cast<std::uint8_t>(last_track->number);
    for (const TocSession& session : sessions) {
      for (const Track* track : session.tracks) {
        if (number == 0xAA || track->number < from) continue;
        c.answer.insert(c.answer.end(), {0, static_cast<std::uint8_t>(0x10 | track->control),
                                         static_cast<std::uint8_t>(track->number), 0});
        if (!AppendAddress(c.answer, track->start, msf)) return kInvalidField;
      }
    }
    c.answer.insert(c.answer.end(),
                    {0, static_cast<std::uint8_t>(0x10 | last_track->control), 0xAA, 0});
    if (!AppendAddress(c.answer, sessions.back().leadout, msf)) return kInvalidField;
  } else if (format == 1) {
    const TocSession& last = sessions.back();
    c.answer[2] = 1;
    c.answer[3] = static_cast<std::uint8_t>(last.number);
    const Track* track = last.tracks.front();
    c.answer.insert(c.answer.end(), {0, static_cast<std::uint8_t>(0x10 | track->control),
                                     static_cast<std::uint8_t>(track->number), 0});
    if (!AppendAddress(c.answer, track->start, msf)) return kInvalidField;
  } else if (format == 2) {
    if (!m.IsCd()) return kInvalidField;
    if (number > sessions.back().number) return kInvalidField;
    c.answer[2] = static_cast<std::uint8_t>(sessions.front().number);
    c.answer[3] = static_cast<std::uint8_t>(sessions.back().number);
    const Msf zero;
    const bool as_lba = spec_.quirks.raw_toc_msf && !msf;
    for (const TocSession& s : sessions) {
      if (s.number < number) continue;
      const Track* first = s.tracks.front();
      const Track* last = s.tracks.back();
      const std::uint8_t disc_type = s.session != nullptr ? s.session->disc_type : 0x00;
      AppendRaw(c.answer, s.number, 1, first->control, 0xA0, zero, 0,
                Raw(static_cast<std::uint8_t>(first->number), disc_type, 0));
      AppendRaw(c.answer, s.number, 1, last->control, 0xA1, zero, 0,
                Raw(static_cast<std::uint8_t>(last->number), 0, 0));
      AppendRawAddress(c.answer, s.number, 1, last->control, 0xA2, zero, 0, s.leadout, as_lba);
      for (const Track* track : s.tracks) {
        AppendRawAddress(c.answer, s.number, 1, track->control,
                         static_cast<std::uint8_t>(track->number), zero, 0, track->start, as_lba);
      }
      const bool recordable = IsRecordableCd(m) && s.session != nullptr;
      const bool first_session = s.number == 1;
      if (recordable && s.session->appendable) {
        // B0: where the next session's program area may begin, the number of mode-5
        // pointers in this lead-in, and the outermost possible lead-out.
        const std::int32_t leadout_blocks =
            first_session ? kFirstLeadoutBlocks : kLaterLeadoutBlocks;
        const std::int32_t next_area = s.leadout + leadout_blocks + kLeadinBlocks;
        AppendRawAddress(c.answer, s.number, 5, first->control, 0xB0, LbaToMsf(next_area),
                         first_session ? 2 : 1, MsfToLba(m.atip.leadout), as_lba);
      }
      if (recordable && first_session) {
        // C0: the recording power and the start of the first lead-in, from the ATIP.
        const std::uint8_t power = static_cast<std::uint8_t>(
            0x80 | (m.atip.writing_power & 7) << 4 | (m.atip.reference_speed & 7));
        AppendRawAddress(c.answer, s.number, 5, first->control, 0xC0, Raw(power, 0, 0), 0,
                         MsfToLba(m.atip.leadin), as_lba);
      }
    }
  } else {
    return kInvalidField;
  }
  Put16(&c.answer[0], static_cast<std::uint32_t>(c.answer.size() - 2));
  return kGood;
}

Sense Drive::ReadDiscInformation(Command& c) {
  if ((c.cdb[1] & 0x07) != 0) return kInvalidField;  // only standard disc information
  c.allocation = Get16(c.cdb + 7);
  const Medium& m = medium_;
  const DiscStatus status = StatusOf(m);
  const SessionState state = LastSessionState(m);
  const std::optional<WritableTrack> writable = WritableTrackOf(m);
  c.answer.assign(34, 0);
  Put16(&c.answer[0], 32);
  c.answer[2] =
      static_cast<std::uint8_t>((m.erasable ? 0x10 : 0) | static_cast<std::uint8_t>(state) << 2 |
                                static_cast<std::uint8_t>(status));
  int sessions = m.sessions.empty() ? 1 : static_cast<int>(m.sessions.size());
  int first_in_last = 1;
  int last_in_last = 1;
  if (writable) {
    if (state == SessionState::kEmpty && !m.sessions.empty()) ++sessions;
    first_in_last = state == SessionState::kIncomplete ? FirstTrackOf(m, m.sessions.back().number)
                                                       : writable->number;
    last_in_last = writable->number;
  } else if (!m.sessions.empty()) {
    first_in_last = FirstTrackOf(m, m.sessions.back().number);
    last_in_last = LastTrackOf(m, m.sessions.back().number);
  }
  c.answer[3] = 1;
  c.answer[4] = static_cast<std::uint8_t>(sessions);
  c.answer[5] = static_cast<std::uint8_t>(first_in_last);
  c.answer[6] = static_cast<std::uint8_t>(last_in_last);
  std::uint8_t flags = 0;
  if (m.recordable && (!m.IsCd() || m.atip.unrestricted)) flags |= 0x20;  // unrestricted use
  if (m.profile == 0x1A || m.mrw) {
    flags |= static_cast<std::uint8_t>(m.background_format);  // background format status
  }
  c.answer[7] = flags;
  c.answer[8] = m.IsCd() && !m.sessions.empty() ? m.sessions.front().disc_type : 0x00;
  c.answer[9] = static_cast<std::uint8_t>(sessions >> 8);
  c.answer[10] = static_cast<std::uint8_t>(first_in_last >> 8);
  c.answer[11] = static_cast<std::uint8_t>(last_in_last >> 8);
  const bool open = status == DiscStatus::kEmpty || status == DiscStatus::kIncomplete;
  if (!open || !m.recordable) {
    Put32(&c.answer[16], 0xFFFFFFFF);
    Put32(&c.answer[20], 0xFFFFFFFF);
  } else if (m.IsCd()) {
    const std::int32_t leadin =
        state == SessionState::kIncomplete ? m.sessions.back().leadin_start : NextLeadinStart(m);
    const Msf in = LbaToMsf(leadin);
    c.answer[17] = static_cast<std::uint8_t>(in.minute);
    c.answer[18] = static_cast<std::uint8_t>(in.second);
    c.answer[19] = static_cast<std::uint8_t>(in.frame);
    c.answer[21] = static_cast<std::uint8_t>(m.atip.leadout.minute);
    c.answer[22] = static_cast<std::uint8_t>(m.atip.leadout.second);
    c.answer[23] = static_cast<std::uint8_t>(m.atip.leadout.frame);
  } else {
    Put32(&c.answer[16], 0);
    Put32(&c.answer[20], static_cast<std::uint32_t>(m.capacity));
  }
  return kGood;
}

// A DVD+RW never formatted holds one blank track over the whole disc, as drives describe
// it before the first FORMAT UNIT: track 1 of session 1 from LBA 0, nothing recorded,
// every block free.
Sense Drive::UnformattedPlusRwTrack(Command& c, std::uint8_t type, std::uint32_t value) {
  const Medium& m = medium_;
  switch (type) {
    case 0:
      if (value >= static_cast<std::uint32_t>(m.capacity)) return kLbaOutOfRange;
      break;
    case 1:
      if (value != 1 && value != 0xFF) return kInvalidField;
      break;
    case 2:
      if (value != 1) return kInvalidField;
      break;
    default:
      return kInvalidField;
  }
  c.answer.assign(48, 0);
  Put16(&c.answer[0], 46);
  c.answer[2] = 1;
  c.answer[3] = 1;
  c.answer[5] = 0x04;         // data, recorded uninterrupted
  c.answer[6] = 0x40 | 0x01;  // blank, data mode 1
  c.answer[7] = 0x01;         // next writable address valid
  Put32(&c.answer[12], 0);
  Put32(&c.answer[16], static_cast<std::uint32_t>(m.capacity));
  Put32(&c.answer[20], 16);  // an ECC block
  Put32(&c.answer[24], static_cast<std::uint32_t>(m.capacity));
  return kGood;
}

Sense Drive::ReadTrackInformation(Command& c) {
  const std::uint8_t type = c.cdb[1] & 0x03;
  const std::uint32_t value = Get32(c.cdb + 2);
  c.allocation = Get16(c.cdb + 7);
  const Medium& m = medium_;
  if (m.profile == 0x1A && m.tracks.empty()) return UnformattedPlusRwTrack(c, type, value);
  const std::optional<WritableTrack> writable = WritableTrackOf(m);
  const Track* track = nullptr;
  bool use_writable = false;
  switch (type) {
    case 0: {
      const auto lba = static_cast<std::int32_t>(value);
      track = TrackAt(m, lba);
      if (track == nullptr && writable && lba >= writable->start && lba < m.capacity) {
        use_writable = true;
      }
      if (track == nullptr && !use_writable) {
        return value >= static_cast<std::uint32_t>(std::max(m.capacity, 1)) ? kLbaOutOfRange
                                                                            : kInvalidField;
      }
      break;
    }
    case 1:
      if (writable && (value == 0xFF || value == static_cast<std::uint32_t>(writable->number))) {
        use_writable = true;
      } else if (value >= 1 && value <= 99) {
        track = TrackNumbered(m, static_cast<int>(value));
      }
      if (track == nullptr && !use_writable) return kInvalidField;
      break;
    case 2:
      if (writable && value == static_cast<std::uint32_t>(writable->session) &&
          FirstTrackOf(m, writable->session) == 0) {
        use_writable = true;
      } else if (value >= 1 && value <= 99) {
        track = TrackNumbered(m, FirstTrackOf(m, static_cast<int>(value)));
      }
      if (track == nullptr && !use_writable) return kInvalidField;
      break;
    default:
      return kInvalidField;
  }
  if (use_writable && !writable->blank) {
    track = TrackNumbered(m, writable->number);  // an incomplete track: described below
    use_writable = track == nullptr;
  }
  c.answer.assign(48, 0);
  Put16(&c.answer[0], 46);
  const bool dvd = !m.IsCd();
  const std::uint8_t write_type = write_parameters_[2] & 0x0F;
  // DVD+R is recorded in fixed ECC blocks without packets: the write parameters page
  // does not govern it, and its tracks are described without Packet/Inc.
  const bool plus_r = m.profile == 0x1B || m.profile == 0x2B;
  if (use_writable) {
    const WritableTrack& w = *writable;
    const bool packet = write_type == 0 && !plus_r;
    // On DVD the fixed packet bit of the write parameters does not make the track one of
    // fixed packets: an incremental DVD-R/-RW track is always of variable packets.
    const bool fixed = packet && !dvd && (write_parameters_[3] & 0x20) != 0;
    c.answer[2] = static_cast<std::uint8_t>(w.number);
    c.answer[3] = static_cast<std::uint8_t>(w.session);
    c.answer[5] = dvd ? (packet ? 0x05 : 0x04) : (write_parameters_[3] & 0x0F);
    c.answer[6] = static_cast<std::uint8_t>(0x40 | (packet ? 0x20 : 0) | (fixed ? 0x10 : 0) |
                                            (dvd ? 0x01 : 0x0F));
    c.answer[7] = 0x01;  // next writable address valid
    Put32(&c.answer[8], static_cast<std::uint32_t>(w.start));
    Put32(&c.answer[12], static_cast<std::uint32_t>(w.next_writable));
    Put32(&c.answer[16], static_cast<std::uint32_t>(w.free_blocks));
    Put32(&c.answer[20], dvd ? 16 : (fixed ? Get32(&write_parameters_[10]) : 0));
    Put32(&c.answer[24], static_cast<std::uint32_t>(w.size));
    c.answer[32] = static_cast<std::uint8_t>(w.number >> 8);
    c.answer[33] = static_cast<std::uint8_t>(w.session >> 8);
    return kGood;
  }
  const Track& t = *track;
  std::uint8_t data_mode = 0x01;
  if (t.sector_type == SectorType::kAudio) {
    data_mode = 0x0F;
  } else if (t.sector_type != SectorType::kMode1) {
    data_mode = 0x02;
  }
  c.answer[2] = static_cast<std::uint8_t>(t.number);
  c.answer[3] = static_cast<std::uint8_t>(t.session);
  c.answer[5] = t.control & 0x0F;
  // Packet/Inc and FP: a CD track as it was written; on DVD, incremental DVD-R/-RW tracks
  // are of variable packets and the track of a DVD-RW in restricted overwrite is one of
  // fixed packets of an ECC block, whatever an older state file noted.
  const bool restricted_overwrite = m.profile == 0x13;
  const bool incremental = restricted_overwrite || (t.incremental && !plus_r);
  const bool fixed_packet = dvd ? restricted_overwrite : t.fixed_packet;
  c.answer[6] = static_cast<std::uint8_t>(
      (t.reserved ? 0x80 : 0) | (!t.complete && t.recorded == 0 ? 0x40 : 0) |
      (incremental ? 0x20 : 0) | (fixed_packet ? 0x10 : 0) | data_mode);
  const bool sequential_dvd = dvd && m.Sequential();
  if (!t.complete) c.answer[7] |= 0x01;
  if (sequential_dvd && t.recorded > 0) c.answer[7] |= 0x02;  // last recorded address valid
  Put32(&c.answer[8], static_cast<std::uint32_t>(t.start));
  if (!t.complete) Put32(&c.answer[12], static_cast<std::uint32_t>(t.start + t.recorded));
  Put32(&c.answer[16], static_cast<std::uint32_t>(t.complete ? 0 : t.size - t.recorded));
  Put32(&c.answer[20], static_cast<std::uint32_t>(dvd ? 16 : t.packet_size));
  Put32(&c.answer[24], static_cast<std::uint32_t>(t.size));
  if (sequential_dvd && t.recorded > 0) {
    Put32(&c.answer[28], static_cast<std::uint32_t>(t.start + t.recorded - 1));
  }
  c.answer[32] = static_cast<std::uint8_t>(t.number >> 8);
  c.answer[33] = static_cast<std::uint8_t>(t.session >> 8);
  return kGood;
}

Sense Drive::ReadCapacity(Command& c) {
  const bool partial = (c.cdb[8] & 0x01) != 0;
  if (!partial && Get32(c.cdb + 2) != 0) return kInvalidField;
  // The formatted area of a random-writable disc; otherwise what the last complete session
  // ends with: a disc without one answers 0, whatever its open session holds, as recorders
  // do (READ TRACK INFORMATION tells a host what an open track holds).
  std::int32_t blocks = 0;
  if (medium_.random_writable) {
    blocks = medium_.capacity;
  } else if (const std::vector<const Session*> closed = ClosedSessions(medium_); !closed.empty()) {
    blocks = closed.back()->leadout_start;
  }
  c.answer.assign(8, 0);
  Put32(&c.answer[0], static_cast<std::uint32_t>(blocks > 0 ? blocks - 1 : 0));
  Put32(&c.answer[4], 2048);
  c.allocation = 8;
  return kGood;
}

Sense Drive::ReadFormatCapacities(Command& c) {
  c.allocation = Get16(c.cdb + 7);
  struct Descriptor {
    std::int32_t blocks;
    std::uint8_t type;  // descriptor type (current) or format type << 2 (formattable)
    std::uint32_t parameter;
  };
  std::vector<Descriptor> list;
  const Medium& m = medium_;
  constexpr std::uint8_t kUnformatted = 1;
  constexpr std::uint8_t kFormatted = 2;
  constexpr std::uint8_t kNoMedium = 3;
  auto formattable = [&](std::int32_t blocks, std::uint8_t format, std::uint32_t parameter) {
    list.push_back({blocks, static_cast<std::uint8_t>(format << 2), parameter});
  };
  if (!Loaded()) {
    list.push_back({2295104, kNoMedium, 2048});  // the largest this drive formats
  } else if (!m.recordable) {
    list.push_back({ReadableBlocks(m), kFormatted, 2048});
  } else if (m.IsCd()) {
    const std::int32_t leadout = MsfToLba(m.atip.leadout);
    // A CD-RW formats for Mount Rainier only.
    list.push_back({m.mrw ? m.capacity : leadout, m.mrw ? kFormatted : kUnformatted, 2048});
    if (m.erasable) formattable(MrwUserBlocks(leadout), 0x24, 0);
  } else {
    list.push_back({m.capacity, m.formatted ? kFormatted : kUnformatted, 2048});
    if (m.profile == 0x13 || m.profile == 0x14) {
      formattable(m.capacity, 0x00, 2048);
      formattable(m.capacity, 0x10, 16);
      formattable(m.capacity, 0x15, 16);
    } else if (m.profile == 0x1A) {
      formattable(m.capacity, 0x26, 0);
    } else if (m.profile == 0x12) {
      formattable(m.capacity, 0x00, 2048);
      formattable(m.capacity, 0x01, 2048);
    }
  }
  c.answer.assign(4, 0);
  c.answer[3] = static_cast<std::uint8_t>(8 * list.size());
  for (const Descriptor& d : list) {
    Append32(c.answer, static_cast<std::uint32_t>(d.blocks));
    Append8(c.answer, d.type);
    Append8(c.answer, d.parameter >> 16);
    Append16(c.answer, d.parameter);
  }
  return kGood;
}

}  // namespace zorvane::vdrive
