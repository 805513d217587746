#include <gtest/gtest.h>

#include <string>

#include "transport/console.h"

namespace zorvane {
namespace {

TEST(ConsoleLogTest, AppendsFormattedTextAndIgnoresNullConsole) {
  StringConsole console;
  ConsoleLog(&console, "Media Code=%02X, ", 0x70);
  ConsoleLog(&console, "%s %s\n", "f:", "ZORVANE ");
  EXPECT_EQ(console.Text(), "Media Code=70, f: ZORVANE \n");
  ConsoleLog(nullptr, "%d", 1);  // no console yet: dropped, not a crash
}

TEST(ConsoleLogTest, CutsLongTextAt1023Bytes) {
  StringConsole console;
  const std::string long_text(3000, 'x');
  ConsoleLog(&console, "%s", long_text.c_str());
  EXPECT_EQ(console.Text().size(), 1023U);
}

TEST(ConsoleLogTest, CutNeverSplitsAUtf8Character) {
  StringConsole console;
  // 1,022 ASCII bytes then a three-byte character: only 1 byte of room is left, so the
  // character is left out whole.
  const std::string text = std::string(1022, 'a') + "光碟";
  ConsoleLog(&console, "%s", text.c_str());
  EXPECT_EQ(console.Text(), std::string(1022, 'a'));
  // 1,020 bytes plus one character fits exactly.
  console.Clear();
  ConsoleLog(&console, "%s", (std::string(1020, 'a') + "光碟").c_str());
  EXPECT_EQ(console.Text(), std::string(1020, 'a') + "光");
}

TEST(ConsoleLogTest, Utf8PrefixLengthAtEdges) {
  EXPECT_EQ(Utf8PrefixLength("abc", 5), 3U);
  EXPECT_EQ(Utf8PrefixLength("abc", 0), 0U);
  EXPECT_EQ(Utf8PrefixLength("光", 2), 0U);
  EXPECT_EQ(Utf8PrefixLength("光", 3), 3U);
  EXPECT_EQ(Utf8PrefixLength("a光b", 4), 4U);
  EXPECT_EQ(Utf8PrefixLength("a光b", 3), 1U);
}

TEST(ShowMessageTest, GoesToTheSinkWithCaption) {
  StringMessageSink sink;
  MessageBoxSink = &sink;
  ShowMessage("Error", "Error opening %s  Error: %d\n", "d:", 2);
  MessageBoxSink = nullptr;
  ShowMessage("Error", "dropped");  // no sink: nothing happens
  EXPECT_EQ(sink.Text(), "Error: Error opening d:  Error: 2\n");
  EXPECT_EQ(sink.Count(), 1);
}

}  // namespace
}  // namespace zorvane
