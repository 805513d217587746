#include <gtest/gtest.h>

#include <cstring>

#include "transport/backend.h"
#include "transport/transport.h"

namespace zorvane {
namespace {

TEST(ToFixedSenseTest, FixedFormatIsCopiedUpTo24Bytes) {
  std::uint8_t in[32] = {0xF0, 0, 0x25, 0, 0, 0x12, 0x34, 10};
  in[12] = 0x64;
  in[13] = 0x00;
  in[30] = 0xEE;  // beyond 24 bytes: dropped
  std::uint8_t out[kSenseLength];
  ToFixedSense(in, sizeof in, out);
  EXPECT_EQ(std::memcmp(in, out, kSenseLength), 0);
  EXPECT_EQ(SenseCodeOf(out), 0x256400);
}

TEST(ToFixedSenseTest, ShortFixedSenseIsZeroFilled) {
  const std::uint8_t in[3] = {0x70, 0, 0x02};
  std::uint8_t out[kSenseLength];
  std::memset(out, 0xAA, sizeof out);
  ToFixedSense(in, sizeof in, out);
  EXPECT_EQ(SenseCodeOf(out), 0x020000);
  EXPECT_EQ(out[23], 0);
}

TEST(ToFixedSenseTest, DescriptorFormatBecomesFixed) {
  // 72h, key 3, ASC 11h, ASCQ 05h; information descriptor (LBA 0x00012345), sense-key
  // specific descriptor, stream descriptor with ILI.
  const std::uint8_t in[] = {0x72, 0x03, 0x11, 0x05, 0,    0,    0,    28,   0x00, 0x0A, 0x80,
                             0,    0,    0,    0,    0,    0x00, 0x01, 0x23, 0x45, 0x02, 0x06,
                             0,    0,    0x80, 0x12, 0x34, 0,    0x04, 0x02, 0,    0x20};
  std::uint8_t out[kSenseLength];
  ToFixedSense(in, sizeof in, out);
  EXPECT_EQ(out[0], 0xF0);  // current error, VALID
  EXPECT_EQ(out[2], 0x23);  // key 3 with ILI
  EXPECT_EQ(out[3], 0x00);
  EXPECT_EQ(out[6], 0x45);
  EXPECT_EQ(out[7], 10);
  EXPECT_EQ(out[12], 0x11);
  EXPECT_EQ(out[13], 0x05);
  EXPECT_EQ(out[15], 0x80);
  EXPECT_EQ(out[16], 0x12);
  EXPECT_EQ(SenseCodeOf(out), 0x231105);
}

TEST(ToFixedSenseTest, DescriptorWalkStopsAtTheBytesReceived) {
  // The additional length claims 200 bytes of descriptors but only 12 arrived, and the
  // one descriptor present claims more than that: nothing past the input is read.
  const std::uint8_t in[12] = {0x73, 0x06, 0x28, 0x00, 0, 0, 0, 200, 0x00, 0x0A, 0x80, 0};
  std::uint8_t out[kSenseLength];
  ToFixedSense(in, sizeof in, out);
  EXPECT_EQ(out[0], 0x71);
  EXPECT_EQ(SenseCodeOf(out), 0x062800);
  EXPECT_EQ(out[3], 0);
}

TEST(ToFixedSenseTest, UnknownOrEmptySenseGivesZero) {
  const std::uint8_t vendor[4] = {0x7F, 1, 2, 3};
  std::uint8_t out[kSenseLength];
  ToFixedSense(vendor, sizeof vendor, out);
  EXPECT_EQ(SenseCodeOf(out), 0);
  ToFixedSense(nullptr, 0, out);
  EXPECT_EQ(SenseCodeOf(out), 0);
}

}  // namespace
}  // namespace zorvane
