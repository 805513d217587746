#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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
}

// A line keeps at most 511 bytes, cut on a character boundary.
TEST(CommandSetTest, LongLinesAreCutTo511Bytes) {
  const std::string long_line = "LONG = " + std::string(600, '0');
  EXPECT_EQ(CommandSetLines(long_line + "\r\n"), (Lines{long_line.substr(0, 511)}));
  const std::string exact = "X = " + std::string(507, '1');
  EXPECT_EQ(CommandSetLines(exact + "\r\n"), (Lines{exact}));
  // 510 ASCII bytes and then a three-byte character: the character does not fit.
  const std::string wide = std::string(510, 'A') + "讀" + "B";
  EXPECT_EQ(CommandSetLines(wide + "\r\n"), (Lines{std::string(510, 'A')}));
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

// Files that cannot be a list of commands are refused at once, saying what is wrong,
// without blocking on them or reading them whole.
TEST(CommandSetTest, UnusableFilesAreRefusedWithTheReason) {
  char directory[] = "/tmp/zorvane-set-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string path = CommandSetPath(directory);
  auto refused = [&](const std::string& why) {
    Lines lines{"stale"};
    std::string error;
    EXPECT_FALSE(ReadCommandSet(path, &lines, &error)) << why;
    EXPECT_EQ(error, "Can not open " + path + " (" + why + ")");
    EXPECT_TRUE(lines.empty());
  };
  // A FIFO nobody writes to: opened without waiting for a writer.
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  refused("not a regular file");
  std::remove(path.c_str());
  // A link to a device that never ends.
  ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
  refused("not a regular file");
  std::remove(path.c_str());
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  refused("a directory");
  ::rmdir(path.c_str());
  // A 10 MB single line.
  {
    std::ofstream file(path, std::ios::binary);
    file << "X = " << std::string(10 * 1024 * 1024, '0') << "\r\n";
  }
  refused("larger than 1 MB");
  // UTF-16, with its byte order mark and without.
  static const char kWithMark[] =
      "\xFF\xFEX\0 \0=\0 \0"
      "0\0"
      "0\0\r\0\n\0";
  static const char kWithoutMark[] =
      "X\0 \0=\0 \0"
      "0\0"
      "0\0\r\0\n\0";
  for (const std::string& bytes : {std::string(kWithMark, sizeof kWithMark - 1),
                                   std::string(kWithoutMark, sizeof kWithoutMark - 1)}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    refused("UTF-16 or binary text: save the list as UTF-8 or Big5 text");
  }
  // Exactly 1 MB is still a list.
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string line = "A = 00\r\n";
    for (std::size_t size = 0; size + line.size() <= kCommandSetFileLimit; size += line.size()) {
      file << line;
    }
  }
  Lines lines;
  std::string error;
  EXPECT_TRUE(ReadCommandSet(path, &lines, &error)) << error;
  EXPECT_EQ(lines.size(), kCommandSetFileLimit / 8);
  std::remove(path.c_str());
  ::rmdir(directory);
}

}  // namespace
}  // namespace zorvane
