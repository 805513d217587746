// Audio play and the Q sub-channel: PLAY AUDIO(10), PLAY AUDIO(12), PLAY AUDIO MSF,
// PAUSE/RESUME, STOP PLAY/SCAN and READ SUB-CHANNEL (current position, media catalogue
// number, ISRC). The drive plays at 75 blocks a second by its clock.
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/drive.h"

namespace zorvane::vdrive {

namespace {

// Audio status codes of the sub-channel header.
constexpr std::uint8_t kAudioPlaying = 0x11;
constexpr std::uint8_t kAudioPaused = 0x12;
constexpr std::uint8_t kAudioCompleted = 0x13;
constexpr std::uint8_t kAudioNoStatus = 0x15;

void AppendTime(std::vector<std::uint8_t>& out, std::int32_t frames) {
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(frames / (60 * kFramesPerSecond)));
  out.push_back(static_cast<std::uint8_t>(frames / kFramesPerSecond % 60));
  out.push_back(static_cast<std::uint8_t>(frames % kFramesPerSecond));
}

}  // namespace

std::int32_t Drive::PlayPosition() {
  if (play_.status == kAudioPaused) return play_.position;
  if (play_.status != kAudioPlaying) return head_;  // the block last accessed
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Now() - play_.since);
  const std::int64_t frames =
      std::max<std::int64_t>(elapsed.count(), 0) * kFramesPerSecond / 1000000;
  if (play_.position + frames >= play_.end) {
    play_.status = kAudioCompleted;
    play_.position = play_.end;
    head_ = play_.end;
  }
  return static_cast<std::int32_t>(std::min<std::int64_t>(play_.position + frames, play_.end));
}

Sense Drive::StartPlay(std::int64_t first, std::int64_t end) {
  if (!medium_.IsCd()) return kIncompatibleFormat;
  if (end < first) return kInvalidField;
  if (end == first) return kGood;  // nothing to play
  // Every block must lie on the disc, in an audio track.
  for (const Track& track : medium_.tracks) {
    if (track.End() <= first || track.start >= end) continue;
    if ((track.control & 0x04) != 0) return kIllegalModeForTrack;
  }
  std::int64_t covered = first;
  for (const Track& track : medium_.tracks) {
    if (track.start <= covered && covered < track.End()) covered = track.End();
  }
  if (first < 0 || covered < end) return kLbaOutOfRange;
  play_.status = kAudioPlaying;
  play_.position = static_cast<std::int32_t>(first);
  play_.end = static_cast<std::int32_t>(end);
  play_.since = Now();
  head_ = play_.position;
  return kGood;
}

Sense Drive::PlayAudio10(Command& c) {
  const auto first = static_cast<std::int32_t>(Get32(c.cdb + 2));
  return StartPlay(first, std::int64_t{first} + Get16(c.cdb + 7));
}

Sense Drive::PlayAudio12(Command& c) {
  const auto first = static_cast<std::int32_t>(Get32(c.cdb + 2));
  return StartPlay(first, std::int64_t{first} + Get32(c.cdb + 6));
}

Sense Drive::PlayAudioMsf(Command& c) {
  const Msf start{c.cdb[3], c.cdb[4], c.cdb[5]};
  const Msf end{c.cdb[6], c.cdb[7], c.cdb[8]};
  // FFh FFh FFh as the start: from the current position.
  const bool here = c.cdb[3] == 0xFF && c.cdb[4] == 0xFF && c.cdb[5] == 0xFF;
  auto valid = [](const Msf& time) { return time.second < 60 && time.frame < kFramesPerSecond; };
  if (!valid(end) || (!here && !valid(start))) return kInvalidField;
  const std::int32_t first = here ? PlayPosition() : MsfToLba(start);
  return StartPlay(first, MsfToLba(end));
}

Sense Drive::PauseResume(Command& c) {
  const bool resume = (c.cdb[8] & 0x01) != 0;
  const std::int32_t position = PlayPosition();
  if (resume) {
    if (play_.status != kAudioPaused) return kCommandSequenceError;
    play_.status = kAudioPlaying;
    play_.since = Now();
    return kGood;
  }
  if (play_.status != kAudioPlaying) return kCommandSequenceError;
  play_.status = kAudioPaused;
  play_.position = position;
  return kGood;
}

Sense Drive::StopPlay(Command& /*c*/) {
  head_ = PlayPosition();
  play_.status = kAudioNoStatus;
  return kGood;
}

Sense Drive::ReadSubChannel(Command& c) {
  const bool msf = (c.cdb[1] & 0x02) != 0;
  const bool subq = (c.cdb[2] & 0x40) != 0;
  const std::uint8_t format = c.cdb[3];
  const std::uint8_t number = c.cdb[6];
  c.allocation = Get16(c.cdb + 7);
  if (!medium_.IsCd()) return kIncompatibleFormat;
  if (subq && (format < 1 || format > 3)) return kInvalidField;
  const std::int32_t position = PlayPosition();
  c.answer.assign(4, 0);
  c.answer[1] = play_.status;
  // A completed play is reported once.
  if (play_.status == kAudioCompleted) play_.status = kAudioNoStatus;
  if (subq) {
    if (format == 1) {
      // The current position: the block being played, or the one last accessed.
      const Track* track = TrackAt(medium_, position);
      c.answer.push_back(0x01);
      c.answer.push_back(static_cast<std::uint8_t>(0x10 | (track ? track->control : 0)));
      c.answer.push_back(static_cast<std::uint8_t>(track ? track->number : 0));
      // Index 0 in the track's pre-gap, where the relative time counts down to its start.
      const std::int32_t relative = track ? position - track->start : 0;
      c.answer.push_back(track == nullptr ? 0 : relative < 0 ? 0 : 1);
      if (msf) {
        if (!MsfExpresses(position)) return kInvalidField;
        AppendTime(c.answer, position + kPregapFrames);
        AppendTime(c.answer, relative < 0 ? -relative : relative);
      } else {
        Append32(c.answer, static_cast<std::uint32_t>(position));
        Append32(c.answer, static_cast<std::uint32_t>(relative));
      }
    } else if (format == 2) {
      // The media catalogue number a session at once recorded (MCVal set), or none.
      c.answer.push_back(0x02);
      c.answer.resize(24, 0);
      if (!medium_.catalogue.empty()) {
        c.answer[8] = 0x80;
        std::copy(medium_.catalogue.begin(), medium_.catalogue.end(), c.answer.begin() + 9);
      }
    } else {
      // The ISRC of a track a session at once recorded (TCVal set), or none.
      const Track* track = TrackNumbered(medium_, number);
      if (track == nullptr) return kInvalidField;
      c.answer.push_back(0x03);
      c.answer.push_back(static_cast<std::uint8_t>(0x10 | track->control));
      c.answer.push_back(static_cast<std::uint8_t>(track->number));
      c.answer.resize(24, 0);
      if (!track->isrc.empty()) {
        c.answer[8] = 0x80;
        std::copy(track->isrc.begin(), track->isrc.end(), c.answer.begin() + 9);
      }
    }
  }
  Put16(&c.answer[2], static_cast<std::uint32_t>(c.answer.size() - 4));
  return kGood;
}

}  // namespace zorvane::vdrive
