// The WAVE header walk: which files become CD audio, where their samples lie, and what a
// refusal says the file holds.
#include "write/wave.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/write/wave_builder.h"

namespace zorvane::test {
namespace {

struct WaveCase {
  const char* name;
  std::vector<std::uint8_t> file;
  bool accepted;
  std::uint64_t offset;  // accepted: where the samples start
  std::uint64_t size;    // accepted: their bytes
  const char* problem;   // refused: a part of what the refusal says
};

TEST(WaveHeaderTest, WalksTheChunksAndAcceptsOnlyCdAudio) {
  const std::vector<std::uint8_t> samples(4 * 588 + 2, 0x5A);
  std::vector<std::uint8_t> extensible_float = Fmt(0xFFFE, 2, 44100, 16);
  extensible_float[24] = 0x03;  // sub-format GUID: IEEE float
  const std::vector<WaveCase> cases = {
      {"plain", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", samples)}), true, 44,
       samples.size(), ""},
      {"LIST before data, odd-sized chunk padded",
       Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("LIST", std::vector<std::uint8_t>(27, 'i')),
             Chunk("data", samples)}),
       true, 44 + 8 + 28, samples.size(), ""},
      {"fact and an odd fmt before data",
       Wave({Chunk("fact", {1, 2, 3}), Chunk("fmt ", Fmt(1, 2, 44100, 16, 18)),
             Chunk("data", samples)}),
       true, 12 + 12 + 26 + 8, samples.size(), ""},
      {"extensible PCM", Wave({Chunk("fmt ", Fmt(0xFFFE, 2, 44100, 16)), Chunk("data", samples)}),
       true, 12 + 48 + 8, samples.size(), ""},
      {"mono", Wave({Chunk("fmt ", Fmt(1, 1, 44100, 16)), Chunk("data", samples)}), false, 0, 0,
       "16-bit mono PCM at 44100 Hz"},
      {"48 kHz", Wave({Chunk("fmt ", Fmt(1, 2, 48000, 16)), Chunk("data", samples)}), false, 0, 0,
       "16-bit stereo PCM at 48000 Hz"},
      {"8-bit", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 8)), Chunk("data", samples)}), false, 0, 0,
       "8-bit stereo PCM"},
      {"six channels", Wave({Chunk("fmt ", Fmt(1, 6, 44100, 16)), Chunk("data", samples)}), false,
       0, 0, "6-channel"},
      {"float", Wave({Chunk("fmt ", Fmt(3, 2, 44100, 32)), Chunk("data", samples)}), false, 0, 0,
       "IEEE floating point"},
      {"extensible float", Wave({Chunk("fmt ", extensible_float), Chunk("data", samples)}), false,
       0, 0, "not linear PCM"},
      {"big-endian", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", samples)}, "RIFX"),
       false, 0, 0, "RIFX"},
      {"header only", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", {})}), false, 0, 0,
       "empty data chunk"},
      {"no data chunk", Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16))}), false, 0, 0, "no data chunk"},
      {"data before fmt", Wave({Chunk("data", samples), Chunk("fmt ", Fmt(1, 2, 44100, 16))}),
       false, 0, 0, "before any fmt"},
      {"short fmt", Wave({Chunk("fmt ", std::vector<std::uint8_t>(12, 0)), Chunk("data", samples)}),
       false, 0, 0, "fmt chunk of 12 bytes"},
      {"not RIFF", std::vector<std::uint8_t>(64, 'x'), false, 0, 0, "no RIFF WAVE header"},
      {"too short", {'R', 'I', 'F', 'F'}, false, 0, 0, "too short"},
  };
  for (const WaveCase& c : cases) {
    SCOPED_TRACE(c.name);
    WaveData data;
    std::string problem;
    const bool accepted =
        ParseWaveHeader(c.file.data(), c.file.size(), c.file.size(), &data, &problem);
    ASSERT_EQ(accepted, c.accepted) << problem;
    if (accepted) {
      EXPECT_EQ(data.offset, c.offset);
      EXPECT_EQ(data.size, c.size);
      EXPECT_EQ(std::memcmp(c.file.data() + data.offset, samples.data(), samples.size()), 0);
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }
}

TEST(WaveHeaderTest, SizesThatPointPastTheFileAreRefused) {
  std::vector<std::uint8_t> file =
      Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", std::vector<std::uint8_t>(400))});
  WaveData data;
  std::string problem;
  // The file is cut 100 bytes into its samples; the data chunk still claims 400.
  EXPECT_FALSE(ParseWaveHeader(file.data(), 144, 144, &data, &problem));
  EXPECT_NE(problem.find("a data chunk of 400 bytes in a file that holds 100"), std::string::npos)
      << problem;
  // A chunk before the samples that claims more than the whole file.
  file = Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("LIST", {1, 2, 3, 4})});
  file[36 + 4] = 0xFF;
  file[36 + 7] = 0x7F;
  EXPECT_FALSE(ParseWaveHeader(file.data(), file.size(), file.size(), &data, &problem));
  EXPECT_NE(problem.find("\"LIST\" chunk that runs past the end"), std::string::npos) << problem;
  // Only the chunk headers need be in the bytes given: the samples may lie beyond them.
  file = Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", std::vector<std::uint8_t>(400))});
  ASSERT_TRUE(ParseWaveHeader(file.data(), 44, file.size(), &data, &problem)) << problem;
  EXPECT_EQ(data.size, 400U);
}

}  // namespace
}  // namespace zorvane::test
