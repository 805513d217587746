// Writing at an address: round trips on every medium that takes it, the alignment rules of
// restricted overwrite, the chunking that the rules imply.
#include <gtest/gtest.h>

#include "tests/write/write_test_support.h"
#include "write/address_writer.h"

namespace zorvane::test {
namespace {

class AddressWriteTest : public WriteTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AddressWriteTest, ImageLandsAtTheAddressAndTheSectorsAroundStay) {
  const std::string preset = GetParam();
  const auto background = MakeImage("background.iso", 2048 * 96, 1);
  const auto image = MakeImage("at32.iso", 65536, 2);
  CliRun run = Cli(Spec(preset), {"write-at", "0", PathOf("background.iso")});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  run = Cli(Spec(preset), {"write-at", "32", PathOf("at32.iso")});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  Fresh(Spec(preset));
  std::vector<std::uint8_t> expected = background;
  std::copy(image.begin(), image.end(), expected.begin() + 32 * 2048);
  EXPECT_EQ(ReadData(0, 96), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryMedium, AddressWriteTest,
                         ::testing::Values("dvd-rw-ro", "dvd+rw", "dvd-ram", "cdrw-mrw"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                             if (c == '+') c = 'p';
                           }
                           return name;
                         });

class AddressRulesTest : public WriteTest {};

TEST_F(AddressRulesTest, RestrictedOverwriteWritesWholeBlocksAndOthersSingleSectors) {
  MakeImage("at32.iso", 65536, 3);
  // A refusal inside the range shows the WRITE that covered it.
  CliRun run = Cli(Spec("dvd-rw-ro", "fault=2A@47:031100"), {"write-at", "32", PathOf("at32.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "WRITE Error: 2A 00 00 00 00 20 00 00 10 00\n");
  run = Cli(Spec("dvd+rw", "fault=2A@47:031100"), {"write-at", "32", PathOf("at32.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "WRITE Error: 2A 00 00 00 00 2F 00 00 01 00\n");
}

TEST_F(AddressRulesTest, UnalignedStartOrSizeIsRefusedAndNothingWritten) {
  MakeImage("at.iso", 65536, 4);
  CliRun run = Cli(Spec("dvd-rw-ro"), {"write-at", "100", PathOf("at.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "寫入碟區的起始位置必須是16的倍數");
  MakeImage("odd.iso", 40000, 5);
  run = Cli(Spec("dvd-rw-ro"), {"write-at", "0", PathOf("odd.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "檔案大小必須是32KB的倍數");
  Fresh(Spec("dvd-rw-ro"));
  EXPECT_EQ(ReadData(0, 128), std::vector<std::uint8_t>(128 * 2048, 0));
}

TEST_F(AddressRulesTest, BusyAnswersAreWaitedOutAndTheLastSectorIsZeroFilled) {
  const auto image = MakeImage("at.iso", 2049, 6);  // two sectors
  const CliRun run =
      Cli(Spec("dvd+rw", "fault=2A@41:020408x20"), {"write-at", "40", PathOf("at.iso")});
  ASSERT_EQ(run.status, 0) << run.err;
  Fresh(Spec("dvd+rw"));
  EXPECT_EQ(ReadData(40, 2), Padded(image, 2048));
}

TEST_F(AddressRulesTest, MediaWithoutAddressWritingAreRefused) {
  MakeImage("at.iso", 65536, 7);
  CliRun run = Cli(Spec("dvd+r"), {"write-at", "0", PathOf("at.iso")});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "此功能僅只支援CD-MRW, DVD-RAM, DVD+RW與DVD-RW Restricted Overwrite\n");
  run = Cli(Spec("dvd+rw"), {"write-at", "x1", PathOf("at.iso")});
  EXPECT_EQ(run.status, 2);
}

TEST(StartSectorTest, TextThatIsNotANumberStartsAtZero) {
  EXPECT_EQ(ParseStartSector("      0"), 0U);
  EXPECT_EQ(ParseStartSector("  48"), 48U);
  EXPECT_EQ(ParseStartSector("abc"), 0U);
  EXPECT_EQ(ParseStartSector(""), 0U);
  EXPECT_EQ(ParseStartSector("4294967295"), 4294967295U);
  EXPECT_EQ(ParseStartSector("4294967296"), 0U);
}

}  // namespace
}  // namespace zorvane::test
