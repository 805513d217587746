// zorvane-cli measure, list and mkiso: what they print and how they end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "cli/cli_support.h"
#include "tests/iso/iso_test_support.h"
#include "tests/support/test_support.h"

namespace zorvane {
namespace {

using test::CliRun;
using test::RunCliCaptured;
using test::ScratchTree;

TEST(IsoCliTest, MeasurePrintsTheRowsAndTotalsAsTheDialogShowsThem) {
  ScratchTree tree;
  tree.File("one", 1);
  tree.File("src/a", 3000);
  tree.File("src/sub/b", 10);
  const CliRun run = RunCliCaptured({"measure", tree.Path("one"), tree.Path("src")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::regex expected(
      "目的名稱\t大小\t型別\t修改日期\t來源名稱\t檔案數\t目錄數\t將佔光碟容量\n"
      "/one\t      0.00 KB\t檔案\t\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\t" +
      tree.Path("one") +
      "\t1\t0\t2 KB\n"
      "/src\t      2.94 KB\t目錄\t[^\t]+\t" +
      tree.Path("src") +
      "\t2\t2\t4 KB\n"
      "共       2.94 KB\\(      6 KB\\) 2 個資料夾 3 個檔案\n");
  EXPECT_TRUE(std::regex_match(run.out, expected)) << run.out;
}

TEST(IsoCliTest, MeasureOfAMissingPathFailsAndSaysWhy) {
  ScratchTree tree;
  const CliRun run = RunCliCaptured({"measure", tree.Path("missing")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "test: Invalid File Handle. Get Last Error reports 2\n"
            "zorvane-cli: measure: 1 path(s) not found\n");
}

TEST(IsoCliTest, ListPrintsTheListingAndFailsWhenItEndsOnAFile) {
  ScratchTree tree;
  tree.File("src/a", 2048);
  CliRun run = RunCliCaptured({"list", tree.Path("src")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("The first file found is " + tree.Path("src") + "/*\\.\n", 0), 0u);
  EXPECT_NE(run.out.find("2 KB\n0.00 GB\nSearch completed\n"), std::string::npos);

  run = RunCliCaptured({"list", tree.Path("src/a"), tree.Path("src")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Invalid File Handle. Get Last Error reports 20\n");
  EXPECT_EQ(run.err, "zorvane-cli: list: the listing ended early (see above)\n");
}

TEST(IsoCliTest, UsageErrorsEndWithStatusTwo) {
  EXPECT_EQ(RunCliCaptured({"measure"}).status, 2);
  EXPECT_EQ(RunCliCaptured({"list"}).status, 2);
  EXPECT_EQ(RunCliCaptured({"mkiso"}).status, 2);
  EXPECT_EQ(RunCliCaptured({"mkiso", "out.iso"}).status, 2);
  EXPECT_EQ(RunCliCaptured({"mkiso", "--volume"}).status, 2);
  const CliRun run = RunCliCaptured({"mkiso", "--bogus", "x", "out.iso", "src"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unknown option --bogus"), std::string::npos);
  const CliRun help = RunCliCaptured({"--help"});
  for (const char* usage : {"measure PATH...", "list PATH...", "mkiso [OPTIONS] OUT PATH..."}) {
    EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
  }
}

TEST(IsoCliTest, MkisoWritesTheImageOrFailsWithoutLeavingOne) {
  ScratchTree tree;
  tree.File("src/a", 5000);
  const std::string image = tree.Path("out.iso");
  CliRun run = RunCliCaptured({"mkiso", "--volume", "NAMED", image, tree.Path("src")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Writing image " + image + "\n"), std::string::npos);
  EXPECT_NE(run.out.find("Image " + image + ": "), std::string::npos);
  ASSERT_TRUE(std::filesystem::exists(image));
  EXPECT_EQ(std::filesystem::file_size(image) % 2048, 0u);

  const std::string nowhere = tree.Path("no/such/dir/out.iso");
  run = RunCliCaptured({"mkiso", nowhere, tree.Path("src")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Image not written: " + nowhere + ": No such file or directory\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err, "zorvane-cli: mkiso: no image was written (see above)\n");

  run = RunCliCaptured({"mkiso", tree.Path("other.iso"), tree.Path("missing")});
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(std::filesystem::exists(tree.Path("other.iso")));
}

// mkiso off its happy path: an output among the sources, a field too long, a failure with
// an image already there.
TEST(IsoCliTest, MkisoRefusesWhatWouldLoseAFileAndKeepsAnExistingImage) {
  ScratchTree tree;
  tree.Text("src/a.txt", "keep me");
  CliRun run = RunCliCaptured({"mkiso", tree.Path("src/a.txt"), tree.Path("src")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvane-cli: mkiso: " + tree.Path("src/a.txt") + " lies inside the source " +
                         tree.Path("src") + ": no image was written\n");
  EXPECT_EQ(run.out, "");

  run = RunCliCaptured(
      {"mkiso", "--volume", std::string(57, 'V'), tree.Path("out.iso"), tree.Path("src")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("zorvane-cli: mkiso: the volume name is 57 characters long; it holds "
                          "at most 31\n",
                          0),
            0u)
      << run.err;

  tree.Text("out.iso", "an older image");
  run = RunCliCaptured({"mkiso", tree.Path("out.iso"), tree.Path("src"), tree.Path("missing")});
  EXPECT_EQ(run.status, 1);
  run = RunCliCaptured({"mkiso", "--volume", "冊", tree.Path("out.iso"), tree.Path("missing")});
  EXPECT_EQ(run.status, 1);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(tree.root())) {
    ++entries;
  }
  EXPECT_EQ(entries, 2);  // src and the older image, nothing left beside them
  EXPECT_EQ(std::filesystem::file_size(tree.Path("out.iso")), 14u);
  EXPECT_EQ(std::filesystem::file_size(tree.Path("src/a.txt")), 7u);

  // A name the primary descriptor cannot hold is said once, and the image replaces the old.
  run = RunCliCaptured({"mkiso", "--volume", "冊", tree.Path("out.iso"), tree.Path("src")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("The primary descriptor holds the volume name \"冊\" as \"_\""),
            std::string::npos)
      << run.out;
  EXPECT_GT(std::filesystem::file_size(tree.Path("out.iso")), 14u);

  // Ctrl-C while it builds: exit 130, the image there stays as it was, nothing is left. A
  // sparse source of 512 MiB keeps the build going long after the first signal, which
  // comes every millisecond; the build stops before its next piece.
  const auto before = std::filesystem::file_size(tree.Path("out.iso"));
  std::filesystem::resize_file(tree.Path("src/a.txt"), 512LL << 20);
  std::atomic<bool> done{false};
  std::thread interrupter([&done] {
    while (!done.load()) {
      RequestStop();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  run = RunCliCaptured({"mkiso", tree.Path("out.iso"), tree.Path("src")});
  done.store(true);
  interrupter.join();
  ClearStopRequest();
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_NE(run.err.find("stopped; no image was written"), std::string::npos) << run.err;
  EXPECT_EQ(std::filesystem::file_size(tree.Path("out.iso")), before);
  std::filesystem::resize_file(tree.Path("src/a.txt"), 7);
  entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(tree.root())) {
    ++entries;
  }
  EXPECT_EQ(entries, 2);
}

TEST(IsoCliTest, MeasureSaysWhichFoldersItCouldNotReadAndFails) {
  ScratchTree tree;
  tree.File("src/open/a", 10);
  tree.File("src/locked/b", 20);
  ASSERT_EQ(chmod(tree.Path("src/locked").c_str(), 0), 0);
  const std::string src = tree.Path("src");
  const std::string report = test::RunUnprivileged([src] {
    const CliRun run = RunCliCaptured({"measure", src});
    return std::to_string(run.status) + "|" + run.err + "|" + run.out;
  });
  EXPECT_EQ(report.substr(0, report.find("|", 2) + 1),
            "1|Cannot list " + tree.Path("src/locked") + ": Permission denied (error " +
                std::to_string(EACCES) +
                ")\nzorvane-cli: measure: some folders could not be read\n|")
      << report;
  // The row still shows what could be read.
  EXPECT_NE(report.find("\t      0.01 KB\t目錄\t"), std::string::npos) << report;
}

}  // namespace
}  // namespace zorvane
