// The WAVE header walk with any bytes: the RIFF chunks of a file that is to be burned as an
// audio track. Whatever the header claims, the sample data found must lie inside the file,
// and a refusal must say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "write/wave.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zorvane;
  // The file is the input, or longer than the part read of it (the last byte says how much
  // longer, in steps of 64 KiB), as when only the first MiB of a big file is walked.
  const std::uint64_t extra = size > 0 ? static_cast<std::uint64_t>(data[size - 1] % 4) << 16 : 0;
  for (const std::uint64_t file_size : {static_cast<std::uint64_t>(size), size + extra}) {
    WaveData wave;
    std::string problem;
    if (ParseWaveHeader(data, size, file_size, &wave, &problem)) {
      if (wave.offset < 12 || wave.size == 0 || wave.offset > file_size ||
          wave.size > file_size - wave.offset) {
        std::abort();
      }
    } else if (problem.empty()) {
      std::abort();
    }
  }
  return 0;
}
