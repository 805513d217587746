#include "base/cdtext.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <map>

namespace zorvane {
namespace {

constexpr std::uint8_t kPackTitle = 0x80;
constexpr std::uint8_t kPackDiscId = 0x86;
constexpr std::uint8_t kPackGenre = 0x87;
constexpr std::uint8_t kPackCode = 0x8E;
constexpr std::uint8_t kPackSize = 0x8F;
constexpr std::size_t kTextBytes = 12;
constexpr int kMaxTrack = 99;

// The per-track kinds in pack-type order 80h..85h, then 8Eh.
std::array<std::vector<std::string>*, 6> TextKinds(CdText& text) {
  return {&text.title,    &text.performer, &text.songwriter,
          &text.composer, &text.arranger,  &text.message};
}
std::array<const std::vector<std::string>*, 6> TextKinds(const CdText& text) {
  return {&text.title,    &text.performer, &text.songwriter,
          &text.composer, &text.arranger,  &text.message};
}

bool AllEmpty(const std::vector<std::string>& texts) {
  return std::all_of(texts.begin(), texts.end(), [](const std::string& s) { return s.empty(); });
}

// Strict UTF-8 to code points; false on a malformed sequence.
bool Utf8ToCodePoints(const std::string& text, std::vector<char32_t>* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F, extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F, extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07, extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out->push_back(cp);
    i += 1 + extra;
  }
  return true;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) AppendUtf8(static_cast<unsigned char>(c), &out);
  return out;
}

// An iconv descriptor for Shift-JIS as Windows writes it, closed on every way out.
class Iconv {
 public:
  Iconv(const char* to, const char* from) {
    cd_ = iconv_open(to, from);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      // Older or smaller iconv tables know the plain name only.
      const bool to_jis = std::string(to) == "CP932";
      cd_ = iconv_open(to_jis ? "SHIFT_JIS" : to, to_jis ? from : "SHIFT_JIS");
    }
  }
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts `in` whole; false when any of it cannot be converted.
  bool Convert(const std::string& in, std::string* out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string input = in;
    char* src = input.data();
    std::size_t src_left = input.size();
    char buffer[64];
    out->clear();
    while (src_left > 0) {
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      const std::size_t done = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out->append(buffer, static_cast<std::size_t>(dst - buffer));
      if (done == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t cd_;
};

// The bytes of one text of packs 80h-85h in the block's character code; false (and *problem)
// for a character the code cannot hold. Every MS-JIS character takes two bytes, so printable
// ASCII goes in as its full-width form (and comes back as ASCII when decoded).
bool EncodeText(const std::string& utf8, CdTextCharset charset, Iconv* jis, std::string* out,
                std::string* problem) {
  std::vector<char32_t> cps;
  if (!Utf8ToCodePoints(utf8, &cps)) {
    *problem = "text \"" + utf8 + "\" is not valid UTF-8";
    return false;
  }
  out->clear();
  for (char32_t cp : cps) {
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    bool fits = !control;
    if (fits && charset == CdTextCharset::kAscii) fits = cp < 0x7F;
    if (fits && charset == CdTextCharset::kIso8859_1) fits = cp <= 0xFF;
    if (fits && charset == CdTextCharset::kMsJis) {
      if (cp == 0x20) cp = 0x3000;
      if (cp > 0x20 && cp < 0x7F) cp = cp - 0x21 + 0xFF01;
      std::string one, bytes;
      AppendUtf8(cp, &one);
      fits = jis != nullptr && jis->Convert(one, &bytes) && bytes.size() == 2;
      if (fits) out->append(bytes);
    } else if (fits) {
      out->push_back(static_cast<char>(cp));
    }
    if (!fits) {
      std::string name;
      AppendUtf8(cp, &name);
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
      *problem = std::string("character ") + code + (control ? "" : " \"" + name + "\"") +
                 " of \"" + utf8 + "\" does not fit CD-TEXT character code " +
                 (charset == CdTextCharset::kMsJis   ? "MS-JIS"
                  : charset == CdTextCharset::kAscii ? "ASCII"
                                                     : "ISO 8859-1");
      return false;
    }
  }
  return true;
}

// One character string's bytes with the track it belongs to, in a pack type's stream.
struct Stream {
  std::string bytes;
  std::vector<std::pair<std::size_t, int>> starts;  // (offset, track number) of each text
  void Add(const std::string& text, int track, std::size_t terminator) {
    starts.emplace_back(bytes.size(), track);
    bytes += text;
    bytes.append(terminator, '\0');
  }
};

class PackWriter {
 public:
  explicit PackWriter(std::vector<std::uint8_t>* packs) : packs_(packs) {}
  void Write(std::uint8_t type, const Stream& stream, bool dbcc) {
    const std::size_t unit = dbcc ? 2 : 1;
    for (std::size_t offset = 0; offset < stream.bytes.size(); offset += kTextBytes) {
      // The text the pack's first byte belongs to: the last one starting at or before it.
      auto it = std::upper_bound(stream.starts.begin(), stream.starts.end(),
                                 std::make_pair(offset, 1 << 30));
      --it;
      const std::size_t before = std::min<std::size_t>((offset - it->first) / unit, 15);
      std::uint8_t pack[kCdTextPackSize] = {};
      pack[0] = type;
      pack[1] = static_cast<std::uint8_t>(it->second);
      pack[2] = static_cast<std::uint8_t>(sequence_++);
      pack[3] = static_cast<std::uint8_t>((dbcc ? 0x80 : 0) | before);
      const std::size_t n = std::min(kTextBytes, stream.bytes.size() - offset);
      std::copy_n(stream.bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, pack + 4);
      Append(pack);
      ++counts_[type & 0x0F];
    }
  }
  void Append(std::uint8_t* pack) {
    const std::uint16_t crc = CdTextCrc(pack);
    pack[16] = static_cast<std::uint8_t>(crc >> 8);
    pack[17] = static_cast<std::uint8_t>(crc);
    packs_->insert(packs_->end(), pack, pack + kCdTextPackSize);
  }
  int sequence() const { return sequence_; }
  std::array<int, 16>& counts() { return counts_; }

 private:
  std::vector<std::uint8_t>* packs_;
  int sequence_ = 0;
  std::array<int, 16> counts_{};
};

bool AsciiOnly(const std::string& text, const char* what, std::string* problem) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F) {
      *problem = std::string(what) + " \"" + text + "\" must be printable ASCII";
      return false;
    }
  }
  return true;
}

}  // namespace

int CdText::TrackCount() const {
  std::size_t entries = code.size();
  for (const auto* kind : TextKinds(*this)) entries = std::max(entries, kind->size());
  return entries == 0 ? 0 : static_cast<int>(entries) - 1;
}

bool CdText::Empty() const {
  for (const auto* kind : TextKinds(*this))
    if (!AllEmpty(*kind)) return false;
  return AllEmpty(code) && disc_id.empty() && genre_text.empty() && genre_code == 0;
}

std::uint16_t CdTextCrc(const std::uint8_t* pack16) {
  std::uint16_t crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= static_cast<std::uint16_t>(pack16[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<std::uint16_t>(~crc);
}

bool EncodeCdText(const CdText& text, std::vector<std::uint8_t>* packs, std::string* problem) {
  packs->clear();
  const int tracks = text.TrackCount();
  const int last_track = text.first_track + std::max(tracks, 1) - 1;
  if (text.first_track < 1 || last_track > kMaxTrack) {
    *problem = "CD-TEXT tracks " + std::to_string(text.first_track) + ".." +
               std::to_string(last_track) + " lie outside 1..99";
    return false;
  }
  const CdTextCharset charset = text.charset;
  if (charset != CdTextCharset::kIso8859_1 && charset != CdTextCharset::kAscii &&
      charset != CdTextCharset::kMsJis) {
    *problem = "unknown CD-TEXT character code";
    return false;
  }
  const bool dbcc = charset == CdTextCharset::kMsJis;
  Iconv jis("CP932", "UTF-8");
  if (dbcc && !jis.ok()) {
    *problem = "this system's iconv cannot convert to Shift-JIS";
    return false;
  }
  PackWriter writer(packs);
  const auto track_of = [&](int i) { return i == 0 ? 0 : text.first_track + i - 1; };
  std::uint8_t type = kPackTitle;
  for (const auto* kind : TextKinds(text)) {
    if (!AllEmpty(*kind)) {
      Stream stream;
      for (int i = 0; i <= tracks; ++i) {
        const std::string& entry = i < static_cast<int>(kind->size()) ? (*kind)[i] : "";
        std::string bytes;
        if (i >= 2 && !entry.empty() && entry == (*kind)[i - 1]) {
          bytes = dbcc ? "\t\t" : "\t";
        } else if (!EncodeText(entry, charset, &jis, &bytes, problem)) {
          return false;
        }
        stream.Add(bytes, track_of(i), dbcc ? 2 : 1);
      }
      writer.Write(type, stream, dbcc);
    }
    ++type;
  }
  if (!text.disc_id.empty()) {
    if (!AsciiOnly(text.disc_id, "disc identification", problem)) return false;
    Stream stream;
    stream.Add(text.disc_id, 0, 1);
    writer.Write(kPackDiscId, stream, false);
  }
  if (text.genre_code != 0 || !text.genre_text.empty()) {
    if (!AsciiOnly(text.genre_text, "genre", problem)) return false;
    Stream stream;
    std::string bytes{static_cast<char>(text.genre_code >> 8), static_cast<char>(text.genre_code)};
    stream.Add(bytes + text.genre_text, 0, 1);
    writer.Write(kPackGenre, stream, false);
  }
  if (!AllEmpty(text.code)) {
    Stream stream;
    for (int i = 0; i <= tracks; ++i) {
      const std::string& entry = i < static_cast<int>(text.code.size()) ? text.code[i] : "";
      if (!AsciiOnly(entry, i == 0 ? "UPC/EAN" : "ISRC", problem)) return false;
      stream.Add(entry, track_of(i), 1);
    }
    writer.Write(kPackCode, stream, false);
  }
  const int total = writer.sequence() + 3;
  if (total > static_cast<int>(kCdTextMaxPacks)) {
    *problem = "CD-TEXT needs " + std::to_string(total) + " packs, more than the " +
               std::to_string(kCdTextMaxPacks) + " of one block";
    packs->clear();
    return false;
  }
  writer.counts()[kPackSize & 0x0F] = 3;
  std::uint8_t size[36] = {};
  size[0] = static_cast<std::uint8_t>(charset);
  size[1] = static_cast<std::uint8_t>(text.first_track);
  size[2] = static_cast<std::uint8_t>(last_track);
  for (int i = 0; i < 16; ++i) size[4 + i] = static_cast<std::uint8_t>(writer.counts()[i]);
  size[20] = static_cast<std::uint8_t>(total - 1);
  size[28] = text.language;
  for (int k = 0; k < 3; ++k) {
    std::uint8_t pack[kCdTextPackSize] = {kPackSize, static_cast<std::uint8_t>(k),
                                          static_cast<std::uint8_t>(writer.sequence() + k), 0};
    std::copy_n(size + 12 * k, 12, pack + 4);
    writer.Append(pack);
  }
  return true;
}

namespace {

// The texts of one pack type, by track number, from its packs in sequence order. A pack whose
// track number or character position does not continue the text in progress means packs were
// lost (bad CRC): that text is dropped and reading starts again at the pack.
// The album's text is followed by that of the first track, `first`.
void ParseTexts(const std::vector<const std::uint8_t*>& packs, bool dbcc, int first,
                std::map<int, std::string>* out, int* max_track) {
  const std::size_t unit = dbcc ? 2 : 1;
  int track = -1;
  int sequence = -1;
  std::string buffer;
  bool valid = false;
  for (const std::uint8_t* pack : packs) {
    const int pack_track = pack[1] & 0x7F;
    const std::size_t position = pack[3] & 0x0F;
    *max_track = std::max(*max_track, pack_track);
    const std::size_t chars = buffer.size() / unit;
    const bool gap = sequence >= 0 && pack[2] != sequence + 1;
    sequence = pack[2];
    if (gap || pack_track != track || (valid && position < 15 && position != chars) ||
        (valid && position == 15 && chars < 15)) {
      track = pack_track;
      buffer.clear();
      valid = position == 0;
    }
    for (std::size_t k = 0; k + unit <= kTextBytes; k += unit) {
      const std::uint8_t* c = pack + 4 + k;
      if (c[0] == 0 && (!dbcc || c[1] == 0)) {
        if (valid && track <= kMaxTrack) {
          out->emplace(track, buffer);
          if (!buffer.empty()) *max_track = std::max(*max_track, track);
        }
        track = track == 0 ? first : track + 1;
        buffer.clear();
        valid = true;
      } else {
        buffer.append(reinterpret_cast<const char*>(c), unit);
      }
    }
  }
}

std::string DecodeText(const std::string& bytes, bool jis, Iconv* from_jis) {
  if (!jis) return Latin1ToUtf8(bytes);
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::string pair = bytes.substr(i, 2), utf8;
    std::vector<char32_t> cps;
    if (from_jis == nullptr || !from_jis->Convert(pair, &utf8) || !Utf8ToCodePoints(utf8, &cps))
      cps.assign(1, 0xFFFD);
    for (char32_t cp : cps) {
      // Full-width ASCII and the ideographic space come back as the ASCII they stand for.
      if (cp >= 0xFF01 && cp <= 0xFF5E) cp = cp - 0xFF01 + 0x21;
      if (cp == 0x3000) cp = 0x20;
      AppendUtf8(cp, &out);
    }
  }
  return out;
}

}  // namespace

bool DecodeCdText(const std::uint8_t* packs, std::size_t size, CdText* text, int* bad_crc,
                  std::string* problem) {
  *text = CdText{};
  int bad = 0;
  std::vector<const std::uint8_t*> good;
  for (std::size_t offset = 0; offset + kCdTextPackSize <= size; offset += kCdTextPackSize) {
    const std::uint8_t* pack = packs + offset;
    const std::uint16_t crc = CdTextCrc(pack);
    if (pack[16] != (crc >> 8) || pack[17] != (crc & 0xFF)) {
      ++bad;
    } else if (pack[0] >= 0x80 && pack[0] <= 0x8F) {
      good.push_back(pack);
    }
  }
  if (bad_crc != nullptr) *bad_crc = bad;
  if (good.empty()) {
    *problem = bad > 0 ? "every CD-TEXT pack has a bad CRC" : "no CD-TEXT packs";
    return false;
  }
  int block = 8;
  for (const std::uint8_t* pack : good) block = std::min(block, (pack[3] >> 4) & 0x07);
  // Each type's packs of that block, in sequence order, each sequence number once (a lead-in
  // repeats its packs).
  std::array<std::vector<const std::uint8_t*>, 16> by_type;
  std::array<bool, 256> seen{};
  std::vector<const std::uint8_t*> ordered;
  for (const std::uint8_t* pack : good)
    if (((pack[3] >> 4) & 0x07) == block && !seen[pack[2]])
      seen[pack[2]] = true, ordered.push_back(pack);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const std::uint8_t* a, const std::uint8_t* b) { return a[2] < b[2]; });
  for (const std::uint8_t* pack : ordered) by_type[pack[0] & 0x0F].push_back(pack);

  std::uint8_t size_info[36] = {};
  std::array<bool, 3> have_size{};
  for (const std::uint8_t* pack : by_type[kPackSize & 0x0F]) {
    if (pack[1] < 3 && !have_size[pack[1]]) {
      have_size[pack[1]] = true;
      std::copy_n(pack + 4, 12, size_info + 12 * pack[1]);
    }
  }
  bool dbcc = false;
  for (int t = 0; t < 6; ++t)
    for (const std::uint8_t* pack : by_type[t]) dbcc = dbcc || (pack[3] & 0x80) != 0;
  if (have_size[0]) {
    const auto code = static_cast<CdTextCharset>(size_info[0]);
    text->charset = code == CdTextCharset::kAscii || code == CdTextCharset::kMsJis
                        ? code
                        : CdTextCharset::kIso8859_1;
    dbcc = code == CdTextCharset::kMsJis;
  } else if (dbcc) {
    text->charset = CdTextCharset::kMsJis;
  }
  if (have_size[2]) text->language = size_info[28 + block];

  // The first track: as the size information says, else the lowest a text pack names.
  constexpr int kTextTypes[] = {0, 1, 2, 3, 4, 5, 14};
  const bool sized = have_size[0] && size_info[1] >= 1 && size_info[1] <= kMaxTrack &&
                     size_info[2] >= size_info[1] && size_info[2] <= kMaxTrack;
  int first = kMaxTrack + 1;
  for (int t : kTextTypes)
    for (const std::uint8_t* pack : by_type[t])
      if ((pack[1] & 0x7F) > 0) first = std::min(first, pack[1] & 0x7F);
  if (first > kMaxTrack) first = 1;
  if (sized) first = size_info[1];
  std::array<std::map<int, std::string>, 16> texts;
  int max_track = 0;
  for (int t : kTextTypes) ParseTexts(by_type[t], dbcc && t < 6, first, &texts[t], &max_track);
  int last = sized ? size_info[2] : std::max(std::min(max_track, kMaxTrack), first);
  text->first_track = first;

  Iconv from_jis("UTF-8", "CP932");
  const auto fill = [&](const std::map<int, std::string>& by_track, bool jis,
                        std::vector<std::string>* out) {
    out->assign(static_cast<std::size_t>(last - first + 2), "");
    for (const auto& [track, bytes] : by_track) {
      if (track != 0 && (track < first || track > last)) continue;
      (*out)[track == 0 ? 0 : track - first + 1] = DecodeText(bytes, jis, &from_jis);
    }
    // A TAB (two with double-byte characters) stands for the text before it.
    const std::string tab = jis ? "\t\t" : "\t";
    for (std::size_t i = 1; i < out->size(); ++i) {
      const auto found = by_track.find(first + static_cast<int>(i) - 1);
      if (found != by_track.end() && found->second == tab) (*out)[i] = (*out)[i - 1];
    }
    if (AllEmpty(*out)) out->clear();
  };
  auto kinds = TextKinds(*text);
  for (int t = 0; t < 6; ++t) fill(texts[t], dbcc, kinds[t]);
  fill(texts[14], false, &text->code);

  const auto album_bytes = [&](int t) {
    std::string bytes;
    for (const std::uint8_t* pack : by_type[t])
      if ((pack[1] & 0x7F) == 0) bytes.append(reinterpret_cast<const char*>(pack + 4), kTextBytes);
    return bytes;
  };
  const std::string disc_id = album_bytes(kPackDiscId & 0x0F);
  text->disc_id = Latin1ToUtf8(disc_id.substr(0, disc_id.find('\0')));
  const std::string genre = album_bytes(kPackGenre & 0x0F);
  if (genre.size() >= 2) {
    text->genre_code = static_cast<std::uint16_t>((static_cast<unsigned char>(genre[0]) << 8) |
                                                  static_cast<unsigned char>(genre[1]));
    const std::string rest = genre.substr(2);
    text->genre_text = Latin1ToUtf8(rest.substr(0, rest.find('\0')));
  }
  if (text->Empty() && by_type[kPackSize & 0x0F].empty()) {
    *problem = "no CD-TEXT of a known kind";
    return false;
  }
  return true;
}

std::vector<std::uint8_t> CdTextLeadInBlocks(const std::vector<std::uint8_t>& packs,
                                             std::size_t first_block, std::size_t count) {
  std::vector<std::uint8_t> blocks(count * kCdTextLeadInBlockSize, 0);
  const std::size_t pack_count = packs.size() / kCdTextPackSize;
  if (pack_count == 0) return blocks;
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t j = 0; j < 4; ++j) {
      const std::uint8_t* pack = &packs[((first_block + b) * 4 + j) % pack_count * kCdTextPackSize];
      std::uint8_t* symbols = &blocks[b * kCdTextLeadInBlockSize + j * 24];
      for (std::size_t g = 0; g < 6; ++g) {
        const std::uint8_t* in = pack + 3 * g;
        symbols[4 * g] = in[0] >> 2;
        symbols[4 * g + 1] = static_cast<std::uint8_t>(((in[0] & 0x03) << 4) | (in[1] >> 4));
        symbols[4 * g + 2] = static_cast<std::uint8_t>(((in[1] & 0x0F) << 2) | (in[2] >> 6));
        symbols[4 * g + 3] = in[2] & 0x3F;
      }
    }
  }
  return blocks;
}

std::vector<std::uint8_t> CdTextPacksFromLeadIn(const std::uint8_t* blocks, std::size_t size) {
  std::vector<std::uint8_t> packs;
  for (std::size_t offset = 0; offset + 24 <= size; offset += 24) {
    const std::uint8_t* s = blocks + offset;
    for (std::size_t g = 0; g < 6; ++g) {
      const std::uint8_t* q = s + 4 * g;
      packs.push_back(static_cast<std::uint8_t>(((q[0] & 0x3F) << 2) | ((q[1] & 0x3F) >> 4)));
      packs.push_back(static_cast<std::uint8_t>(((q[1] & 0x0F) << 4) | ((q[2] & 0x3F) >> 2)));
      packs.push_back(static_cast<std::uint8_t>(((q[2] & 0x03) << 6) | (q[3] & 0x3F)));
    }
  }
  return packs;
}

}  // namespace zorvane
