// The scans on the command line: the C2 dialog's figures, the quality scan's lines, its
// CSV file and totals, and every way a scan ends.
#include <gtest/gtest.h>

#include <algorithm>
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
  struct Case {
    const char* spec;
    int status;
    const char* out_start;  // the window's own line
    const char* err;        // the cause on standard error
  };
  const Case cases[] = {
      {"cdr-closed,quirk=noc2", 1, "光碟設備不支援ReadCD指令檢測C2!\n",
       "zorvane-cli: c2scan: the drive does not read the C2 error flags: the drive refused READ "
       "CD (SK/ASC/ASCQ=52400h, INVALID FIELD IN CDB)\n"},
      // Nothing written: the disc is said to have nothing to scan, whatever the drive does.
      {"cdr-blank", 1, "光碟片尚未寫入資料.\n",
       "zorvane-cli: c2scan: the disc has nothing written to scan\n"},
      {"cdrw-blank,quirk=noc2", 1, "光碟片尚未寫入資料.\n",
       "zorvane-cli: c2scan: the disc has nothing written to scan\n"},
      {"dvd+rw", 1, "此一指令僅使用於CD光碟片, 非使用於DVD光碟片\n",
       "zorvane-cli: c2scan: the C2 scan is for CDs, and the disc is a DVD\n"},
      {"cdrom,blocks=1001,fault=BE@500:031100", 1, "Read CD C2 Command Error.\n",
       "zorvane-cli: c2scan: READ CD failed at sector 500: the drive refused READ CD "
       "(SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)\n"},
      // Within the last 150 sectors a failure is one all the same (named by the first
      // sector of the command that failed).
      {"cdrom,blocks=2000,fault=BE@1999:031100", 1, "Read CD C2 Command Error.\n",
       "zorvane-cli: c2scan: READ CD failed at sector 1975: the drive refused READ CD "
       "(SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)\n"},
      {"cdr-closed,fault=BE@9900:031100", 1, "Read CD C2 Command Error.\n",
       "zorvane-cli: c2scan: READ CD failed at sector 9900: the drive refused READ CD "
       "(SK/ASC/ASCQ=31100h, UNRECOVERED READ ERROR)\n"},
      // The run-out blocks of a track written at once end the scan, complete.
      {"cdr-closed", 0, "檢測第 10001/ 10001個碟區\n", ""},
      // A session left open holds no complete session: READ CAPACITY names no sector.
      {"cdr-open", 1, "光碟片尚未寫入資料.\n",
       "zorvane-cli: c2scan: the disc has nothing written to scan\n"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCliCaptured({"--drive", std::string("d=virtual:") + c.spec, "c2scan"});
    EXPECT_EQ(run.status, c.status) << c.spec << run.err;
    EXPECT_EQ(run.out.rfind(c.out_start, 0), 0U) << c.spec << run.out;
    const std::size_t cause = run.err.find("zorvane-cli: ");
    EXPECT_EQ(cause == std::string::npos ? "" : run.err.substr(cause), c.err) << c.spec;
  }
  const CliRun run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "c2scan", "extra"});
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
  // An older CSV of the same name stays as it was when the scan fails.
  const std::string csv = ::testing::TempDir() + "/failed_qscan.csv";
  { std::ofstream(csv) << "older\n"; }
  CliRun run =
      RunCliCaptured({"--drive", "d=virtual:cdr-closed,quirk=novendor", "qscan", "--csv", csv});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Initial Scan Error 1.\n");
  EXPECT_NE(run.err.find("zorvane-cli: qscan: the drive does not start a quality scan "
                         "(SK/ASC/ASCQ=052000h, INVALID COMMAND OPERATION CODE)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFile(csv), "older\n");
  EXPECT_FALSE(std::ifstream(csv + ".part").good());  // nothing measured, nothing kept
  run = RunCliCaptured({"--drive", "d=virtual:dvdrom,fault=F3:031100", "qscan", "--csv", csv});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("zorvane-cli: qscan: the drive failed a measurement after 0 "
                         "measurements (SK/ASC/ASCQ=031100h, UNRECOVERED READ ERROR)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFile(csv), "older\n");
  std::remove(csv.c_str());
  // A blank disc has nothing to scan: said of the disc, not of the drive.
  for (const char* blank : {"d=virtual:dvd+r", "d=virtual:cdr-blank"}) {
    run = RunCliCaptured({"--drive", blank, "qscan"});
    EXPECT_EQ(run.status, 1) << blank;
    EXPECT_EQ(run.out, "光碟片尚未寫入資料.\n") << blank;
    EXPECT_NE(run.err.find("\nzorvane-cli: qscan: the disc has nothing written to scan\n"),
              std::string::npos)
        << blank;
  }
  // A device or a missing folder is refused before anything is scanned, with the reason.
  run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "qscan", "--csv", "/dev/full"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvane-cli: qscan: /dev/full: No such device\n");
  EXPECT_EQ(run.out, "");
  const std::string missing = ::testing::TempDir() + "/no/such/folder/x.csv";
  run = RunCliCaptured({"--drive", "d=virtual:cdr-closed", "qscan", "--csv", missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvane-cli: qscan: " + missing + ": No such file or directory\n");
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

TEST_F(ScanCliTest, CtrlCStopsEitherScanWithTheFiguresSoFar) {
  // The first Ctrl-C stops the scan before its next command: the totals so far, what was
  // done, exit 130; an older CSV stays, the measurements are kept beside it. The signal
  // comes after 3 s: late enough for a loaded machine to have started the command (an
  // earlier one would find the default handler), long before a real-time scan ends.
  // timeout --foreground signals the program alone: without it timeout signals its whole
  // process group as well, and the second signal would make the program leave at once.
  const std::string csv = ::testing::TempDir() + "/stopped_qscan.csv";
  { std::ofstream(csv) << "older\n"; }
  std::remove((csv + ".part").c_str());
  std::string out;
  const int status = test::RunCommand(
      std::string("timeout --foreground --preserve-status -s INT 3 ") + ZORVANE_CLI_PATH +
          " --drive d=virtual:dvdrom,time=real qscan --csv " + csv + " 2>&1",
      &out);
  EXPECT_EQ(status, 130) << out;
  EXPECT_EQ(CountLines(out, "Totals: PIE="), 1) << out;
  EXPECT_EQ(CountLines(out, "Scan Error."), 0);
  unsigned stopped = 0;
  unsigned kept = 0;
  const std::size_t line = out.find("zorvane-cli: qscan: stopped after ");
  ASSERT_NE(line, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + line, "zorvane-cli: qscan: stopped after %u", &stopped), 1);
  const std::size_t keep = out.find("zorvane-cli: qscan: kept ");
  ASSERT_NE(keep, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + keep, "zorvane-cli: qscan: kept %u", &kept), 1);
  EXPECT_GT(stopped, 0U);
  EXPECT_EQ(kept, stopped);
  EXPECT_NE(out.find(", " + std::to_string(stopped) + " measurements\n"), std::string::npos);
  EXPECT_EQ(ReadFile(csv), "older\n");
  const std::string part = ReadFile(csv + ".part");
  EXPECT_EQ(CountLines(part, "lba,pie,pif"), 1);
  EXPECT_EQ(static_cast<unsigned>(std::count(part.begin(), part.end(), '\n')), stopped + 1);
  std::remove(csv.c_str());
  std::remove((csv + ".part").c_str());

  const int c2 = test::RunCommand(
      std::string("timeout --foreground --preserve-status -s INT 3 ") + ZORVANE_CLI_PATH +
          " --drive d=virtual:cdrom,blocks=359849,time=real c2scan 2>&1",
      &out);
  EXPECT_EQ(c2, 130);
  EXPECT_EQ(CountLines(out, "檢測第"), 1) << out;
  EXPECT_EQ(CountLines(out, "zorvane-cli: c2scan: stopped after "), 1) << out;
}

}  // namespace
}  // namespace zorvane
