// The header of a WAVE file that is to become a CD audio track: a RIFF file whose chunks
// are walked to the format and the sample data. Only what a CD holds is accepted:
// little-endian (RIFF) 16-bit linear PCM, two channels, 44,100 samples a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvane {

struct WaveData {
  std::uint64_t offset = 0;  // of the first sample byte in the file
  std::uint64_t size = 0;    // bytes of sample data
};

// Walks the chunks of a WAVE file whose first `size` bytes are `bytes` and whose whole
// length is `file_size` (the sample data need not be in `bytes`: only the chunk headers
// before it, with `fmt ` whole). Chunks of odd size are followed by one pad byte. Returns
// true with the place of the sample data, or false with `problem` saying what the file
// holds ("mono", "48000 Hz", "8-bit", "big-endian (RIFX)", "no sample data" ...).
bool ParseWaveHeader(const std::uint8_t* bytes, std::size_t size, std::uint64_t file_size,
                     WaveData* data, std::string* problem);

}  // namespace zorvane
