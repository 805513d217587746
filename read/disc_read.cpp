#include "read/disc_read.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "base/cdtext.h"
#include "base/output_file.h"
#include "base/utilities.h"
#include "info/commands.h"
#include "info/media.h"
#include "info/outcome.h"
#include "info/run_out.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

constexpr std::size_t kRawSize = 2352;
constexpr std::size_t kFormattedQSize = 16;
constexpr std::size_t kRawSubSize = 96;
constexpr std::size_t kCommandBytes = 65535;      // one data phase
constexpr std::size_t kFlushBytes = 1024 * 1024;  // written to the files in runs of this
constexpr std::int32_t kPregapBlocks = 150;
constexpr std::int32_t kLbaOutOfRange = 0x052100;
// A track written track at once ends in run-out blocks, and the next track's pre-gap may
// not be recorded at all: the end of a track's span that answers as such holds nothing.
constexpr std::int32_t kGapBlocks = static_cast<std::int32_t>(kRunOutBlocks) + kPregapBlocks;

Console* Info() {
  return InfoConsole.load();
}

std::string MsfText(std::int64_t sectors) {
  return FormatText(32, "%02lld:%02lld:%02lld", static_cast<long long>(sectors / 4500),
                    static_cast<long long>(sectors / 75 % 60),
                    static_cast<long long>(sectors % 75));
}

// A cue sheet string: in quotes, which it cannot itself hold.
std::string Quoted(std::string text) {
  std::replace(text.begin(), text.end(), '"', '\'');
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "\"" + text + "\"";
}

void AddTexts(std::string& out, const char* indent, const std::string& title,
              const std::string& performer, const std::string& songwriter,
              const std::string& composer, const std::string& arranger,
              const std::string& message) {
  // The CD-TEXT commands of the cue sheet, as libcue reads them.
  const std::pair<const char*, const std::string*> fields[] = {
      {"TITLE", &title},       {"PERFORMER", &performer}, {"SONGWRITER", &songwriter},
      {"COMPOSER", &composer}, {"ARRANGER", &arranger},   {"MESSAGE", &message},
  };
  for (const auto& [name, value] : fields) {
    if (!value->empty()) out += std::string(indent) + name + " " + Quoted(*value) + "\n";
  }
}

int FromBcd(std::uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

bool IsBcd(std::uint8_t value) {
  return (value >> 4) < 10 && (value & 0x0F) < 10;
}

// Writes the image and the sub-channel on a thread of its own, so that the drive's next
// commands and the file system's write of the last run overlap. The reader fills a run and
// hands it over for an empty one; after a failed write the writer takes nothing more and
// the reader learns it at its next hand-over.
class RunWriter {
 public:
  static constexpr int kSpareRuns = 2;

  RunWriter(OutputFile& bin, OutputFile* sub, std::size_t bin_bytes, std::size_t sub_bytes)
      : bin_(bin), sub_(sub) {
    for (int i = 0; i < kSpareRuns; ++i) {
      free_.emplace_back();
      free_.back().first.reserve(bin_bytes);
      free_.back().second.reserve(sub_bytes);
    }
    thread_ = std::thread([this] { Loop(); });
  }
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;
  ~RunWriter() {
    std::string ignored_path;
    int ignored = 0;
    Finish(&ignored_path, &ignored);
  }

  // Hands over the filled run and gives back an empty one; false once a write has failed.
  bool Hand(std::vector<std::uint8_t>* bin, std::vector<std::uint8_t>* sub) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || !free_.empty(); });
    if (failed_) return false;
    pending_.emplace_back(std::move(*bin), std::move(*sub));
    *bin = std::move(free_.front().first);
    *sub = std::move(free_.front().second);
    free_.pop_front();
    changed_.notify_all();
    return true;
  }

  // Writes what was handed over and ends the writer; false with the file and the error
  // when a write failed.
  bool Finish(std::string* path, int* error) {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (failed_) {
      *path = failed_path_;
      *error = error_;
    }
    return !failed_;
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      if (pending_.empty()) return;  // stopped, and all written
      auto run = std::move(pending_.front());
      pending_.pop_front();
      if (!failed_) {
        lock.unlock();
        int error = 0;
        std::string failed;
        if (!bin_.Write(run.first.data(), run.first.size(), &error)) {
          failed = bin_.Target();
        } else if (sub_ != nullptr && !sub_->Write(run.second.data(), run.second.size(), &error)) {
          failed = sub_->Target();
        }
        lock.lock();
        if (!failed.empty()) {
          failed_ = true;
          failed_path_ = failed;
          error_ = error;
        }
      }
      run.first.clear();
      run.second.clear();
      free_.push_back(std::move(run));
      changed_.notify_all();
    }
  }

  using Run = std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>;
  OutputFile& bin_;
  OutputFile* sub_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Run> free_;
  std::deque<Run> pending_;
  bool stop_ = false;
  bool failed_ = false;
  std::string failed_path_;
  int error_ = 0;
  std::thread thread_;
};

// A track of the full TOC.
struct TocTrack {
  int number;
  int session;
  std::uint8_t control;
  std::int32_t start;
};

struct TocSession {
  int number;
  std::int32_t leadout = -1;
};

class DiscReader {
 public:
  explicit DiscReader(const std::shared_ptr<DiscReadJob>& job)
      : job_(*job),
        slot_(CurrentDevice.slot.load()),
        target_(CurrentDevice.target.load()),
        lun_(CurrentDevice.lun.load()),
        command_(kCommandBytes + 1) {}

  void Run();

 private:
  std::int32_t Send(const std::uint8_t* cdb, std::uint8_t* buffer, std::uint32_t length) {
    return ExecuteCdb(cdb, slot_, target_, lun_, length, buffer, kDataIn, 0);
  }
  bool ReadToc(std::vector<TocTrack>* tracks, std::vector<TocSession>* sessions);
  std::string SubChannelText(std::uint8_t format, int track, std::size_t length);
  void ReadCdText();
  // Reads the blocks [first, end) of the track at `index` of layout_.tracks.
  bool ReadSpan(std::size_t index, std::int32_t first, std::int32_t end);
  // Hands the filled run to the writer; false (the reason set) once a write failed.
  bool Flush();
  // Writes what was handed over and ends the writer; false (the reason set) when a write
  // failed.
  bool EndWriter();
  void Finish();
  void KeepPartial(ReadOutcome outcome);
  void End(ReadOutcome outcome) {
    TraceEnabled.store(1);
    job_.outcome.store(outcome);
  }
  void Fail(std::string reason) {
    job_.SetReason(std::move(reason));
    KeepPartial(ReadOutcome::kFailed);
  }

  DiscReadJob& job_;
  const std::uint8_t slot_;
  const std::uint8_t target_;
  const std::uint32_t lun_;
  std::vector<std::uint8_t> command_;
  DiscFiles files_;
  DiscLayout layout_;
  OutputFile bin_;
  OutputFile sub_;
  std::unique_ptr<RunWriter> writer_;
  std::vector<std::uint8_t> bin_buffer_;  // the run being filled
  std::vector<std::uint8_t> sub_buffer_;
  std::int64_t sectors_ = 0;        // sectors in the .bin so far
  std::uint8_t subchannel_ = 0x02;  // READ CD byte 10: 010b formatted Q, 001b raw P-W
  bool has_q_ = true;               // the drive gives the sub-channel with READ CD
};

bool DiscReader::ReadToc(std::vector<TocTrack>* tracks, std::vector<TocSession>* sessions) {
  // The full TOC (format 2): the sessions, each track's start and control, the lead-outs.
  std::uint8_t cdb[10] = {0x43, 0x00, 0x02, 0, 0, 0, 0, 0xFF, 0xFF, 0};
  std::vector<std::uint8_t> toc(0xFFFF);
  const std::int32_t result = Send(cdb, toc.data(), 0xFFFF);
  if (result != 0) {
    job_.SetReason(CommandFailed(cdb, result).reason);
    return false;
  }
  const std::size_t length = std::min<std::size_t>(ReadBe16(toc.data()) + 2u, toc.size());
  for (std::size_t at = 4; at + 11 <= length; at += 11) {
    const std::uint8_t* d = toc.data() + at;
    const int session = d[0];
    const int adr = d[1] >> 4;
    const int point = d[3];
    if (adr != 1) continue;
    const std::int32_t lba = (d[8] * 60 + d[9]) * 75 + d[10] - kPregapBlocks;
    if (point >= 1 && point <= 99) {
      tracks->push_back({point, session, static_cast<std::uint8_t>(d[1] & 0x0F), lba});
    } else if (point == 0xA2) {
      sessions->push_back({session, lba});
    }
  }
  std::sort(tracks->begin(), tracks->end(),
            [](const TocTrack& a, const TocTrack& b) { return a.start < b.start; });
  if (tracks->empty()) {
    job_.SetReason("the disc's table of contents lists no track");
    return false;
  }
  for (const TocTrack& track : *tracks) {
    const bool has_leadout = std::any_of(sessions->begin(), sessions->end(), [&](const auto& s) {
      return s.number == track.session && s.leadout > track.start;
    });
    if (!has_leadout) {
      job_.SetReason(FormatText(kConsoleTextLimit,
                                "the table of contents gives session %d no lead-out after "
                                "track %d",
                                track.session, track.number));
      return false;
    }
  }
  return true;
}

std::string DiscReader::SubChannelText(std::uint8_t format, int track, std::size_t length) {
  std::uint8_t cdb[10] = {0x42, 0x00, 0x40, format, 0, 0, static_cast<std::uint8_t>(track),
                          0,    24,   0};
  std::uint8_t answer[24] = {};
  if (Send(cdb, answer, sizeof answer) != 0 || (answer[8] & 0x80) == 0) return "";
  std::string text(reinterpret_cast<const char*>(answer + 9), length);
  // Only what a cue sheet can carry: digits (and the ISRC's letters).
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return "";
  }
  return text;
}

void DiscReader::ReadCdText() {
  // READ TOC format 5: the lead-in's CD-TEXT packs. A disc without any is refused or
  // answers the header alone.
  std::uint8_t cdb[10] = {0x43, 0x00, 0x05, 0, 0, 0, 0, 0xFF, 0xFF, 0};
  std::vector<std::uint8_t> answer(0xFFFF);
  if (Send(cdb, answer.data(), 0xFFFF) != 0) return;
  const std::size_t length = std::min<std::size_t>(ReadBe16(answer.data()) + 2u, answer.size());
  if (length <= 4) return;
  CdText text;
  int bad_crc = 0;
  std::string problem;
  const bool decoded =
      DecodeCdText(answer.data() + 4, (length - 4) / kCdTextPackSize * kCdTextPackSize, &text,
                   &bad_crc, &problem);
  if (bad_crc > 0) ConsoleLog(Info(), "CD-TEXT: %d packs with a bad CRC skipped\n", bad_crc);
  if (!decoded) {
    ConsoleLog(Info(), "CD-TEXT: %s\n", problem.c_str());
    return;
  }
  // Entry `i` of a text vector, or nothing.
  const auto at = [](const std::vector<std::string>& texts, int i) {
    return i >= 0 && static_cast<std::size_t>(i) < texts.size() ? texts[i] : std::string();
  };
  layout_.title = at(text.title, 0);
  layout_.performer = at(text.performer, 0);
  layout_.songwriter = at(text.songwriter, 0);
  layout_.composer = at(text.composer, 0);
  layout_.arranger = at(text.arranger, 0);
  layout_.message = at(text.message, 0);
  layout_.genre = text.genre_text;
  layout_.disc_id = text.disc_id;
  for (DiscTrack& track : layout_.tracks) {
    const int i = track.number - text.first_track + 1;
    if (i < 1) continue;
    track.title = at(text.title, i);
    track.performer = at(text.performer, i);
    track.songwriter = at(text.songwriter, i);
    track.composer = at(text.composer, i);
    track.arranger = at(text.arranger, i);
    track.message = at(text.message, i);
  }
}

bool DiscReader::Flush() {
  return writer_->Hand(&bin_buffer_, &sub_buffer_) || EndWriter();
}

bool DiscReader::EndWriter() {
  if (writer_ == nullptr) return true;
  std::string path;
  int error = 0;
  const bool ok = writer_->Finish(&path, &error);
  writer_.reset();
  if (!ok) {
    job_.SetReason(
        FormatText(kConsoleTextLimit, "cannot write %s: %s", path.c_str(), std::strerror(error)));
  }
  return ok;
}

bool DiscReader::ReadSpan(std::size_t index, std::int32_t first, std::int32_t end) {
  DiscTrack& track = layout_.tracks[index];
  DiscTrack* next =
      index + 1 < layout_.tracks.size() && layout_.tracks[index + 1].session == track.session
          ? &layout_.tracks[index + 1]
          : nullptr;
  const std::size_t sub_size = !has_q_ ? 0 : subchannel_ == 0x01 ? kRawSubSize : kFormattedQSize;
  const std::size_t per_sector = kRawSize + sub_size;
  const int per_command = static_cast<int>(kCommandBytes / per_sector);
  int count = per_command;
  bool first_sector = true;
  std::int32_t p = first;
  while (p < end) {
    job_.current.store(p);
    if (!job_.run.load()) {
      KeepPartial(ReadOutcome::kCancelled);
      return false;
    }
    count = std::min(count, end - p);
    std::uint8_t cdb[12] = {0xBE, 0x00, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0, 0};
    WriteBe32(static_cast<std::uint32_t>(p), cdb + 2);
    cdb[8] = static_cast<std::uint8_t>(count);
    cdb[10] = has_q_ ? subchannel_ : 0;
    const auto length = static_cast<std::uint32_t>(count * per_sector);
    // A short answer leaves zeros, not an earlier command's bytes.
    std::memset(command_.data(), 0, length);
    const std::int32_t result = Send(cdb, command_.data(), length);
    if (result == 0) {
      for (int k = 0; k < count; ++k) {
        const std::uint8_t* sector = command_.data() + k * per_sector;
        if (first_sector) {
          first_sector = false;
          if ((track.control & 0x04) != 0) {
            track.mode = sector[15] == 2 ? DiscTrack::Mode::kMode2 : DiscTrack::Mode::kMode1;
          }
        }
        bin_buffer_.insert(bin_buffer_.end(), sector, sector + kRawSize);
        if (sub_size != 0) {
          std::uint8_t q[12];
          if (subchannel_ == 0x01) {
            const std::uint8_t* pw = sector + kRawSize;
            sub_buffer_.insert(sub_buffer_.end(), pw, pw + kRawSubSize);
            for (std::size_t bit = 0; bit < 96; ++bit) {
              if (bit % 8 == 0) q[bit / 8] = 0;
              q[bit / 8] =
                  static_cast<std::uint8_t>(q[bit / 8] | (((pw[bit] >> 6) & 1) << (7 - bit % 8)));
            }
          } else {
            std::memcpy(q, sector + kRawSize, sizeof q);
          }
          // Mode 1 Q names the track and index; the next track's index 0 begins its
          // pre-gap. (Mode 2 and 3 blocks carry no position: a change of index hidden
          // behind one is seen at the block after it.)
          if ((q[0] & 0x0F) == 1 && IsBcd(q[1]) && IsBcd(q[2]) && next != nullptr &&
              next->file_index0 < 0 && FromBcd(q[1]) == next->number && q[2] == 0) {
            next->file_index0 = sectors_;
          }
        }
        ++sectors_;
      }
      if (bin_buffer_.size() >= kFlushBytes && !Flush()) {
        KeepPartial(ReadOutcome::kFailed);
        return false;
      }
      p += count;
      job_.done.fetch_add(count);
      continue;
    }
    if (count > 1) {  // one sector at a time from the one that failed
      count = 1;
      continue;
    }
    // The end of a track that holds nothing (run-out, an unrecorded pre-gap): the track
    // ends there, and the next one's pre-gap is that much longer, unrecorded.
    if ((IsRunOutAnswer(result) || result == kLbaOutOfRange) && end - p <= kGapBlocks &&
        !first_sector) {
      if (next != nullptr && next->file_index0 < 0) next->unrecorded_pregap = end - p;
      job_.done.fetch_add(end - p);
      return true;
    }
    TraceEnabled.store(1);
    Send(cdb, command_.data(), length);  // once more, traced, so the console shows it
    Fail(FormatText(kConsoleTextLimit, "read failed at sector %d: %s", p,
                    CommandFailed(cdb, result).reason.c_str()));
    return false;
  }
  return true;
}

void DiscReader::KeepPartial(ReadOutcome outcome) {
  // What was read before the end is written; whole sectors only.
  if (bin_.IsOpen()) {
    if (writer_ != nullptr && writer_->Hand(&bin_buffer_, &sub_buffer_)) bin_buffer_.clear();
    (void)EndWriter();
    const std::int64_t whole = std::min<std::int64_t>(
        bin_.Written() / static_cast<std::int64_t>(kRawSize),
        sub_.IsOpen() ? sub_.Written() / static_cast<std::int64_t>(kRawSubSize) : INT64_MAX);
    // The sub-channel file is kept only when it was cut to the same whole sectors: one that
    // holds more or fewer than the image would not match it.
    bool sub_whole = false;
    if (whole > 0 &&
        ::ftruncate(bin_.Descriptor(), static_cast<off_t>(whole * std::int64_t{kRawSize})) == 0 &&
        sub_.IsOpen()) {
      sub_whole = ::ftruncate(sub_.Descriptor(),
                              static_cast<off_t>(whole * std::int64_t{kRawSubSize})) == 0;
    }
    int error = 0;
    const std::string part = whole > 0 ? bin_.KeepPartial(&error) : std::string();
    if (whole == 0) bin_.Abandon();
    if (sub_.IsOpen()) {
      if (whole > 0 && sub_whole) {
        (void)sub_.KeepPartial(&error);
      } else {
        sub_.Abandon();
      }
    }
    if (!part.empty()) {
      const std::string kept = FormatText(kConsoleTextLimit, "kept %lld sectors in %s",
                                          static_cast<long long>(whole), part.c_str());
      ConsoleLog(Info(), "%s\n", kept.c_str());
      job_.SetKept(kept);
    }
  }
  End(outcome);
}

void DiscReader::Finish() {
  int error = 0;
  if (!Flush() || !EndWriter()) {
    KeepPartial(ReadOutcome::kFailed);
    return;
  }
  // The image first, the cue sheet that names it last: a cue sheet is never left without
  // its image.
  std::string failed;
  if (!bin_.Commit(&error)) failed = files_.bin;
  if (failed.empty() && sub_.IsOpen() && !sub_.Commit(&error)) failed = files_.sub;
  if (failed.empty()) {
    OutputFile cue;
    const std::string bin_name = files_.bin.substr(files_.bin.find_last_of('/') + 1);
    const std::string text = CueSheetText(layout_, bin_name);
    if (!cue.Create(files_.cue, &error) || !cue.Write(text.data(), text.size(), &error) ||
        !cue.Commit(&error)) {
      failed = files_.cue;
    }
  }
  if (!failed.empty()) {
    job_.SetReason(
        FormatText(kConsoleTextLimit, "cannot write %s: %s", failed.c_str(), std::strerror(error)));
    End(ReadOutcome::kFailed);
    return;
  }
  End(ReadOutcome::kFinished);
}

void DiscReader::Run() {
  if (!DiscFilesOf(job_.disc.cue_path, &files_)) {
    job_.SetReason(job_.disc.cue_path + " does not end in .cue");
    End(ReadOutcome::kNotOpened);
    return;
  }
  // The three outputs are three files: a name that leads to another (through a link) is
  // refused before anything is opened.
  for (const auto& [output, others] :
       {std::pair{files_.cue, std::vector<std::string>{files_.bin, files_.sub}},
        std::pair{files_.bin, std::vector<std::string>{files_.sub}}}) {
    if (std::string conflict = OutputConflict(output, others); !conflict.empty()) {
      job_.SetReason(conflict);
      End(ReadOutcome::kNotOpened);
      return;
    }
  }
  std::vector<std::uint8_t> probe(kReplyBufferSize);
  const std::uint8_t code = ProbeMediumType(0, probe.data());
  if (code == kMediumNoDisc || code == kMediumDoorOpen) {
    job_.SetReason(code == kMediumNoDisc ? "no disc in the drive" : "the drive's door is open");
    End(ReadOutcome::kFailed);
    return;
  }
  if (IsDvdMedium(code)) {
    job_.SetReason("the disc is no CD: a whole disc is read to BIN/CUE from CDs only");
    End(ReadOutcome::kFailed);
    return;
  }
  std::vector<TocTrack> toc;
  std::vector<TocSession> sessions;
  if (!ReadToc(&toc, &sessions)) {
    End(ReadOutcome::kFailed);
    return;
  }
  layout_.catalogue = SubChannelText(0x02, 0, 13);
  for (const TocTrack& t : toc) {
    DiscTrack track;
    track.number = t.number;
    track.session = t.session;
    track.control = t.control;
    track.mode = (t.control & 0x04) != 0 ? DiscTrack::Mode::kMode1 : DiscTrack::Mode::kAudio;
    if ((t.control & 0x04) == 0) track.isrc = SubChannelText(0x03, t.number, 12);
    layout_.tracks.push_back(track);
  }
  ReadCdText();

  // Each track's span: from its start to the next track's start or its session's lead-out.
  std::vector<std::int32_t> ends;
  std::int64_t total = 0;
  for (std::size_t i = 0; i < toc.size(); ++i) {
    std::int32_t end = 0;
    for (const TocSession& s : sessions) {
      if (s.number == toc[i].session) end = s.leadout;
    }
    if (i + 1 < toc.size() && toc[i + 1].session == toc[i].session) end = toc[i + 1].start;
    ends.push_back(end);
    total += end - toc[i].start;
  }

  // Whether the drive gives the sub-channel with READ CD; without it the cue sheet has the
  // TOC's starts only (no index 0).
  subchannel_ = job_.disc.subchannel ? 0x01 : 0x02;
  {
    std::uint8_t cdb[12] = {0xBE, 0x00, 0, 0, 0, 0, 0, 0, 1, 0x00, subchannel_, 0};
    WriteBe32(static_cast<std::uint32_t>(toc.front().start), cdb + 2);
    has_q_ = Send(cdb, command_.data(), subchannel_ == 0x01 ? kRawSubSize : kFormattedQSize) == 0;
    if (!has_q_ && job_.disc.subchannel) {
      job_.SetReason("the drive gives no raw P-W sub-channel with READ CD");
      End(ReadOutcome::kFailed);
      return;
    }
  }

  int error = 0;
  for (const auto& [file, path] : {std::pair{&bin_, &files_.bin}, std::pair{&sub_, &files_.sub}}) {
    if (file == &sub_ && !job_.disc.subchannel) continue;
    if (!file->Create(*path, &error)) {
      ConsoleLog(Info(), "檔案 %s 無法被開啟, errorcode=%i\n", path->c_str(), error);
      job_.SetReason(error == ENODEV ? *path + " is not a regular file (a device or FIFO)"
                                     : FormatText(kConsoleTextLimit, "cannot create %s: %s",
                                                  path->c_str(), std::strerror(error)));
      bin_.Abandon();
      End(ReadOutcome::kNotOpened);
      return;
    }
  }
  const std::size_t bin_bytes = kFlushBytes + kCommandBytes;
  const std::size_t sub_bytes = job_.disc.subchannel ? kFlushBytes / 24 + kCommandBytes : 0;
  bin_buffer_.reserve(bin_bytes);
  sub_buffer_.reserve(sub_bytes);
  writer_ = std::make_unique<RunWriter>(bin_, job_.disc.subchannel ? &sub_ : nullptr, bin_bytes,
                                        sub_bytes);
  job_.total.store(total);
  job_.current.store(toc.front().start);
  job_.started.store(true);
  TraceEnabled.store(0);
  for (std::size_t i = 0; i < toc.size(); ++i) {
    layout_.tracks[i].file_index1 = sectors_;
    if (!ReadSpan(i, toc[i].start, ends[i])) return;
  }
  job_.current.store(ends.back());
  Finish();
}

}  // namespace

std::string CueSheetText(const DiscLayout& layout, const std::string& bin_name) {
  std::string out;
  if (!layout.catalogue.empty()) out += "CATALOG " + layout.catalogue + "\n";
  if (!layout.genre.empty()) out += "REM GENRE " + Quoted(layout.genre) + "\n";
  if (!layout.disc_id.empty()) out += "REM DISC_ID " + Quoted(layout.disc_id) + "\n";
  AddTexts(out, "", layout.title, layout.performer, layout.songwriter, layout.composer,
           layout.arranger, layout.message);
  const bool sessions =
      !layout.tracks.empty() && layout.tracks.back().session != layout.tracks.front().session;
  int session = 0;
  for (std::size_t i = 0; i < layout.tracks.size(); ++i) {
    const DiscTrack& t = layout.tracks[i];
    if (sessions && t.session != session) {
      out += FormatText(32, "REM SESSION %02d\n", t.session);
    }
    if (i == 0) out += "FILE " + Quoted(bin_name) + " BINARY\n";
    session = t.session;
    const char* mode = t.mode == DiscTrack::Mode::kAudio   ? "AUDIO"
                       : t.mode == DiscTrack::Mode::kMode1 ? "MODE1/2352"
                                                           : "MODE2/2352";
    out += FormatText(64, "  TRACK %02d %s\n", t.number, mode);
    std::string flags;
    if (t.control & 0x02) flags += " DCP";
    if (t.control & 0x08) flags += " 4CH";
    if (t.control & 0x01) flags += " PRE";
    if (!flags.empty()) out += "    FLAGS" + flags + "\n";
    if (!t.isrc.empty()) out += "    ISRC " + t.isrc + "\n";
    AddTexts(out, "    ", t.title, t.performer, t.songwriter, t.composer, t.arranger, t.message);
    if (t.unrecorded_pregap > 0) out += "    PREGAP " + MsfText(t.unrecorded_pregap) + "\n";
    if (t.file_index0 >= 0 && t.file_index0 < t.file_index1) {
      out += "    INDEX 00 " + MsfText(t.file_index0) + "\n";
    }
    out += "    INDEX 01 " + MsfText(t.file_index1) + "\n";
  }
  return out;
}

bool DiscFilesOf(const std::string& cue_path, DiscFiles* files) {
  if (cue_path.size() < 5) return false;
  std::string tail = cue_path.substr(cue_path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (tail != ".cue" || cue_path[cue_path.size() - 5] == '/') return false;
  const std::string base = cue_path.substr(0, cue_path.size() - 4);
  *files = {cue_path, base + ".bin", base + ".sub"};
  return true;
}

void DiscReadWorker(const std::shared_ptr<DiscReadJob>& job) {
  static const bool ignore_file_size_signal = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)ignore_file_size_signal;
  DiscReader(job).Run();
}

void StartDiscReadWorker(std::shared_ptr<DiscReadJob> job) {
  std::thread([job = std::move(job)] { DiscReadWorker(job); }).detach();
}

}  // namespace zorvane
