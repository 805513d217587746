#include "vdrive/presets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "vdrive/cd_text.h"

namespace zorvane::vdrive {

namespace {

// Tracks of the pressed audio disc and of the audio part of the mixed disc, in blocks.
constexpr std::int32_t kAudioTracks[] = {16500, 20475, 13950, 18750, 22125, 14700};
constexpr std::int32_t kMixedAudioTracks[] = {13500, 16875, 12000, 15375};
constexpr std::int32_t kMixedDataBlocks = 30000;

// Recorded tracks of the written CD-R presets: user blocks, before the run-out.
constexpr std::int32_t kOpenTrackData = 10000;
constexpr std::int32_t kMultiFirstData = 20000;
constexpr std::int32_t kMultiSecondData = 8000;

Track MakeTrack(int number, int session, std::int32_t start, std::int32_t blocks, SectorType type) {
  Track track;
  track.number = number;
  track.session = session;
  track.start = start;
  track.size = blocks;
  track.recorded = blocks;
  track.readable = blocks;
  track.sector_type = type;
  track.control = type == SectorType::kAudio ? 0 : 4;
  return track;
}

// A track-at-once data track of `data` user blocks closed by its run-out blocks.
Track WrittenTrack(int number, int session, std::int32_t start, std::int32_t data,
                   SectorType type) {
  Track track = MakeTrack(number, session, start, data + kRunOutBlocks, type);
  track.readable = data;
  return track;
}

Session PressedSession(std::int32_t leadout) {
  Session session;
  session.leadin_start = -kLeadinBlocks - kPregapFrames;
  session.leadout_start = leadout;
  return session;
}

PmaEntry PmaOf(const Track& track) {
  PmaEntry entry;
  entry.control = track.control;
  entry.point = static_cast<std::uint8_t>(track.number);
  entry.start = LbaToMsf(track.start);
  entry.stop = LbaToMsf(track.End() - 1);
  return entry;
}

void SetRecordableCd(Medium& m, bool rewritable, const DriveSpec& spec) {
  m.family = Family::kCd;
  m.recordable = true;
  m.erasable = rewritable;
  m.profile = rewritable ? 0x0A : 0x09;
  m.atip = Atip{};
  if (rewritable) {
    m.atip.leadin = Msf{97, 34, 23};
    m.atip.sub_type = 1;  // high speed CD-RW
    m.atip.writing_power = 3;
    m.atip.a2_valid = true;
    m.atip.a2[0] = 0x26;
    m.atip.a2[1] = 0x35;
    m.atip.a2[2] = 0x40;
  }
  if (spec.atip) m.atip.leadin = *spec.atip;
  if (spec.leadout) m.atip.leadout = *spec.leadout;
  m.capacity = MsfToLba(m.atip.leadout);
}

void SetDvd(Medium& m, std::uint16_t profile, std::int32_t blocks, std::uint8_t book,
            std::uint8_t layer_type) {
  m.family = Family::kDvd;
  m.profile = profile;
  m.capacity = blocks;
  m.dvd.book = book;
  m.dvd.max_rate = (layer_type & 0x01) ? 0x02 : 0x0F;
  m.dvd.layer_type = layer_type;
}

// A pressed medium of one data track filling `blocks`.
void SetPressedData(Medium& m, std::int32_t blocks) {
  m.capacity = blocks;
  m.tracks = {MakeTrack(1, 1, 0, blocks, SectorType::kMode1)};
  m.sessions = {PressedSession(blocks)};
}

}  // namespace

bool OpenImage(const std::string& path, Content* content, std::string* error) {
  // Not blocking: opening a FIFO (or a device) would wait for ever; only a regular file
  // is taken, and O_NONBLOCK means nothing to one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "image " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 2048) {
    ::close(fd);
    *error = "image " + path + ": not a regular file of at least one 2048-byte block";
    return false;
  }
  if (info.st_size > static_cast<off_t>(16000000) * 2048) {
    ::close(fd);
    *error = "image " + path + ": larger than any disc this drive reads";
    return false;
  }
  content->image_path = path;
  content->image_size = static_cast<std::uint64_t>(info.st_size);
  content->image_fd = std::shared_ptr<int>(new int(fd), [](const int* p) {
    ::close(*p);
    delete p;
  });
  return true;
}

namespace {

bool IsOneOf(const std::string& preset, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (preset == name) return true;
  }
  return false;
}

// Keys that only some presets take.
bool CheckApplicable(const DriveSpec& spec, std::string* error) {
  const std::string& p = spec.preset;
  const bool pressed_single = IsOneOf(p, {"cdrom", "dvdrom", "bdrom", "hddvdrom"});
  const bool pressed_audio = p == "cdda";
  const bool recordable_cd =
      IsOneOf(p, {"cdr-blank", "cdr-open", "cdr-closed", "cdr-multi", "cdrw-blank", "cdrw-mrw"});
  const bool recordable_dvd = IsOneOf(p, {"dvd-r", "dvd-r-dl", "dvd-rw-seq", "dvd-rw-ro", "dvd-ram",
                                          "dvd+r", "dvd+r-dl", "dvd+rw", "dvd+rw-blank"});
  const bool maker_dvd = recordable_dvd && p != "dvd-ram";
  auto refuse = [&](const char* key, const char* which) {
    *error = std::string(key) + "= does not apply to preset " + p + " (only to " + which + ")";
    return false;
  };
  if (spec.image && !pressed_single) return refuse("image", "cdrom, dvdrom, bdrom, hddvdrom");
  if (spec.cdtext && !IsOneOf(p, {"cdda", "cdmixed"})) return refuse("cdtext", "cdda, cdmixed");
  if (spec.atip && !recordable_cd) return refuse("atip", "recordable CD presets");
  if (spec.leadout && !recordable_cd) return refuse("leadout", "recordable CD presets");
  if (spec.maker && !maker_dvd) return refuse("maker", "recordable DVD presets but dvd-ram");
  if (spec.blocks && !(pressed_single || pressed_audio || recordable_dvd)) {
    return refuse("blocks", "cdrom, cdda, dvdrom, bdrom, hddvdrom and recordable DVD presets");
  }
  if (pressed_audio && spec.blocks && *spec.blocks > 405000) {
    *error = "blocks= of preset cdda takes up to 405000 (90 minutes of audio)";
    return false;
  }
  if (spec.image && spec.blocks) {
    *error = "image= and blocks= exclude each other: an image sets the size";
    return false;
  }
  if (spec.maker && IsOneOf(p, {"dvd+r", "dvd+r-dl", "dvd+rw", "dvd+rw-blank"})) {
    const std::size_t slash = spec.maker->find('/');
    const std::size_t id = slash == std::string::npos ? spec.maker->size() : slash;
    if (id > 8 || (slash != std::string::npos && spec.maker->size() - slash - 1 > 3)) {
      *error = "bad value for maker=: \"" + *spec.maker +
               "\" (a DVD+R/+RW maker is ID[/TYPE]: up to 8 and 3 characters)";
      return false;
    }
  }
  return true;
}

void ApplyMaker(Medium& m, const DriveSpec& spec) {
  if (!spec.maker) return;
  const bool plus = m.profile == 0x1A || m.profile == 0x1B || m.profile == 0x2B;
  if (!plus) {
    m.dvd.maker = *spec.maker;
    return;
  }
  const std::size_t slash = spec.maker->find('/');
  m.dvd.maker = spec.maker->substr(0, slash);
  if (slash != std::string::npos) m.dvd.type_id = spec.maker->substr(slash + 1);
}

bool BuildCd(const std::string& p, const DriveSpec& spec, Medium& m) {
  m.family = Family::kCd;
  if (p == "cdrom") {
    m.profile = 0x08;
    SetPressedData(m, spec.blocks.value_or(kCdromBlocks));
  } else if (p == "cdda" || p == "cdmixed") {
    const bool mixed = p == "cdmixed";
    m.profile = 0x08;
    std::int32_t at = 0;
    int number = 1;
    if (mixed) {
      m.tracks.push_back(MakeTrack(number++, 1, at, kMixedDataBlocks, SectorType::kMode1));
      at += kMixedDataBlocks;
    }
    if (mixed) {
      for (std::int32_t blocks : kMixedAudioTracks) {
        m.tracks.push_back(MakeTrack(number++, 1, at, blocks, SectorType::kAudio));
        at += blocks;
      }
    } else {
      // blocks= sets the disc's length (e.g. 360,000 for 80 minutes): the tracks' lengths
      // repeat, the last one cut to fit.
      const std::int32_t length = spec.blocks.value_or(0);
      for (std::size_t i = 0; length == 0 ? i < std::size(kAudioTracks) : at < length; ++i) {
        std::int32_t blocks = kAudioTracks[i % std::size(kAudioTracks)];
        if (length != 0) blocks = std::min(blocks, length - at);
        m.tracks.push_back(MakeTrack(number++, 1, at, blocks, SectorType::kAudio));
        at += blocks;
      }
    }
    m.capacity = at;
    m.sessions = {PressedSession(at)};
  } else if (p == "cdr-blank") {
    SetRecordableCd(m, false, spec);
  } else if (p == "cdr-open" || p == "cdr-closed") {
    SetRecordableCd(m, false, spec);
    m.tracks = {WrittenTrack(1, 1, 0, kOpenTrackData, SectorType::kMode1)};
    Session session;
    session.leadin_start = MsfToLba(m.atip.leadin);
    session.closed = p == "cdr-closed";
    session.leadout_start = session.closed ? m.tracks[0].End() : 0;
    m.sessions = {session};
    m.pma = {PmaOf(m.tracks[0])};
  } else if (p == "cdr-multi") {
    SetRecordableCd(m, false, spec);
    // Multi-session discs are CD-ROM XA: Mode 2 Form 1 data tracks.
    const Track first = WrittenTrack(1, 1, 0, kMultiFirstData, SectorType::kMode2Form1);
    Session one;
    one.leadin_start = MsfToLba(m.atip.leadin);
    one.leadout_start = first.End();
    one.appendable = true;
    one.disc_type = 0x20;
    m.sessions = {one};
    m.tracks = {first};
    Session two = one;
    two.number = 2;
    two.leadin_start = NextLeadinStart(m);
    const std::int32_t start = two.leadin_start + kLeadinBlocks + kPregapFrames;
    const Track second = WrittenTrack(2, 2, start, kMultiSecondData, SectorType::kMode2Form1);
    two.leadout_start = second.End();
    m.sessions.push_back(two);
    m.tracks.push_back(second);
    m.pma = {PmaOf(first), PmaOf(second)};
  } else if (p == "cdrw-blank") {
    SetRecordableCd(m, true, spec);
  } else if (p == "cdrw-mrw") {
    SetRecordableCd(m, true, spec);
    m.random_writable = true;
    m.formatted = true;
    m.mrw = true;
    m.background_format = BackgroundFormat::kDone;
    m.capacity = MrwUserBlocks(MsfToLba(m.atip.leadout));
  } else {
    return false;
  }
  return true;
}

bool BuildOther(const std::string& p, const DriveSpec& spec, Medium& m) {
  auto blocks = [&](std::int32_t standard) { return spec.blocks.value_or(standard); };
  if (p == "dvdrom") {
    SetDvd(m, 0x10, 0, 0x01, 0x01);
    SetPressedData(m, blocks(kDvdromBlocks));
  } else if (p == "dvd-r") {
    SetDvd(m, 0x11, blocks(kDvdMinusRBlocks), 0x25, 0x02);
    m.dvd.maker = "MCC 03RG20";
  } else if (p == "dvd-r-dl") {
    SetDvd(m, 0x15, blocks(kDvdMinusRDlBlocks), 0x26, 0x02);
    m.layers = 2;
    m.dvd.opposite_track_path = true;
    m.dvd.maker = "MKM 01RD30";
  } else if (p == "dvd-rw-seq" || p == "dvd-rw-ro") {
    const bool overwrite = p == "dvd-rw-ro";
    SetDvd(m, overwrite ? 0x13 : 0x14, blocks(kDvdMinusRwBlocks), 0x32, 0x04);
    m.dvd.maker = "MCC 01RW4X";
    m.erasable = true;
    m.random_writable = overwrite;
    m.formatted = overwrite;
  } else if (p == "dvd-ram") {
    SetDvd(m, 0x12, blocks(kDvdRamBlocks), 0x16, 0x04);
    m.erasable = true;
    m.random_writable = true;
    m.formatted = true;
  } else if (p == "dvd+r" || p == "dvd+r-dl") {
    const bool dual = p == "dvd+r-dl";
    SetDvd(m, dual ? 0x2B : 0x1B, blocks(dual ? kDvdPlusRDlBlocks : kDvdPlusRBlocks),
           dual ? 0xE1 : 0xA1, 0x02);
    m.dvd.maker = dual ? "MKM" : "MCC";
    m.dvd.type_id = dual ? "001" : "004";
    if (dual) {
      m.layers = 2;
      m.dvd.opposite_track_path = true;
    }
  } else if (p == "dvd+rw" || p == "dvd+rw-blank") {
    SetDvd(m, 0x1A, blocks(kDvdPlusRwBlocks), 0x92, 0x04);
    m.dvd.maker = "RICOHJPN";
    m.dvd.type_id = "W11";
    m.dvd.revision = 1;
    m.erasable = true;
    // A new DVD+RW is blank and takes writes once FORMAT UNIT has started its format.
    m.random_writable = p == "dvd+rw";
    m.formatted = m.random_writable;
    m.background_format = m.formatted ? BackgroundFormat::kDone : BackgroundFormat::kNone;
  } else if (p == "bdrom") {
    m.family = Family::kBd;
    m.profile = 0x40;
    SetPressedData(m, blocks(kBdromBlocks));
  } else if (p == "hddvdrom") {
    m.family = Family::kHdDvd;
    m.profile = 0x50;
    m.dvd.book = 0x40;
    SetPressedData(m, blocks(kHdDvdromBlocks));
  } else {
    return false;
  }
  m.recordable = m.recordable || (m.dvd.layer_type & 0x06) != 0;
  ApplyMaker(m, spec);
  return true;
}

// The packs READ TOC format 5 answers for a pressed disc, as the file holds them (18 bytes
// each, after an optional 4-byte header of a READ TOC answer); a pack with a bad CRC stays,
// as a drive that read it badly would pass it on.
bool LoadCdText(const std::string& path, Medium* m, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  constexpr std::size_t kLongest = 4 + 8 * 256 * kCdTextPack;
  std::vector<std::uint8_t> bytes(kLongest + 1);
  ssize_t got = -1;
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    got = 0;
    while (static_cast<std::size_t>(got) < bytes.size()) {
      const ssize_t n =
          ::read(fd, bytes.data() + got, bytes.size() - static_cast<std::size_t>(got));
      if (n <= 0) {
        if (n < 0) got = -1;
        break;
      }
      got += n;
    }
  } else if (fd >= 0) {
    errno = EINVAL;
  }
  const int saved = errno;
  if (fd >= 0) ::close(fd);
  if (got < 0) {
    *error = "cdtext " + path + ": " + std::strerror(saved);
    return false;
  }
  const auto size = static_cast<std::size_t>(got);
  const std::size_t skip = size % kCdTextPack == 4 ? 4 : 0;
  if (size == skip || size > kLongest || (size - skip) % kCdTextPack != 0) {
    *error = "cdtext " + path + ": not a file of 18-byte CD-TEXT packs (at most 2048)";
    return false;
  }
  m->cd_text.assign(bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                    bytes.begin() + static_cast<std::ptrdiff_t>(size));
  return true;
}

}  // namespace

bool BuildMedium(const DriveSpec& spec, Medium* medium, bool* tray_open, std::string* error) {
  *medium = Medium{};
  *tray_open = false;
  if (!CheckApplicable(spec, error)) return false;
  const std::string& p = spec.preset;
  Medium m;
  m.preset = p;
  if (p == "nodisc" || p == "open") {
    *tray_open = p == "open";
    *medium = std::move(m);
    return true;
  }
  m.present = true;
  if (!BuildCd(p, spec, m) && !BuildOther(p, spec, m)) {
    *error = "unknown preset \"" + p + "\"";
    return false;
  }
  if (m.random_writable) SetPressedData(m, m.capacity);  // one track over the formatted area
  if (spec.image) {
    if (!OpenImage(*spec.image, &m.content, error)) return false;
    const auto blocks = static_cast<std::int32_t>((m.content.image_size + 2047) / 2048);
    SetPressedData(m, blocks);
  }
  if (spec.cdtext && !LoadCdText(*spec.cdtext, &m, error)) return false;
  // Only a CD's lead-in lies before LBA 0.
  if (!m.IsCd() && !m.sessions.empty()) m.sessions[0].leadin_start = 0;
  *medium = std::move(m);
  return true;
}

}  // namespace zorvane::vdrive
