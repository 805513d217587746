#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_commands.h"
#include "base/shared_commands.h"
#include "base/templates.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/polling.h"

namespace zorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MainCommandsTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    drive_ = Attach(0);
    drive_->On({0x12}, {test::InquiryData("ZORVANE", "VIRTUAL DVD-RW", "1.00")});
    drive_->On({0x00}, {});
    window_.SetChecked(kClearCommandPane, true);
    window_.SetChecked(kClearInfoPane, true);
  }
  void Medium(std::uint8_t code) { drive_->On({0x5A}, {test::ModeSenseData(code)}); }
  // The opcodes sent after the probe (which sends TUR, TUR, MODE SENSE, TUR, and asks for
  // the current profile when the medium-type byte says "no disc" or "unknown" while TEST
  // UNIT READY finds the drive ready).
  Bytes OpcodesAfterProbe() const {
    Bytes all = drive_->Opcodes();
    auto mode = std::find(all.begin(), all.end(), 0x5A);
    if (mode == all.end() || mode + 2 > all.end()) return Bytes{};
    mode += 2;
    if (mode != all.end() && *mode == 0x46) ++mode;
    return Bytes(mode, all.end());
  }

  std::shared_ptr<ScriptedDrive> drive_;
  MemoryDialog window_;
  test::RecordingJobs jobs_;
};

TEST_F(MainCommandsTest, StartupListsDrivesAtFAndHAndSelectsTheFirst) {
  DevicePaths[0].clear();
  Attach(2)->On({0x12}, {test::InquiryData("ZORVANE", "VIRTUAL DVD-RW", "1.00")});
  Attach(4)->On({0x12}, {test::InquiryData("HL-DT-ST", "DVDRAM GH24NSD1", "LG00")});
  DiscoverDevices();
  StartMainWindow(window_);
  EXPECT_EQ(command_console_.Text(),
            "f: ZORVANE VIRTUAL DVD-RW  1.00\nh: HL-DT-STDVDRAM GH24NSD1 LG00\n");
  ASSERT_EQ(window_.ItemCount(kDeviceList), 2);
  // Each item begins with its drive letter, so two drives of one model differ.
  EXPECT_EQ(window_.ItemText(kDeviceList, 0), "f: ZORVANE VIRTUAL DVD-RW  ");
  EXPECT_EQ(window_.ItemText(kDeviceList, 1), "h: HL-DT-STDVDRAM GH24NSD1 ");
  EXPECT_EQ(window_.SelectedItem(kDeviceList), 0);
  EXPECT_EQ(CurrentDevice.slot.load(), 2);
  EXPECT_TRUE(window_.IsChecked(kClearCommandPane));
  EXPECT_TRUE(window_.IsChecked(kClearInfoPane));
  EXPECT_FALSE(StartDirectory.empty());
  // Two recorders of one model differ by their letters alone.
  CloseAllDevices();
  Attach(3)->On({0x12}, {test::InquiryData("HL-DT-ST", "DVDRAM GH24NSD1", "LG00")});
  DiscoverDevices();
  StartMainWindow(window_);
  ASSERT_EQ(window_.ItemCount(kDeviceList), 3);
  EXPECT_EQ(window_.ItemText(kDeviceList, 1), "g: HL-DT-STDVDRAM GH24NSD1 ");
  EXPECT_NE(window_.ItemText(kDeviceList, 1), window_.ItemText(kDeviceList, 2));

  // A drive of the system the user may not open follows the usable ones, with its reason
  // on the command console; choosing its row changes nothing.
  char folder[] = "/tmp/zorvane-sysfs-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::filesystem::path root = folder;
  std::filesystem::create_directories(root / "class/block/sr1/device");
  std::ofstream(root / "class/block/sr1/device/vendor") << "PIONEER \n";
  std::ofstream(root / "class/block/sr1/device/model") << "BD-RW BDR-209M  \n";
  SystemAccess access;
  access.sysfs_root = root.string();
  access.open = [](const char*, int) {
    errno = EACCES;
    return -1;
  };
  access.stat = [](const char*, struct stat*) { return -1; };
  SetSystemAccess(access);
  command_console_.Clear();
  StartMainWindow(window_);
  std::filesystem::remove_all(root);
  ASSERT_EQ(window_.ItemCount(kDeviceList), 4);
  EXPECT_EQ(window_.ItemText(kDeviceList, 3), "/dev/sr1 PIONEER BD-RW BDR-209M (not accessible)");
  EXPECT_NE(command_console_.Text().find(
                "/dev/sr1 PIONEER BD-RW BDR-209M: permission denied; ask for read-write access "
                "to the device node\n"),
            std::string::npos);
  const std::uint8_t before = CurrentDevice.slot.load();
  SwitchDevice(window_, 3);
  EXPECT_EQ(CurrentDevice.slot.load(), before);
}

TEST_F(MainCommandsTest, DeviceSwitchLogsTheNewDriveAndWaitsForIt) {
  DevicePaths[0].clear();
  Attach(2)->On({0x12}, {test::InquiryData("ZORVANE", "VIRTUAL DVD-RW", "1.00")});
  auto h = Attach(4);
  h->On({0x12}, {test::InquiryData("HL-DT-ST", "DVDRAM GH24NSD1", "LG00")});
  h->On({0x00}, {});
  h->On({0x00}, {{}, 0x020401}, 2);
  h->On({0x5A}, {test::ModeSenseData(0x41)});
  h->On({0x5A}, {{}, 0x062800}, 1);
  DiscoverDevices();
  StartMainWindow(window_);
  info_console_.Append("old\n");
  SwitchDevice(window_, 1);
  EXPECT_EQ(CurrentDevice.slot.load(), 4);
  EXPECT_EQ(CurrentDevice.target.load(), 4);
  EXPECT_EQ(info_console_.Text(), "裝備切換至 h: HL-DT-STDVDRAM GH24NSD1 \n請稍候...OK!\n");
  // After INQUIRY: TUR x3 (two not ready), MODE SENSE x2 (one attention), TUR.
  EXPECT_EQ(h->Opcodes(), (Bytes{0x12, 0, 0, 0, 0x5A, 0x5A, 0}));
  EXPECT_FALSE(IsDeviceOpen(4));  // the last TEST UNIT READY closes
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST_F(MainCommandsTest, OpenTrayEjectsUnlessAlreadyOpen) {
  Medium(0x71);
  OpenTray(window_);
  EXPECT_EQ(OpcodesAfterProbe(), Bytes{});
  EXPECT_EQ(info_console_.Text(), "");
  Medium(0x01);
  drive_->On({0x1B}, {});
  OpenTray(window_);
  EXPECT_EQ(info_console_.Text(), "將光碟設備的門開啟\n");
  EXPECT_EQ(drive_->Requests().back().cdb, (Bytes{0x1B, 0x01, 0, 0, 0x02, 0}));
  EXPECT_EQ(command_console_.Text(),
            "START/STOP UNIT  1B 01 00 00 02 00\n"
            "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
}

TEST_F(MainCommandsTest, CloseTrayWithADiscLoadedPrintsOnlyTheProbeLine) {
  Medium(0x41);
  CloseTray(window_);
  EXPECT_EQ(info_console_.Text(), "Media Code=41, 光碟設備中存在120mm的DVD\n");
  EXPECT_EQ(OpcodesAfterProbe(), Bytes{});
}

TEST_F(MainCommandsTest, CloseTrayLoadsWaitsAndTracesOnlyTheLastTestUnitReady) {
  Medium(0x71);
  drive_->On({0x1B}, {});
  CloseTray(window_);
  drive_->On({0x00}, {{}, 0x020401}, 2);
  EXPECT_EQ(info_console_.Text(),
            "Media Code=71, 光碟設備門己開啟\n將光碟設備的門關上\n請稍候...\n完成\n");
  EXPECT_EQ(OpcodesAfterProbe(), (Bytes{0x1B, 0x00, 0x00}));
  EXPECT_EQ(command_console_.Text(),
            "TEST UNIT READY  00 00 00 00 00 00\n"
            "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
}

TEST_F(MainCommandsTest, NoDiscAndDoorOpenStopTheJobButtons) {
  Medium(0x70);
  PressWrite(window_, jobs_);
  PressAddressWrite(window_, jobs_);
  CloseSession(window_);
  EXPECT_EQ(info_console_.Text(), "尚未放入光碟片!\n");  // cleared before each button
  Medium(0x71);
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "門沒關!\n");
  EXPECT_TRUE(jobs_.opened.empty());
}

TEST_F(MainCommandsTest, WriteOnAnMrwCdRwAsksForAddressWriteInstead) {
  Medium(0x21);
  drive_->On({0x46, 0x02, 0x00, 0x28}, {test::Feature(0x0A, 0x28, 0x01, {0x01, 0, 0, 0})});
  PressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(),
            "為CD-MRW格式，請改用「指定寫入」，或「抹除」為空白CD-RW後再進行「寫入」!\n");
  EXPECT_TRUE(jobs_.opened.empty());
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(jobs_.opened, std::vector<int>{kMrwAddressWriteDialog});
}

TEST_F(MainCommandsTest, WriteOnACdRwNotCurrentlyMrwOpensTheCdDialogBetweenPreventAndAllow) {
  Medium(0x21);
  drive_->On({0x46, 0x02, 0x00, 0x28}, {test::Feature(0x0A, 0x28, 0x00, {0x01, 0, 0, 0})});
  drive_->On({0x46, 0x02, 0x00, 0x00}, {test::Feature(0x0A, 0x00, 0x03, {0x00, 0, 0, 0})});
  drive_->On({0x1E}, {});
  PressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "CD-RW\n");
  EXPECT_EQ(jobs_.opened, std::vector<int>{kCdWriteDialog});
  const auto records = drive_->Requests();
  ASSERT_GE(records.size(), 2U);
  EXPECT_EQ(records[records.size() - 2].cdb, (Bytes{0x1E, 0, 0, 0, 0x01, 0}));
  EXPECT_EQ(records.back().cdb, (Bytes{0x1E, 0, 0, 0, 0x00, 0}));
}

TEST_F(MainCommandsTest, WriteDecidesByProfile) {
  struct Case {
    std::uint16_t profile;
    const char* text;
    std::vector<int> opened;
  };
  const Case cases[] = {
      {0x08, "CD-ROM\nCD-ROM 無法寫入\n", {}},
      {0x09, "CD-R\n", {kCdWriteDialog}},
      {0x10, "DVD-ROM\nDVD-ROM 無法寫入\n", {}},
      {0x11, "DVD-R\n", {kDvdWriteDialog}},
      {0x13, "DVD-RW(Restricted Overwrite)\n", {kDvdWriteDialog}},
      {0x2B, "DVD+R DL\n", {kDvdWriteDialog}},
      {0x40, "BD-ROM\nBD-ROM 無法寫入\n", {}},
      {0x50, "HD DVD-ROM\nHD DVD-ROM 無法寫入\n", {}},
      {0x43, "BD-RE\n", {}},
      {0x00, "不知道\n", {}},
  };
  Medium(0x41);
  drive_->On({0x1E}, {});
  for (const Case& c : cases) {
    jobs_.opened.clear();
    drive_->On({0x46, 0x02, 0x00, 0x00}, {test::Feature(c.profile, 0, 0x03, {0, 0, 0, 0})});
    PressWrite(window_, jobs_);
    EXPECT_EQ(info_console_.Text(), c.text) << c.profile;
    EXPECT_EQ(jobs_.opened, c.opened) << c.profile;
  }
}

TEST_F(MainCommandsTest, WriteOpensTheDvdDialogWhenTheProfileQueryFails) {
  Medium(0x10);
  drive_->On({0x46}, {{}, 0x052000});
  drive_->On({0x1E}, {});
  PressWrite(window_, jobs_);
  EXPECT_EQ(jobs_.opened, std::vector<int>{kDvdWriteDialog});
}

TEST_F(MainCommandsTest, ShortConfigurationAnswerIsNotReadPastItsLength) {
  // The drive claims success but sends only the header: stale buffer bytes must not make
  // the MRW feature appear.
  Medium(0x21);
  ReplyBuffer[9] = 0x28;
  ReplyBuffer[10] = 0x01;
  ReplyBuffer[12] = 0x01;
  Bytes header(8, 0);
  header[3] = 4;
  header[7] = 0x0A;
  drive_->On({0x46}, {header});
  drive_->On({0x1E}, {});
  PressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "CD-RW\n");
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "燒錄機並不支援MRW\n");
}

TEST_F(MainCommandsTest, AddressWriteByMediumAndProfile) {
  Medium(0x21);
  drive_->On({0x46}, {{}, 0x052400});
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "無法瞭解燒錄機是否支援MRW\n");
  Medium(0x41);
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "無法辨別DVD光碟片種類\n");
  for (std::uint16_t profile : {0x12, 0x13, 0x1A, 0x2A}) {
    drive_->On({0x46}, {test::Feature(profile, 0, 0x03, {0, 0, 0, 0})});
    PressAddressWrite(window_, jobs_);
  }
  EXPECT_EQ(jobs_.opened, std::vector<int>(4, kDvdAddressWriteDialog));
  drive_->On({0x46}, {test::Feature(0x1B, 0, 0x03, {0, 0, 0, 0})});
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(),
            "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n");
  Medium(0x01);
  PressAddressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(),
            "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n");
  EXPECT_EQ(jobs_.opened.size(), 4U);
}

TEST_F(MainCommandsTest, C2ScanChecks) {
  // The drive is blamed for refusing the C2 test only on a written CD: a DVD, a disc whose
  // capacity cannot be read and a disc with nothing written say so whatever READ CD did.
  const Bytes written = {0, 0x05, 0x14, 0xC7, 0, 0, 8, 0};
  const Bytes nothing = {0, 0, 0, 0, 0, 0, 8, 0};
  struct Case {
    std::int32_t c2_test;
    std::uint8_t medium;
    std::int32_t capacity_sense;
    const Bytes* capacity;
    const char* line;
    const char* reason;
  };
  const Case cases[] = {
      {0x052000, 0x11, 0, &written, "光碟設備不支援ReadCD指令檢測C2!\n",
       "the drive does not read the C2 error flags: the drive refused READ CD "
       "(SK/ASC/ASCQ=52000h, INVALID COMMAND OPERATION CODE)"},
      {0, 0x41, 0, &written, "此一指令僅使用於CD光碟片, 非使用於DVD光碟片\n",
       "the C2 scan is for CDs, and the disc is a DVD"},
      {0x052100, 0x41, 0, &nothing, "此一指令僅使用於CD光碟片, 非使用於DVD光碟片\n",
       "the C2 scan is for CDs, and the disc is a DVD"},
      {0, 0x11, 0x023A01, &nothing, "光碟片容量讀取失敗.\n",
       "the drive refused READ CAPACITY (SK/ASC/ASCQ=23A01h, MEDIUM NOT PRESENT - TRAY CLOSED)"},
      {0, 0x11, 0, &nothing, "光碟片尚未寫入資料.\n", "the disc has nothing written to scan"},
      {0x052100, 0x10, 0, &nothing, "光碟片尚未寫入資料.\n",
       "the disc has nothing written to scan"},
      {0x052400, 0x20, 0, &nothing, "光碟片尚未寫入資料.\n",
       "the disc has nothing written to scan"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    drive_->On({0xBE}, {{}, c.c2_test}, 1);
    Medium(c.medium);
    drive_->On({0x25}, {*c.capacity, c.capacity_sense}, 1);
    const Outcome outcome = PressC2Scan(window_, jobs_);
    EXPECT_EQ(info_console_.Text(), c.line);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, c.reason);
    EXPECT_TRUE(jobs_.opened.empty());
  }
  EXPECT_EQ(drive_->Requests().front().cdb, (Bytes{0xBE, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x04, 0, 0}));
  drive_->On({0xBE}, {});
  Medium(0x11);
  drive_->On({0x25}, {written});
  EXPECT_TRUE(PressC2Scan(window_, jobs_).ok);
  EXPECT_EQ(jobs_.opened, std::vector<int>{kC2ScanDialog});
}

TEST_F(MainCommandsTest, EraseOpensItsDialogForAnyReachableDrive) {
  Medium(0x70);
  PressErase(window_, jobs_);
  EXPECT_EQ(jobs_.opened, std::vector<int>{kEraseDialog});
  DevicePaths[0].clear();
  CloseAllDevices();
  PressErase(window_, jobs_);
  EXPECT_EQ(jobs_.opened.size(), 1U);
}

TEST_F(MainCommandsTest, CloseSessionSendsTheSharedBlockAndReenablesItsButton) {
  Medium(0x11);
  drive_->On({0x5B}, {});
  CloseTrackSessionCommand.Set(5, 0x01);  // a CD write left track 1 in the block
  EXPECT_TRUE(CloseSession(window_).ok);
  CloseTrackSessionCommand.Set(5, 0x00);
  EXPECT_EQ(info_console_.Text(), "請稍候...\n已完成\n");
  EXPECT_EQ(drive_->Requests().back().cdb, (Bytes{0x5B, 0, 0x02, 0, 0, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(drive_->Requests().back().timeout_seconds, 600U);
  EXPECT_TRUE(window_.IsEnabled(kCloseSessionButton));
}

// A close the drive refuses (a blank disc, a pressed one) or that cannot be sent is said
// to have failed, never to be done; the button is usable again all the same.
TEST_F(MainCommandsTest, RefusedOrFailedCloseSessionIsNotDone) {
  Medium(0x10);
  const std::pair<ScriptedDrive::Reply, const char*> cases[] = {
      {{{}, 0x052C00},
       "the drive refused CLOSE TRACK/SESSION (SK/ASC/ASCQ=52C00h, "
       "COMMAND SEQUENCE ERROR)"},
      {{{}, 0x053005},
       "the drive refused CLOSE TRACK/SESSION (SK/ASC/ASCQ=53005h, "
       "CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT)"},
      {{{}, 0, 5}, "CLOSE TRACK/SESSION could not be sent to the drive (the request failed)"},
  };
  for (const auto& [reply, reason] : cases) {
    drive_->On({0x5B}, reply);
    const Outcome outcome = CloseSession(window_);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, reason);
    EXPECT_EQ(info_console_.Text(), "請稍候...\n關閉節區失敗.\n");
    EXPECT_TRUE(window_.IsEnabled(kCloseSessionButton));
  }
  Medium(0x70);
  EXPECT_EQ(CloseSession(window_).reason, "no disc in the drive");
}

// The tray commands tell whether the drive did what was asked.
TEST_F(MainCommandsTest, TrayCommandsTellWhetherTheDriveDidIt) {
  Medium(0x01);
  drive_->On({0x1B}, {{}, 0, 5});
  EXPECT_EQ(OpenTray(window_).reason,
            "START/STOP UNIT could not be sent to the drive (the request failed)");
  drive_->On({0x1B}, {{}, 0x055302});  // removal prevented, by another program's job
  EXPECT_EQ(OpenTray(window_).reason,
            "the tray is locked (MEDIUM REMOVAL PREVENTED): a program that writes to the disc "
            "keeps it shut until its job ends");
  {
    // This program's own job holds the drive: the button says why, and sends nothing.
    std::string refusal;
    auto claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), &refusal);
    ASSERT_NE(claim, nullptr) << refusal;
    drive_->ClearRecords();
    info_console_.Clear();
    EXPECT_EQ(OpenTray(window_).reason,
              "a job is writing to the disc: the tray stays shut until it ends");
    EXPECT_EQ(info_console_.Text(), "寫入中，無法退出光碟\n");
    EXPECT_TRUE(drive_->Requests().empty());
  }
  Medium(0x71);
  EXPECT_TRUE(OpenTray(window_).ok);  // already open: nothing to do
  EXPECT_FALSE(CloseTray(window_).ok);
  drive_->On({0x1B}, {});
  EXPECT_TRUE(CloseTray(window_).ok);
  Medium(0x41);
  EXPECT_TRUE(CloseTray(window_).ok);  // closed already
  drive_->On({0x5A}, {{}, 0, 5});
  EXPECT_EQ(OpenTray(window_).reason,
            "the drive did not answer (it could not be opened or the request failed)");
  EXPECT_FALSE(CloseTray(window_).ok);
}

TEST_F(MainCommandsTest, UncheckedBoxesKeepEarlierText) {
  window_.SetChecked(kClearCommandPane, false);
  window_.SetChecked(kClearInfoPane, false);
  command_console_.Append("trace\n");
  info_console_.Append("info\n");
  Medium(0x70);
  PressWrite(window_, jobs_);
  EXPECT_EQ(info_console_.Text(), "info\n尚未放入光碟片!\n");
  EXPECT_EQ(command_console_.Text(), "trace\n");
}

}  // namespace
}  // namespace zorvane
