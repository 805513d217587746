#include <gtest/gtest.h>

#include "base/utilities.h"

namespace zorvane {
namespace {

TEST(ByteOrderTest, BigAndLittleEndianAtAnyAlignment) {
  std::uint8_t bytes[9] = {0, 0x00, 0x00, 0x08, 0x00, 0xFF, 0xFF, 0xFF, 0xFE};
  std::uint32_t value = 0;
  ReadBe32(value, bytes + 1);
  EXPECT_EQ(value, 2048U);
  EXPECT_EQ(ReadBe32(bytes + 5), 0xFFFFFFFEU);
  std::uint8_t out[5] = {};
  WriteBe32(2048, out + 1);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[3], 0x08);
  EXPECT_EQ(out[4], 0x00);
  WriteLe32(2048, out + 1);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0x08);
  EXPECT_EQ(out[3], 0x00);
  EXPECT_EQ(out[4], 0x00);
  WriteLe32(0x11223344, out);
  EXPECT_EQ(out[0], 0x44);
  EXPECT_EQ(out[3], 0x11);
  WriteBe32(0xDEADBEEF, out);
  EXPECT_EQ(ReadBe32(out), 0xDEADBEEFU);
}

TEST(MsfToLbaTest, EdgesOfTheCdTimeScale) {
  const std::uint8_t start[3] = {0, 2, 0};
  const std::uint8_t zero[3] = {0, 0, 0};
  const std::uint8_t end[3] = {79, 59, 74};
  const std::uint8_t lead_in[3] = {99, 59, 74};
  const std::uint8_t atip[3] = {97, 24, 1};
  EXPECT_EQ(MsfToLba(start), 0);
  EXPECT_EQ(MsfToLba(zero), -150);
  EXPECT_EQ(MsfToLba(end), 359849);
  EXPECT_EQ(MsfToLba(lead_in), 449849);
  EXPECT_EQ(MsfToLba(atip), 97 * 4500 + 24 * 75 + 1 - 150);
  const std::uint8_t max[3] = {255, 255, 255};  // no overflow on unsigned bytes
  EXPECT_EQ(MsfToLba(max), 255 * 4500 + 255 * 75 + 255 - 150);
}

}  // namespace
}  // namespace zorvane
