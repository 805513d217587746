// The measurements a scan keeps: figures per series, and the CSV file with its checked
// writes.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
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

// The files in `folder` whose names begin with `prefix` (an output's temporary files
// begin with "." and the target's name).
int FilesStartingWith(const std::string& folder, const std::string& prefix) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    count += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

TEST(ScanRecordTest, CsvFailuresNameThePathAndLeaveTheOldFile) {
  ScanRecord record;
  record.Reset(ScanKind::kDvd, 100);
  for (int i = 0; i < 5000; ++i) record.Add({i * 128, {1, 0, 0}});
  std::string error;
  // A folder or a device is never written over.
  EXPECT_FALSE(record.WriteCsv(::testing::TempDir(), &error));
  EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
  EXPECT_FALSE(record.WriteCsv("/dev/full", &error));
  EXPECT_EQ(error, "/dev/full: No such device");
  const std::string missing = TempPath("no/such/folder/x.csv");
  EXPECT_FALSE(record.WriteCsv(missing, &error));
  EXPECT_EQ(error, missing + ": No such file or directory");

  // A file system that takes the first bytes and then no more (a size limit, as a full
  // disk does): the old file keeps its contents and no temporary file is left beside it.
  const std::string folder = TempPath("csv_limit");
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/scan.csv";
  for (const rlim_t limit : {rlim_t{0}, rlim_t{10}, rlim_t{4096}, rlim_t{40000}}) {
    { std::ofstream(path) << "the scan before\n"; }
    struct rlimit old_limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = record.WriteCsv(path, &error);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(written) << limit;
    EXPECT_EQ(error, path + ": File too large") << limit;
    EXPECT_EQ(ReadFile(path), "the scan before\n") << limit;
    EXPECT_EQ(FilesStartingWith(folder, ".scan.csv"), 0) << limit;
  }
  // Written whole, it takes the old file's place.
  ASSERT_TRUE(record.WriteCsv(path, &error)) << error;
  EXPECT_EQ(ReadFile(path).rfind("lba,pie,pif\n0,1,0\n128,1,0\n", 0), 0U);
  std::filesystem::remove_all(folder);

  // Writing to a writer that was never opened says so, and nothing takes a name.
  CsvWriter writer;
  EXPECT_FALSE(writer.Write({0, {}}, &error));
  EXPECT_FALSE(writer.Commit(&error));
  EXPECT_EQ(writer.KeepPartial(&error), "");
}

TEST(ScanRecordTest, CsvKeptAsPartOnlyWhenSomethingWasWritten) {
  const std::string path = TempPath("kept.csv");
  { std::ofstream(path) << "older\n"; }
  std::string error;
  {
    CsvWriter writer;
    ASSERT_TRUE(writer.Open(path, ScanKind::kC2, &error)) << error;
    ASSERT_TRUE(writer.Write({25, {25, 1, 3}}, &error));
    EXPECT_EQ(writer.KeepPartial(&error), path + ".part");
  }
  EXPECT_EQ(ReadFile(path), "older\n");
  EXPECT_EQ(ReadFile(path + ".part"), "lba,sectors,c2_sectors,c2_flags\n25,25,1,3\n");
  {
    CsvWriter writer;  // dropped without a word: nothing stays
    ASSERT_TRUE(writer.Open(path, ScanKind::kC2, &error)) << error;
  }
  EXPECT_EQ(ReadFile(path), "older\n");
  EXPECT_EQ(FilesStartingWith(::testing::TempDir(), ".kept.csv"), 0);
  std::remove(path.c_str());
  std::remove((path + ".part").c_str());
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
