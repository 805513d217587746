#include "vdrive/state_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "vdrive/cd_text.h"

namespace zorvane::vdrive {

namespace {

constexpr const char* kMagic = "ZORVANE-VDRIVE-DISC 3";
constexpr std::size_t kMaxSectorBytes = 2352;

// The folder of a path, with its slash ("" for the working folder).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex(const std::string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out = "x";  // never empty, so every field has a token
  for (const unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& token, std::string* text) {
  if (token.empty() || token[0] != 'x' || token.size() % 2 == 0) return false;
  text->clear();
  for (std::size_t i = 1; i < token.size(); i += 2) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(token.data() + i, token.data() + i + 2, value, 16);
    if (ec != std::errc() || end != token.data() + i + 2) return false;
    text->push_back(static_cast<char>(value));
  }
  return true;
}

// FNV-1a, 64 bits: enough to tell a damaged file from a whole one.
constexpr std::uint64_t kChecksumStart = 0xCBF29CE484222325ULL;
std::uint64_t Checksum(std::string_view text, std::uint64_t hash = kChecksumStart) {
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the file in large pieces as it is produced, keeping its checksum, so that a disc
// full of sectors is never held twice in memory.
class Sink {
 public:
  explicit Sink(int fd) : fd_(fd) {}
  void Put(std::string_view bytes) {
    checksum_ = Checksum(bytes, checksum_);
    buffer_.append(bytes);
    if (buffer_.size() >= kPiece) Flush();
  }
  // The closing record: not part of the checksum it carries.
  bool Finish() {
    buffer_ += "end " + std::to_string(checksum_) + "\n";
    Flush();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = 1 << 20;
  void Flush() {
    ok_ = ok_ && WriteAll(fd_, buffer_);
    buffer_.clear();
  }
  int fd_;
  std::string buffer_;
  std::uint64_t checksum_ = kChecksumStart;
  bool ok_ = true;
};

std::string MsfText(const Msf& msf) {
  return std::to_string(msf.minute) + " " + std::to_string(msf.second) + " " +
         std::to_string(msf.frame);
}

// `store`: the sector store the file refers to (the medium's, or its compacted copy).
bool Serialize(const Medium& m, const SectorStore* store, Sink& sink) {
  std::ostringstream s;
  s << kMagic << "\n";
  s << "medium " << Hex(m.preset) << ' ' << int(m.present) << ' ' << int(m.family) << ' ' << 0
    << ' ' << m.profile << ' ' << int(m.recordable) << ' ' << int(m.erasable) << ' '
    << int(m.random_writable) << ' ' << int(m.formatted) << ' ' << int(m.mrw) << ' '
    << int(m.layers) << ' ' << m.capacity << ' ' << int(m.background_format) << "\n";
  const Atip& a = m.atip;
  s << "atip " << MsfText(a.leadin) << ' ' << MsfText(a.leadout) << ' ' << int(a.writing_power)
    << ' ' << int(a.reference_speed) << ' ' << int(a.unrestricted) << ' ' << int(a.sub_type);
  for (const std::uint8_t* field : {a.a1, a.a2, a.a3}) {
    for (int i = 0; i < 3; ++i) s << ' ' << int(field[i]);
  }
  s << ' ' << int(a.a1_valid) << ' ' << int(a.a2_valid) << ' ' << int(a.a3_valid) << "\n";
  const DvdInfo& d = m.dvd;
  s << "dvd " << int(d.book) << ' ' << int(d.max_rate) << ' ' << int(d.layer_type) << ' '
    << int(d.opposite_track_path) << ' ' << Hex(d.maker) << ' ' << Hex(d.type_id) << ' '
    << int(d.revision) << "\n";
  for (const Session& x : m.sessions) {
    s << "session " << x.number << ' ' << int(x.closed) << ' ' << x.leadin_start << ' '
      << x.leadout_start << ' ' << int(x.appendable) << ' ' << int(x.disc_type) << "\n";
  }
  for (const Track& t : m.tracks) {
    s << "track " << t.number << ' ' << t.session << ' ' << t.start << ' ' << t.size << ' '
      << t.recorded << ' ' << t.readable << ' ' << int(t.sector_type) << ' ' << int(t.control)
      << ' ' << int(t.complete) << ' ' << int(t.incremental) << ' ' << int(t.fixed_packet) << ' '
      << t.packet_size << ' ' << int(t.reserved) << ' ' << int(t.generated) << ' ' << t.pregap
      << ' ' << Hex(t.isrc) << "\n";
  }
  for (const PmaEntry& p : m.pma) {
    s << "pma " << int(p.control) << ' ' << int(p.adr) << ' ' << int(p.point) << ' '
      << MsfText(p.stop) << ' ' << MsfText(p.start) << "\n";
  }
  if (!m.catalogue.empty()) s << "catalogue " << Hex(m.catalogue) << "\n";
  if (!m.cd_text.empty())
    s << "cdtext " << Hex(std::string(m.cd_text.begin(), m.cd_text.end())) << "\n";
  s << "image " << Hex(m.content.image_path) << "\n";
  // The written sectors: the data file beside this one and where each run lies in it.
  s << "store " << Hex(store != nullptr ? NameOf(store->Path()) : "") << "\n";
  sink.Put(s.str());
  if (store != nullptr) {
    for (const auto& [lba, e] : store->Extents()) {
      sink.Put("extent " + std::to_string(lba) + ' ' + std::to_string(e.count) + ' ' +
               std::to_string(e.size) + ' ' + std::to_string(e.offset) + "\n");
    }
  }
  // The closing record carries a checksum of everything before it.
  return sink.Finish();
}

// Reads the whitespace-separated fields of one line.
class Parser {
 public:
  explicit Parser(std::string text) : text_(std::move(text)) {}

  bool Line(std::vector<std::string>* fields) {
    fields->clear();
    if (at_ >= text_.size()) return false;
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string::npos) return false;
    std::istringstream line(text_.substr(at_, end - at_));
    at_ = end + 1;
    ++line_number_;
    std::string field;
    while (line >> field) fields->push_back(field);
    return true;
  }

  int line_number() const { return line_number_; }
  std::size_t offset() const { return at_; }
  std::string_view text() const { return text_; }

 private:
  std::string text_;
  std::size_t at_ = 0;
  int line_number_ = 0;
};

template <typename T>
bool Number(const std::string& token, T min, T max, T* value) {
  long long result = 0;
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), result);
  if (ec != std::errc() || end != token.data() + token.size()) return false;
  if (result < static_cast<long long>(min) || result > static_cast<long long>(max)) return false;
  *value = static_cast<T>(result);
  return true;
}

bool Flag(const std::string& token, bool* value) {
  int n = 0;
  if (!Number(token, 0, 1, &n)) return false;
  *value = n == 1;
  return true;
}

bool Byte(const std::string& token, std::uint8_t* value) {
  return Number<std::uint8_t>(token, 0, 255, value);
}

bool ParseMsfFields(const std::vector<std::string>& f, std::size_t at, Msf* msf) {
  return Number(f[at], 0, 99, &msf->minute) && Number(f[at + 1], 0, 59, &msf->second) &&
         Number(f[at + 2], 0, 74, &msf->frame);
}

constexpr std::int32_t kMaxBlocks = 16000000;

// Blocks written over may take this much of a data file before it is packed.
constexpr std::uint64_t kCompactionSlack = std::uint64_t{16} << 20;

// What a state file says about its sector store, opened once the file is read whole.
struct StoreRecord {
  std::string name;
  SectorStore::ExtentMap extents;
};

bool ParseRecord(const std::vector<std::string>& f, StoreRecord* store, Medium* m) {
  const std::string& kind = f[0];
  if (kind == "medium" && f.size() == 14) {
    int family = 0;
    int background = 0;
    std::uint8_t unused = 0;  // once the medium-type byte, now derived from the disc
    return Unhex(f[1], &m->preset) && Flag(f[2], &m->present) && Number(f[3], 0, 4, &family) &&
           (m->family = static_cast<Family>(family), true) && Byte(f[4], &unused) &&
           Number<std::uint16_t>(f[5], 0, 0xFFFF, &m->profile) && Flag(f[6], &m->recordable) &&
           Flag(f[7], &m->erasable) && Flag(f[8], &m->random_writable) &&
           Flag(f[9], &m->formatted) && Flag(f[10], &m->mrw) &&
           Number<std::uint8_t>(f[11], 1, 2, &m->layers) &&
           Number(f[12], 0, kMaxBlocks, &m->capacity) && Number(f[13], 0, 3, &background) &&
           (m->background_format = static_cast<BackgroundFormat>(background), true);
  }
  if (kind == "atip" && f.size() == 23) {
    Atip& a = m->atip;
    bool ok = ParseMsfFields(f, 1, &a.leadin) && ParseMsfFields(f, 4, &a.leadout) &&
              Byte(f[7], &a.writing_power) && Byte(f[8], &a.reference_speed) &&
              Flag(f[9], &a.unrestricted) && Byte(f[10], &a.sub_type);
    std::size_t at = 11;
    for (std::uint8_t* field : {a.a1, a.a2, a.a3}) {
      for (int i = 0; i < 3; ++i) ok = ok && Byte(f[at++], &field[i]);
    }
    return ok && Flag(f[20], &a.a1_valid) && Flag(f[21], &a.a2_valid) && Flag(f[22], &a.a3_valid);
  }
  if (kind == "dvd" && f.size() == 8) {
    DvdInfo& d = m->dvd;
    return Byte(f[1], &d.book) && Byte(f[2], &d.max_rate) && Byte(f[3], &d.layer_type) &&
           Flag(f[4], &d.opposite_track_path) && Unhex(f[5], &d.maker) && Unhex(f[6], &d.type_id) &&
           Byte(f[7], &d.revision);
  }
  if (kind == "session" && f.size() == 7) {
    Session x;
    const bool ok = Number(f[1], 1, 99, &x.number) && Flag(f[2], &x.closed) &&
                    Number(f[3], -kMaxBlocks, kMaxBlocks, &x.leadin_start) &&
                    Number(f[4], 0, kMaxBlocks, &x.leadout_start) && Flag(f[5], &x.appendable) &&
                    Byte(f[6], &x.disc_type);
    m->sessions.push_back(x);
    return ok;
  }
  // A track; older files end before its pre-gap or its ISRC.
  if (kind == "track" && f.size() >= 15 && f.size() <= 17) {
    Track t;
    int type = 0;
    const bool ok = Number(f[1], 1, 99, &t.number) && Number(f[2], 1, 99, &t.session) &&
                    Number(f[3], 0, kMaxBlocks, &t.start) && Number(f[4], 0, kMaxBlocks, &t.size) &&
                    Number(f[5], 0, t.size, &t.recorded) &&
                    Number(f[6], 0, t.recorded, &t.readable) && Number(f[7], 1, 5, &type) &&
                    (t.sector_type = static_cast<SectorType>(type), true) &&
                    Number<std::uint8_t>(f[8], 0, 15, &t.control) && Flag(f[9], &t.complete) &&
                    Flag(f[10], &t.incremental) && Flag(f[11], &t.fixed_packet) &&
                    Number(f[12], 0, kMaxBlocks, &t.packet_size) && Flag(f[13], &t.reserved) &&
                    Flag(f[14], &t.generated) &&
                    (f.size() < 16 || Number(f[15], 0, t.start + kPregapFrames, &t.pregap)) &&
                    (f.size() < 17 || (Unhex(f[16], &t.isrc) && t.isrc.size() <= 12));
    m->tracks.push_back(t);
    return ok;
  }
  if (kind == "pma" && f.size() == 10) {
    PmaEntry p;
    const bool ok = Number<std::uint8_t>(f[1], 0, 15, &p.control) &&
                    Number<std::uint8_t>(f[2], 0, 15, &p.adr) && Byte(f[3], &p.point) &&
                    ParseMsfFields(f, 4, &p.stop) && ParseMsfFields(f, 7, &p.start);
    m->pma.push_back(p);
    return ok;
  }
  if (kind == "image" && f.size() == 2) return Unhex(f[1], &m->content.image_path);
  if (kind == "catalogue" && f.size() == 2) {
    return Unhex(f[1], &m->catalogue) && m->catalogue.size() == 13;
  }
  // The CD-TEXT packs READ TOC format 5 answers (files before them have none).
  if (kind == "cdtext" && f.size() == 2) {
    std::string packs;
    if (!Unhex(f[1], &packs) || packs.empty() || packs.size() % kCdTextPack != 0 ||
        packs.size() > 8 * 256 * kCdTextPack) {
      return false;
    }
    m->cd_text.assign(packs.begin(), packs.end());
    return true;
  }
  if (kind == "store" && f.size() == 2) return Unhex(f[1], &store->name);
  if (kind == "extent" && f.size() == 5) {
    std::int32_t lba = 0;
    SectorStore::Extent e;
    if (!Number(f[1], 0, kMaxBlocks, &lba) ||
        !Number<std::uint32_t>(f[2], 1, kMaxBlocks, &e.count) ||
        !Number<std::uint32_t>(f[3], 1, kMaxSectorBytes, &e.size) ||
        !Number<std::uint64_t>(f[4], 0, std::uint64_t{1} << 48, &e.offset) ||
        std::int64_t{lba} + e.count > kMaxBlocks || store->extents.count(lba) != 0) {
      return false;
    }
    store->extents[lba] = e;
    return true;
  }
  return false;
}

// The temporary files a save writes before its rename: PATH.tmp-XXXXXX.
constexpr const char* kTemporarySuffix = ".tmp-XXXXXX";

// Temporary files of saves that never reached their rename (a writer killed mid-save):
// regular files named PATH.tmp- and six letters or digits.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = NameOf(path) + ".tmp-";
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const auto tail = std::string_view(name).substr(prefix.size());
    if (!std::all_of(tail.begin(), tail.end(), [](char c) { return std::isalnum(c) != 0; })) {
      continue;
    }
    struct stat info {};
    if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
  }
  ::closedir(dir);
}

void RemoveOtherSectorFiles(const std::string& path, const std::string& kept) {
  const std::string folder = FolderOf(path);
  const std::string prefix = NameOf(path) + ".sectors-";
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) continue;
    if (folder + name != kept) ::unlink((folder + name).c_str());
  }
  ::closedir(dir);
}

}  // namespace

bool StateFileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool CheckStateFolder(const std::string& path, std::string* error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    *error = "state file " + path + ": folder " + folder + " does not exist";
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = "state file " + path + ": " + folder + " is not a folder";
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    *error = "state file " + path + ": folder " + folder + " is not writable";
    return false;
  }
  return true;
}

std::string NewSectorFileName(const std::string& state_path) {
  for (unsigned n = 1;; ++n) {
    std::string name = state_path + ".sectors-" + std::to_string(n);
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0 && errno == ENOENT) return name;
  }
}

bool SaveMedium(Medium& medium, const std::string& path, std::string* error) {
  // The sectors first: synced in their data file before a state file refers to them. A
  // store that is not this state file's (a temporary one), or that has become mostly
  // blocks written over, is copied whole to a new data file.
  std::shared_ptr<SectorStore> store = medium.content.store;
  std::shared_ptr<SectorStore> replacement;
  if (store) {
    const std::uint64_t live = store->LiveBytes();
    const bool ours = store->Path().rfind(path + ".sectors-", 0) == 0 &&
                      store->Path().find('/', path.size()) == std::string::npos;
    const bool mostly_garbage =
        store->FileBytes() - live > std::max<std::uint64_t>(live, kCompactionSlack);
    if (!ours || mostly_garbage) {
      replacement = store->CompactInto(NewSectorFileName(path), error);
      if (!replacement) return false;
    } else if (!store->Commit(error)) {
      return false;
    }
  }
  std::string temporary = path + kTemporarySuffix;
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    *error = "state file " + path + ": cannot create a temporary file: " + std::strerror(errno);
    if (replacement) ::unlink(replacement->Path().c_str());
    return false;
  }
  Sink sink(fd);
  const bool written =
      Serialize(medium, replacement ? replacement.get() : store.get(), sink) && ::fsync(fd) == 0;
  const int saved_errno = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "state file " + path +
             ": cannot write: " + std::strerror(written && closed ? errno : saved_errno);
    ::unlink(temporary.c_str());
    if (replacement) ::unlink(replacement->Path().c_str());
    return false;
  }
  if (replacement) medium.content.store = replacement;
  // Data files of this state file that it no longer refers to (the one a copy replaced, one
  // a killed writer left half copied, those of a disc whose state file was deleted) go.
  RemoveOtherSectorFiles(path, medium.content.store ? medium.content.store->Path() : "");
  RemoveStaleTemporaries(path);
  // The rename itself is made durable with the directory that holds the file.
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0 || ::fsync(dir_fd) != 0) {
    *error = "state file " + path + ": cannot sync its directory: " + std::strerror(errno);
    if (dir_fd >= 0) ::close(dir_fd);
    return false;
  }
  ::close(dir_fd);
  return true;
}

bool LoadMedium(const std::string& path, Medium* medium, std::string* error) {
  RemoveStaleTemporaries(path);
  // Not blocking: a FIFO or a device at the path must not hold the program in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    *error = "state file " + path + ": cannot open: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "state file " + path + ": not a regular file";
    ::close(fd);
    return false;
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(done);
  Parser parser(std::move(text));
  std::vector<std::string> fields;
  if (!parser.Line(&fields) || fields.size() != 2 || fields[0] + " " + fields[1] != kMagic) {
    *error = "state file " + path + ": not a virtual disc state file";
    return false;
  }
  Medium loaded;
  StoreRecord store;
  bool ended = false;
  bool saw_medium = false;
  std::size_t line_start = parser.offset();
  while (parser.Line(&fields)) {
    if (fields.empty()) continue;
    if (fields[0] == "end" && fields.size() == 2) {
      std::uint64_t stored = 0;
      const std::string_view body = parser.text().substr(0, line_start);
      const std::string& token = fields[1];
      const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), stored);
      if (ec != std::errc() || end != token.data() + token.size() || stored != Checksum(body) ||
          parser.offset() != parser.text().size()) {
        *error = "state file " + path + ": damaged (checksum does not match)";
        return false;
      }
      ended = true;
      break;
    }
    saw_medium = saw_medium || fields[0] == "medium";
    if (!ParseRecord(fields, &store, &loaded)) {
      *error = "state file " + path + ": damaged at line " + std::to_string(parser.line_number());
      return false;
    }
    line_start = parser.offset();
  }
  if (!ended || !saw_medium) {
    *error = "state file " + path + ": incomplete (no end record)";
    return false;
  }
  if (store.name.empty() || store.name.find('/') != std::string::npos) {
    if (!store.extents.empty() || !store.name.empty()) {
      *error = "state file " + path + ": damaged (sectors without a sector file)";
      return false;
    }
  } else {
    loaded.content.store =
        SectorStore::Open(FolderOf(path) + store.name, std::move(store.extents), error);
    if (!loaded.content.store) {
      *error = "state file " + path + ": " + *error;
      return false;
    }
  }
  *medium = std::move(loaded);
  return true;
}

}  // namespace zorvane::vdrive
