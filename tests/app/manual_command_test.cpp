#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/manual_command.h"
#include "base/templates.h"
#include "info/media.h"
#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

std::vector<std::uint8_t> Parse(std::string_view text, std::size_t capacity = 80) {
  std::vector<std::uint8_t> out(capacity + 4, 0xEE);
  out.resize(ParseHexBytes(text, out.data(), capacity));
  return out;
}

using Bytes = std::vector<std::uint8_t>;

TEST(ParseHexBytesTest, ExamplesOfTheManualCommandArea) {
  EXPECT_EQ(Parse("12 00 00 00 FF 00"), (Bytes{0x12, 0, 0, 0, 0xFF, 0}));
  EXPECT_EQ(Parse("1 2 3"), (Bytes{1, 2, 3}));
  EXPECT_EQ(Parse("123 4"), (Bytes{0x12, 3, 4}));
  EXPECT_EQ(Parse("ABCDEF"), (Bytes{0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(Parse("abcdef"), (Bytes{0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(Parse("12,34"), (Bytes{0x12, 0x34}));
  EXPECT_EQ(Parse("1,2"), (Bytes{0x12}));
  EXPECT_EQ(Parse("7"), (Bytes{7}));
  EXPECT_EQ(Parse("1,"), Bytes{});  // a digit still pending at the end is dropped
  EXPECT_EQ(Parse(""), Bytes{});
  EXPECT_EQ(Parse("xyz ;-"), Bytes{});
  EXPECT_EQ(Parse("12\0"
                  "34"),
            (Bytes{0x12}));                    // the text ends at its zero
  EXPECT_EQ(Parse("光碟 12"), (Bytes{0x12}));  // non-ASCII bytes are skipped
}

TEST(ParseHexBytesTest, NeverWritesPastTheBuffer) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "AA ";
  std::vector<std::uint8_t> out(12, 0);
  out.push_back(0x5A);  // guard byte
  EXPECT_EQ(ParseHexBytes(text, out.data(), 12), 12U);
  EXPECT_EQ(out[12], 0x5A);
  EXPECT_EQ(ParseHexBytes("12 34", out.data(), 0), 0U);
}

TEST(HexDigitTest, DigitsAndOthers) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('g'), 255);
  EXPECT_EQ(HexDigitValue(' '), 255);
  EXPECT_EQ(HexDigitValue('\xFF'), 255);
  EXPECT_TRUE(IsHexDigit('c'));
  EXPECT_FALSE(IsHexDigit('G'));
}

TEST(ManualGroupsTest, DirectionAndLengthByOpcode) {
  EXPECT_EQ(DataGroupOf(0x12), ManualDataGroup::kFromDrive);
  EXPECT_EQ(DataGroupOf(0x1D), ManualDataGroup::kFromDrive);
  EXPECT_EQ(DataGroupOf(0xFF), ManualDataGroup::kFromDrive);
  EXPECT_EQ(DataGroupOf(0x04), ManualDataGroup::kToDriveCounted);
  EXPECT_EQ(DataGroupOf(0xB6), ManualDataGroup::kToDriveCounted);
  EXPECT_EQ(DataGroupOf(0x55), ManualDataGroup::kToDriveFull);
  EXPECT_EQ(DataGroupOf(0x2A), ManualDataGroup::kToDriveFull);
  EXPECT_EQ(DataGroupOf(0x00), ManualDataGroup::kNoData);
  EXPECT_EQ(DataGroupOf(0x1B), ManualDataGroup::kNoData);
  EXPECT_EQ(DataGroupOf(0x5B), ManualDataGroup::kNoData);
  const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
  EXPECT_EQ(ManualTransferLength(inquiry), 65535U);
  EXPECT_EQ(DataTextLimit(0x04), 254U);
  EXPECT_EQ(DataTextLimit(0xF9), 254U);
  EXPECT_EQ(DataTextLimit(0x2A), 79U);
  EXPECT_EQ(DataTextLimit(0x55), 79U);
  EXPECT_EQ(DataTextLimit(0x12), 0U);
  EXPECT_EQ(DataTextLimit(0x00), 0U);
}

// READ(10) and READ(12) ask for exactly the 2,048-byte blocks they read, so the drive's
// data phase fits; more than one phase holds is asked for as 65,535 bytes (and fails as
// an overrun on the drive), never as a length cut to 16 bits.
TEST(ManualGroupsTest, ReadsAskForWholeDataBlocks) {
  struct Case {
    std::vector<std::uint8_t> cdb;
    std::uint32_t blocks;
    std::uint32_t length;
  };
  const Case cases[] = {
      {{0x28, 0, 0, 0, 0, 0x10, 0, 0, 0x01, 0}, 1, 2048},
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 0x04, 0}, 4, 8192},
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 0x1F, 0}, 31, 63488},
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 0x20, 0}, 32, 65535},
      {{0x28, 0, 0, 0, 0, 0, 0, 0x01, 0x01, 0}, 257, 65535},
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 0x00, 0}, 0, 0},
      {{0xA8, 0, 0, 0, 0, 0x10, 0, 0, 0, 0x01, 0, 0}, 1, 2048},
      {{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 0x1F, 0, 0}, 31, 63488},
      {{0xA8, 0, 0, 0, 0, 0, 0x01, 0, 0, 0x01, 0, 0}, 0x01000001, 65535},
      {{0xA8, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xFFFFFFFF, 65535},
      {{0xBE, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x10, 0, 0}, 0, 65535},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ManualReadBlocks(c.cdb.data()), c.blocks) << int{c.cdb[0]};
    EXPECT_EQ(ManualTransferLength(c.cdb.data()), c.length) << c.blocks;
  }
}

TEST(DumpRuleTest, RowsByOpcode) {
  auto rule = [](Bytes cdb) {
    cdb.resize(12, 0);
    return DumpRuleOf(cdb.data());
  };
  EXPECT_EQ(rule({0x28}).rows, 129);
  EXPECT_TRUE(rule({0xA8}).empty_console);
  EXPECT_FALSE(rule({0xAD}).dump_on_failure);
  EXPECT_EQ(rule({0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8}).rows, 148);
  EXPECT_EQ(rule({0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x04}).rows, 19);
  EXPECT_EQ(rule({0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0x02}).rows, 19);
  EXPECT_EQ(rule({0x46, 2, 0, 0, 0, 0, 0, 0, 0x08}).rows, 0);
  EXPECT_EQ(rule({0x46, 0, 0, 0, 0, 0, 0, 0x01, 0x00}).rows, 16);
  EXPECT_EQ(rule({0x46, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}).rows, 4096);  // the whole buffer
  EXPECT_TRUE(rule({0x46}).dump_on_failure);
  EXPECT_FALSE(rule({0x46}).empty_console);
  EXPECT_EQ(rule({0x12}).rows, 16);
}

TEST(HexDumpTest, HeaderRowsAndCharacterColumn) {
  std::uint8_t data[32] = {};
  for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>('A' + i);
  data[16] = 0x7F;
  data[17] = 0x80;
  data[18] = 0x81;
  data[19] = 0x1F;
  data[20] = 0x20;
  StringConsole console;
  HexDump(&console, data, 2);
  EXPECT_EQ(console.Text(),
            "      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n"
            "\n"
            "0000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP\n"
            "0010: 7F 80 81 1F 20 00 00 00 00 00 00 00 00 00 00 00   \x7F\xC2\x80.. ...........\n"
            "\n");
  console.Clear();
  HexDump(&console, data, 0);
  EXPECT_EQ(console.Text(),
            "      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n\n\n");
}

TEST(HexDumpTest, LargestDumpEndsAtTheEndOfTheReplyBuffer) {
  StringConsole console;
  HexDump(&console, ReplyBuffer, 4096);
  const std::string text = console.Text();
  EXPECT_NE(text.find("\nFFF0: "), std::string::npos);
  EXPECT_EQ(text.find("10000: "), std::string::npos);
}

class ManualCommandTest : public test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    drive_ = Attach(0);
    window_.SetChecked(kClearCommandPane, false);
    window_.SetChecked(kClearInfoPane, false);
  }
  std::shared_ptr<ScriptedDrive> drive_;
  MemoryDialog window_;
};

TEST_F(ManualCommandTest, InquiryIsTracedAndDumped) {
  drive_->On({0x12}, {test::InquiryData("ZORVANE", "VIRTUAL DVD-RW", "1.00")});
  window_.SetText(kCdbInput, "12 00 00 00 24 00");
  ExecuteManualCommand(window_);
  EXPECT_EQ(command_console_.Text(),
            "INQUIRY  12 00 00 00 24 00\nSK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
  const std::string dump = info_console_.Text();
  EXPECT_EQ(dump.rfind("      00 01 02", 0), 0U);
  EXPECT_NE(
      dump.find(
          "0000: 05 80 05 32 5B 00 00 00 5A 4F 52 56 41 4E 45 20   .\xC2\x80.2[...ZORVANE \n"),
      std::string::npos);
  EXPECT_NE(dump.find("00F0: "), std::string::npos);  // 16 rows
  EXPECT_EQ(dump.find("0100: "), std::string::npos);
  const auto record = drive_->Requests().back();
  EXPECT_EQ(record.transfer_length, 65535);
  EXPECT_EQ(record.direction, kDataIn);
  EXPECT_FALSE(IsDeviceOpen(0));
}

TEST_F(ManualCommandTest, ReadTenAsksForWholeBlocksAndSkipsTheDumpOnFailure) {
  drive_->On({0x28}, {std::vector<std::uint8_t>(2048, 0x11)});
  info_console_.Append("earlier text\n");
  window_.SetText(kCdbInput, "28 00 00 00 00 10 00 00 01 00");
  EXPECT_EQ(ExecuteManualCommand(window_), 0);
  EXPECT_EQ(drive_->Requests().back().transfer_length, 2048);
  std::string dump = info_console_.Text();
  EXPECT_EQ(dump.find("earlier text"), std::string::npos);  // emptied before the dump
  EXPECT_NE(dump.find("0800: 00 00"), std::string::npos);   // row 128 of 129: zeroed
  EXPECT_NE(dump.find("07F0: 11 11"), std::string::npos);

  drive_->On({0x28}, {{}, 0x052100});
  window_.SetText(kCdbInput, "28 00 00 00 00 00 00 00 80 00");
  EXPECT_EQ(ExecuteManualCommand(window_), 0x052100);
  EXPECT_EQ(drive_->Requests().back().transfer_length, 65535);
  EXPECT_EQ(info_console_.Text(), "");
}

// A request that could not be carried out brought no data: nothing is dumped, not even
// for the opcodes whose failures are dumped.
TEST_F(ManualCommandTest, FailedRequestDumpsNoZeros) {
  drive_->On({0x25}, {{}, 0, 5});
  info_console_.Append("kept\n");
  window_.SetText(kCdbInput, "25 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(ExecuteManualCommand(window_), -1);
  EXPECT_EQ(info_console_.Text(), "kept\n");
  // Refused with sense, the answer is dumped as before.
  drive_->On({0x25}, {{}, 0x023A00});
  EXPECT_EQ(ExecuteManualCommand(window_), 0x023A00);
  EXPECT_NE(info_console_.Text().find("0000: 00 00"), std::string::npos);
}

TEST_F(ManualCommandTest, GetConfigurationDumpIsKeptAndShownOnFailure) {
  drive_->On({0x46}, {{}, 0x052400});
  info_console_.Append("kept\n");
  window_.SetText(kCdbInput, "46 02 00 00 00 00 00 00 08 00");
  ExecuteManualCommand(window_);
  EXPECT_EQ(info_console_.Text(),
            "kept\n      00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f   0123456789abcdef\n"
            "\n\n");
}

TEST_F(ManualCommandTest, ReadCdRowsFollowTheMainChannelSelection) {
  drive_->SetDefault({});
  window_.SetText(kCdbInput, "BE 00 00 00 00 00 00 00 01 F8 00 00");
  ExecuteManualCommand(window_);
  EXPECT_NE(info_console_.Text().find("\n0930: "), std::string::npos);  // row 147
  EXPECT_EQ(info_console_.Text().find("\n0940: "), std::string::npos);
  window_.SetText(kCdbInput, "BE 00 00 00 00 00 00 00 01 04 00 00");
  ExecuteManualCommand(window_);
  EXPECT_NE(info_console_.Text().find("\n0120: "), std::string::npos);  // row 18
  EXPECT_EQ(info_console_.Text().find("\n0130: "), std::string::npos);
}

TEST_F(ManualCommandTest, ModeSelectEchoesTheDataAndSendsAFullBuffer) {
  drive_->SetDefault({});
  window_.SetText(kCdbInput, "15 10 00 00 0C 00");
  window_.SetText(kDataInput, "00 00 00 08");
  ExecuteManualCommand(window_);
  EXPECT_EQ(command_console_.Text(),
            "00 00 00 08 \nMODE SELECT  15 10 00 00 0C 00\n"
            "SK/ASC/ASCQ=0h, NO ADDITIONAL SENSE INFORMATION\n");
  const auto record = drive_->Requests().back();
  EXPECT_EQ(record.direction, kDataOut);
  EXPECT_EQ(record.transfer_length, 65535);
  EXPECT_EQ(record.data_out[3], 0x08);
}

TEST_F(ManualCommandTest, CountedDataSendsWhatWasTypedAndBreaksTheEchoEvery16Bytes) {
  drive_->SetDefault({});
  window_.SetText(kCdbInput, "B6 00 00 00 00 00 00 00 00 00 1C 00");
  std::string data;
  for (int i = 0; i < 17; ++i) data += "0A ";
  window_.SetText(kDataInput, data);
  ExecuteManualCommand(window_);
  EXPECT_EQ(drive_->Requests().back().transfer_length, 17);
  EXPECT_EQ(command_console_.Text().substr(0, 16 * 3 + 1 + 3 + 1),
            "0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A 0A \n0A \n");
}

// Data text longer than its group reads is refused with a line and nothing is sent: a cut
// text would send other bytes than the ones typed.
TEST_F(ManualCommandTest, DataLongerThanTheGroupReadsIsNotSent) {
  drive_->SetDefault({});
  struct Case {
    const char* cdb;
    std::size_t limit;
    std::size_t sent;  // a WRITE is sent between locking and unlocking the tray
  };
  for (const Case& c : {Case{"B6 00 00 00 00 00 00 00 00 00 1C 00", 254, 1},
                        Case{"2A 00 00 00 00 10 00 00 01 00", 79, 3}}) {
    // Exactly the limit is sent whole; one character more is not sent at all.
    std::string data;
    while (data.size() + 3 <= c.limit) data += "AB ";
    data.resize(c.limit, 'A');
    if (data.size() % 3 == 1) data.back() = ' ';
    window_.SetText(kCdbInput, c.cdb);
    window_.SetText(kDataInput, data);
    const std::size_t before = drive_->Requests().size();
    EXPECT_EQ(ExecuteManualCommand(window_), 0);
    ASSERT_EQ(drive_->Requests().size(), before + c.sent);
    std::uint8_t parsed[200];
    const std::size_t count = ParseHexBytes(data, parsed, sizeof parsed);
    const std::vector<std::uint8_t> sent = drive_->Requests()[before + c.sent / 2].data_out;
    ASSERT_GE(sent.size(), count);
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(sent[i], parsed[i]) << i;

    info_console_.Clear();
    window_.SetText(kDataInput, data + "B");
    EXPECT_EQ(ExecuteManualCommand(window_), -1);
    EXPECT_EQ(drive_->Requests().size(), before + c.sent);
    EXPECT_EQ(info_console_.Text(),
              "資料區最多" + std::to_string(c.limit) + "個字元, 指令未送出!\n");
  }
}

TEST_F(ManualCommandTest, NothingTypedSendsTestUnitReady) {
  drive_->SetDefault({});
  window_.SetText(kCdbInput, "");
  ExecuteManualCommand(window_);
  window_.SetText(kCdbInput, "00");
  ExecuteManualCommand(window_);
  for (const auto& record : drive_->Requests()) {
    EXPECT_EQ(record.cdb, (std::vector<std::uint8_t>(6, 0)));
    EXPECT_EQ(record.direction, kDataNone);
    EXPECT_EQ(record.transfer_length, 0);
  }
}

TEST_F(ManualCommandTest, APickedItemWinsAndIsTakenWholeWhileTypedTextStopsAt79) {
  drive_->SetDefault({});
  // 78 blanks push the opcode of the typed text across character 79.
  const std::string padded = std::string(78, ' ') + "12 00 00 00 24 00";
  window_.SetText(kCdbInput, padded);
  ExecuteManualCommand(window_);
  EXPECT_EQ(drive_->Requests().back().cdb[0], 0x01);  // only "1" of "12" was read
  window_.AddItem(kCdbInput, padded);
  window_.SelectItem(kCdbInput, 0);
  ExecuteManualCommand(window_);
  EXPECT_EQ(drive_->Requests().back().cdb[0], 0x12);
}

TEST_F(ManualCommandTest, ClearBeforeRunEmptiesBothPanesWhenChecked) {
  drive_->SetDefault({});
  command_console_.Append("old trace\n");
  info_console_.Append("old info\n");
  window_.SetChecked(kClearCommandPane, true);
  window_.SetText(kCdbInput, "00 00 00 00 00 00");
  ExecuteManualCommand(window_);
  EXPECT_EQ(command_console_.Text().find("old trace"), std::string::npos);
  EXPECT_EQ(info_console_.Text(), "old info\n");
  window_.SetChecked(kClearInfoPane, true);
  ExecuteManualCommand(window_);
  EXPECT_EQ(info_console_.Text(), "");
}

}  // namespace
}  // namespace zorvane
