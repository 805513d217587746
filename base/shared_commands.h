// Command blocks that several operations patch and send: the CLOSE TRACK/SESSION block
// (the close-session button sends it; the writers set its track number and function) and
// the READ CD block of the C2 test (the C2 button sends it; the C2 scan moves its
// address). Patched and read under a lock, so a worker's patch never tears a send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zorvane {

class SharedCommandBlock {
 public:
  explicit SharedCommandBlock(std::initializer_list<std::uint8_t> bytes);
  void Set(std::size_t index, std::uint8_t value);
  std::uint8_t Get(std::size_t index) const;
  // Copies the 12-byte block.
  void Snapshot(std::uint8_t out[12]) const;

 private:
  mutable std::mutex mutex_;
  std::uint8_t bytes_[12] = {};
};

// 5B 00 02 00 00 00 00 00 00 00: CLOSE TRACK/SESSION, close function in byte 2, track
// number in bytes 4-5.
extern SharedCommandBlock CloseTrackSessionCommand;

// BE 00 00 00 00 00 00 00 01 04 00 00: READ CD of one block with the C2 error flags.
extern SharedCommandBlock ReadCdC2Command;

}  // namespace zorvane
