// WAVE files built chunk by chunk for the tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zorvane::test {

inline void PutLe(std::vector<std::uint8_t>* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One chunk: its name, its length and its body, with the pad byte after an odd body.
inline std::vector<std::uint8_t> Chunk(const char* id, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> chunk(id, id + 4);
  PutLe(&chunk, static_cast<std::uint32_t>(body.size()), 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) chunk.push_back(0);
  return chunk;
}

// A `fmt ` body: 16 bytes, 18 with a zero extension size, or 40 for the extensible form
// (tag FFFEh) with the PCM sub-format.
inline std::vector<std::uint8_t> Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                     std::uint16_t bits, std::size_t length = 16) {
  if (tag == 0xFFFE) length = 40;
  std::vector<std::uint8_t> body;
  const std::uint32_t align = channels * ((bits + 7U) / 8U);
  PutLe(&body, tag, 2);
  PutLe(&body, channels, 2);
  PutLe(&body, rate, 4);
  PutLe(&body, rate * align, 4);
  PutLe(&body, align, 2);
  PutLe(&body, bits, 2);
  if (length > 16) PutLe(&body, static_cast<std::uint32_t>(length - 18), 2);
  if (length == 40) {
    PutLe(&body, bits, 2);  // valid bits
    PutLe(&body, 3, 4);     // channel mask: front left and right
    // KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00AA00389B71
    const std::uint8_t guid[16] = {1,    0, 0, 0,    0, 0,    0x10, 0,
                                   0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    body.insert(body.end(), guid, guid + 16);
  }
  body.resize(length, 0);
  return body;
}

// A RIFF (or RIFX) WAVE file of the chunks given.
inline std::vector<std::uint8_t> Wave(std::initializer_list<std::vector<std::uint8_t>> chunks,
                                      const char* riff = "RIFF") {
  std::vector<std::uint8_t> body = {'W', 'A', 'V', 'E'};
  for (const auto& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  std::vector<std::uint8_t> file(riff, riff + 4);
  PutLe(&file, static_cast<std::uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

}  // namespace zorvane::test
