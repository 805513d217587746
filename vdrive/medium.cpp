#include "vdrive/medium.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace zorvane::vdrive {

const Track* TrackAt(const Medium& medium, std::int32_t lba) {
  for (const Track& track : medium.tracks) {
    if (lba >= track.start - track.pregap && lba < track.End()) return &track;
  }
  return nullptr;
}

const Track* TrackNumbered(const Medium& medium, int number) {
  for (const Track& track : medium.tracks) {
    if (track.number == number) return &track;
  }
  return nullptr;
}

DiscStatus StatusOf(const Medium& medium) {
  if (medium.random_writable)
    return medium.profile == 0x12 ? DiscStatus::kOther : DiscStatus::kComplete;
  if (medium.tracks.empty()) return DiscStatus::kEmpty;
  if (medium.sessions.empty()) return DiscStatus::kIncomplete;
  const Session& last = medium.sessions.back();
  if (!last.closed || last.appendable) return DiscStatus::kIncomplete;
  return DiscStatus::kComplete;
}

SessionState LastSessionState(const Medium& medium) {
  if (medium.random_writable) return SessionState::kComplete;
  if (medium.tracks.empty() || medium.sessions.empty()) return SessionState::kEmpty;
  const Session& last = medium.sessions.back();
  if (!last.closed) return SessionState::kIncomplete;
  return last.appendable ? SessionState::kEmpty : SessionState::kComplete;
}

std::vector<const Session*> ClosedSessions(const Medium& medium) {
  std::vector<const Session*> closed;
  for (const Session& session : medium.sessions) {
    if (session.closed) closed.push_back(&session);
  }
  return closed;
}

std::vector<const Track*> TocTracks(const Medium& medium) {
  std::vector<const Track*> listed;
  const bool any_closed = std::any_of(medium.sessions.begin(), medium.sessions.end(),
                                      [](const Session& session) { return session.closed; });
  for (const Track& track : medium.tracks) {
    const Session* session = nullptr;
    for (const Session& candidate : medium.sessions) {
      if (candidate.number == track.session) session = &candidate;
    }
    // Tracks of closed sessions; before any lead-in exists, the drive answers from the PMA.
    const bool closed = session != nullptr && session->closed;
    if (closed || (!any_closed && track.complete)) listed.push_back(&track);
  }
  return listed;
}

std::optional<std::int32_t> TocLeadout(const Medium& medium) {
  const std::vector<const Session*> closed = ClosedSessions(medium);
  if (!closed.empty()) return closed.back()->leadout_start;
  const std::vector<const Track*> listed = TocTracks(medium);
  if (listed.empty()) return std::nullopt;
  return listed.back()->End();
}

int FirstTrackOf(const Medium& medium, int session) {
  for (const Track& track : medium.tracks) {
    if (track.session == session) return track.number;
  }
  return 0;
}

int LastTrackOf(const Medium& medium, int session) {
  int last = 0;
  for (const Track& track : medium.tracks) {
    if (track.session == session) last = track.number;
  }
  return last;
}

std::int32_t NextLeadinStart(const Medium& medium) {
  const std::vector<const Session*> closed = ClosedSessions(medium);
  if (closed.empty()) return MsfToLba(medium.atip.leadin);
  const std::int32_t leadout = closed.size() == 1 ? kFirstLeadoutBlocks : kLaterLeadoutBlocks;
  return closed.back()->leadout_start + leadout;
}

std::int32_t BorderBlocks(const Medium& medium) {
  return ClosedSessions(medium).size() <= 1 ? kFirstBorderBlocks : kLaterBorderBlocks;
}

bool IsPlusProfile(const Medium& medium) {
  return medium.profile == 0x1A || medium.profile == 0x1B || medium.profile == 0x2B;
}

void EraseRecording(Medium& medium) {
  medium.sessions.clear();
  medium.tracks.clear();
  medium.pma.clear();
  medium.catalogue.clear();
  medium.cd_text.clear();
  if (medium.content.store) medium.content.store->Clear();
}

void SetFormattedArea(Medium& medium, std::int32_t blocks) {
  EraseRecording(medium);
  medium.random_writable = true;
  medium.formatted = true;
  medium.capacity = blocks;
  Track track;
  track.size = blocks;
  track.recorded = blocks;
  track.readable = blocks;
  track.generated = false;
  medium.tracks = {track};
  Session session;
  session.leadout_start = blocks;
  medium.sessions = {session};
}

std::optional<WritableTrack> WritableTrackOf(const Medium& medium) {
  if (!medium.present || !medium.Sequential()) return std::nullopt;
  if (medium.profile == 0x1A) return std::nullopt;  // a DVD+RW takes writes once formatted
  if (StatusOf(medium) == DiscStatus::kComplete) return std::nullopt;
  const int last_number = medium.tracks.empty() ? 0 : medium.tracks.back().number;
  if (!medium.tracks.empty() && !medium.tracks.back().complete && !medium.tracks.back().reserved) {
    const Track& track = medium.tracks.back();
    WritableTrack open;
    open.number = track.number;
    open.session = track.session;
    open.start = track.start;
    open.next_writable = track.start + track.recorded;
    open.size = track.size;
    open.free_blocks = track.size - track.recorded;
    open.blank = track.recorded == 0;
    return open;
  }
  WritableTrack invisible;
  invisible.number = last_number + 1;
  const bool session_open = !medium.sessions.empty() && !medium.sessions.back().closed;
  invisible.session = medium.sessions.empty() ? 1
                      : session_open          ? medium.sessions.back().number
                                              : medium.sessions.back().number + 1;
  if (medium.IsCd()) {
    // Each new track is preceded by its two-second pre-gap, which the drive writes.
    std::int32_t area = -kPregapFrames;  // the program area of the first session
    if (session_open && !medium.tracks.empty()) {
      area = medium.tracks.back().End();
    } else if (!medium.sessions.empty()) {
      area = NextLeadinStart(medium) + kLeadinBlocks;
    }
    invisible.start = area + kPregapFrames;
  } else if (medium.tracks.empty()) {
    invisible.start = 0;
  } else if (session_open) {
    invisible.start = medium.tracks.back().End();
  } else {
    invisible.start = medium.sessions.back().leadout_start + BorderBlocks(medium);
  }
  invisible.next_writable = invisible.start;
  invisible.size = std::max<std::int32_t>(0, medium.capacity - invisible.start);
  invisible.free_blocks = std::max<std::int32_t>(0, medium.capacity - invisible.next_writable);
  return invisible;
}

std::int32_t ReadableBlocks(const Medium& medium) {
  if (!medium.present) return 0;
  if (medium.random_writable) return medium.capacity;
  std::int32_t end = TocLeadout(medium).value_or(0);
  // Recorded blocks of tracks still open read back as well; an empty track (a reservation
  // not written yet) records nothing, wherever it starts.
  for (const Track& track : medium.tracks) {
    if (track.recorded > 0) end = std::max(end, track.start + track.recorded);
  }
  return end;
}

std::uint8_t LegacyMediumType(const Medium& medium, bool tray_open) {
  if (tray_open) return 0x71;
  if (!medium.present) return 0x70;
  if (medium.IsDvd()) return 0x41;
  if (!medium.IsCd()) return 0x00;
  const std::uint8_t base = !medium.recordable ? 0x00 : medium.erasable ? 0x20 : 0x10;
  if (medium.mrw) return base | 0x01;  // formatted for data
  bool data = false;
  bool audio = false;
  for (const Track& track : medium.tracks) {
    if (track.recorded == 0) continue;
    ((track.control & 0x04) != 0 ? data : audio) = true;
  }
  if (data && audio) return base | 0x03;
  if (data) return base | 0x01;
  if (audio) return base | 0x02;
  return base;  // nothing recorded: the type is not known yet
}

std::int32_t RecordedEnd(const Medium& medium) {
  return ReadableBlocks(medium);
}

void GeneratedUserData(SectorType type, std::int32_t lba, std::uint8_t* out) {
  const std::size_t size = UserDataSize(type);
  if (type == SectorType::kAudio) {
    // One 32-bit little-endian frame a sample (left, then its complement on the right),
    // built as words and stored at once: the whole-disc reads of an audio CD spend their
    // time here.
    constexpr std::size_t kFrames = 588;
    std::uint32_t frames[kFrames];
    const std::uint32_t first = static_cast<std::uint32_t>(lba) * 588U * 97U;
    for (std::uint32_t n = 0; n < kFrames; ++n) {
      const std::uint32_t left = (first + 97U * n) & 0xFFFFU;
      frames[n] = left | ((left ^ 0xFFFFU) << 16);
    }
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, frames, sizeof frames);
    } else {
      for (std::size_t n = 0; n < kFrames; ++n) {
        for (int i = 0; i < 4; ++i)
          out[4 * n + i] = static_cast<std::uint8_t>(frames[n] >> (8 * i));
      }
    }
    return;
  }
  Put32(out, static_cast<std::uint32_t>(lba));
  for (std::size_t k = 4; k < size; ++k) {
    out[k] = static_cast<std::uint8_t>(k + 3U * static_cast<std::uint32_t>(lba));
  }
}

void SubheaderOf(SectorType type, std::uint8_t out[4]) {
  out[0] = 0;                                              // file
  out[1] = 0;                                              // channel
  out[2] = type == SectorType::kMode2Form2 ? 0x28 : 0x08;  // data, form 2 flag
  out[3] = 0;                                              // coding information
}

namespace {

void ReadImage(const Content& content, std::int32_t lba, std::uint8_t* out) {
  std::memset(out, 0, 2048);
  if (!content.image_fd || *content.image_fd < 0) return;
  const auto offset = static_cast<off_t>(lba) * 2048;
  std::size_t done = 0;
  while (done < 2048) {
    const ssize_t n =
        ::pread(*content.image_fd, out + done, 2048 - done, offset + static_cast<off_t>(done));
    if (n <= 0) break;  // past the end of the file: the rest reads as zeros
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

namespace {

// Whether [lba, lba + count) of a pressed disc reads straight from its image file.
bool ImageBacks(const Medium& medium, std::int32_t lba, std::uint32_t count) {
  const Content& content = medium.content;
  if (lba < 0 || count == 0 || medium.random_writable || content.image_path.empty() ||
      !content.image_fd || *content.image_fd < 0) {
    return false;
  }
  const Track* track = TrackAt(medium, lba);
  if (track == nullptr || !track->generated || track->sector_type != SectorType::kMode1 ||
      std::int64_t{lba} + count > std::int64_t{track->start} + track->readable) {
    return false;
  }
  if (content.store) {
    const auto& extents = content.store->Extents();
    auto it = extents.upper_bound(static_cast<std::int32_t>(lba + count - 1));
    if (it != extents.begin() &&
        std::prev(it)->first + std::int64_t{std::prev(it)->second.count} > lba) {
      return false;  // something recorded in the range
    }
  }
  return true;
}

}  // namespace

bool ImageRangeOf(const Medium& medium, std::int32_t lba, std::uint32_t count, ImageRange* range) {
  if (!ImageBacks(medium, lba, count)) return false;
  const std::uint64_t end = (static_cast<std::uint64_t>(lba) + count) * 2048;
  if (end > medium.content.image_size) return false;
  range->fd = medium.content.image_fd;
  range->offset = static_cast<std::int64_t>(lba) * 2048;
  range->length = std::size_t{count} * 2048;
  return true;
}

bool ReadImageBlocks(const Medium& medium, std::int32_t lba, std::uint32_t count,
                     std::uint8_t* out) {
  if (out == nullptr || !ImageBacks(medium, lba, count)) return false;
  const Content& content = medium.content;
  const std::size_t bytes = std::size_t{count} * 2048;
  const auto offset = static_cast<off_t>(lba) * 2048;
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t n =
        ::pread(*content.image_fd, out + done, bytes - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // past the end of the file: the rest reads as zeros
    done += static_cast<std::size_t>(n);
  }
  std::memset(out + done, 0, bytes - done);
  return true;
}

Sense ReadUserData(const Medium& medium, std::int32_t lba, std::uint8_t* out, SectorType* type) {
  if (lba < 0) return kLbaOutOfRange;
  if (medium.random_writable) {
    if (lba >= medium.capacity) return kLbaOutOfRange;
    *type = SectorType::kMode1;
    const std::size_t kept = medium.content.store ? medium.content.store->Read(lba, out, 2048) : 0;
    if (kept < 2048) std::memset(out + kept, 0, 2048 - kept);  // formatted, never written
    return kGood;
  }
  const Track* track = TrackAt(medium, lba);
  if (track == nullptr) return kLbaOutOfRange;
  const std::int32_t offset = lba - track->start;
  if (offset < 0) {
    // The pre-gap a session at once recorded: what the host sent for it, or silence.
    *type = track->sector_type;
    const std::size_t size = UserDataSize(track->sector_type);
    const std::size_t kept = medium.content.store ? medium.content.store->Read(lba, out, size) : 0;
    std::memset(out + kept, 0, size - kept);
    return kGood;
  }
  if (offset >= track->recorded) return kLbaOutOfRange;
  // The run-out blocks that close a track-at-once track hold no user data.
  if (offset >= track->readable) return kIllegalModeForTrack;
  *type = track->sector_type;
  const std::size_t size = UserDataSize(track->sector_type);
  const std::size_t kept = medium.content.store ? medium.content.store->Read(lba, out, size) : 0;
  if (kept > 0) {
    std::memset(out + kept, 0, size - kept);
  } else if (!track->generated) {
    std::memset(out, 0, size);  // padding the drive recorded, or a block never written
  } else if (!medium.content.image_path.empty()) {
    ReadImage(medium.content, lba, out);
  } else {
    GeneratedUserData(track->sector_type, lba, out);
  }
  return kGood;
}

}  // namespace zorvane::vdrive
