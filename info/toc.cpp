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

void ShowDvdToc(Console* console, std::uint8_t* reply) {
  std::size_t answered = 0;
  if (QueryWholeTable(kFormattedToc, reply, &answered) != 0) {
    ConsoleLog(console, "光碟片尚未存在碟軌目錄\n");
    return;
  }
  const int data_length = reply[0] << 8 | reply[1];
  if (data_length == 0) return;
  ConsoleLog(console, "目錄上共存在%i條碟軌\n", reply[3] - reply[2] + 1);
  ConsoleLog(console, "\n");
  ConsoleLog(console, "軌號  模式        開始位址   長度\n");
  // The descriptors the drive sent, the last of which is the lead-out.
  const int sent = answered >= 4 ? static_cast<int>((answered - 4) / 8) : 0;
  const int rows = std::min((data_length - 2) / 8 - 1, sent - 1);
  for (int i = 0; i < rows; ++i) {
    const std::uint8_t* d = reply + 4 + 8 * i;
    const std::int32_t start = Address24(d + 5);
    const std::int32_t length = Address24(d + 8 + 5) - start;
    TrackList.Set(i, TrackEntry{d[2], d[1], start, start + length - 1});
    ConsoleLog(console, "%02i    ", d[2]);
    ConsoleLog(console, "%02Xh", d[1]);
    ConsoleLog(console, "%s", IsAudio(d[1]) ? "(音軌)   " : "(資料軌) ");
    ConsoleLog(console, "%06Xh    ", static_cast<unsigned>(start));
    ConsoleLog(console, "%06Xh    ", static_cast<unsigned>(length));
    if (d[1] == 0x10) {
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

void PrintTrackTimes(Console* console, const Descriptor& t, std::int32_t length, bool with_stop) {
  const std::uint8_t* d = t.d;
  const bool audio = IsAudio(t.adr_control());
  ConsoleLog(console, "%s", audio ? "(音軌)    " : "(資料軌)  ");
  ConsoleLog(console, "%02i:%02i:%02i   ", d[8], d[9], d[10]);
  if (with_stop) ConsoleLog(console, "%02i:%02i:%02i   ", d[4], d[5], d[6]);
  if (audio) {
    ConsoleLog(console, "%02i:%02i:%02i (%.2f MB)", length / 4500, length % 4500 / 75,
               length % 4500 % 75, Megabytes(length, 2352));
  } else {
    ConsoleLog(console, "%i (%.2f MB)", length, Megabytes(length, 2048));
  }
  ConsoleLog(console, "\n");
}

void ShowCdToc(Console* console, std::uint8_t* reply) {
  std::size_t answered = 0;
  if (QueryWholeTable(cdb::kReadRawToc, reply, &answered) != 0) {
    ConsoleLog(console, "不存在目錄(TOC)\n");
    return;
  }
  if (reply[2] != 0) {
    ConsoleLog(console, "目錄(TOC)上共存在 %i 個節區(Sesstion)\n", reply[3] - reply[2] + 1);
  }
  const std::size_t count = answered >= 4 ? (answered - 4) / 11 : 0;
  auto at = [reply](std::size_t i) { return Descriptor{reply + 4 + 11 * i}; };
  for (std::size_t i = 0; i < count; ++i) {
    const Descriptor t = at(i);
    if (t.point() != 0xC0) continue;
    ConsoleLog(console, "雷射功能建議值%02Xh, 引入區開始位置: %02dm%02ds%02df(%s)\n", t.d[4],
               t.d[8], t.d[9], t.d[10], AtipMakerName(t.d[9], t.d[10]));
  }
  int last_track = -1;  // of the session being read (POINT A1h)
  std::int32_t lead_out = 0;
  bool have_lead_out = false;
  for (std::size_t i = 0; i < count; ++i) {
    const Descriptor t = at(i);
    const std::uint8_t point = t.point();
    if (point == 0xA0) {
      ConsoleLog(console, "\n");
      ConsoleLog(console, "節區 %i :\n", t.session());
      switch (t.d[9]) {
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
    } else if (point == 0xA1) {
      last_track = t.d[8];
    } else if (point == 0xA2) {
      lead_out = t.p_time();
      have_lead_out = true;
      ConsoleLog(console, "節區引出區開始位置: %02dm%02ds%02df\n", t.d[8], t.d[9], t.d[10]);
      ConsoleLog(console, "軌號  模式         開始位址   長度\n");
    } else if (point == 0xB0) {
      ConsoleLog(console, "下一個可燒錄位置: %02dm%02ds%02df(%i)\n", t.d[4], t.d[5], t.d[6],
                 t.time());
      ConsoleLog(console, "光碟片引出區開始位置: %02dm%02ds%02df(%i)\n", t.d[8], t.d[9], t.d[10],
                 t.p_time());
    } else if (point >= 1 && point <= 99) {
      ConsoleLog(console, "%02i    ", point);
      ConsoleLog(console, "%02Xh", t.adr_control());
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
      PrintTrackTimes(console, t, length, false);
    }
  }
  ConsoleLog(console, "\n");
}

void ShowPma(Console* console, std::uint8_t* reply) {
  std::size_t answered = 0;
  if (QueryWholeTable(cdb::kReadPma, reply, &answered) != 0) return;
  const int data_length = reply[0] << 8 | reply[1];
  if (data_length < 10) {
    ConsoleLog(console, "不存在程式記憶區(PMA)\n");
    return;
  }
  ConsoleLog(console, "\n");
  ConsoleLog(console, "程式記憶區(PMA)內容\n");
  ConsoleLog(console, "軌號  模式         開始位址   結束位址   長度\n");
  const std::size_t count = answered >= 4 ? (answered - 4) / 11 : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Descriptor t{reply + 4 + 11 * i};
    const std::uint8_t point = t.point();
    if (point < 1 || point > 99) continue;
    ConsoleLog(console, "%02i    ", point);
    ConsoleLog(console, "%02Xh", t.adr_control());
    const std::int32_t start = t.p_time();
    const std::int32_t stop = t.time();
    TrackList.Set(point - 1, TrackEntry{point, t.adr_control(), start, stop - 1});
    PrintTrackTimes(console, t, stop - start, true);
  }
}

}  // namespace

Outcome ShowTableOfContents(Dialog& window) {
  Console* console = InfoConsole.load();
  std::uint8_t code = 0;
  if (!ClearAndProbe(window, &code)) return ProbeFailed(code);
  TrackList.ClearFirstRow();
  if (IsDvdMedium(code)) {
    ShowDvdToc(console, ReplyBuffer);
    return Succeeded();
  }
  ShowCdToc(console, ReplyBuffer);
  if (code >= 0x10 && code <= 0x2F) ShowPma(console, ReplyBuffer);
  return Succeeded();
}

}  // namespace zorvane
