#include "write/wave.h"

#include <cstring>

#include "transport/console.h"

namespace zorvane {

namespace {

constexpr std::uint16_t kPcm = 0x0001;
constexpr std::uint16_t kExtensible = 0xFFFE;

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A chunk name as it can be printed: other bytes than printable ASCII become '?'.
std::string ChunkName(const std::uint8_t* p) {
  std::string name(4, '?');
  for (std::size_t i = 0; i < 4; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F) name[i] = static_cast<char>(p[i]);
  }
  return name;
}

const char* FormatName(std::uint16_t tag) {
  switch (tag) {
    case 0x0002:
      return "Microsoft ADPCM";
    case 0x0003:
      return "IEEE floating point";
    case 0x0006:
      return "A-law";
    case 0x0007:
      return "mu-law";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0050:
      return "MPEG";
    case 0x0055:
      return "MPEG layer 3";
    default:
      return "compressed or unknown";
  }
}

// What a `fmt ` chunk describes, or "" when it is CD audio.
std::string CheckFormat(const std::uint8_t* body, std::uint32_t length) {
  std::uint16_t tag = Le16(body);
  // The extensible form names its format in the first two bytes of the sub-format GUID.
  if (tag == kExtensible && length >= 40) tag = Le16(body + 24);
  if (tag != kPcm) {
    return FormatText(160, "format %04Xh (%s), not linear PCM", static_cast<unsigned>(tag),
                      FormatName(tag));
  }
  const std::uint16_t channels = Le16(body + 2);
  const std::uint32_t rate = Le32(body + 4);
  const std::uint16_t block_align = Le16(body + 12);
  const std::uint16_t bits = Le16(body + 14);
  if (channels == 2 && rate == 44100 && bits == 16) {
    if (block_align != 4) {
      return FormatText(160, "16-bit stereo PCM with a block alignment of %u bytes, not 4",
                        static_cast<unsigned>(block_align));
    }
    return "";
  }
  const std::string layout = channels == 1   ? std::string("mono")
                             : channels == 2 ? std::string("stereo")
                                             : FormatText(32, "%u-channel", channels);
  return FormatText(160, "%u-bit %s PCM at %u Hz", static_cast<unsigned>(bits), layout.c_str(),
                    static_cast<unsigned>(rate));
}

}  // namespace

bool ParseWaveHeader(const std::uint8_t* bytes, std::size_t size, std::uint64_t file_size,
                     WaveData* data, std::string* problem) {
  if (size > file_size) size = static_cast<std::size_t>(file_size);
  if (size < 12) {
    *problem = FormatText(96, "%zu bytes, too short for a WAVE header", size);
    return false;
  }
  if (std::memcmp(bytes, "RIFX", 4) == 0) {
    *problem = "big-endian samples (RIFX)";
    return false;
  }
  if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
    *problem = "no RIFF WAVE header (the file begins with \"" + ChunkName(bytes) + "\")";
    return false;
  }
  bool have_format = false;
  std::uint64_t at = 12;
  for (;;) {
    if (at + 8 > size) {
      if (at + 8 > file_size) {
        *problem = have_format ? "no data chunk" : "no fmt chunk";
      } else {
        *problem = FormatText(96, "no data chunk within the first %zu bytes", size);
      }
      return false;
    }
    const std::uint8_t* chunk = bytes + at;
    const std::uint32_t length = Le32(chunk + 4);
    const std::uint64_t body = at + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < 16 || body + length > size) {
        *problem = FormatText(96, "a fmt chunk of %u bytes, cut short or too small",
                              static_cast<unsigned>(length));
        return false;
      }
      if (std::string found = CheckFormat(chunk + 8, length); !found.empty()) {
        *problem = found;
        return false;
      }
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) {
        *problem = "sample data before any fmt chunk";
        return false;
      }
      if (length == 0) {
        *problem = "an empty data chunk (no samples)";
        return false;
      }
      if (body + length > file_size) {
        *problem = FormatText(160, "a data chunk of %u bytes in a file that holds %llu after it",
                              static_cast<unsigned>(length),
                              static_cast<unsigned long long>(file_size - body));
        return false;
      }
      data->offset = body;
      data->size = length;
      return true;
    }
    // Any other chunk (LIST, fact, cue ...) is skipped with its pad byte.
    const std::uint64_t next = body + length + (length & 1U);
    if (next > file_size) {
      *problem = "a \"" + ChunkName(chunk) + "\" chunk that runs past the end of the file";
      return false;
    }
    at = next;
  }
}

}  // namespace zorvane
