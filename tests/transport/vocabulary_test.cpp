#include <gtest/gtest.h>

#include <set>
#include <string>

#include "transport/vocabulary.h"

namespace zorvane {
namespace {

TEST(CommandNameTest, TableHasSixtyThreeNamedOpcodesAndUnknownElsewhere) {
  std::size_t count = 0;
  const std::uint8_t* opcodes = NamedOpcodes(&count);
  ASSERT_EQ(count, 63U);
  std::set<int> named(opcodes, opcodes + count);
  int unknown = 0;
  for (int op = 0; op < 256; ++op) {
    const std::string name = CommandName(static_cast<std::uint8_t>(op));
    EXPECT_FALSE(name.empty());
    if (named.count(op) == 0) {
      EXPECT_EQ(name, "UNKNOWN") << std::hex << op;
      ++unknown;
    } else {
      EXPECT_NE(name, "UNKNOWN") << std::hex << op;
      EXPECT_LT(op, 0xC0);
    }
  }
  EXPECT_EQ(unknown, 256 - 63);
}

TEST(CommandNameTest, NamesAsTheTraceShowsThem) {
  EXPECT_STREQ(CommandName(0xA8), "READ12");
  EXPECT_STREQ(CommandName(0x08), "READ");
  EXPECT_STREQ(CommandName(0x28), "READ");
  EXPECT_STREQ(CommandName(0xA7), "SEND READ AHEAD");
  EXPECT_STREQ(CommandName(0xAA), "SET READ AHEAD");
  EXPECT_STREQ(CommandName(0x02), "UNKNOWN");
  EXPECT_STREQ(CommandName(0xC0), "UNKNOWN");
  EXPECT_STREQ(CommandName(0xD8), "UNKNOWN");
  EXPECT_STREQ(CommandName(0xA6), "LOAD/UNLOAD ");  // trailing blank kept
  EXPECT_STREQ(CommandName(0x1C), "RECEICE DIAGNOSTIC RESULTS");
  EXPECT_STREQ(CommandName(0x4A), "GET EVENT/STATUS NOTIFICATION");
  EXPECT_STREQ(CommandName(0x15), CommandName(0x55));
  EXPECT_STREQ(CommandName(0x45), CommandName(0xA5));
  EXPECT_STREQ(CommandName(0xBF), "SEND DVD STRUCTURE");
}

TEST(SenseTextTest, TableHas247DistinctKeysEachEndingWithALineEnd) {
  std::size_t count = 0;
  const SenseTextEntry* table = SenseTextTable(&count);
  ASSERT_EQ(count, 247U);
  std::set<std::int32_t> keys;
  int tabbed = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string text = table[i].text;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << std::hex << table[i].code;
    if (text.front() == '\t') ++tabbed;
    keys.insert(table[i].code);
    EXPECT_LE(table[i].code, 0xFFFFFF);
  }
  EXPECT_EQ(keys.size(), 247U);
  EXPECT_EQ(tabbed, 2);
}

TEST(SenseTextTest, KeyIsComparedWhole) {
  EXPECT_STREQ(SenseText(0x020401), "LOGICAL UNIT IS IN PROCESS OF BECOMING READY\n");
  EXPECT_STREQ(SenseText(0x052400), "INVALID FIELD IN CDB\n");
  EXPECT_EQ(SenseText(0x252400), nullptr);  // incorrect-length bit set: no text
  EXPECT_STREQ(SenseText(0x044000), "DIAGNOSTIC FAILURE ON COMPONENT NN(80H-FFH)\n");
  EXPECT_EQ(SenseText(0x044080), nullptr);
  EXPECT_EQ(SenseText(0x011706), nullptr);  // between two listed qualifiers
  EXPECT_STREQ(SenseText(0x256400), "ILLEGAL MODE FOR THIS TRACK\n");
  EXPECT_STREQ(SenseText(0x56FF00),
               "COPY PROTECTION KEY EXCHANGE FAILURE \xE2\x80\x93 AUTHENTICATION FAILURE\n");
  EXPECT_STREQ(SenseText(0x052700), SenseText(0x072700));
  EXPECT_STREQ(SenseText(0x037310), "\tCURRENT POWER CALIBRATION AREA IS ALMOST FULL\n");
  EXPECT_STREQ(SenseText(0x023011), "ANNOT WRITE MEDIUM \xE2\x80\x93 UNSUPPORTED MEDIUM VERSION\n");
  EXPECT_EQ(SenseText(0), SenseText(0x000000));
  EXPECT_STREQ(SenseText(0), "NO ADDITIONAL SENSE INFORMATION\n");
  EXPECT_EQ(SenseText(-1), nullptr);
}

TEST(SenseTextTest, LogSenseTextAppendsOnlyKnownCodesAndReturnsTheCode) {
  StringConsole console;
  EXPECT_EQ(LogSenseText(&console, 0x062800), 0x062800);
  EXPECT_EQ(console.Text(), "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED\n");
  console.Clear();
  EXPECT_EQ(LogSenseText(&console, 0x252400), 0x252400);
  EXPECT_EQ(console.Text(), "");
}

}  // namespace
}  // namespace zorvane
