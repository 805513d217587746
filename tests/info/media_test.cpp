#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "info/media.h"
#include "tests/support/test_support.h"
#include "transport/discovery.h"
#include "transport/polling.h"

namespace zorvane {
namespace {

using test::ModeSenseData;
using test::TransportTest;

class ProbeTest : public TransportTest {
 protected:
  std::shared_ptr<ScriptedDrive> Drive(std::uint8_t medium_type) {
    auto drive = Attach(0);
    drive->On({0x00}, {});
    drive->On({0x5A}, {ModeSenseData(medium_type)});
    return drive;
  }
};

TEST_F(ProbeTest, ReportsTheCodeAndItsDescription) {
  const std::pair<std::uint8_t, const char*> cases[] = {
      {0x70, "Media Code=70, 光碟設備門己關上, 且不存在光碟片\n"},
      {0x71, "Media Code=71, 光碟設備門己開啟\n"},
      {0x01, "Media Code=01, 光碟設備中存在120mm的CD-ROM\n"},
      {0x11, "Media Code=11, 光碟設備中存在120mm的CD-ROM(CD-R)\n"},
      {0x24, "Media Code=24, 光碟設備中存在120mm的CD-ROM(CD-RW) Hybrid disc(Photo CD)\n"},
      {0x41, "Media Code=41, 光碟設備中存在120mm的DVD\n"},
      {0x00, "Media Code=00, 光碟設備中不知是哪種光碟片\n"},
      {0x05, "Media Code=05, "},  // no description and no line end
      {0x42, "Media Code=42, "},
  };
  for (const auto& [code, line] : cases) {
    SetUp();
    Drive(code);
    info_console_.Clear();
    EXPECT_EQ(ProbeMediumType(1), code);
    EXPECT_EQ(info_console_.Text(), line);
    EXPECT_EQ(command_console_.Text(), "");  // the probe's commands are not traced
    EXPECT_EQ(TraceEnabled.load(), 1);
  }
}

TEST_F(ProbeTest, SilentWithoutReportAndSendsTheDocumentedSequence) {
  auto drive = Drive(0x10);
  EXPECT_EQ(ProbeMediumType(0), 0x10);
  EXPECT_EQ(info_console_.Text(), "");
  const auto records = drive->Requests();
  ASSERT_EQ(records.size(), 4U);
  EXPECT_EQ(records[0].cdb[0], 0x00);
  EXPECT_EQ(records[1].cdb[0], 0x00);
  EXPECT_EQ(records[2].cdb, (std::vector<std::uint8_t>{0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0xFF, 0}));
  EXPECT_EQ(records[2].transfer_length, 65535);
  EXPECT_EQ(records[2].direction, kDataIn);
  EXPECT_EQ(records[3].cdb[0], 0x00);
  EXPECT_EQ(drive->OpenCount(), 2);  // the first TEST UNIT READY closes, then one open
  EXPECT_TRUE(IsDeviceOpen(0));      // left open for the caller's next command
  EXPECT_EQ(ReplyBuffer[8], 0x2A);   // the mode data stays in the reply buffer
}

TEST_F(ProbeTest, WaitsWhileTheDriveBecomesReady) {
  auto drive = Drive(0x01);
  drive->On({0x00}, {{}, 0x020401}, 4);
  EXPECT_EQ(ProbeMediumType(0), 0x01);
  // The first TEST UNIT READY plus three more polls answered "becoming ready", then one
  // good poll, MODE SENSE and the final TEST UNIT READY.
  EXPECT_EQ(drive->Opcodes(), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0x5A, 0}));
}

TEST_F(ProbeTest, UnitAttentionMakesModeSenseRepeatUnseen) {
  auto drive = Drive(0x41);
  drive->On({0x5A}, {{}, 0x062800}, 1);
  drive->On({0x5A}, {{}, 0x020401}, 1);
  EXPECT_EQ(ProbeMediumType(1), 0x41);
  EXPECT_EQ(drive->Opcodes(), (std::vector<std::uint8_t>{0, 0, 0x5A, 0x5A, 0x5A, 0}));
  EXPECT_EQ(info_console_.Text(), "Media Code=41, 光碟設備中存在120mm的DVD\n");
}

TEST_F(ProbeTest, PollingIsBoundedForADriveThatNeverBecomesReady) {
  SetReadyPolling(PollPolicy{std::chrono::milliseconds(1), std::chrono::milliseconds(30)});
  auto drive = Drive(0x01);
  drive->On({0x00}, {{}, 0x020401});
  drive->On({0x5A}, {{}, 0x020401});
  EXPECT_EQ(ProbeMediumType(1), kMediumUnknown);
  EXPECT_EQ(info_console_.Text(), "Media Code=00, 光碟設備中不知是哪種光碟片\n");
  EXPECT_EQ(TraceEnabled.load(), 1);
  // Paced: far fewer attempts than an unpaced loop would make in the time allowed.
  EXPECT_LT(drive->Requests().size(), 100U);
}

TEST_F(ProbeTest, UnreachableDriveGivesFFAndPrintsNothing) {
  EXPECT_EQ(ProbeMediumType(1), kMediumNoDevice);  // d: has no device at all
  EXPECT_EQ(info_console_.Text(), "");
  EXPECT_EQ(messages_.Count(), 0);
  EXPECT_EQ(TraceEnabled.load(), 1);

  auto drive = Attach(0);
  drive->On({0x00}, {{}, 0, EIO});
  EXPECT_EQ(ProbeMediumType(1), kMediumNoDevice);
  EXPECT_EQ(drive->Requests().size(), 1U);
  EXPECT_EQ(command_console_.Text(), "");
}

TEST_F(ProbeTest, DriveLostDuringTheProbeGivesFF) {
  auto drive = Drive(0x01);
  drive->On({0x5A}, {{}, 0, EIO});
  EXPECT_EQ(ProbeMediumType(1), kMediumNoDevice);
  EXPECT_EQ(info_console_.Text(), "");
}

TEST_F(ProbeTest, RefusedModeSenseGivesACodeFromItsSense) {
  auto drive = Drive(0x01);
  drive->On({0x5A}, {ModeSenseData(0x01), 0x023A01});
  EXPECT_EQ(ProbeMediumType(0), kMediumNoDisc);
  drive->On({0x5A}, {ModeSenseData(0x01), 0x023A02});
  EXPECT_EQ(ProbeMediumType(0), kMediumDoorOpen);
  drive->On({0x5A}, {ModeSenseData(0x01), 0x052400});
  EXPECT_EQ(ProbeMediumType(0), kMediumUnknown);
}

TEST_F(ProbeTest, ShortReplyDoesNotReuseAnOldHeader) {
  ReplyBuffer[2] = 0x41;  // left over from an earlier command
  auto drive = Drive(0x00);
  drive->On({0x5A}, {{0x00, 0x06}});  // two bytes only
  EXPECT_EQ(ProbeMediumType(0), 0x00);
}

TEST_F(ProbeTest, ProbesTheCurrentDevice) {
  auto other = Attach(4);
  other->On({0x00}, {});
  other->On({0x5A}, {ModeSenseData(0x02)});
  CurrentDevice.slot = 4;
  CurrentDevice.target = 4;
  EXPECT_EQ(ProbeMediumType(0), 0x02);
  EXPECT_EQ(other->Requests().size(), 4U);
}

// A drive whose medium-type byte says nothing (00h, or 70h whatever the tray holds): the
// class comes from the current profile and, on a recordable CD, the disc status.
class ProbeWithoutMediumTypeTest : public ProbeTest {
 protected:
  std::shared_ptr<ScriptedDrive> Drive(std::uint8_t byte, std::uint16_t profile,
                                       std::uint8_t disc_status = 0) {
    auto drive = ProbeTest::Drive(byte);
    std::vector<std::uint8_t> configuration(8 + 8, 0);
    configuration[3] = 12;
    configuration[6] = static_cast<std::uint8_t>(profile >> 8);
    configuration[7] = static_cast<std::uint8_t>(profile);
    drive->On({0x46}, {configuration});
    std::vector<std::uint8_t> disc(34, 0);
    disc[1] = 32;
    disc[2] = disc_status;
    drive->On({0x51}, {disc});
    return drive;
  }
};

TEST_F(ProbeWithoutMediumTypeTest, ClassFromTheProfileAndTheDiscStatus) {
  struct Case {
    std::uint8_t byte;
    std::uint16_t profile;
    std::uint8_t disc_status;
    std::uint8_t code;
  };
  const Case cases[] = {
      {0x70, 0x0011, 0, 0x41}, {0x00, 0x001B, 0, 0x41}, {0x71, 0x002B, 0, 0x41},
      {0x70, 0x0012, 0, 0x41}, {0x00, 0x0008, 2, 0x01}, {0x70, 0x0009, 0, 0x10},
      {0x70, 0x0009, 1, 0x11}, {0x00, 0x0009, 2, 0x11}, {0x00, 0x000A, 0, 0x20},
      {0x70, 0x000A, 2, 0x21}, {0x00, 0x0040, 2, 0x00}, {0x70, 0x0000, 0, 0x70},
      {0x00, 0x0050, 2, 0x00},
  };
  for (const Case& c : cases) {
    SetUp();
    Drive(c.byte, c.profile, c.disc_status);
    EXPECT_EQ(ProbeMediumType(0), c.code)
        << std::hex << int(c.byte) << " profile " << c.profile << " status " << int(c.disc_status);
    EXPECT_EQ(ReplyBuffer[8], 0x2A);  // the mode data stays for the caller
    EXPECT_EQ(TraceEnabled.load(), 1);
  }
  SetUp();
  Drive(0x70, 0x0011);
  EXPECT_EQ(ProbeMediumType(1), 0x41);
  EXPECT_EQ(info_console_.Text(), "Media Code=41, 光碟設備中存在120mm的DVD\n");
  EXPECT_EQ(command_console_.Text(), "");
}

TEST_F(ProbeWithoutMediumTypeTest, AMeaningfulByteIsTakenAsItIs) {
  auto drive = Drive(0x11, 0x001B);  // the profile would say DVD+R: not asked
  EXPECT_EQ(ProbeMediumType(0), 0x11);
  EXPECT_EQ(drive->Opcodes(), (std::vector<std::uint8_t>{0, 0, 0x5A, 0}));
}

TEST_F(ProbeWithoutMediumTypeTest, NoDiscTakesTheTrayStateFromTheDrive) {
  // 70h with the tray open: TEST UNIT READY says so.
  auto drive = Drive(0x70, 0x0000);
  drive->On({0x00}, {{}, 0x023A02});
  EXPECT_EQ(ProbeMediumType(0), kMediumDoorOpen);
  // "Medium not present" alone: the media event status tells the tray state.
  SetUp();
  drive = Drive(0x70, 0x0000);
  drive->On({0x00}, {{}, 0x023A00});
  drive->On({0x4A}, {{0x00, 0x06, 0x04, 0x10, 0x00, 0x01, 0x00, 0x00}});
  EXPECT_EQ(ProbeMediumType(0), kMediumDoorOpen);
  SetUp();
  drive = Drive(0x00, 0x0000);
  drive->On({0x00}, {{}, 0x023A00});
  drive->On({0x4A}, {{0x00, 0x06, 0x04, 0x10, 0x00, 0x00, 0x00, 0x00}});
  EXPECT_EQ(ProbeMediumType(0), kMediumNoDisc);
}

TEST_F(ProbeWithoutMediumTypeTest, RefusedQueriesKeepTheByte) {
  auto drive = ProbeTest::Drive(0x70);  // no GET CONFIGURATION: 05/20/00
  EXPECT_EQ(ProbeMediumType(0), 0x70);
  SetUp();
  drive = ProbeTest::Drive(0x00);
  drive->On({0x46}, {{}, 0, EIO});  // the request fails
  EXPECT_EQ(ProbeMediumType(0), 0x00);
  EXPECT_EQ(TraceEnabled.load(), 1);
}

TEST(ProfileNameTest, NamesAndTheUnknownName) {
  char text[32];
  ProfileName(0x00, text);
  EXPECT_STREQ(text, "不知道");
  ProfileName(0xFF, text);
  EXPECT_STREQ(text, "不知道");
  ProfileName(0x15, text);
  EXPECT_STREQ(text, "DVD-R DL(Sequential Recording)");
  EXPECT_EQ(std::string(text).size(), 30U);  // the longest name fits 32 bytes
  ProfileName(0x13, text);
  EXPECT_STREQ(text, "DVD-RW(Restricted Overwrite)");
  ProfileName(0x2B, text);
  EXPECT_STREQ(text, "DVD+R DL");
  ProfileName(0x0A, text);
  EXPECT_STREQ(text, "CD-RW");
  ProfileName(0x28, text);
  EXPECT_STREQ(text, "MRW");
  ProfileName(0x52, text);
  EXPECT_STREQ(text, "HD DVD-RAM");
  EXPECT_STREQ(ProfileNameText(0x40), "BD-ROM");
  EXPECT_STREQ(ProfileNameText(0x41), "BD-R SRM");
  EXPECT_STREQ(ProfileNameText(0x42), "BD-R RRM");
  EXPECT_STREQ(ProfileNameText(0x43), "BD-RE");
  EXPECT_STREQ(ProfileNameText(0x06), "不知道");
  EXPECT_STREQ(ProfileNameText(0x44), "不知道");
  char tiny[4];
  ProfileName(0x10, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "DVD");
}

TEST(MediumClassTest, DvdFamilyIsFortyOneToFourF) {
  EXPECT_FALSE(IsDvdMedium(0x40));
  EXPECT_TRUE(IsDvdMedium(0x41));
  EXPECT_TRUE(IsDvdMedium(0x4F));
  EXPECT_FALSE(IsDvdMedium(0x50));
}

}  // namespace
}  // namespace zorvane
