// The end of a track written track at once: two run-out blocks that hold no data. Drives
// count them in the track (READ CAPACITY names the last of them) but no drive reads them;
// they answer ILLEGAL MODE FOR THIS TRACK or END OF USER AREA ENCOUNTERED ON THIS TRACK.
// A job that reads to the end of a CD meets them and ends there, complete.
#pragma once

#include <cstdint>

namespace zorvane {

inline constexpr std::int32_t kIllegalModeForTrack = 0x056400;
inline constexpr std::int32_t kEndOfUserAreaOnTrack = 0x056300;
// Run-out blocks after the data of a track-at-once track.
inline constexpr std::uint32_t kRunOutBlocks = 2;

// True when `result` is what a drive answers for a run-out block.
inline bool IsRunOutAnswer(std::int32_t result) {
  return result == kIllegalModeForTrack || result == kEndOfUserAreaOnTrack;
}

// True when `lba` is one of the run-out blocks that end at `last`.
inline bool IsRunOutBlock(std::uint32_t lba, std::uint32_t last) {
  return lba <= last && last - lba < kRunOutBlocks;
}

}  // namespace zorvane
