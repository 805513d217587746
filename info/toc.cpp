#include "info/toc.h"

#include <algorithm>

#include "base/utilities.h"
#include "info/checks.h"
#include "info/commands.h"
#include "info/manufacturer.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"

namespace zorvane {

TrackTable TrackList;

void TrackTable::Set(int row, const TrackEntry& entry) {
  if (row < 0 || row >= kTrackRows) return;
  std::lock_guard lock(mutex_);
  rows_[static_cast<std::size_t>(row)] = entry;
}

TrackEntry TrackTable::Get(int row) const {
  if (row < 0 || row >= kTrackRows) return {};
  std::lock_guard lock(mutex_);
  return rows_[static_cast<std::size_t>(row)];
}

void TrackTable::Clear() {
  std::lock_guard lock(mutex_);
  rows_.fill(TrackEntry{});
}

void TrackTable::ClearFirstRow() {
  std::lock_guard lock(mutex_);
  rows_[0] = TrackEntry{};
}

namespace {

constexpr std::uint8_t kFormattedToc[10] = {0x43, 0x00, 0x00, 0x00, 0x00,
                                            0x00, 0x00, 0x00, 0xFF, 0x00};

double Megabytes(std::int32_t blocks, int block_size) {
  return static_cast<double>(static_cast<float>(blocks) * static_cast<float>(block_size) / 1024.0F /
                             1024.0F);
}

std::int32_t Address24(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(bytes[0]) << 16 | static_cast<std::int32_t>(bytes[1]) << 8 |
         bytes[2];
}

bool IsAudio(std::uint8_t adr_control) {
  return (adr_control & 0x04) == 0;
}

void DecodeDvdToc(std::uint8_t* reply, TocReport* report) {
  std::size_t answered = 0;
  if (QueryWholeTable(kFormattedToc, reply, &answered) != 0) return;
  report->table_read = true;
  report->raw.assign(reply, reply + answered);
  report->data_length = reply[0] << 8 | reply[1];
  report->first = reply[2];
  report->last = reply[3];
  if (report->data_length == 0) return;
  // The descriptors the drive sent, the last of which is the lead-out.
  const int sent = answered >= 4 ? static_cast<int>((answered - 4) / 8) : 0;
  const int rows = std::min((report->data_length - 2) / 8 - 1, sent - 1);
  for (int i = 0; i < rows; ++i) {
    const std::uint8_t* d = reply + 4 + 8 * i;
    TocTrack track;
    track.track = d[2];
    track.adr_control = d[1];
    track.start = Address24(d + 5);
    track.length = Address24(d + 8 + 5) - track.start;
    TrackList.Set(i, TrackEntry{d[2], d[1], track.start, track.start + track.length - 1});
    report->tracks.push_back(track);
  }
}

void PrintDvdToc(Console* console, const TocReport& report) {
  if (!report.table_read) {
    ConsoleLog(console, "光碟片尚未存在碟軌目錄\n");
    return;
  }
  if (report.data_length == 0) return;
  ConsoleLog(console, "目錄上共存在%i條碟軌\n", report.last - report.first + 1);
  ConsoleLog(console, "\n");
  ConsoleLog(console, "軌號  模式        開始位址   長度\n");
  for (const TocTrack& t : report.tracks) {
    const std::int32_t length = t.length;
    ConsoleLog(console, "%02i    ", t.track);
    ConsoleLog(console, "%02Xh", t.adr_control);
    ConsoleLog(console, "%s", IsAudio(t.adr_control) ? "(音軌)   " : "(資料軌) ");
    ConsoleLog(console, "%06Xh    ", static_cast<unsigned>(t.start));
    ConsoleLog(console, "%06Xh    ", static_cast<unsigned>(length));
    if (t.adr_control == 0x10) {
      ConsoleLog(console, "%02i:%02i:%02i (%.0f MB)", length / 4500, length % 4500 / 75,
                 length % 4500 % 75, Megabytes(length, 2352));
    } else {
      ConsoleLog(console, "%.2f MB   ", Megabytes(length, 2048));
    }
    ConsoleLog(console, "\n");
  }
  ConsoleLog(console, "\n");
}

// One raw TOC or PMA descriptor (11 bytes).
struct Descriptor {
  const std::uint8_t* d;
  std::uint8_t session() const { return d[0]; }
  std::uint8_t adr_control() const { return d[1]; }
  std::uint8_t point() const { return d[3]; }
  std::int32_t time() const { return MsfToLba(d + 4); }
  std::int32_t p_time() const { return MsfToLba(d + 8); }
};

TocTrack TrackOf(const Descriptor& t, std::int32_t start, std::int32_t length) {
  TocTrack track;
  track.track = t.point();
  track.session = t.session();
  track.adr_control = t.adr_control();
  track.start = start;
  track.length = length;
  track.time = {t.d[4], t.d[5], t.d[6]};
  track.p_time = {t.d[8], t.d[9], t.d[10]};
  return track;
}

std::int32_t LbaOf(const std::array<std::uint8_t, 3>& msf) {
  return MsfToLba(msf.data());
}

void PrintTrackTimes(Console* console, const TocTrack& t, bool with_stop) {
  const bool audio = IsAudio(t.adr_control);
  const std::int32_t length = t.length;
  ConsoleLog(console, "%s", audio ? "(音軌)    " : "(資料軌)  ");
  ConsoleLog(console, "%02i:%02i:%02i   ", t.p_time[0], t.p_time[1], t.p_time[2]);
  if (with_stop) ConsoleLog(console, "%02i:%02i:%02i   ", t.time[0], t.time[1], t.time[2]);
  if (audio) {
    ConsoleLog(console, "%02i:%02i:%02i (%.2f MB)", length / 4500, length % 4500 / 75,
               length % 4500 % 75, Megabytes(length, 2352));
  } else {
    ConsoleLog(console, "%i (%.2f MB)", length, Megabytes(length, 2048));
  }
  ConsoleLog(console, "\n");
}

void DecodeCdToc(std::uint8_t* reply, TocReport* report) {
  std::size_t answered = 0;
  if (QueryWholeTable(cdb::kReadRawToc, reply, &answered) != 0) return;
  report->table_read = true;
  report->raw.assign(reply, reply + answered);
  report->data_length = reply[0] << 8 | reply[1];
  report->first = reply[2];
  report->last = reply[3];
  const std::size_t count = answered >= 4 ? (answered - 4) / 11 : 0;
  auto at = [reply](std::size_t i) { return Descriptor{reply + 4 + 11 * i}; };
  int last_track = -1;  // of the session being read (POINT A1h)
  std::int32_t lead_out = 0;
  bool have_lead_out = false;
  for (std::size_t i = 0; i < count; ++i) {
    const Descriptor t = at(i);
    const std::uint8_t point = t.point();
    if (point >= 1 && point <= 99) {
      const std::int32_t start = t.p_time();
      // The session's last track ends at its lead-out; any other at the next descriptor's
      // time, or at the lead-out when it is the last descriptor sent.
      const bool ends_at_lead_out = have_lead_out && (point == last_track || i + 1 >= count);
      std::int32_t end = start;
      if (ends_at_lead_out) {
        end = lead_out;
      } else if (i + 1 < count) {
        end = at(i + 1).p_time();
      }
      const std::int32_t length = end - start;
      TrackList.Set(point - 1, TrackEntry{point, t.adr_control(), start, start + length - 1});
      report->tracks.push_back(TrackOf(t, start, length));
      report->entries.push_back(true);
      continue;
    }
    if (point == 0xA1) {
      last_track = t.d[8];
    } else if (point == 0xA2) {
      lead_out = t.p_time();
      have_lead_out = true;
    }
    report->points.push_back(TocPoint{t.session(),
                                      t.adr_control(),
                                      point,
                                      {t.d[4], t.d[5], t.d[6]},
                                      t.d[7],
                                      {t.d[8], t.d[9], t.d[10]}});
    report->entries.push_back(false);
  }
}

void PrintCdToc(Console* console, const TocReport& report) {
  if (!report.table_read) {
    ConsoleLog(console, "不存在目錄(TOC)\n");
    return;
  }
  if (report.first != 0) {
    ConsoleLog(console, "目錄(TOC)上共存在 %i 個節區(Sesstion)\n", report.last - report.first + 1);
  }
  for (const TocPoint& t : report.points) {
    if (t.point != 0xC0) continue;
    ConsoleLog(console, "雷射功能建議值%02Xh, 引入區開始位置: %02dm%02ds%02df(%s)\n", t.time[0],
               t.p_time[0], t.p_time[1], t.p_time[2], AtipMakerName(t.p_time[1], t.p_time[2]));
  }
  std::size_t next_track = 0;
  std::size_t next_point = 0;
  for (const bool is_track : report.entries) {
    if (is_track) {
      const TocTrack& t = report.tracks[next_track++];
      ConsoleLog(console, "%02i    ", t.track);
      ConsoleLog(console, "%02Xh", t.adr_control);
      PrintTrackTimes(console, t, false);
      continue;
    }
    const TocPoint& t = report.points[next_point++];
    if (t.point == 0xA0) {
      ConsoleLog(console, "\n");
      ConsoleLog(console, "節區 %i :\n", t.session);
      switch (t.p_time[1]) {
        case 0x00:
          ConsoleLog(console, "資料格式為CD-DA或CD-ROM Mode1\n");
          break;
        case 0x10:
          ConsoleLog(console, "資料格式為CD-I\n");
          break;
        case 0x20:
          ConsoleLog(console, "資料格式為CD-ROM XA(Mode2)\n");
          break;
        default:
          break;
      }
    } else if (t.point == 0xA2) {
      ConsoleLog(console, "節區引出區開始位置: %02dm%02ds%02df\n", t.p_time[0], t.p_time[1],
                 t.p_time[2]);
      ConsoleLog(console, "軌號  模式         開始位址   長度\n");
    } else if (t.point == 0xB0) {
      ConsoleLog(console, "下一個可燒錄位置: %02dm%02ds%02df(%i)\n", t.time[0], t.time[1],
                 t.time[2], LbaOf(t.time));
      ConsoleLog(console, "光碟片引出區開始位置: %02dm%02ds%02df(%i)\n", t.p_time[0], t.p_time[1],
                 t.p_time[2], LbaOf(t.p_time));
    }
  }
  ConsoleLog(console, "\n");
}

void DecodePma(std::uint8_t* reply, TocReport* report) {
  std::size_t answered = 0;
  report->pma = TocReport::Pma::kRefused;
  if (QueryWholeTable(cdb::kReadPma, reply, &answered) != 0) return;
  const int data_length = reply[0] << 8 | reply[1];
  if (data_length < 10) {
    report->pma = TocReport::Pma::kEmpty;
    return;
  }
  report->pma = TocReport::Pma::kRead;
  const std::size_t count = answered >= 4 ? (answered - 4) / 11 : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Descriptor t{reply + 4 + 11 * i};
    const std::uint8_t point = t.point();
    if (point < 1 || point > 99) continue;
    const std::int32_t start = t.p_time();
    const std::int32_t stop = t.time();
    TrackList.Set(point - 1, TrackEntry{point, t.adr_control(), start, stop - 1});
    report->pma_tracks.push_back(TrackOf(t, start, stop - start));
  }
}

void PrintPma(Console* console, const TocReport& report) {
  if (report.pma == TocReport::Pma::kEmpty) ConsoleLog(console, "不存在程式記憶區(PMA)\n");
  if (report.pma != TocReport::Pma::kRead) return;
  ConsoleLog(console, "\n");
  ConsoleLog(console, "程式記憶區(PMA)內容\n");
  ConsoleLog(console, "軌號  模式         開始位址   結束位址   長度\n");
  for (const TocTrack& t : report.pma_tracks) {
    ConsoleLog(console, "%02i    ", t.track);
    ConsoleLog(console, "%02Xh", t.adr_control);
    PrintTrackTimes(console, t, true);
  }
}

// `with_session`: the raw TOC's descriptors name their session; the PMA's and the DVD's do not.
void TracksJson(JsonWriter& json, const std::vector<TocTrack>& tracks, bool with_session) {
  json.BeginArray();
  for (const TocTrack& t : tracks) {
    json.BeginObject().Key("track").Unsigned(t.track);
    if (with_session) json.Key("session").Unsigned(t.session);
    json.Key("adr_control")
        .Unsigned(t.adr_control)
        .Key("audio")
        .Bool(IsAudio(t.adr_control))
        .Key("start")
        .Number(std::int64_t{t.start})
        .Key("length")
        .Number(std::int64_t{t.length})
        .Key("last")
        .Number(std::int64_t{t.start} + t.length - 1)
        .EndObject();
  }
  json.EndArray();
}

}  // namespace

void DecodeTableOfContents(std::uint8_t code, TocReport* report) {
  *report = TocReport{};
  report->medium_code = code;
  report->dvd = IsDvdMedium(code);
  if (report->dvd) {
    DecodeDvdToc(ReplyBuffer, report);
    return;
  }
  DecodeCdToc(ReplyBuffer, report);
  if (code >= 0x10 && code <= 0x2F) DecodePma(ReplyBuffer, report);
}

void PrintTableOfContents(Console* console, const TocReport& report) {
  if (report.dvd) {
    PrintDvdToc(console, report);
    return;
  }
  PrintCdToc(console, report);
  PrintPma(console, report);
}

void TableOfContentsJson(JsonWriter& json, const TocReport& report) {
  json.Key("medium_code").Unsigned(report.medium_code);
  json.Key("disc").String(report.dvd ? "dvd" : "cd");
  json.Key("table_read").Bool(report.table_read);
  json.Key(report.dvd ? "first_track" : "first_session").Unsigned(report.first);
  json.Key(report.dvd ? "last_track" : "last_session").Unsigned(report.last);
  json.Key("tracks");
  TracksJson(json, report.tracks, !report.dvd);
  if (!report.dvd) {
    json.Key("points").BeginArray();
    for (const TocPoint& t : report.points) {
      json.BeginObject()
          .Key("session")
          .Unsigned(t.session)
          .Key("point")
          .Unsigned(t.point)
          .Key("adr_control")
          .Unsigned(t.adr_control)
          .Key("time")
          .BeginArray()
          .Unsigned(t.time[0])
          .Unsigned(t.time[1])
          .Unsigned(t.time[2])
          .EndArray()
          .Key("p_time")
          .BeginArray()
          .Unsigned(t.p_time[0])
          .Unsigned(t.p_time[1])
          .Unsigned(t.p_time[2])
          .EndArray()
          .EndObject();
    }
    json.EndArray();
    json.Key("pma");
    if (report.pma == TocReport::Pma::kRead) {
      TracksJson(json, report.pma_tracks, false);
    } else {
      json.Null();
    }
  }
  json.Key("raw").Hex(report.raw.data(), report.raw.size());
}

Outcome ShowTableOfContents(Dialog& window) {
  Console* console = InfoConsole.load();
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return ProbeFailed(code);
  TrackList.ClearFirstRow();
  TocReport report;
  DecodeTableOfContents(code, &report);
  PrintTableOfContents(console, report);
  return Succeeded();
}

}  // namespace zorvane
