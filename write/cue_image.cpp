#include "write/cue_image.h"

#ifndef ZORVANE_NO_LIBCUE
#include <libcue.h>
#endif

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/utilities.h"
#include "transport/console.h"

// libcue 2.2 leaves its half-built disc behind when a sheet does not parse, and offers no
// way to free it: under AddressSanitizer (the test builds, the fuzz targets) that leak is
// the library's own, not one of ours to report.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVANE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVANE_LEAK_CHECKED 1
#endif
#endif
#ifdef ZORVANE_LEAK_CHECKED
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libcue.so";
}
#endif

namespace zorvane {

namespace {

constexpr std::uint8_t kLeadout = 0xAA;

void AddEntry(std::vector<std::uint8_t>* sheet, std::uint8_t control_adr, std::uint8_t tno,
              std::uint8_t index, std::uint8_t form, std::uint8_t scms, std::int64_t lba) {
  // Times of the sheet are absolute: LBA 0 is 00:02:00.
  const auto frames = static_cast<std::uint32_t>(lba + 150);
  sheet->insert(
      sheet->end(),
      {control_adr, tno, index, form, scms, static_cast<std::uint8_t>(frames / 4500),
       static_cast<std::uint8_t>(frames / 75 % 60), static_cast<std::uint8_t>(frames % 75)});
}

// Two entries of ADR 2 or 3 carrying 13 or 12 characters after CTL/ADR (and TNO).
void AddCode(std::vector<std::uint8_t>* sheet, std::uint8_t control_adr, int tno,
             const std::string& code) {
  std::uint8_t entry[16] = {};
  entry[0] = control_adr;
  entry[8] = control_adr;
  if (tno < 0) {
    // The catalogue number: seven digits, then six and a zero byte.
    std::copy(code.begin(), code.begin() + 7, entry + 1);
    std::copy(code.begin() + 7, code.end(), entry + 9);
  } else {
    entry[1] = static_cast<std::uint8_t>(tno);
    entry[9] = static_cast<std::uint8_t>(tno);
    std::copy(code.begin(), code.begin() + 6, entry + 2);
    std::copy(code.begin() + 6, code.end(), entry + 10);
  }
  sheet->insert(sheet->end(), entry, entry + 16);
}

bool AllOf(const std::string& text, bool letters) {
  return std::all_of(text.begin(), text.end(), [&](char c) {
    return (c >= '0' && c <= '9') || (letters && c >= 'A' && c <= 'Z');
  });
}

// The form the drive generates for the lead-in and lead-out after a track of this form.
std::uint8_t GeneratedForm(std::uint8_t form) {
  if (form == 0x00) return 0x01;
  if (form == 0x10 || form == 0x11) return 0x14;
  return 0x34;
}

#ifndef ZORVANE_NO_LIBCUE
bool EndsWithWave(const std::string& path) {
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".wav";
}

struct Mode {
  std::uint8_t form;
  std::uint32_t size;
  const char* name;
};

bool ModeOf(int mode, Mode* out) {
  switch (mode) {
    case MODE_AUDIO:
      *out = {0x00, 2352, "AUDIO"};
      return true;
    case MODE_MODE1:
      *out = {0x10, 2048, "MODE1/2048"};
      return true;
    case MODE_MODE1_RAW:
      *out = {0x11, 2352, "MODE1/2352"};
      return true;
    case MODE_MODE2:
      *out = {0x30, 2336, "MODE2/2336"};
      return true;
    case MODE_MODE2_RAW:
      *out = {0x31, 2352, "MODE2/2352"};
      return true;
    default:
      return false;
  }
}

// libcue keeps the CATALOG line to itself: its 13 digits are taken from the line that
// starts with the keyword.
std::string CatalogueLine(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::size_t i = at;
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (text.compare(i, 8, "CATALOG ") == 0 || text.compare(i, 8, "CATALOG\t") == 0) {
      i += 8;
      while (i < end && (text[i] == ' ' || text[i] == '\t' || text[i] == '"')) ++i;
      std::size_t j = i;
      while (j < end && text[j] != ' ' && text[j] != '\t' && text[j] != '"' && text[j] != '\r') {
        ++j;
      }
      return text.substr(i, j - i);
    }
    at = end + 1;
  }
  return "";
}

struct CdDeleter {
  void operator()(Cd* cd) const { cd_delete(cd); }
};
#endif

}  // namespace

bool BuildSaoSession(const std::vector<SaoTrack>& tracks, const std::string& catalogue, bool cdtext,
                     SaoSession* session, std::string* problem) {
  *session = SaoSession{};
  if (tracks.empty() || tracks.size() > 99) {
    *problem = FormatText(96, "%zu tracks: a CD holds 1 to 99", tracks.size());
    return false;
  }
  if (!catalogue.empty() && (catalogue.size() != 13 || !AllOf(catalogue, false))) {
    *problem = "the catalogue number " + catalogue + " is not 13 digits";
    return false;
  }
  std::vector<std::uint8_t>& sheet = session->sheet;
  const std::uint8_t first_control = static_cast<std::uint8_t>(tracks.front().control << 4);
  if (!catalogue.empty()) AddCode(&sheet, first_control | 2, -1, catalogue);
  // The lead-in: what the drive generates after the first track's kind, with the R-W
  // sub-channel from the host (sub-channel form 01b) when CD-TEXT packs go in it.
  AddEntry(&sheet, first_control | 1, 0, 0,
           cdtext ? kCueLeadInWithCdText : GeneratedForm(tracks.front().form), 0, kSaoFirstBlock);
  std::int64_t lba = kSaoFirstBlock;
  std::uint8_t form = 0;
  auto add_source = [&](std::uint32_t blocks, std::uint32_t size, int file, std::uint64_t offset,
                        std::uint64_t bytes) {
    if (blocks == 0) return;
    session->sources.push_back({lba, blocks, size, file, offset, bytes, form});
    lba += blocks;
  };
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const SaoTrack& track = tracks[i];
    form = track.form;
    const int number = static_cast<int>(i) + 1;
    const std::uint8_t ctl = static_cast<std::uint8_t>(track.control << 4);
    const std::uint8_t scms = track.scms ? 0x80 : 0x00;
    if (!track.isrc.empty()) {
      if (track.isrc.size() != 12 || !AllOf(track.isrc, true)) {
        *problem = FormatText(160, "track %d: the ISRC %s is not 12 digits and capitals", number,
                              track.isrc.c_str());
        return false;
      }
      AddCode(&sheet, ctl | 3, number, track.isrc);
    }
    std::uint32_t zeros = track.zero_pregap;
    if (i == 0 && zeros + track.file_pregap < kSaoFirstPregap) {
      zeros = kSaoFirstPregap - track.file_pregap;
    }
    const std::uint64_t length = std::uint64_t{track.blocks} + track.zero_postgap;
    if (length < kSaoMinimumTrack) {
      *problem = FormatText(160,
                            "track %d holds %llu blocks from its index 01; a track takes %u "
                            "blocks (4 s) at least",
                            number, static_cast<unsigned long long>(length), kSaoMinimumTrack);
      return false;
    }
    if (zeros + track.file_pregap > 0) {
      AddEntry(&sheet, ctl | 1, static_cast<std::uint8_t>(number), 0, track.form, scms, lba);
    }
    add_source(zeros, track.block_size, -1, 0, 0);
    const std::int64_t index1 = lba + track.file_pregap;
    AddEntry(&sheet, ctl | 1, static_cast<std::uint8_t>(number), 1, track.form, scms, index1);
    std::uint32_t previous = 0;
    for (std::size_t k = 0; k < track.indexes.size(); ++k) {
      const std::uint32_t at = track.indexes[k];
      if (k + 2 > 99 || at <= previous || at >= length) {
        *problem = FormatText(160,
                              "track %d: index %02zu lies outside the track or before the "
                              "index ahead of it",
                              number, k + 2);
        return false;
      }
      previous = at;
      AddEntry(&sheet, ctl | 1, static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(k + 2),
               track.form, scms, index1 + at);
    }
    add_source(track.file_pregap + track.blocks, track.block_size, track.file, track.offset,
               track.bytes);
    add_source(track.zero_postgap, track.block_size, -1, 0, 0);
  }
  session->leadout = lba;
  session->tracks = static_cast<int>(tracks.size());
  const std::uint8_t last_control = static_cast<std::uint8_t>(tracks.back().control << 4);
  AddEntry(&sheet, last_control | 1, kLeadout, 1, GeneratedForm(tracks.back().form), 0, lba);
  if (sheet.size() > kSaoSheetLimit) {
    *problem = FormatText(128, "the cue sheet takes %zu bytes; a drive takes %zu at most",
                          sheet.size(), kSaoSheetLimit);
    return false;
  }
  if (lba + 150 > 100 * 60 * 75) {
    *problem =
        FormatText(96, "the session runs to LBA %lld, past any CD", static_cast<long long>(lba));
    return false;
  }
  return true;
}

bool ParseCueImage(const std::string& text, const std::string& folder, const CueFileLookup& lookup,
                   CueImage* image, std::string* problem) {
  *image = CueImage{};
#ifdef ZORVANE_NO_LIBCUE
  (void)text;
  (void)folder;
  (void)lookup;
  *problem = "this zorvane-cli was built without libcue and reads no cue sheets";
  return false;
#else
  if (text.find('\0') != std::string::npos) {
    *problem = "the cue sheet holds a NUL byte";
    return false;
  }
  std::unique_ptr<Cd, CdDeleter> cd(cue_parse_string(text.c_str()));
  if (!cd) {
    *problem = "libcue could not read the cue sheet";
    return false;
  }
  const int count = cd_get_ntrack(cd.get());
  if (count < 1 || count > 99) {
    *problem = FormatText(96, "the cue sheet has %d tracks: a CD holds 1 to 99", count);
    return false;
  }
  image->catalogue = CatalogueLine(text);
  // Per file: the frame and byte reached so far, and the block size of the track there.
  struct Place {
    long frame = 0;
    std::uint64_t byte = 0;
    std::uint32_t size = 0;
  };
  std::vector<Place> places;
  for (int n = 1; n <= count; ++n) {
    const Track* track = cd_get_track(cd.get(), n);
    const char* name = track != nullptr ? track_get_filename(track) : nullptr;
    if (name == nullptr || *name == '\0') {
      *problem = FormatText(64, "track %d names no file", n);
      return false;
    }
    std::string path = name;
    if (path.front() != '/' && !folder.empty()) path.insert(0, folder + "/");
    Mode mode{};
    if (!ModeOf(track_get_mode(track), &mode)) {
      *problem = FormatText(128,
                            "track %d: only AUDIO, MODE1/2048, MODE1/2352, MODE2/2336 and "
                            "MODE2/2352 tracks are written session at once",
                            n);
      return false;
    }
    const bool wave = EndsWithWave(path);
    if (wave && mode.form != 0x00) {
      *problem = FormatText(96, "track %d: a WAVE file holds audio, not a %s track", n, mode.name);
      return false;
    }
    int file = -1;
    for (std::size_t f = 0; f < image->files.size(); ++f) {
      if (image->files[f] == path) file = static_cast<int>(f);
    }
    if (file < 0) {
      CueFileInfo info;
      if (!lookup(path, wave, &info, problem)) return false;
      image->files.push_back(path);
      image->infos.push_back(info);
      places.emplace_back();
      file = static_cast<int>(image->files.size()) - 1;
    }
    const CueFileInfo& info = image->infos[static_cast<std::size_t>(file)];
    Place& place = places[static_cast<std::size_t>(file)];

    SaoTrack out;
    out.form = mode.form;
    out.block_size = mode.size;
    out.file = file;
    const bool audio = mode.form == 0x00;
    out.control = static_cast<std::uint8_t>(
        (audio ? 0 : 0x4) | (track_is_set_flag(track, FLAG_COPY_PERMITTED) ? 0x2 : 0) |
        (audio && track_is_set_flag(track, FLAG_FOUR_CHANNEL) ? 0x8 : 0) |
        (audio && track_is_set_flag(track, FLAG_PRE_EMPHASIS) ? 0x1 : 0));
    out.scms = track_is_set_flag(track, FLAG_SCMS) != 0;
    if (const char* isrc = track_get_isrc(track); isrc != nullptr) out.isrc = isrc;
    const long index0 = track_get_index(track, 0);
    const long index1 = track_get_index(track, 1);
    const long pre = track_get_zero_pre(track);
    const long post = track_get_zero_post(track);
    if (index1 < 0 || (index0 >= 0 && index0 > index1)) {
      *problem = FormatText(96, "track %d has no INDEX 01 after its INDEX 00", n);
      return false;
    }
    const long first = index0 >= 0 ? index0 : index1;
    if (first < place.frame) {
      *problem = FormatText(96, "track %d starts before the track ahead of it ends", n);
      return false;
    }
    // Blocks between the last track's start and this one are in that track's size.
    place.byte += static_cast<std::uint64_t>(first - place.frame) *
                  (place.size != 0 ? place.size : mode.size);
    place.frame = first;
    place.size = mode.size;
    out.offset = info.offset + place.byte;
    out.file_pregap = static_cast<std::uint32_t>(index1 - first);
    if (index0 < 0 && pre > 0) out.zero_pregap = static_cast<std::uint32_t>(pre);
    if (post > 0) out.zero_postgap = static_cast<std::uint32_t>(post);
    for (int k = 2; k <= 99; ++k) {
      const long at = track_get_index(track, k);
      if (at < 0) break;
      if (at <= index1) {
        *problem = FormatText(96, "track %d: INDEX %02d does not follow INDEX 01", n, k);
        return false;
      }
      out.indexes.push_back(static_cast<std::uint32_t>(at - index1));
    }
    const std::uint64_t pregap_bytes = std::uint64_t{out.file_pregap} * mode.size;
    if (place.byte + pregap_bytes > info.bytes) {
      *problem = FormatText(192, "track %d starts at byte %llu of %s, which holds %llu bytes", n,
                            static_cast<unsigned long long>(place.byte + pregap_bytes),
                            path.c_str(), static_cast<unsigned long long>(info.bytes));
      return false;
    }
    const long length = track_get_length(track);
    const std::uint64_t left = info.bytes - place.byte - pregap_bytes;
    if (length >= 0) {
      out.blocks = static_cast<std::uint32_t>(length);
      out.bytes = pregap_bytes + std::uint64_t{out.blocks} * mode.size;
      if (out.bytes - pregap_bytes > left) {
        *problem = FormatText(192, "track %d ends at byte %llu of %s, which holds %llu bytes", n,
                              static_cast<unsigned long long>(place.byte + out.bytes), path.c_str(),
                              static_cast<unsigned long long>(info.bytes));
        return false;
      }
    } else {
      // The last track of its file runs to the file's end.
      if (!wave && left % mode.size != 0) {
        *problem = FormatText(192,
                              "%s holds %llu bytes from track %d on, not a whole number of "
                              "%u-byte blocks",
                              path.c_str(), static_cast<unsigned long long>(left), n, mode.size);
        return false;
      }
      const std::uint64_t blocks = (left + mode.size - 1) / mode.size;
      if (blocks > 100 * 60 * 75) {
        *problem = path + " holds more than a CD";
        return false;
      }
      out.blocks = static_cast<std::uint32_t>(blocks);
      out.bytes = pregap_bytes + left;
    }
    image->tracks.push_back(out);
  }
  // The CDTEXT fields of the album and its tracks.
  CdText& cdtext = image->text;
  auto field = [&](Pti pti, std::vector<std::string>* vector) {
    vector->assign(static_cast<std::size_t>(count) + 1, "");
    bool any = false;
    for (int n = 0; n <= count; ++n) {
      const Cdtext* texts =
          n == 0 ? cd_get_cdtext(cd.get()) : track_get_cdtext(cd_get_track(cd.get(), n));
      const char* value = texts != nullptr ? cdtext_get(pti, texts) : nullptr;
      if (value != nullptr && *value != '\0') {
        (*vector)[static_cast<std::size_t>(n)] = value;
        any = true;
      }
    }
    if (!any) vector->clear();
  };
  field(PTI_TITLE, &cdtext.title);
  field(PTI_PERFORMER, &cdtext.performer);
  field(PTI_SONGWRITER, &cdtext.songwriter);
  field(PTI_COMPOSER, &cdtext.composer);
  field(PTI_ARRANGER, &cdtext.arranger);
  field(PTI_MESSAGE, &cdtext.message);
  field(PTI_UPC_ISRC, &cdtext.code);
  if (!cdtext.code.empty()) {
    // UPC_EAN for the album; the tracks' ISRCs go with it.
    for (int n = 1; n <= count; ++n) {
      std::string& code = cdtext.code[static_cast<std::size_t>(n)];
      if (code.empty()) code = image->tracks[static_cast<std::size_t>(n - 1)].isrc;
    }
  }
  if (const Cdtext* album = cd_get_cdtext(cd.get()); album != nullptr) {
    if (const char* id = cdtext_get(PTI_DISC_ID, album); id != nullptr) cdtext.disc_id = id;
    if (const char* genre = cdtext_get(PTI_GENRE, album); genre != nullptr) {
      cdtext.genre_text = genre;
    }
  }
  return true;
#endif
}

std::vector<SaoTrack> AudioTracks(const std::vector<CueFileInfo>& infos, std::uint32_t gap) {
  std::vector<SaoTrack> tracks;
  for (std::size_t i = 0; i < infos.size(); ++i) {
    SaoTrack track;
    track.file = static_cast<int>(i);
    track.offset = infos[i].offset;
    track.bytes = infos[i].bytes;
    track.blocks = static_cast<std::uint32_t>((infos[i].bytes + 2351) / 2352);
    track.zero_pregap = i == 0 ? kSaoFirstPregap : gap;
    tracks.push_back(track);
  }
  return tracks;
}

bool ParseCdTextLines(const std::string& lines, int tracks, CdText* text, std::string* problem) {
  struct Key {
    const char* name;
    std::vector<std::string> CdText::*field;
  };
  static constexpr Key kKeys[] = {
      {"TITLE", &CdText::title},           {"PERFORMER", &CdText::performer},
      {"SONGWRITER", &CdText::songwriter}, {"COMPOSER", &CdText::composer},
      {"ARRANGER", &CdText::arranger},     {"MESSAGE", &CdText::message},
  };
  std::size_t at = 0;
  int number = 0;
  while (at < lines.size()) {
    std::size_t end = lines.find('\n', at);
    if (end == std::string::npos) end = lines.size();
    std::string line = lines.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *problem = FormatText(96, "line %d: KEY=TEXT or KEY N=TEXT expected", number);
      return false;
    }
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    const std::size_t space = key.find(' ');
    const std::string name = key.substr(0, space);
    int track = 0;
    if (space != std::string::npos) {
      const std::string digits = key.substr(space + 1);
      if (digits.empty() || digits.size() > 2 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        *problem = FormatText(96, "line %d: the track number after %s is not 1 to 99", number,
                              name.c_str());
        return false;
      }
      track = std::stoi(digits);
      if (track < 1 || track > tracks) {
        *problem =
            FormatText(128, "line %d: track %d, but the CD has %d tracks", number, track, tracks);
        return false;
      }
    }
    const Key* found = nullptr;
    for (const Key& k : kKeys) {
      if (name == k.name) found = &k;
    }
    if (found == nullptr) {
      *problem = FormatText(160,
                            "line %d: %s is none of TITLE, PERFORMER, SONGWRITER, COMPOSER, "
                            "ARRANGER, MESSAGE",
                            number, name.c_str());
      return false;
    }
    std::vector<std::string>& field = text->*(found->field);
    field.resize(static_cast<std::size_t>(tracks) + 1);
    field[static_cast<std::size_t>(track)] = value;
  }
  return true;
}

bool EncodeAlbumText(CdText text, std::vector<std::uint8_t>* packs, std::string* problem) {
  text.charset = CdTextCharset::kIso8859_1;
  if (EncodeCdText(text, packs, problem)) return true;
  std::string latin = *problem;
  text.charset = CdTextCharset::kMsJis;
  if (EncodeCdText(text, packs, problem)) return true;
  // Both reasons: a text may fit neither code, or this system's iconv may have no Shift-JIS
  // (a statically linked program loads it at run time), which the first alone would hide.
  *problem = "CD-TEXT: " + latin + "; in MS-JIS: " + *problem;
  return false;
}

}  // namespace zorvane
