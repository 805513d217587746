// Cue sheets read with libcue and laid out as the MMC cue sheet and the ranges the host sends.
#include "write/cue_image.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zorvane {
namespace {

struct FakeFile {
  std::uint64_t offset;
  std::uint64_t bytes;
};

// The sheet as one line of eight hex bytes an entry.
std::vector<std::string> Entries(const std::vector<std::uint8_t>& sheet) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i + 8 <= sheet.size(); i += 8) {
    char line[32];
    std::snprintf(line, sizeof line, "%02X %02X %02X %02X %02X %02X %02X %02X", sheet[i],
                  sheet[i + 1], sheet[i + 2], sheet[i + 3], sheet[i + 4], sheet[i + 5],
                  sheet[i + 6], sheet[i + 7]);
    lines.emplace_back(line);
  }
  return lines;
}

// "start+blocks*size:file@offset/bytes" for each source (file -1: zeros).
std::vector<std::string> Sources(const std::vector<SaoSource>& sources) {
  std::vector<std::string> lines;
  for (const SaoSource& s : sources) {
    lines.push_back(std::to_string(s.start) + "+" + std::to_string(s.blocks) + "*" +
                    std::to_string(s.block_size) + ":" + std::to_string(s.file) + "@" +
                    std::to_string(s.offset) + "/" + std::to_string(s.bytes));
  }
  return lines;
}

bool Layout(const std::string& cue, const std::map<std::string, FakeFile>& files, CueImage* image,
            SaoSession* session, std::string* problem) {
  const CueFileLookup lookup = [&files](const std::string& path, bool wave, CueFileInfo* info,
                                        std::string* why) {
    const auto found = files.find(path);
    if (found == files.end()) {
      *why = path + ": No such file or directory";
      return false;
    }
    *info = CueFileInfo{wave, found->second.offset, found->second.bytes};
    return true;
  };
  if (!ParseCueImage(cue, "/d", lookup, image, problem)) return false;
  return BuildSaoSession(image->tracks, image->catalogue, false, session, problem);
}

TEST(CueImageTest, SheetsBecomeTheDrivesCueSheetAndTheRangesSent) {
  struct Case {
    const char* name;
    const char* cue;
    std::map<std::string, FakeFile> files;
    std::vector<std::string> sheet;
    std::vector<std::string> sources;
  };
  const Case cases[] = {
      {"one BIN: catalogue, flags, ISRC, index 02, a pre-gap inside the file",
       "CATALOG 1234567890123\n"
       "FILE \"a.bin\" BINARY\n"
       "  TRACK 01 AUDIO\n    FLAGS DCP PRE 4CH\n    ISRC GBAAA0000001\n"
       "    INDEX 01 00:00:00\n    INDEX 02 00:05:00\n"
       "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n",
       {{"/d/a.bin", {0, 2352 * 1200}}},
       {"B2 31 32 33 34 35 36 37", "B2 38 39 30 31 32 33 00", "B1 00 00 01 00 00 00 00",
        "B3 01 47 42 41 41 41 30", "B3 01 30 30 30 30 30 31", "B1 01 00 00 00 00 00 00",
        "B1 01 01 00 00 00 02 00", "B1 01 02 00 00 00 07 00", "01 02 00 00 00 00 0C 00",
        "01 02 01 00 00 00 0E 00", "01 AA 01 01 00 00 12 00"},
       {"-150+150*2352:-1@0/0", "0+750*2352:0@0/1764000", "750+450*2352:0@1764000/1058400"}},
      {"a Mode 1 BIN with POSTGAP, then a WAVE with PREGAP that ends inside a block",
       "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
       "    POSTGAP 00:02:00\n"
       "FILE \"s.wav\" WAVE\n  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n",
       {{"/d/d.bin", {0, 2048 * 300}}, {"/d/s.wav", {44, 2352 * 300 + 100}}},
       {"41 00 00 14 00 00 00 00", "41 01 00 10 00 00 00 00", "41 01 01 10 00 00 02 00",
        "01 02 00 00 00 00 08 00", "01 02 01 00 00 00 0A 00", "01 AA 01 01 00 00 0E 01"},
       {"-150+150*2048:-1@0/0", "0+300*2048:0@0/614400", "300+150*2048:-1@0/0",
        "450+150*2352:-1@0/0", "600+301*2352:1@44/705700"}},
      {"Mode 1 and audio in one BIN: offsets count each track's own block size",
       "FILE \"m.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    FLAGS SCMS\n    INDEX 00 00:04:00\n    INDEX 01 00:06:00\n",
       {{"/d/m.bin", {0, 2352 * 750}}},
       {"41 00 00 14 00 00 00 00", "41 01 00 11 00 00 00 00", "41 01 01 11 00 00 02 00",
        "01 02 00 00 80 00 06 00", "01 02 01 00 80 00 08 00", "01 AA 01 01 00 00 0C 00"},
       {"-150+150*2352:-1@0/0", "0+300*2352:0@0/705600", "300+450*2352:0@705600/1058400"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CueImage image;
    SaoSession session;
    std::string problem;
    ASSERT_TRUE(Layout(c.cue, c.files, &image, &session, &problem)) << problem;
    EXPECT_EQ(Entries(session.sheet), c.sheet);
    EXPECT_EQ(Sources(session.sources), c.sources);
  }
}

TEST(CueImageTest, WhatADiscCannotHoldIsRefusedWithItsFigures) {
  struct Case {
    const char* cue;
    std::map<std::string, FakeFile> files;
    const char* problem;
  };
  const std::map<std::string, FakeFile> bin = {{"/d/a.bin", {0, 2352 * 1000}}};
  const Case cases[] = {
      {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 01 00:10:00\n",
       bin, "track 2 holds 250 blocks from its index 01; a track takes 300 blocks (4 s)"},
      {"FILE \"a.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n",
       {{"/d/a.bin", {0, 2048 * 400 + 5}}},
       "/d/a.bin holds 819205 bytes from track 1 on, not a whole number of 2048-byte blocks"},
      {"FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n",
       bin, "track 1 ends at byte 10584000 of /d/a.bin, which holds 2352000 bytes"},
      {"FILE \"a.bin\" BINARY\n  TRACK 01 MODE2/2048\n    INDEX 01 00:00:00\n", bin,
       "track 1: only AUDIO, MODE1/2048, MODE1/2352, MODE2/2336 and MODE2/2352"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
       {{"/d/a.wav", {44, 2352 * 400}}},
       "track 1: a WAVE file holds audio, not a MODE1/2352"},
      {"FILE \"b.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", bin,
       "/d/b.bin: No such file or directory"},
      {"CATALOG 12345\nFILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", bin,
       "the catalogue number 12345 is not 13 digits"},
      {"this is no cue sheet\n", bin, "libcue could not read the cue sheet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cue);
    CueImage image;
    SaoSession session;
    std::string problem;
    EXPECT_FALSE(Layout(c.cue, c.files, &image, &session, &problem));
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

TEST(CueImageTest, CdTextFieldsOfTheSheetAndOfTheLineFile) {
  const std::string cue =
      "TITLE \"Album\"\nPERFORMER \"Band\"\nREM GENRE Rock\nUPC_EAN 0123456789012\n"
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    ISRC GBAAA0000001\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    SONGWRITER \"Writer\"\n    INDEX 01 00:05:00\n";
  CueImage image;
  SaoSession session;
  std::string problem;
  ASSERT_TRUE(Layout(cue, {{"/d/a.bin", {0, 2352 * 700}}}, &image, &session, &problem)) << problem;
  EXPECT_EQ(image.text.title, (std::vector<std::string>{"Album", "One", "Two"}));
  EXPECT_EQ(image.text.performer, (std::vector<std::string>{"Band", "", ""}));
  EXPECT_EQ(image.text.songwriter, (std::vector<std::string>{"", "", "Writer"}));
  EXPECT_EQ(image.text.code, (std::vector<std::string>{"0123456789012", "GBAAA0000001", ""}));
  EXPECT_EQ(image.text.genre_text, "Rock");
  EXPECT_TRUE(image.text.composer.empty());
  // With packs the lead-in entry asks for the host's R-W sub-channel.
  ASSERT_TRUE(BuildSaoSession(image.tracks, "", true, &session, &problem)) << problem;
  EXPECT_EQ(Entries(session.sheet).front(), "01 00 00 41 00 00 00 00");

  // Texts that ISO 8859-1 cannot hold go in MS-JIS.
  for (const auto& [title, charset] : std::vector<std::pair<std::string, CdTextCharset>>{
           {"Caf\xC3\xA9", CdTextCharset::kIso8859_1},
           {"\xE9\x9F\xB3\xE6\xA5\xBD", CdTextCharset::kMsJis}}) {
    CdText album;
    album.title = {title, "x"};
    std::vector<std::uint8_t> packs;
    ASSERT_TRUE(EncodeAlbumText(album, &packs, &problem)) << problem;
    CdText back;
    ASSERT_TRUE(DecodeCdText(packs.data(), packs.size(), &back, nullptr, &problem)) << problem;
    EXPECT_EQ(back.charset, charset);
    EXPECT_EQ(back.title, album.title);
  }
  // A text neither code holds (U+1F3B5): the reasons of both are given.
  CdText neither;
  neither.title = {"\xF0\x9F\x8E\xB5", "x"};
  std::vector<std::uint8_t> packs;
  EXPECT_FALSE(EncodeAlbumText(neither, &packs, &problem));
  EXPECT_NE(problem.find("fit CD-TEXT character code ISO 8859-1; in MS-JIS: character U+1F3B5"),
            std::string::npos)
      << problem;

  CdText text;
  ASSERT_TRUE(ParseCdTextLines("# album\nTITLE=Blue\r\nPERFORMER 2=Guest\n\nTITLE 1=Opening\n", 2,
                               &text, &problem))
      << problem;
  EXPECT_EQ(text.title, (std::vector<std::string>{"Blue", "Opening", ""}));
  EXPECT_EQ(text.performer, (std::vector<std::string>{"", "", "Guest"}));
  for (const auto& [lines, why] : std::vector<std::pair<std::string, std::string>>{
           {"TITLE 3=x\n", "line 1: track 3, but the CD has 2 tracks"},
           {"\nLYRICS=x\n", "line 2: LYRICS is none of"},
           {"TITLE\n", "line 1: KEY=TEXT or KEY N=TEXT expected"},
           {"TITLE x=y\n", "line 1: the track number after TITLE is not 1 to 99"}}) {
    EXPECT_FALSE(ParseCdTextLines(lines, 2, &text, &problem)) << lines;
    EXPECT_NE(problem.find(why), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace zorvane
