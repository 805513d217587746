#include "base/cdtext.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

std::vector<std::uint8_t> Hex(const char* text) {
  std::vector<std::uint8_t> bytes;
  for (const char* p = text; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return bytes;
}

// Size-information packs of a pressed 13-track disc, CRCs as the disc carries them.
TEST(CdTextCrcTest, MatchesPacksOfAPressedDisc) {
  for (const char* pack : {"8F 00 2B 00 01 01 0D 03 0C 0C 00 00 00 00 01 00 7B 3D",
                           "8F 01 2C 00 00 00 00 00 00 00 12 03 2D 00 00 00 DA B7",
                           "8F 02 2D 00 00 00 00 00 09 00 00 00 00 00 00 00 6A 24"}) {
    const auto bytes = Hex(pack);
    EXPECT_EQ(CdTextCrc(bytes.data()), (bytes[16] << 8) | bytes[17]) << pack;
  }
}

// The packs of a small disc, byte for byte: texts continued across packs with the track number
// and character position of the pack's first character, the size information at the end.
TEST(CdTextEncodeTest, PacksByteForByte) {
  CdText text;
  text.title = {"Album", "One", "Two"};
  std::vector<std::uint8_t> packs;
  std::string problem;
  ASSERT_TRUE(EncodeCdText(text, &packs, &problem)) << problem;
  const char* expected[] = {"80 00 00 00 41 6C 62 75 6D 00 4F 6E 65 00 54 77",
                            "80 02 01 02 6F 00 00 00 00 00 00 00 00 00 00 00",
                            "8F 00 02 00 00 01 02 00 02 00 00 00 00 00 00 00",
                            "8F 01 03 00 00 00 00 00 00 00 00 03 04 00 00 00",
                            "8F 02 04 00 00 00 00 00 09 00 00 00 00 00 00 00"};
  ASSERT_EQ(packs.size(), std::size(expected) * kCdTextPackSize);
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const std::uint8_t* pack = &packs[i * kCdTextPackSize];
    EXPECT_EQ(std::vector<std::uint8_t>(pack, pack + 16), Hex(expected[i])) << "pack " << i;
    EXPECT_EQ((pack[16] << 8) | pack[17], CdTextCrc(pack)) << "pack " << i;
  }
}

// Repeated texts become TAB; MS-JIS texts are two bytes a character, flagged, ended by two
// NULs, with ASCII in its full-width form.
TEST(CdTextEncodeTest, TabAndDoubleByteForms) {
  struct Case {
    CdTextCharset charset;
    std::vector<std::string> titles;
    const char* first_pack;
  } cases[] = {
      {CdTextCharset::kIso8859_1,
       {"", "Same", "Same", "Same"},
       "80 00 00 00 00 53 61 6D 65 00 09 00 09 00 00 00"},
      {CdTextCharset::kMsJis, {"日本", "A b"}, "80 00 00 80 93 FA 96 7B 00 00 82 60 81 40 82 82"},
  };
  for (const Case& c : cases) {
    CdText text;
    text.charset = c.charset;
    text.title = c.titles;
    std::vector<std::uint8_t> packs;
    std::string problem;
    ASSERT_TRUE(EncodeCdText(text, &packs, &problem)) << problem;
    EXPECT_EQ(std::vector<std::uint8_t>(packs.begin(), packs.begin() + 16), Hex(c.first_pack));
  }
}

CdText Sample(CdTextCharset charset) {
  CdText text;
  text.charset = charset;
  text.language = charset == CdTextCharset::kMsJis ? 0x69 : 0x09;
  text.first_track = 3;
  const bool jis = charset == CdTextCharset::kMsJis;
  const bool latin = charset == CdTextCharset::kIso8859_1;
  text.title = {jis     ? "春の海 Spring Sea"
                : latin ? "Été à Paris"
                        : "Summer in Paris",
                "A title long enough to run over three packs", "", "Short"};
  text.performer = {"Ensemble", "Ensemble", "Ensemble", "Guest"};
  text.message = {"", "", "", jis ? "終わり" : "end"};
  text.code = {"0123456789012", "USRC17607839", "", "GBAYE0000351"};
  text.disc_id = "ZRV-0001";
  text.genre_code = 0x0019;
  text.genre_text = "Jazz";
  return text;
}

TEST(CdTextRoundTripTest, EveryCharsetGivesItsTextsBack) {
  for (const auto charset :
       {CdTextCharset::kIso8859_1, CdTextCharset::kAscii, CdTextCharset::kMsJis}) {
    const CdText text = Sample(charset);
    std::vector<std::uint8_t> packs;
    std::string problem;
    ASSERT_TRUE(EncodeCdText(text, &packs, &problem)) << problem;
    CdText back;
    int bad = -1;
    ASSERT_TRUE(DecodeCdText(packs.data(), packs.size(), &back, &bad, &problem)) << problem;
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(back, text) << static_cast<int>(charset);
    // A lead-in repeats its packs; reading two rounds of them gives the same texts.
    std::vector<std::uint8_t> twice = packs;
    twice.insert(twice.end(), packs.begin(), packs.end());
    ASSERT_TRUE(DecodeCdText(twice.data(), twice.size(), &back, &bad, &problem));
    EXPECT_EQ(back, text);
  }
}

TEST(CdTextEncodeTest, RefusesWhatTheBlockCannotHold) {
  struct Case {
    CdTextCharset charset;
    std::string title;
    int first_track;
    const char* problem_part;
  } cases[] = {
      {CdTextCharset::kIso8859_1, "東京", 1, "U+6771"},
      {CdTextCharset::kAscii, "café", 1, "ASCII"},
      {CdTextCharset::kMsJis, "ｶﾀｶﾅ", 1, "MS-JIS"},  // half-width: one byte in Shift-JIS
      {CdTextCharset::kMsJis, "🎵", 1, "MS-JIS"},
      {CdTextCharset::kIso8859_1, "tab\there", 1, "U+0009"},
      {CdTextCharset::kIso8859_1, "\xC3", 1, "UTF-8"},
      {CdTextCharset::kIso8859_1, "ok", 99, "outside"},
      {CdTextCharset::kIso8859_1, std::string(3100, 'x'), 1, "more than the 256"},
  };
  for (const Case& c : cases) {
    CdText text;
    text.charset = c.charset;
    text.first_track = c.first_track;
    text.title = {c.title, "a", "b"};
    std::vector<std::uint8_t> packs;
    std::string problem;
    EXPECT_FALSE(EncodeCdText(text, &packs, &problem)) << c.title.substr(0, 20);
    EXPECT_NE(problem.find(c.problem_part), std::string::npos) << problem;
  }
  CdText text;
  text.title = {"ok", "ok"};
  text.code = {"", "ISRC-é"};
  std::vector<std::uint8_t> packs;
  std::string problem;
  EXPECT_FALSE(EncodeCdText(text, &packs, &problem));
  EXPECT_NE(problem.find("ISRC"), std::string::npos) << problem;
}

// A pack with a bad CRC is skipped and counted; the text it carried a piece of is dropped, the
// texts around it are kept.
TEST(CdTextDecodeTest, BadCrcPacksSkippedAndCounted) {
  CdText text = Sample(CdTextCharset::kIso8859_1);
  std::vector<std::uint8_t> packs;
  std::string problem;
  ASSERT_TRUE(EncodeCdText(text, &packs, &problem)) << problem;
  packs[2 * kCdTextPackSize + 6] ^= 0x01;  // the title of track 3 runs through pack 2
  CdText back;
  int bad = 0;
  ASSERT_TRUE(DecodeCdText(packs.data(), packs.size(), &back, &bad, &problem)) << problem;
  EXPECT_EQ(bad, 1);
  EXPECT_EQ(back.title[0], text.title[0]);
  EXPECT_EQ(back.title[1], "");
  EXPECT_EQ(back.title[3], "Short");
  EXPECT_EQ(back.performer, text.performer);

  for (std::size_t offset = 0; offset < packs.size(); offset += kCdTextPackSize)
    packs[offset + 17] ^= 0xFF;
  EXPECT_FALSE(DecodeCdText(packs.data(), packs.size(), &back, &bad, &problem));
  EXPECT_EQ(bad, static_cast<int>(packs.size() / kCdTextPackSize));
  EXPECT_FALSE(DecodeCdText(packs.data(), 0, &back, &bad, &problem));
}

// Lead-in blocks: four packs a block as six-bit symbols, the packs repeating from the first.
TEST(CdTextLeadInTest, BlocksCarryThePacksCyclically) {
  std::vector<std::uint8_t> packs;
  std::string problem;
  CdText text;
  text.title = {"Album", "One", "Two"};  // 5 packs
  ASSERT_TRUE(EncodeCdText(text, &packs, &problem));
  const auto blocks = CdTextLeadInBlocks(packs, 1, 3);
  ASSERT_EQ(blocks.size(), 3 * kCdTextLeadInBlockSize);
  for (const std::uint8_t symbol : blocks) ASSERT_LT(symbol, 0x40);
  // The first pack 80h 00h 00h 00h: symbols 100000 000000 000000 000000.
  EXPECT_EQ(CdTextLeadInBlocks(packs, 0, 1)[0], 0x20);
  const auto back = CdTextPacksFromLeadIn(blocks.data(), blocks.size());
  ASSERT_EQ(back.size(), 12 * kCdTextPackSize);
  for (std::size_t k = 0; k < 12; ++k) {
    const std::size_t source = (4 + k) % 5;
    EXPECT_TRUE(
        std::equal(back.begin() + k * 18, back.begin() + k * 18 + 18, packs.begin() + source * 18))
        << k;
  }
}

}  // namespace
}  // namespace zorvane
