// The reports against virtual drives: presets and quirks of real media, through the same
// calls the window's buttons make.
#include <gtest/gtest.h>

#include <string>

#include "app/main_commands.h"
#include "base/templates.h"
#include "info/capabilities.h"
#include "info/capacity.h"
#include "info/manufacturer.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"

namespace zorvane {
namespace {

class ReportScenarioTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    window_.SetChecked(kClearCommandPane, true);
    window_.SetChecked(kClearInfoPane, true);
    TrackList.Clear();
  }
  void Insert(const std::string& spec) {
    CloseAllDevices();
    DevicePaths[0] = "virtual:" + spec;
  }
  std::string Info() { return info_console_.Text(); }

  MemoryDialog window_;
};

TEST_F(ReportScenarioTest, CdRMakerFromTheAtipLeadInTime) {
  Insert("cdr-blank");
  PressManufacturer(window_);
  EXPECT_EQ(Info().rfind("製造商是: ATIP Start Time of lead-in: 97:24:01(Taiyo Yuden)\n\n\n"
                         "光碟片寫入速率:\n",
                         0),
            0U);
  Insert("cdr-blank,atip=97:29:05");
  PressManufacturer(window_);
  EXPECT_EQ(Info().rfind("製造商是: ATIP Start Time of lead-in: 97:29:05(Harmonic Hall)\n", 0), 0U);
  Insert("cdr-blank,atip=97:59:00");
  PressManufacturer(window_);
  EXPECT_EQ(Info().rfind("製造商是: ATIP Start Time of lead-in: 97:59:00(UNKNOWN)\n", 0), 0U);
}

TEST_F(ReportScenarioTest, CdWriteSpeedsUseTheCdDivisor) {
  Insert("cdr-blank");
  PressManufacturer(window_);
  const std::string text = Info();
  const std::size_t list = text.find("光碟片寫入速率:\n");
  ASSERT_NE(list, std::string::npos);
  // Every listed speed is a CD speed: factor = KB/s / 176.5, one decimal.
  EXPECT_NE(text.find("40.0x (7056 KB/s)\n", list), std::string::npos);
  EXPECT_EQ(text.find("KB/s(", list), std::string::npos);
}

TEST_F(ReportScenarioTest, BlankCdRCapacityFromItsLeadOut) {
  Insert("cdr-blank");
  ShowCapacity(window_);
  EXPECT_EQ(Info(),
            "CD-R光碟片容量為(由引出區Leat-out開始時間計算): 79:59:74(359999個碟區) \n"
            "CD-R光碟片容量為(由未燒錄區塊Free Block數計算): 79:57:74(359849個碟區) \n");
  Insert("cdr-blank,leadout=74:59:74");
  ShowCapacity(window_);
  EXPECT_EQ(
      Info().rfind("CD-R光碟片容量為(由引出區Leat-out開始時間計算): 74:59:74(337499個碟區) \n", 0),
      0U);
}

TEST_F(ReportScenarioTest, WithoutAtipTheDiscInformationGivesTheLeadOutAndNoClosedLine) {
  Insert("cdr-open,quirk=noatip");
  ShowCapacity(window_);
  const std::string text = Info();
  EXPECT_EQ(
      text.rfind("CD-R光碟片容量為(由引出區Leat-out開始時間計算): 79:59:74(359999個碟區) \n", 0),
      0U);
  // READ CAPACITY answers 0 while the only session is open, as drives do: no written line.
  EXPECT_EQ(text.find("CD-R光碟片共寫入: "), std::string::npos);
  EXPECT_EQ(text.find("光碟片已Close Disc"), std::string::npos);
  // With the ATIP read, the same disc with its session still open is not closed either;
  // once the session and the disc are closed, the closed-disc line follows the written
  // size.
  info_console_.Clear();
  Insert("cdr-open");
  ShowCapacity(window_);
  EXPECT_EQ(Info().find("CD-R光碟片共寫入: "), std::string::npos);
  EXPECT_EQ(Info().find("光碟片已Close Disc"), std::string::npos);
  info_console_.Clear();
  Insert("cdr-closed");
  ShowCapacity(window_);
  EXPECT_NE(Info().find("個碟區\n光碟片已Close Disc\n"), std::string::npos);
}

TEST_F(ReportScenarioTest, PressedCdAndDvdPlusRSizes) {
  Insert("cdrom,blocks=333001");  // last address 333,000
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "光碟片中共存在: 333000個碟區(650.39MB)\n");
  Insert("dvd+r");
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "DVD+R光碟片容量為: 2295104個碟區(4.38GB)\n");
}

// The "m s f" of a "...: MMmSSsFFf" line after `from`, as a block address.
int LeadOutAfter(const std::string& text, std::size_t from) {
  const std::string head = "節區引出區開始位置: ";
  const std::size_t at = text.find(head, from);
  int m = 0, s = 0, f = 0;
  if (at == std::string::npos ||
      std::sscanf(text.c_str() + at + head.size(), "%dm%ds%df", &m, &s, &f) != 3) {
    return -1;
  }
  return m * 4500 + s * 75 + f - 150;
}

// The length column of a data track row "NN    14h(資料軌)  MM:SS:FF   LENGTH (...".
int DataTrackLength(const std::string& text, int track) {
  char head[32];
  std::snprintf(head, sizeof head, "\n%02d    ", track);
  const std::size_t at = text.find(head);
  if (at == std::string::npos) return -1;
  const std::size_t time = text.find(":", at);
  int length = -1;
  if (time == std::string::npos || std::sscanf(text.c_str() + time + 6, "   %d", &length) != 1) {
    return -1;
  }
  return length;
}

TEST_F(ReportScenarioTest, MultiSessionTocEndsEachSessionAtItsOwnLeadOut) {
  Insert("cdr-multi");
  ShowTableOfContents(window_);
  const std::string text = Info();
  const std::size_t first = text.find("節區 1 :\n");
  const std::size_t second = text.find("節區 2 :\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  ASSERT_LT(first, second);
  const int lead_out_1 = LeadOutAfter(text, first);
  const int lead_out_2 = LeadOutAfter(text, second);
  const TrackEntry one = TrackList.Get(0);
  const TrackEntry two = TrackList.Get(1);
  ASSERT_EQ(one.track, 1);
  ASSERT_EQ(two.track, 2);
  // Each session's only track runs from its start to that session's lead-out, not to the
  // next session's first track.
  EXPECT_EQ(DataTrackLength(text, 1), lead_out_1 - one.first_block);
  EXPECT_EQ(DataTrackLength(text, 2), lead_out_2 - two.first_block);
  EXPECT_LT(lead_out_1, two.first_block);
  EXPECT_EQ(TrackList.Get(2).track, 0);
}

TEST_F(ReportScenarioTest, OpenCdRPmaFillsTheTrackList) {
  Insert("cdr-open,quirk=noatip");
  ShowTableOfContents(window_);
  EXPECT_NE(Info().find("程式記憶區(PMA)內容\n"), std::string::npos);
  const TrackEntry one = TrackList.Get(0);
  EXPECT_EQ(one.track, 1);
  EXPECT_EQ(one.first_block, 0);
  EXPECT_GT(one.last_block, 0);
}

TEST_F(ReportScenarioTest, BlankCdRReadButtonShowsTheTocReportAndOpensNothing) {
  Insert("cdr-blank");
  test::RecordingJobs jobs;
  PressRead(window_, jobs);
  EXPECT_FALSE(Info().empty());
  EXPECT_EQ(TrackList.Get(0).track, 0);
  EXPECT_TRUE(jobs.opened.empty());
  Insert("cdda");
  PressRead(window_, jobs);
  EXPECT_EQ(jobs.LastOpened(), kCdReadDialog);
  Insert("dvdrom");
  PressRead(window_, jobs);
  EXPECT_EQ(jobs.LastOpened(), kDvdReadDialog);
}

TEST_F(ReportScenarioTest, DvdRomMakerReport) {
  Insert("dvdrom");
  PressManufacturer(window_);
  const std::string text = Info();
  EXPECT_EQ(
      text.rfind("DVD-ROM光碟片為非燒錄用的光碟片, 無法查詢製造商\n\nBook Type: DVD-ROM\n", 0), 0U);
  EXPECT_NE(
      text.find("\n\n      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n"
                "\n0000: "),
      std::string::npos);
}

TEST_F(ReportScenarioTest, DvdRPrePitPrintsOnlyTheBlocksThatHoldSomething) {
  Insert("dvd-r");
  PressManufacturer(window_);
  const std::string text = Info();
  EXPECT_EQ(text.rfind("DVD-R光碟片製造商及編號為: ", 0), 0U);
  std::size_t opc_lines = 0;
  for (std::size_t at = text.find("OPC Suggested Code"); at != std::string::npos;
       at = text.find("OPC Suggested Code", at + 1)) {
    ++opc_lines;
  }
  EXPECT_EQ(opc_lines, 1U);
  EXPECT_NE(text.find("Book Type: DVD-R\n"), std::string::npos);
}

TEST_F(ReportScenarioTest, DvdPlusRMakerIdFromThePhysicalFormat) {
  Insert("dvd+r,maker=RICOHJPN/R02");
  PressManufacturer(window_);
  EXPECT_EQ(Info().rfind("DVD+R光碟片製造商及編號為: RICOHJPNR02", 0), 0U);
  EXPECT_NE(Info().find("Book Type: DVD+R\n"), std::string::npos);
}

TEST_F(ReportScenarioTest, CapabilityReportFindsThePageBehindABlockDescriptor) {
  Insert("cdrom");
  PressCapabilities(window_);
  const std::string plain = Info();
  Insert("cdrom,quirk=blockdesc");
  PressCapabilities(window_);
  EXPECT_EQ(Info(), plain);
  EXPECT_NE(plain.find("可讀取: "), std::string::npos);
  EXPECT_NE(plain.find("現在所放入的是 CD-ROM\n"), std::string::npos);
}

TEST_F(ReportScenarioTest, WriteSpeedsOfADvdUseTheDvdDivisor) {
  Insert("dvd+r");
  std::vector<WriteSpeedEntry> entries;
  ASSERT_TRUE(QueryWriteSpeeds(true, &entries));
  ASSERT_FALSE(entries.empty());
  EXPECT_LE(entries.size(), 15U);
  for (const WriteSpeedEntry& entry : entries) {
    EXPECT_GE(entry.speed, 256U);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%4.1fx (%i KB/s)\n",
                  static_cast<double>(static_cast<float>(entry.speed) / 1385.0F),
                  static_cast<int>(entry.speed));
    EXPECT_EQ(entry.line, expected);
  }
  Insert("dvd+r,quirk=noperf");
  EXPECT_FALSE(QueryWriteSpeeds(true, &entries));
}

TEST_F(ReportScenarioTest, NoDiscAndOpenTrayMessages) {
  Insert("nodisc");
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "尚未放入光碟片!\n");
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(), "尚未放入光碟片!\n");
  Insert("open");
  PressManufacturer(window_);
  // The virtual tray is open: MODE SENSE still answers, with medium type 71h.
  EXPECT_EQ(Info(), "門沒關!\n");
}

}  // namespace
}  // namespace zorvane
