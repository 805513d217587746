#include "base/shared_commands.h"

#include <algorithm>
#include <cstring>

namespace zorvane {

SharedCommandBlock CloseTrackSessionCommand{0x5B, 0x00, 0x02, 0x00, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x00};
SharedCommandBlock ReadCdC2Command{0xBE, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x01, 0x04, 0x00, 0x00};

SharedCommandBlock::SharedCommandBlock(std::initializer_list<std::uint8_t> bytes) {
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), sizeof bytes_), bytes_);
}

void SharedCommandBlock::Set(std::size_t index, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  if (index < sizeof bytes_) bytes_[index] = value;
}

std::uint8_t SharedCommandBlock::Get(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return index < sizeof bytes_ ? bytes_[index] : 0;
}

void SharedCommandBlock::Snapshot(std::uint8_t out[12]) const {
  std::lock_guard lock(mutex_);
  std::memcpy(out, bytes_, sizeof bytes_);
}

}  // namespace zorvane
