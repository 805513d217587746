#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_set.h"

namespace zorvane {
namespace {

using Lines = std::vector<std::string>;

TEST(CommandSetTest, LinesAreSortedAndOnlyCrLfEndsALine) {
  EXPECT_EQ(CommandSetLines("B = 00 00 00 00 00 00\r\nA = 12 00 00 00 24 00 ;INQUIRY\r\n"),
            (Lines{"A = 12 00 00 00 24 00 ;INQUIRY", "B = 00 00 00 00 00 00"}));
  EXPECT_EQ(CommandSetLines("A = 00\r\nlast without end"), (Lines{"A = 00"}));
  EXPECT_EQ(CommandSetLines("A = 00\nB = 12\n"), Lines{});  // LF only: one unended line
  EXPECT_EQ(CommandSetLines("\r\nA=1\r\n\r\n\r\nB=2\r\n"), (Lines{"A=1", "B=2"}));
  EXPECT_EQ(CommandSetLines("b=1\r\nA=2\r\nB=3\r\na=4\r\n"),
            (Lines{"A=2", "a=4", "b=1", "B=3"}));  // case folded first, then by bytes
  const std::string long_line = "LONG = " + std::string(600, '0');
  EXPECT_EQ(CommandSetLines(long_line + "\r\n"), (Lines{long_line}));  // kept whole
}

TEST(CommandSetTest, CommandTextOfALine) {
  EXPECT_EQ(CommandTextOf("A = 12 00 00 00 24 00 ;INQUIRY"), "12 00 00 00 24 00 ");
  EXPECT_EQ(CommandTextOf("X =   25 00 00 00 00 00 00 00 00 00"), "25 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(CommandTextOf("no equals sign"), "");
  EXPECT_EQ(CommandTextOf("A = 12 = 34 ; x = 5"), "12 = 34 ");
  EXPECT_EQ(CommandTextOf("A =    "), "");
  EXPECT_EQ(CommandTextOf("A =;comment"), "");
}

TEST(CommandSetTest, Utf8IsKeptAndBig5IsDecoded) {
  EXPECT_EQ(DecodeCommandSetText("讀取 = 28\r\n"), "讀取 = 28\r\n");
  EXPECT_EQ(DecodeCommandSetText("\xEF\xBB\xBFX = 00\r\n"), "X = 00\r\n");
  // "中文 = 12" in Big5.
  EXPECT_EQ(DecodeCommandSetText("\xA4\xA4\xA4\xE5 = 12\r\n"), "中文 = 12\r\n");
  // A byte that is neither UTF-8 nor Big5 is replaced, the rest survives.
  EXPECT_EQ(DecodeCommandSetText("A\xFF = 12\r\n"), "A\xEF\xBF\xBD = 12\r\n");
  // Overlong UTF-8 is not taken as UTF-8.
  EXPECT_NE(DecodeCommandSetText("\xC0\xAF"), "\xC0\xAF");
}

TEST(CommandSetTest, ReadsTheFileOrSaysItCannot) {
  const std::string directory = ::testing::TempDir();
  const std::string path = CommandSetPath(directory);
  {
    std::ofstream file(path, std::ios::binary);
    file << "B = 00 00 00 00 00 00\r\nA = 12 00 00 00 24 00 ;INQUIRY\r\n";
  }
  Lines lines;
  std::string error;
  ASSERT_TRUE(ReadCommandSet(path, &lines, &error));
  EXPECT_EQ(lines.size(), 2U);
  std::remove(path.c_str());
  EXPECT_FALSE(ReadCommandSet(path, &lines, &error));
  EXPECT_EQ(error, "Can not open " + path);
}

}  // namespace
}  // namespace zorvane
