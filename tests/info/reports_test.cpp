// The reports against scripted drive answers: the edge cases of each decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_commands.h"
#include "base/templates.h"
#include "info/capabilities.h"
#include "info/capacity.h"
#include "info/manufacturer.h"
#include "info/toc.h"
#include "info/write_speeds.h"
#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Feature;
using test::ProfileList;
using test::Put16;
using test::Put32;

// MODE SENSE(10) with page 2Ah at 8 (or at 16 behind a block descriptor).
Bytes CapabilitiesPage(bool block_descriptor, unsigned descriptors_claimed,
                       std::vector<std::pair<std::uint8_t, unsigned>> descriptors) {
  const std::size_t p = block_descriptor ? 16 : 8;
  const std::size_t page_length = 32 + 4 * descriptors.size();
  Bytes b(p + page_length, 0);
  Put16(b, 0, static_cast<unsigned>(b.size() - 2));
  b[2] = 0x01;
  if (block_descriptor) b[7] = 8;
  b[p] = 0x2A;
  b[p + 1] = static_cast<std::uint8_t>(page_length - 2);
  b[p + 2] = 0x3F;  // reads everything
  b[p + 3] = 0x37;  // writes everything but bit 3
  b[p + 4] = 0x81;
  b[p + 5] = 0x10;
  b[p + 6] = 0x29;  // tray, eject, lock
  b[p + 7] = 0x03;
  Put16(b, p + 8, 4234);
  Put16(b, p + 10, 0);  // no volume levels
  Put16(b, p + 12, 2048);
  Put16(b, p + 14, 706);
  Put16(b, p + 18, 11080);
  Put16(b, p + 20, 2770);
  Put16(b, p + 30, descriptors_claimed);
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    b[p + 32 + 4 * i + 1] = descriptors[i].first;
    Put16(b, p + 32 + 4 * i + 2, descriptors[i].second);
  }
  return b;
}

// READ TOC format 2/3: 11-byte descriptors.
struct Raw {
  std::uint8_t session, adr_control, point, min, sec, frame, pmin, psec, pframe;
};
Bytes RawToc(std::uint8_t first, std::uint8_t last, const std::vector<Raw>& entries) {
  Bytes b(4 + 11 * entries.size(), 0);
  Put16(b, 0, static_cast<unsigned>(b.size() - 2));
  b[2] = first;
  b[3] = last;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Raw& e = entries[i];
    std::uint8_t* d = b.data() + 4 + 11 * i;
    d[0] = e.session;
    d[1] = e.adr_control;
    d[3] = e.point;
    d[4] = e.min;
    d[5] = e.sec;
    d[6] = e.frame;
    d[8] = e.pmin;
    d[9] = e.psec;
    d[10] = e.pframe;
  }
  return b;
}

class ReportTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    drive_ = Attach(0);
    drive_->On({0x00}, {});
    window_.SetChecked(kClearCommandPane, false);
    window_.SetChecked(kClearInfoPane, false);
    TrackList.Clear();
  }
  void Medium(std::uint8_t code) { drive_->On({0x5A}, {test::ModeSenseData(code)}); }
  std::string Info() { return info_console_.Text(); }

  std::shared_ptr<ScriptedDrive> drive_;
  MemoryDialog window_;
};

// ---- capabilities ----------------------------------------------------------------------

TEST_F(ReportTest, CapabilityReportWithBlockDescriptorAndBoundedDescriptors) {
  Medium(0x01);
  drive_->On({0x5A}, {CapabilitiesPage(true, 500, {{0, 4234}, {1, 706}, {2, 2770}})});
  drive_->On({0x46, 0x02, 0x01, 0x08}, {Feature(0, 0x108, 0x01, {'S', 'N', '1', '2'})});
  drive_->On({0x46, 0x02, 0x00, 0x00}, {ProfileList(0, {0x09, 0x0A, 0x08})});
  drive_->On({0x46, 0x02, 0x00, 0x28}, {Feature(0, 0x28, 0x01, {0x01, 0, 0, 0})});
  ShowCapabilities();
  EXPECT_EQ(Info(),
            "設備序號: SN12\n"
            "可讀取: DVD-RAM, DVD-R, DVD-ROM, Methord 2, CD-RW, CD-R \n"
            "可寫入: DVD-RAM, DVD-R, Test Write, CD-RW, CD-R \n"
            "支  援: 防BUR, Audio Play \n"
            "C2 Pointers, \n"
            "提供拖盤裝置, 提供Start/Stop Unit指令, Prevent Jumper未被插上, \n"
            "現允許被開啟, 提供Prevent/Allow Media Removal指令\n"
            "可分聲道靜音, 音量可調大小, \n"
            "暫存記憶體大小為 2097152 Bytes\n"
            "支援最大讀取速率為  4234 KB/s(24X倍速)\n"
            "現在讀取速率被設為   706 KB/s( 4X倍速)\n"
            "支援最大寫入速率為 11080 KB/s( 8X倍速)\n"
            "現在寫入速度被設為  2770 KB/s( 2X倍速)\n"
            "支援  4234 KB/s(24X倍速) 以CLV或Non-pure CAV方式寫入\n"
            "支援   706 KB/s( 4X倍速) 以Pure CAV方式寫入\n"
            "支援  2770 KB/s( 2X倍速)寫入\n"
            "支援: CD-R, CD-RW, CD-ROM, MRW 作用中\n"
            "現在未放入光碟片\n");
  // The serial query and the profile queries are not traced; MODE SENSE is.
  EXPECT_EQ(command_console_.Text(),
            "MODE SENSE  5A 00 2A 00 00 00 00 00 FF 00\n"
            "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(ReportTest, SpeedFactorsOfTheCapabilityReport) {
  EXPECT_EQ(CapabilitySpeedFactor(4234), 24);
  EXPECT_EQ(CapabilitySpeedFactor(11080), 8);
  EXPECT_EQ(CapabilitySpeedFactor(2770), 2);
  EXPECT_EQ(CapabilitySpeedFactor(706), 4);
  EXPECT_EQ(CapabilitySpeedFactor(0), 0);
  EXPECT_EQ(CapabilitySpeedFactor(65535), 65535 / 1385);
}

TEST_F(ReportTest, CapabilityReportEndsAfterTheSerialWhenThePageIsNot2A) {
  Bytes page = CapabilitiesPage(false, 0, {});
  page[8] = 0xAA;  // PS bit set: the whole byte is compared
  drive_->On({0x5A}, {page});
  drive_->On({0x46, 0x02, 0x01, 0x08}, {Feature(0, 0x108, 0x01, {'A'})});
  ShowCapabilities();
  EXPECT_EQ(Info(), "設備序號: A\n");
  drive_->On({0x5A}, {{}, 0x052400});
  info_console_.Clear();
  ShowCapabilities();
  EXPECT_EQ(Info(), "設備序號: A\n");
}

TEST_F(ReportTest, LongSerialIsCutTo127AndAShortReplyIsNotReadPast) {
  drive_->On({0x5A}, {{}, 0x052400});
  drive_->On({0x46, 0x02, 0x01, 0x08}, {Feature(0, 0x108, 0x01, Bytes(200, 'Z'))});
  ShowCapabilities();
  EXPECT_EQ(Info(), "設備序號: " + std::string(127, 'Z') + "\n");
  // The feature claims 40 bytes but the header says only 6 were sent.
  Bytes short_serial = Feature(0, 0x108, 0x01, Bytes(40, 'Q'));
  Put32(short_serial, 0, 8 + 6);
  drive_->On({0x46, 0x02, 0x01, 0x08}, {short_serial});
  info_console_.Clear();
  ShowCapabilities();
  EXPECT_EQ(Info(), "設備序號: QQQQQQ\n");
}

TEST_F(ReportTest, SerialLineOnlyForTheSerialFeature) {
  // A drive that ignores RT = 2 sends its Profile List where the serial was asked for.
  drive_->On({0x5A}, {{}, 0x052400});
  drive_->On({0x46}, {ProfileList(0x08, {0x10, 0x08})});
  ShowCapabilities();
  EXPECT_EQ(Info(), "");
}

TEST_F(ReportTest, ProfileQueryFailureEndsAfterTheDescriptors) {
  drive_->On({0x5A}, {CapabilitiesPage(false, 1, {{0, 7056}})});
  drive_->On({0x46}, {{}, 0x052400});
  ShowCapabilities();
  const std::string text = Info();
  EXPECT_NE(text.find("支援  7056 KB/s(40X倍速) 以CLV或Non-pure CAV方式寫入\n"), std::string::npos);
  EXPECT_EQ(text.find("支援: "), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 1), "\n");
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(ReportTest, LoadedDiscNamedAndMrwNotActive) {
  drive_->On({0x5A}, {CapabilitiesPage(false, 0, {})});
  drive_->On({0x46, 0x02, 0x00, 0x00}, {ProfileList(0x1B, {0x1B, 0x1A})});
  drive_->On({0x46, 0x02, 0x00, 0x28}, {Feature(0x1B, 0x28, 0x00, {0x01, 0, 0, 0})});
  ShowCapabilities();
  const std::string text = Info();
  EXPECT_NE(text.find("支援: DVD+R, DVD+RW, MRW\n現在所放入的是 DVD+R\n"), std::string::npos);
}

// The MRW feature is active whenever its Current bit is set, whatever its version and
// persistence bits say.
TEST_F(ReportTest, MrwActiveByTheCurrentBitAlone) {
  drive_->On({0x5A}, {CapabilitiesPage(false, 0, {})});
  drive_->On({0x46, 0x02, 0x00, 0x00}, {ProfileList(0x0A, {0x0A})});
  const std::pair<std::uint8_t, const char*> cases[] = {
      {0x01, ", MRW 作用中\n"},  // version 0
      {0x05, ", MRW 作用中\n"},  // version 1
      {0x03, ", MRW 作用中\n"},  // persistent
      {0x04, ", MRW\n"},         // version 1, not current
      {0x00, ", MRW\n"},
  };
  for (const auto& [flags, line] : cases) {
    drive_->On({0x46, 0x02, 0x00, 0x28}, {Feature(0x0A, 0x28, flags, {0x01, 0, 0, 0})});
    info_console_.Clear();
    ShowCapabilities();
    EXPECT_NE(Info().find(std::string("支援: CD-RW") + line), std::string::npos) << int{flags};
  }
}

// Drive-supplied text never brings control characters or stray bytes into a console.
TEST_F(ReportTest, SerialNumberShowsBytesOutsidePrintableAsciiAsDots) {
  drive_->On({0x5A}, {{}, 0x052400});
  drive_->On({0x46, 0x02, 0x01, 0x08},
             {Feature(0, 0x108, 0x01, {'S', 0x1B, '[', '2', 'J', 0xC3, 0x28, 0x7F, 0x80, '9'})});
  ShowCapabilities();
  EXPECT_EQ(Info(), "設備序號: S.[2J.(..9\n");  // C3h alone is no UTF-8
}

// ---- capacity ----------------------------------------------------------------------------

Bytes Atip(std::uint8_t lead_in_m, std::uint8_t lead_in_s, std::uint8_t lead_in_f,
           std::uint8_t out_m, std::uint8_t out_s, std::uint8_t out_f) {
  Bytes b(28, 0);
  Put16(b, 0, 26);
  b[8] = lead_in_m;
  b[9] = lead_in_s;
  b[10] = lead_in_f;
  b[12] = out_m;
  b[13] = out_s;
  b[14] = out_f;
  return b;
}

Bytes TrackInformation(std::uint32_t free_blocks) {
  Bytes b(36, 0);
  Put16(b, 0, 34);
  Put32(b, 16, free_blocks);
  return b;
}

// READ DISC INFORMATION with the status byte (byte 2) given.
Bytes DiscInformation(std::uint8_t status) {
  Bytes b(34, 0);
  Put16(b, 0, 32);
  b[2] = status;
  b[21] = 0xFF;
  b[22] = 0xFF;
  b[23] = 0xFF;
  return b;
}

Bytes Capacity(std::uint32_t last) {
  Bytes b(8, 0);
  Put32(b, 0, last);
  Put32(b, 4, 2048);
  return b;
}

TEST_F(ReportTest, BlankCdRCapacityFromTheAtip) {
  Medium(0x10);
  drive_->On({0x43, 0x02, 0x04}, {Atip(97, 24, 1, 79, 59, 74)});
  drive_->On({0x52}, {TrackInformation(359849)});
  drive_->On({0x25}, {{}, 0x052400});
  ShowCapacity(window_);
  EXPECT_EQ(Info(),
            "CD-R光碟片容量為(由引出區Leat-out開始時間計算): 79:59:74(359999個碟區) \n"
            "CD-R光碟片容量為(由未燒錄區塊Free Block數計算): 79:57:74(359849個碟區) \n");
  // An address whose first bytes are FFh is no written size either.
  drive_->On({0x25}, {Capacity(0xFFFFFF00)});
  info_console_.Clear();
  ShowCapacity(window_);
  EXPECT_EQ(Info().find("共寫入"), std::string::npos);
  // A written disc whose disc information says it is complete: the closed-disc line
  // follows.
  drive_->On({0x25}, {Capacity(1234)});
  drive_->On({0x51}, {DiscInformation(0x0E)});
  info_console_.Clear();
  ShowCapacity(window_);
  EXPECT_NE(Info().find("CD-R光碟片共寫入: 1234個碟區\n光碟片已Close Disc\n"), std::string::npos);
}

// The closed-disc line is only for a disc that is closed: not for one whose last session
// is open or that can still take sessions, nor when the disc information cannot be read.
TEST_F(ReportTest, ClosedDiscLineOnlyForAClosedDisc) {
  drive_->On({0x43, 0x02, 0x04}, {Atip(97, 24, 1, 79, 59, 74)});
  drive_->On({0x52}, {TrackInformation(0)});
  drive_->On({0x25}, {Capacity(10001)});
  struct Case {
    std::uint8_t medium;
    ScriptedDrive::Reply disc;
    bool closed;
  };
  const Case cases[] = {
      {0x10, {DiscInformation(0x05)}, false},  // last session incomplete, disc appendable
      {0x10, {DiscInformation(0x0D)}, false},  // session closed, disc still appendable
      {0x20, {DiscInformation(0x01)}, false},  // CD-RW, session empty, appendable
      {0x10, {{}, 0x052400}, false},           // no disc information
      {0x10, {Bytes{0x00, 0x00}}, false},      // an answer without its status byte
      {0x10, {DiscInformation(0x0E)}, true},  {0x20, {DiscInformation(0x0E)}, true},
  };
  for (const Case& c : cases) {
    Medium(c.medium);
    drive_->On({0x51}, {c.disc});
    info_console_.Clear();
    ShowCapacity(window_);
    EXPECT_NE(Info().find("共寫入: 10001個碟區\n"), std::string::npos);
    EXPECT_EQ(Info().find("光碟片已Close Disc") != std::string::npos, c.closed)
        << int{c.medium} << " " << Info();
  }
}

TEST_F(ReportTest, CdRWithoutAtipFallsBackToDiscInformation) {
  Medium(0x11);
  drive_->On({0x43, 0x02, 0x04}, {{}, 0x052400});
  Bytes disc(34, 0);
  Put16(disc, 0, 32);
  disc[21] = 79;
  disc[22] = 59;
  disc[23] = 74;
  drive_->On({0x51}, {disc});
  drive_->On({0x52}, {{}, 0x052400});
  drive_->On({0x25}, {Capacity(5000)});
  ShowCapacity(window_);
  EXPECT_EQ(Info(),
            "CD-R光碟片容量為(由引出區Leat-out開始時間計算): 79:59:74(359999個碟區) \n"
            "CD-R光碟片共寫入: 5000個碟區\n");
}

TEST_F(ReportTest, PressedCdAndDvdCapacities) {
  Medium(0x01);
  drive_->On({0x43}, {{}, 0x052400});
  drive_->On({0x51}, {{}, 0x052400});
  drive_->On({0x52}, {{}, 0x052400});
  drive_->On({0x25}, {Capacity(333000)});
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "光碟片中共存在: 333000個碟區(650.39MB)\n");

  Medium(0x41);
  drive_->On({0x46}, {ProfileList(0x1B, {0x1B})});
  drive_->On({0x52}, {TrackInformation(2295104)});
  drive_->On({0x25}, {Capacity(0)});
  info_console_.Clear();
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "DVD+R光碟片容量為: 2295104個碟區(4.38GB)\n");

  drive_->On({0x46}, {ProfileList(0x00, {0x1B})});
  info_console_.Clear();
  ShowCapacity(window_);
  EXPECT_EQ(Info(), "現在未放入光碟片\n");
}

// ---- table of contents ---------------------------------------------------------------------

TEST_F(ReportTest, AudioCdTocFillsTrackList) {
  Medium(0x02);
  drive_->On({0x43, 0x02, 0x02}, {RawToc(1, 1,
                                         {{1, 0x10, 0xA0, 0, 0, 0, 1, 0x00, 0},
                                          {1, 0x10, 0xA1, 0, 0, 0, 3, 0, 0},
                                          {1, 0x10, 0xA2, 0, 0, 0, 10, 0, 0},
                                          {1, 0x10, 1, 0, 0, 0, 0, 2, 0},
                                          {1, 0x10, 2, 0, 0, 0, 3, 0, 0},
                                          {1, 0x10, 3, 0, 0, 0, 6, 0, 0}})});
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(),
            "目錄(TOC)上共存在 1 個節區(Sesstion)\n"
            "\n節區 1 :\n資料格式為CD-DA或CD-ROM Mode1\n"
            "節區引出區開始位置: 10m00s00f\n"
            "軌號  模式         開始位址   長度\n"
            "01    10h(音軌)    00:02:00   02:58:00 (29.94 MB)\n"
            "02    10h(音軌)    03:00:00   03:00:00 (30.28 MB)\n"
            "03    10h(音軌)    06:00:00   04:00:00 (40.37 MB)\n"
            "\n");
  EXPECT_EQ(TrackList.Get(0).track, 1);
  EXPECT_EQ(TrackList.Get(0).first_block, 0);
  EXPECT_EQ(TrackList.Get(0).last_block, 13349);
  EXPECT_EQ(TrackList.Get(2).last_block, 44849);  // ends at the lead-out
  EXPECT_EQ(TrackList.Get(3).track, 0);
}

TEST_F(ReportTest, MultiSessionEndsEachSessionsLastTrackAtItsLeadOut) {
  Medium(0x11);
  drive_->On({0x43, 0x02, 0x02}, {RawToc(1, 2,
                                         {{1, 0x14, 0xA0, 0, 0, 0, 1, 0x20, 0},
                                          {1, 0x14, 0xA1, 0, 0, 0, 1, 0, 0},
                                          {1, 0x14, 0xA2, 0, 0, 0, 5, 0, 0},
                                          {1, 0x14, 1, 0, 0, 0, 0, 2, 0},
                                          {1, 0x54, 0xB0, 6, 32, 0, 79, 59, 74},
                                          {1, 0x54, 0xC0, 0xA4, 0, 0, 97, 24, 1},
                                          {2, 0x14, 0xA0, 0, 0, 0, 2, 0x20, 0},
                                          {2, 0x14, 0xA1, 0, 0, 0, 2, 0, 0},
                                          {2, 0x14, 0xA2, 0, 0, 0, 9, 0, 0},
                                          {2, 0x14, 2, 0, 0, 0, 7, 2, 0}})});
  drive_->On({0x43, 0x02, 0x03}, {{0, 2, 0, 0}});
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(),
            "目錄(TOC)上共存在 2 個節區(Sesstion)\n"
            "雷射功能建議值A4h, 引入區開始位置: 97m24s01f(Taiyo Yuden)\n"
            "\n節區 1 :\n資料格式為CD-ROM XA(Mode2)\n"
            "節區引出區開始位置: 05m00s00f\n"
            "軌號  模式         開始位址   長度\n"
            "01    14h(資料軌)  00:02:00   22350 (43.65 MB)\n"
            "下一個可燒錄位置: 06m32s00f(29250)\n"
            "光碟片引出區開始位置: 79m59s74f(359849)\n"
            "\n節區 2 :\n資料格式為CD-ROM XA(Mode2)\n"
            "節區引出區開始位置: 09m00s00f\n"
            "軌號  模式         開始位址   長度\n"
            "02    14h(資料軌)  07:02:00   8850 (17.29 MB)\n"
            "\n"
            "不存在程式記憶區(PMA)\n");
  EXPECT_EQ(TrackList.Get(0).last_block, 22349);
  EXPECT_EQ(TrackList.Get(1).first_block, 31500);
  EXPECT_EQ(TrackList.Get(1).last_block, 40349);
}

TEST_F(ReportTest, OpenCdRPmaFillsTrackList) {
  Medium(0x11);
  drive_->On({0x43, 0x02, 0x02}, {{}, 0x052400});
  drive_->On({0x43, 0x02, 0x03}, {RawToc(0, 0, {{0, 0x14, 1, 10, 0, 0, 0, 2, 0}})});
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(),
            "不存在目錄(TOC)\n"
            "\n程式記憶區(PMA)內容\n"
            "軌號  模式         開始位址   結束位址   長度\n"
            "01    14h(資料軌)  00:02:00   10:00:00   44850 (87.60 MB)\n");
  EXPECT_EQ(TrackList.Get(0).track, 1);
  EXPECT_EQ(TrackList.Get(0).first_block, 0);
  EXPECT_EQ(TrackList.Get(0).last_block, 44849);
}

TEST_F(ReportTest, TocLongerThanOneAllocationIsAskedForWhole) {
  Medium(0x02);
  std::vector<Raw> entries = {{1, 0x10, 0xA0, 0, 0, 0, 1, 0, 0},
                              {1, 0x10, 0xA1, 0, 0, 0, 40, 0, 0},
                              {1, 0x10, 0xA2, 0, 0, 0, 70, 0, 0}};
  for (std::uint8_t t = 1; t <= 40; ++t) entries.push_back({1, 0x10, t, 0, 0, 0, t, 2, 0});
  const Bytes toc = RawToc(1, 1, entries);
  drive_->OnCall({0x43, 0x02, 0x02}, [toc](const PassThroughRequest& r) {
    const std::size_t allocation = static_cast<std::size_t>(r.cdb[7]) << 8 | r.cdb[8];
    return ScriptedDrive::Reply{Bytes(toc.begin(), toc.begin() + std::min(allocation, toc.size()))};
  });
  ShowTableOfContents(window_);
  EXPECT_EQ(TrackList.Get(39).track, 40);
  EXPECT_EQ(TrackList.Get(39).last_block, 70 * 4500 - 150 - 1);
  const auto records = drive_->Requests();
  int toc_queries = 0;
  for (const auto& r : records) toc_queries += (r.cdb[0] == 0x43);
  EXPECT_EQ(toc_queries, 2);
  EXPECT_EQ(records.back().cdb[8], static_cast<std::uint8_t>(toc.size()));
}

TEST_F(ReportTest, DvdTocOneDataTrack) {
  Medium(0x41);
  Bytes toc(4 + 16, 0);
  Put16(toc, 0, 18);
  toc[2] = 1;
  toc[3] = 1;
  toc[5] = 0x14;
  toc[6] = 1;
  toc[13] = 0x14;
  toc[14] = 0xAA;
  Put32(toc, 16, 2295104);
  drive_->On({0x43, 0x00, 0x00}, {toc});
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(),
            "目錄上共存在1條碟軌\n\n軌號  模式        開始位址   長度\n"
            "01    14h(資料軌) 000000h    230540h    4482.62 MB   \n\n");
  EXPECT_EQ(TrackList.Get(0).last_block, 2295103);
  drive_->On({0x43, 0x00, 0x00}, {{0, 0, 1, 1}});
  info_console_.Clear();
  ShowTableOfContents(window_);
  EXPECT_EQ(Info(), "");
}

TEST_F(ReportTest, ReadButtonOnABlankCdROpensNothing) {
  Medium(0x10);
  drive_->On({0x43, 0x02, 0x02}, {{}, 0x052400});
  drive_->On({0x43, 0x02, 0x03}, {{0, 2, 0, 0}});
  test::RecordingJobs jobs;
  TrackList.Set(0, TrackEntry{1, 0x14, 0, 100});  // left by an earlier disc
  PressRead(window_, jobs);
  EXPECT_EQ(Info(), "不存在目錄(TOC)\n不存在程式記憶區(PMA)\n");
  EXPECT_EQ(TrackList.Get(0).track, 0);
  EXPECT_TRUE(jobs.opened.empty());
}

// ---- manufacturer ---------------------------------------------------------------------------

TEST_F(ReportTest, AtipMakerLookUp) {
  EXPECT_STREQ(AtipMakerName(24, 1), "Taiyo Yuden");
  EXPECT_STREQ(AtipMakerName(29, 5), "Harmonic Hall");  // never Taeil Media
  EXPECT_STREQ(AtipMakerName(99, 0), "UNKNOWN");
  EXPECT_STREQ(AtipMakerName(46, 62), "中環 CMC Magnetics");
  EXPECT_STREQ(AtipMakerName(43, 25), "精碟 Prodisc");
  EXPECT_STREQ(AtipMakerTable[kAtipMakerCount - 1].name, "UNKNOWN");
  int taeil = 0;
  for (const AtipMaker& row : AtipMakerTable) {
    EXPECT_EQ(row.frame % 10, 0);
    taeil += std::string(row.name) == "Taeil Media";
  }
  EXPECT_EQ(taeil, 1);
}

// Every row of the maker table as the ATIP maker list gives it: minute, second, frame and
// name, in look-up order.
TEST(AtipMakerTableTest, EveryRowAsTheMakerListGivesIt) {
  const AtipMaker expected[] = {
      {97, 22, 60, "達信 Daxon"},
      {97, 45, 20, "Acer"},
      {97, 22, 20, "Advanced Digital Media"},
      {97, 42, 20, "Advanced Digital Media"},
      {97, 25, 50, "AMS"},
      {97, 23, 30, "AUDIO DISTRIBUTORS"},
      {97, 28, 30, "達緻 Auvistar"},
      {97, 46, 50, "達緻 Auvistar"},
      {97, 22, 40, "亞瑟 CIS Technology"},
      {97, 45, 40, "亞瑟 CIS Technology"},
      {97, 26, 60, "中環 CMC Magnetics"},
      {97, 46, 60, "中環 CMC Magnetics"},
      {97, 23, 60, "Customer Pressing Oosterhout"},
      {97, 28, 50, "DELPHI"},
      {97, 27, 0, "DIGITAL STORAGE"},
      {97, 48, 40, "DIGITAL STORAGE"},
      {97, 23, 10, "Doremi"},
      {97, 13, 30, "DST"},
      {97, 22, 30, "EXIMPO"},
      {97, 26, 0, "FORNET"},
      {97, 45, 0, "FORNET"},
      {97, 26, 40, "FUJI"},
      {97, 46, 40, "FUJI"},
      {97, 29, 50, "General Magnetics"},
      {97, 28, 10, "GIGASTORAGE"},
      {97, 49, 10, "GIGASTORAGE"},
      {97, 16, 30, "Grand Advance"},
      {97, 31, 30, "Grand Advance"},
      {97, 51, 10, "Grand Advance"},
      {97, 45, 50, "Guann Yinn"},
      {97, 24, 50, "Guann Yinn"},
      {97, 24, 60, "Harmonic Hall"},
      {97, 29, 0, "Harmonic Hall"},
      {97, 29, 30, "Hile Optical Disc"},
      {97, 51, 50, "Hile Optical Disc"},
      {97, 25, 20, "Hitachi Maxell"},
      {97, 47, 10, "Hitachi Maxell"},
      {97, 25, 30, "INFODISC"},
      {97, 51, 20, "INFODISC"},
      {97, 24, 40, "kdg mediatech"},
      {97, 28, 40, "King Pro"},
      {97, 49, 20, "King Pro"},
      {97, 27, 40, "Kodak"},
      {97, 48, 10, "Kodak"},
      {97, 26, 50, "利碟 Lead Data"},
      {97, 48, 60, "利碟 Lead Data"},
      {97, 23, 0, "Matsushita"},
      {97, 49, 60, "Matsushita"},
      {97, 15, 20, "Mitsubishi Chemical"},
      {97, 34, 20, "Mitsubishi Chemical"},
      {97, 50, 20, "Mitsubishi Chemical"},
      {97, 27, 50, "Mitsui"},
      {97, 48, 50, "Mitsui"},
      {97, 17, 0, "Moser Baer India"},
      {97, 25, 0, "MPO"},
      {97, 28, 20, "MultiMediaMasters & Machinary"},
      {97, 46, 20, "MultiMediaMasters & Machinary"},
      {97, 23, 20, "Nacar Media srl"},
      {97, 15, 30, "NAN-YA"},
      {97, 28, 0, "Opti.Me.S. S.p.A."},
      {97, 49, 30, "Opti.Me.S. S.p.A."},
      {97, 21, 40, "Optical Disc Manuf."},
      {97, 26, 30, "OPTICAL DISC CORPRATION"},
      {97, 23, 50, "OPTROM.INC."},
      {97, 27, 30, "Pioneer"},
      {97, 48, 30, "Pioneer"},
      {97, 27, 10, "Plasmon"},
      {97, 48, 20, "Plasmon"},
      {97, 26, 10, "博新 POSTECH"},
      {97, 47, 40, "博新 POSTECH"},
      {97, 27, 20, "巨擘 Princo"},
      {97, 47, 20, "巨擘 Princo"},
      {96, 43, 20, "精碟 Prodisc"},
      {96, 43, 30, "精碟 Prodisc"},
      {97, 32, 10, "精碟 Prodisc"},
      {97, 47, 60, "精碟 Prodisc"},
      {97, 27, 60, "Ricoh"},
      {97, 48, 0, "Ricoh"},
      {97, 15, 10, "錸德 RiTEX"},
      {97, 31, 0, "錸德 RiTEX"},
      {97, 47, 50, "Ritek"},
      {97, 22, 10, "Seantram"},
      {97, 16, 20, "SHENZEN SG&GAST"},
      {97, 26, 20, "世高 SKC"},
      {97, 24, 10, "SONY"},
      {97, 46, 10, "SONY"},
      {97, 29, 0, "Taeil Media"},
      {97, 24, 0, "Taiyo Yuden"},
      {97, 46, 0, "Taiyo Yuden"},
      {97, 18, 60, "TAROKO"},
      {97, 15, 0, "TDK Corporation"},
      {97, 32, 0, "TDK Corporation"},
      {97, 49, 0, "TDK Corporation"},
      {97, 29, 20, "UNIDISC"},
      {97, 24, 30, "UNITECH"},
      {97, 45, 10, "UNITECH"},
      {97, 29, 10, "Vanguard"},
      {97, 50, 10, "Vanguard"},
      {97, 49, 40, "VICTOR"},
      {97, 23, 40, "VICTOR"},
      {97, 29, 40, "VIVA MAGNETICS"},
      {97, 25, 40, "VIVASTAR"},
      {97, 25, 60, "Xcitec"},
      {97, 45, 60, "Xcitec"},
      {0, 0, 0, "UNKNOWN"},
  };
  static_assert(sizeof expected / sizeof expected[0] == kAtipMakerCount);
  for (std::size_t i = 0; i < kAtipMakerCount; ++i) {
    const AtipMaker& row = AtipMakerTable[i];
    EXPECT_EQ(row.minute, expected[i].minute) << "row " << i;
    EXPECT_EQ(row.second, expected[i].second) << "row " << i;
    EXPECT_EQ(row.frame, expected[i].frame) << "row " << i;
    EXPECT_STREQ(row.name, expected[i].name) << "row " << i;
  }
}

TEST_F(ReportTest, CdMakerFromAtipThenWriteSpeeds) {
  Medium(0x10);
  drive_->On({0x43, 0x02, 0x04}, {Atip(0x61, 24, 1, 79, 59, 74)});
  Bytes perf(8 + 16 * 2, 0);
  Put32(perf, 0, static_cast<std::uint32_t>(perf.size() - 4));
  Put32(perf, 20, 7056);
  Put32(perf, 36, 176);
  drive_->On({0xAC}, {perf});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info(),
            "製造商是: ATIP Start Time of lead-in: 97:24:01(Taiyo Yuden)\n\n"
            "\n光碟片寫入速率:\n40.0x (7056 KB/s)\n");
}

TEST_F(ReportTest, CdMakerFallsBackToTheRawTocKeepingItsMinute) {
  Medium(0x11);
  drive_->On({0x43, 0x02, 0x04}, {{}, 0x052400});
  drive_->On({0x43, 0x02, 0x02}, {RawToc(1, 1, {{1, 0x54, 0xC0, 0, 0, 0, 96, 43, 25}})});
  drive_->On({0xAC}, {{}, 0x052000});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info(), "製造商是: ATIP Start Time of lead-in: 96:43:25(精碟 Prodisc)\n\n");
}

// Two makers' rows carry minute 96: such lead-in times are found from the ATIP and from
// the disc information alike, and named.
TEST_F(ReportTest, CdMakerLeadInAtMinute96) {
  Medium(0x10);
  drive_->On({0x43, 0x02, 0x04}, {Atip(96, 43, 25, 79, 59, 74)});
  drive_->On({0xAC}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info(), "製造商是: ATIP Start Time of lead-in: 96:43:25(精碟 Prodisc)\n\n");

  drive_->On({0x43}, {{}, 0x052400});
  Bytes disc(34, 0);
  Put16(disc, 0, 32);
  disc[17] = 96;
  disc[18] = 43;
  disc[19] = 37;
  drive_->On({0x51}, {disc});
  info_console_.Clear();
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info(), "製造商是: ATIP Start Time of lead-in: 96:43:37(精碟 Prodisc)\n\n");

  // Any other minute is no blank disc's lead-in.
  drive_->On({0x43, 0x02, 0x04}, {Atip(95, 43, 25, 79, 59, 74)});
  disc[17] = 98;
  drive_->On({0x51}, {disc});
  info_console_.Clear();
  ShowManufacturer(&info_console_);
  EXPECT_NE(Info().find("請您放入一片空白片再試試\n"), std::string::npos);
}

TEST_F(ReportTest, CdMakerNotFoundAndPressedCd) {
  Medium(0x21);
  drive_->On({0x43}, {{}, 0x052400});
  drive_->On({0x51}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(
      Info(),
      "您的光碟設備並不支援READ ATIP指令, 且放入的CD-RW亦非空白片\n請您放入一片空白片再試試\n");
  Medium(0x02);
  info_console_.Clear();
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info(), "非燒錄用的光碟片, 無法查詢製造商\n");
}

Bytes PreRecorded() {
  Bytes b(4 + 100, 0);
  Put16(b, 0, 102);
  b[5] = 0x40;  // unrestricted, consumer
  b[6] = 0x80;
  b[7] = 0x22;
  b[8] = 0x98;
  b[9] = 0x7F;
  b[10] = 0x21;
  b[13] = 0x2A;
  b[14] = 0x14;
  for (int i = 15; i <= 18; ++i) b[i] = static_cast<std::uint8_t>(i);
  for (int i = 37; i <= 42; ++i) b[i] = static_cast<std::uint8_t>(i);
  const char maker[] = "ZORVANEDVDR01";
  for (int i = 0; i < 13; ++i) b[21 + i] = static_cast<std::uint8_t>(maker[i]);
  return b;
}

TEST_F(ReportTest, DvdRMakerPrintsBlockOneOnlyWhenTheOthersAreZero) {
  Medium(0x41);
  drive_->On({0x46}, {ProfileList(0x11, {0x11})});
  drive_->On({0xAD, 0, 0, 0, 0, 0, 0, 0x0E}, {PreRecorded()});
  drive_->On({0xAD, 0, 0, 0, 0, 0, 0, 0x00}, {{}, 0x052400});
  drive_->On({0xAC}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  const std::string text = Info();
  EXPECT_EQ(text.rfind("DVD-R光碟片製造商及編號為: ZORVANEDVDR01 \n\n", 0), 0U);
  EXPECT_NE(text.find("Disc Application code: 40h\n     Disc for unrestricted use,\n"
                      "     Consumer purpose disk for use in consumer purpose drives\n"),
            std::string::npos);
  EXPECT_NE(text.find("     The track pitch is 0.74 μm\n     The disc diameter is 120 mm\n"
                      "     The reflectivity is 45% to 85%\n     Organic dye\n"
                      "     Recordable media\n"),
            std::string::npos);
  EXPECT_NE(text.find("Last address of Data Recordable Area: 22987Fh\nPart Version: 02h\n"
                      "Extension code: 01h\n"),
            std::string::npos);
  EXPECT_NE(text.find("OPC Suggested Code: β value=-0.01, power codes=10.5mW\n"
                      "Wavelength Code: 664nm\n"
                      "Write Strategy Code: 0F 10 11 12 25 26 27 28 29 2Ah\n"),
            std::string::npos);
  EXPECT_EQ(text.find("OPC Suggested Code", text.find("Write Strategy")), std::string::npos);
  EXPECT_EQ(text.find("光碟片寫入速率"), std::string::npos);
}

// The DVD-R maker field keeps its zero bytes as blanks; any other byte outside printable
// ASCII (a pre-pit field byte such as 04h) shows as ".".
TEST_F(ReportTest, DvdRMakerShowsUnprintableBytesAsDots) {
  Medium(0x41);
  drive_->On({0x46}, {ProfileList(0x11, {0x11})});
  Bytes pre = PreRecorded();
  pre[24] = 0x04;
  pre[25] = 0x0A;
  pre[26] = 0xE4;
  pre[34] = 0x00;
  drive_->On({0xAD, 0, 0, 0, 0, 0, 0, 0x0E}, {pre});
  drive_->On({0xAD, 0, 0, 0, 0, 0, 0, 0x00}, {{}, 0x052400});
  drive_->On({0xAC}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info().rfind("DVD-R光碟片製造商及編號為: ZOR...EDVDR01 \n\n", 0), 0U) << Info();
}

TEST_F(ReportTest, DvdPlusRMakerShowsZeroBytesAsBlanks) {
  Medium(0x41);
  drive_->On({0x46}, {ProfileList(0x1B, {0x1B})});
  Bytes pfi(4 + 2048, 0);
  Put16(pfi, 0, 2050);
  pfi[4] = 0xA1;
  pfi[5] = 0x0F;
  pfi[6] = 0x02;
  pfi[7] = 0x10;
  Put32(pfi, 8, 0x30000);
  Put32(pfi, 12, 0x26053F);
  const char maker[] = "RICOHJPN";
  for (int i = 0; i < 8; ++i) pfi[23 + i] = static_cast<std::uint8_t>(maker[i]);
  pfi[31] = 'R';
  pfi[32] = '0';
  pfi[33] = '2';
  drive_->On({0xAD}, {pfi});
  drive_->On({0xAC}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  const std::string text = Info();
  EXPECT_EQ(text.rfind("DVD+R光碟片製造商及編號為: RICOHJPNR02 \n\nBook Type: DVD+R\n"
                       "Part Version: 1\nDisc Size: 120 mm\nMaximum Rate: not specified\n"
                       "Number of Layers: 1\nTrack Path: Parallel Track Path (PTP)\n"
                       "Layer Type: Layer contains recordable area\n"
                       "Linear Density: 0.293 um/bit\nTrack Density: 0.74 μm/track\n"
                       "Starting Physical Sector Number of Data Area: 30000h\n"
                       "End Physical Sector Number of Data Area: 26053Fh\n",
                       0),
            0U);
}

TEST_F(ReportTest, DvdRomMakerAndUnlistedProfileDumpThePreviousReply) {
  Medium(0x41);
  drive_->On({0x46}, {ProfileList(0x10, {0x10})});
  drive_->On({0xAD}, {{}, 0x052400});
  drive_->On({0xAC}, {{}, 0x052400});
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info().rfind("DVD-ROM光碟片為非燒錄用的光碟片, 無法查詢製造商\n\n\n      00 01", 0),
            0U);
  drive_->On({0x46}, {ProfileList(0x43, {0x43})});
  info_console_.Clear();
  ShowManufacturer(&info_console_);
  EXPECT_EQ(Info().rfind("BD-RE光碟片\n      00 01", 0), 0U);
  EXPECT_NE(Info().find("0000: 00 00 00 0C 00 00 00 43"), std::string::npos);
}

// ---- write speeds -----------------------------------------------------------------------------

TEST_F(ReportTest, WriteSpeedWalkStopsAtSlowSpeedsAndFifteenEntries) {
  Bytes perf(8 + 16 * 20, 0);
  Put32(perf, 0, static_cast<std::uint32_t>(perf.size() - 4));
  for (int i = 0; i < 20; ++i) Put32(perf, 20 + 16 * i, 11080 - 100 * i);
  drive_->On({0xAC}, {perf});
  std::vector<WriteSpeedEntry> entries;
  ASSERT_TRUE(QueryWriteSpeeds(true, &entries));
  ASSERT_EQ(entries.size(), 15U);
  EXPECT_EQ(entries[0].line, " 8.0x (11080 KB/s)\n");
  // The data phase can take every descriptor the CDB asks for (255).
  EXPECT_EQ(drive_->Requests().back().transfer_length, 8 + 255 * 16);
  Put32(perf, 20 + 16 * 3, 176);
  drive_->On({0xAC}, {perf});
  ASSERT_TRUE(QueryWriteSpeeds(false, &entries));
  EXPECT_EQ(entries.size(), 3U);
  EXPECT_EQ(entries[0].line, "62.8x (11080 KB/s)\n");
  // Descriptors past the performance data length were not sent.
  Put32(perf, 0, 4 + 16);
  drive_->On({0xAC}, {perf});
  ASSERT_TRUE(QueryWriteSpeeds(false, &entries));
  EXPECT_EQ(entries.size(), 1U);
  drive_->On({0xAC}, {{}, 0x023A00});
  EXPECT_FALSE(QueryWriteSpeeds(false, &entries));
  ListWriteSpeeds(0);
  EXPECT_EQ(Info(), "");
}

}  // namespace
}  // namespace zorvane
