// The scans on the command line: the C2 dialog's figures, the quality scan's lines, its
// CSV file and totals, and every way a scan ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace zorvane {
namespace {

using test::CliRun;
using test::RunCliCaptured;

class ScanCliTest : public test::TransportTest {};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int CountLines(const std::string& text, const std::string& start) {
  int count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) count += line.rfind(start, 0) == 0 ? 1 : 0;
  return count;
}

TEST_F(ScanCliTest, C2ScanPrintsTheDialogsFigures) {
  const CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdrom,blocks=1001,damage=998-1000", "c2scan"});
  EXPECT_EQ(run.status, 0) << run.err;
  // The damaged sectors include the last one, which READ CAPACITY names.
  const std::string figures = "檢測第  1000/  1000個碟區\n目前共     3個碟區存在C2失敗共";
  ASSERT_EQ(run.out.rfind(figures, 0), 0U) << run.out;
  int flags = 0;
  char unit[8] = {};
  ASSERT_EQ(std::sscanf(run.out.c_str() + figures.size(), "%7d%3s", &flags, unit), 2);
  EXPECT_GE(flags, 3);
  EXPECT_STREQ(unit, "個");
  EXPECT_EQ(run.out.back(), '\n');
}

TEST_F(ScanCliTest, C2ScanFailuresExitNonZeroAndSayWhy) {
  CliRun run = RunCliCaptured({"--drive", "d=virtual:cdr-closed,quirk=noc2", "c2scan"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "光碟設備不支援ReadCD指令檢測C2!\n");
  EXPECT_NE(run.err.find("zorvane-cli: c2scan: the disc cannot be scanned"), std::string::npos);
  run = RunCliCaptured({"--drive", "d=virtual:cdrom,blocks=1001,fault=BE@500:031100", "c2scan"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("Read CD C2 Command Error.\n", 0), 0U) << run.out;
  EXPECT_NE(run.err.find("zorvane-cli: c2scan: READ CD failed at sector 500"), std::string::npos)
      << run.err;
  run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "c2scan", "extra"});
  EXPECT_EQ(run.status, 2);
}

TEST_F(ScanCliTest, QualityScanWritesEveryMeasurementAndTheTotals) {
  const std::string csv = ::testing::TempDir() + "/qscan.csv";
  std::remove(csv.c_str());
  const CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdr-closed,quality=poor", "qscan", "--csv", csv});
  EXPECT_EQ(run.status, 0) << run.err;
  // One line per measurement (a terminal is not emptied), the end, the totals.
  EXPECT_EQ(CountLines(run.out, "00:02:00, LBA=0/10001, BLER/s="), 1);
  EXPECT_EQ(CountLines(run.out, "02:15:00, LBA=133/10001, BLER/s="), 1);
  EXPECT_EQ(CountLines(run.out, "Scan Error."), 1);
  EXPECT_EQ(CountLines(run.out, "Totals: BLER="), 1);
  EXPECT_NE(run.out.find(", 134 measurements\n"), std::string::npos);
  const std::string text = ReadFile(csv);
  EXPECT_EQ(CountLines(text, "time,lba,bler,e22,e32"), 1);
  EXPECT_EQ(CountLines(text, "00:"), 58);  // 00:02 to 00:59
  EXPECT_EQ(CountLines(text, "02:15:00,9975,"), 1);
  // The BLER column adds up to the total the last line shows.
  std::istringstream rows(text);
  std::string row;
  std::getline(rows, row);
  unsigned long sum = 0;
  int count = 0;
  while (std::getline(rows, row)) {
    unsigned lba = 0, bler = 0, e22 = 0, e32 = 0;
    char time[16] = {};
    ASSERT_EQ(std::sscanf(row.c_str(), "%8[0-9:],%u,%u,%u,%u", time, &lba, &bler, &e22, &e32), 5)
        << row;
    sum += bler;
    ++count;
  }
  EXPECT_EQ(count, 134);
  EXPECT_NE(run.out.find("BLER=" + std::to_string(sum) + ", E22="), std::string::npos);
  std::remove(csv.c_str());
}

TEST_F(ScanCliTest, QualityScanEndsAtItsTimeLimit) {
  // A real-time scan of a whole DVD takes minutes; one second ends it with its totals.
  const CliRun run =
      RunCliCaptured({"--drive", "d=virtual:dvdrom,time=real", "qscan", "--seconds", "1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(CountLines(run.out, "Totals: PIE="), 1);
  EXPECT_EQ(CountLines(run.out, "Scan Error."), 0);
  EXPECT_GT(CountLines(run.out, "LBA="), 0);
}

TEST_F(ScanCliTest, QualityScanFailuresAndUsage) {
  CliRun run = RunCliCaptured({"--drive", "d=virtual:cdr-closed,quirk=novendor", "qscan"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Initial Scan Error 1.\n");
  EXPECT_NE(run.err.find("does not start a quality scan (result 052000)"), std::string::npos);
  run = RunCliCaptured({"--drive", "d=virtual:dvd+r", "qscan"});
  EXPECT_EQ(run.status, 1);  // a blank disc: nothing measured
  EXPECT_EQ(run.out, "Scan Error.\n");
  run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "qscan", "--csv", "/dev/full"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("CSV not written: /dev/full: No space left on device"), std::string::npos)
      << run.err;
  run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "qscan", "--csv",
                        ::testing::TempDir() + "/no/such/folder/x.csv"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");  // nothing was scanned
  for (const auto& args : std::vector<std::vector<std::string>>{{"qscan", "--seconds", "0"},
                                                                {"qscan", "--seconds", "2x"},
                                                                {"qscan", "--seconds"},
                                                                {"qscan", "--csv"},
                                                                {"qscan", "--fast"}}) {
    std::vector<std::string> full = {"--drive", "d=virtual:cdr-closed"};
    full.insert(full.end(), args.begin(), args.end());
    run = RunCliCaptured(full);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(ScanCliTest, CtrlCEndsEitherScanWithTheFiguresSoFar) {
  std::string out;
  const int status =
      test::RunCommand(std::string("timeout --preserve-status -s INT 1 ") + ZORVANE_CLI_PATH +
                           " --drive d=virtual:dvdrom,time=real qscan 2>/dev/null",
                       &out);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CountLines(out, "Totals: PIE="), 1) << out;
  EXPECT_EQ(CountLines(out, "Scan Error."), 0);
  // The C2 scan stopped early prints its figures so far and fails: the disc was not read
  // to its end.
  const int c2 =
      test::RunCommand(std::string("timeout --preserve-status -s INT 1 ") + ZORVANE_CLI_PATH +
                           " --drive d=virtual:cdrom,blocks=359849,time=real c2scan "
                           "2>&1",
                       &out);
  EXPECT_EQ(c2, 1);
  EXPECT_EQ(CountLines(out, "檢測第"), 1) << out;
  EXPECT_EQ(CountLines(out, "zorvane-cli: c2scan: stopped after "), 1) << out;
}

}  // namespace
}  // namespace zorvane
