// The measurements a scan keeps: figures per series, and the CSV file with its checked
// writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "scan/c2_worker.h"
#include "scan/quality_scan.h"
#include "scan/scan_record.h"

namespace zorvane {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const char* name) {
  return ::testing::TempDir() + "/" + name;
}

TEST(ScanRecordTest, StatsPerSeriesAndResetStartsOver) {
  ScanRecord record;
  EXPECT_EQ(record.StatsOf(0).total, 0U);
  EXPECT_EQ(record.StatsOf(0).average, 0.0);
  record.Reset(ScanKind::kDvd, 2047);
  const std::uint64_t before = record.Version();
  record.Add({0, {10, 1, 0}});
  record.Add({128, {4, 0, 0}});
  record.Add({256, {70000, 3, 0}});
  EXPECT_GT(record.Version(), before);
  const ScanRecord::Stats pie = record.StatsOf(0);
  EXPECT_EQ(pie.total, 70014U);  // beyond 16 bits: totals do not wrap
  EXPECT_EQ(pie.max, 70000U);
  EXPECT_DOUBLE_EQ(pie.average, 70014.0 / 3);
  EXPECT_EQ(record.StatsOf(1).max, 3U);
  EXPECT_EQ(record.StatsOf(3).total, 0U);  // no such value
  record.Reset(ScanKind::kCd, 10151);
  EXPECT_EQ(record.Kind(), ScanKind::kCd);
  EXPECT_EQ(record.Size(), 0U);
  EXPECT_EQ(record.Extent(), 10151);
}

TEST(ScanRecordTest, FrameTimesAndSeries) {
  EXPECT_EQ(FrameTime(150), "00:02:00");
  EXPECT_EQ(FrameTime(359999), "79:59:74");
  EXPECT_EQ(FrameTime(-5), "00:00:00");
  ASSERT_EQ(SeriesOf(ScanKind::kDvd).size(), 2U);
  EXPECT_TRUE(SeriesOf(ScanKind::kDvd)[1].right_axis);  // PIF on its own axis
  EXPECT_EQ(SeriesOf(ScanKind::kCd).size(), 3U);
  EXPECT_EQ(SeriesOf(ScanKind::kC2)[0].value, 1);  // C2 sectors
}

TEST(ScanRecordTest, CsvOfEachKind) {
  const std::string path = TempPath("scan_record.csv");
  ScanRecord record;
  record.Reset(ScanKind::kCd, 10151);
  record.Add({150, {132, 1, 0}});
  record.Add({225, {7, 0, 2}});
  std::string error;
  ASSERT_TRUE(record.WriteCsv(path, &error)) << error;
  EXPECT_EQ(ReadFile(path), "time,lba,bler,e22,e32\n00:02:00,0,132,1,0\n00:03:00,75,7,0,2\n");
  record.Reset(ScanKind::kDvd, 100);
  record.Add({1920, {92, 5, 0}});
  ASSERT_TRUE(record.WriteCsv(path, &error)) << error;
  EXPECT_EQ(ReadFile(path), "lba,pie,pif\n1920,92,5\n");
  record.Reset(ScanKind::kC2, 1000);
  record.Add({1000, {1, 1, 3}});
  ASSERT_TRUE(record.WriteCsv(path, &error)) << error;
  EXPECT_EQ(ReadFile(path), "lba,sectors,c2_sectors,c2_flags\n1000,1,1,3\n");
  std::remove(path.c_str());
}

TEST(ScanRecordTest, CsvFailuresAreReported) {
  ScanRecord record;
  record.Reset(ScanKind::kDvd, 100);
  for (int i = 0; i < 5000; ++i) record.Add({i * 128, {1, 0, 0}});
  std::string error;
  // A folder cannot be opened for writing.
  EXPECT_FALSE(record.WriteCsv(::testing::TempDir(), &error));
  EXPECT_FALSE(error.empty());
  // A full device takes the bytes into the buffer and refuses them on the way out.
  error.clear();
  EXPECT_FALSE(record.WriteCsv("/dev/full", &error));
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  // Writing to a writer that was never opened says so.
  CsvWriter writer;
  EXPECT_FALSE(writer.Write({0, {}}, &error));
  EXPECT_FALSE(writer.Close(&error));
}

TEST(C2FlagsTest, OnlyTheFlagBytesCount) {
  std::uint8_t block[kC2BlockSize] = {};
  EXPECT_EQ(CountC2Flags(block), 0);
  block[294] = 0xFF;  // block error byte
  block[295] = 0xFF;  // pad
  EXPECT_EQ(CountC2Flags(block), 0);
  block[0] = 0x80;
  block[100] = 0x11;
  block[293] = 0xFF;
  EXPECT_EQ(CountC2Flags(block), 11);
}

TEST(BlerTest, PerSecondFromTheTotalAndTheMeasurements) {
  // 300 after the fourth measurement (n = 3): 300 / 4 x 75.
  EXPECT_EQ(BlerPerSecond(300, 3), 5625.0f);
  char text[32];
  std::snprintf(text, sizeof text, "%.02f", static_cast<double>(BlerPerSecond(300, 3)));
  EXPECT_STREQ(text, "5625.00");
  EXPECT_EQ(BlerPerSecond(0, 0), 0.0f);
  // Single precision: 1 / 3 x 75 rounds as a float does.
  EXPECT_EQ(BlerPerSecond(1, 2), 1.0f / 3.0f * 75.0f);
}

}  // namespace
}  // namespace zorvane
