// The two walks over a source tree, on trees made for each case.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>

#include "iso/source_scan.h"
#include "tests/iso/iso_test_support.h"

namespace zorvane {
namespace {

using test::ScratchTree;

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

TEST(MeasureSourceTest, FilesTakeWholeSectorsAndKeepTheirFullSize) {
  ScratchTree tree;
  tree.File("one", 1);
  tree.File("sector", 2048);
  tree.File("sector-and-one", 2049);
  tree.File("empty", 0);
  tree.Sparse("big", 5 * kGiB);

  const SourceMeasure one = MeasureSource(tree.Path("one"));
  EXPECT_TRUE(one.found);
  EXPECT_FALSE(one.folder);
  EXPECT_EQ(one.bytes, 1u);
  EXPECT_EQ(one.sectors, 1u);
  EXPECT_EQ(one.files, 1u);
  EXPECT_EQ(one.folders, 0u);
  EXPECT_EQ(MeasureSource(tree.Path("sector")).sectors, 1u);
  EXPECT_EQ(MeasureSource(tree.Path("sector-and-one")).sectors, 2u);
  EXPECT_EQ(MeasureSource(tree.Path("empty")).sectors, 0u);

  // Five GiB: the low 32 bits alone would make it 1 GiB.
  const SourceMeasure big = MeasureSource(tree.Path("big"));
  EXPECT_EQ(big.bytes, 5 * kGiB);
  EXPECT_EQ(big.sectors, 5 * kGiB / 2048);
}

TEST(MeasureSourceTest, AFolderCountsItselfItsSubfoldersAndFilesAndRoundsOnce) {
  ScratchTree tree;
  tree.File("src/a", 100);
  tree.File("src/b", 100);
  tree.File("src/c", 100);
  tree.File("src/left/d", 10);
  tree.File("src/right/e", 10);
  const SourceMeasure folder = MeasureSource(tree.Path("src"));
  EXPECT_TRUE(folder.folder);
  EXPECT_EQ(folder.files, 5u);
  EXPECT_EQ(folder.folders, 3u);
  EXPECT_EQ(folder.bytes, 320u);
  EXPECT_EQ(folder.sectors, 1u);  // 320 bytes: one sector for the whole folder
  EXPECT_TRUE(folder.problems.empty());
  EXPECT_FALSE(folder.stopped);

  // Hidden folders are folders like any other; only . and .. are not walked.
  tree.File("src/.hidden/f", 3000);
  const SourceMeasure again = MeasureSource(tree.Path("src"));
  EXPECT_EQ(again.folders, 4u);
  EXPECT_EQ(again.files, 6u);
  EXPECT_EQ(again.bytes, 3320u);
  EXPECT_EQ(again.sectors, 2u);
}

TEST(MeasureSourceTest, APathThatIsNotThereSaysWhy) {
  ScratchTree tree;
  const SourceMeasure missing = MeasureSource(tree.Path("nothing"));
  EXPECT_FALSE(missing.found);
  EXPECT_EQ(missing.error, ENOENT);
}

TEST(MeasureSourceTest, SymbolicLinksAreCountedButNeverFollowed) {
  ScratchTree tree;
  tree.File("src/deep/file", 4096);
  tree.Link("src/deep/up", "..");  // a loop back to src
  tree.Link("src/self", ".");      // a loop onto itself
  tree.Link("src/outside", "/");   // would walk the whole system
  tree.Link("src/dangling", "nowhere");
  const SourceMeasure folder = MeasureSource(tree.Path("src"));
  EXPECT_EQ(folder.folders, 2u);
  EXPECT_EQ(folder.files, 5u);  // the file and four links
  EXPECT_EQ(folder.bytes, 4096u);
  EXPECT_TRUE(folder.problems.empty());

  // A dropped link to a folder measures the folder it names.
  tree.Link("to-src", "src");
  const SourceMeasure linked = MeasureSource(tree.Path("to-src"));
  EXPECT_TRUE(linked.folder);
  EXPECT_EQ(linked.bytes, 4096u);
}

TEST(MeasureSourceTest, AnUnreadableSubfolderIsReportedAndTheWalkGoesOn) {
  ScratchTree tree;
  tree.File("src/open/a", 10);
  tree.File("src/locked/b", 20);
  tree.File("src/z/after", 30);
  ASSERT_EQ(chmod(tree.Path("src/locked").c_str(), 0), 0);
  const std::string path = tree.Path("src");
  const std::string report = test::RunUnprivileged([path] {
    const SourceMeasure m = MeasureSource(path);
    std::string text =
        std::to_string(m.files) + " " + std::to_string(m.folders) + " " + std::to_string(m.bytes);
    for (const ScanProblem& p : m.problems) {
      text += "|" + p.path + " " + std::to_string(p.error) + " " +
              (p.while_reading ? "reading" : "opening");
    }
    return text;
  });
  EXPECT_EQ(report,
            "2 4 40|" + tree.Path("src/locked") + " " + std::to_string(EACCES) + " opening");
}

TEST(MeasureSourceTest, AFolderRemovedDuringTheWalkIsReportedAndTheWalkGoesOn) {
  ScratchTree tree;
  tree.File("src/first/a", 1000);
  tree.File("src/gone/b", 2000);
  tree.File("src/gone/deeper/c", 3000);
  tree.File("src/last/d", 4000);
  const std::string gone = tree.Path("src/gone");
  bool removed = false;
  const SourceMeasure m = MeasureSource(tree.Path("src"), nullptr, [&](const std::string& folder) {
    // The top folder has been read when the first subfolder comes up: the folder goes
    // after it was found and before it is read.
    if (folder != tree.Path("src") && !removed) {
      std::filesystem::remove_all(gone);
      removed = true;
    }
  });
  EXPECT_EQ(m.bytes, 5000u);
  EXPECT_EQ(m.files, 2u);
  EXPECT_EQ(m.folders, 4u);  // counted when found, before it went
  ASSERT_EQ(m.problems.size(), 1u);
  EXPECT_EQ(m.problems[0].path, gone);
  EXPECT_EQ(m.problems[0].error, ENOENT);
}

TEST(MeasureSourceTest, TheStopFlagEndsTheWalk) {
  ScratchTree tree;
  for (int i = 0; i < 20; ++i) tree.File("src/f" + std::to_string(i) + "/x", 1);
  std::atomic<bool> stop{false};
  int folders = 0;
  const SourceMeasure m = MeasureSource(tree.Path("src"), &stop, [&](const std::string&) {
    if (++folders == 3) stop = true;
  });
  EXPECT_TRUE(m.stopped);
  EXPECT_LT(m.files, 20u);
}

TEST(DestinationNameTest, TakesTheLastComponentWithItsSlash) {
  EXPECT_EQ(DestinationName("/home/user/photos"), "/photos");
  EXPECT_EQ(DestinationName("/home/user/photos/"), "/photos");
  EXPECT_EQ(DestinationName("/"), "/");
  EXPECT_EQ(DestinationName("relative"), "relative");
}

// ListSources over the rows given, into a string.
struct Listing {
  std::string text;
  bool complete;
};
Listing List(const std::vector<std::string>& rows, const std::atomic<bool>& run) {
  StringConsole log;
  const bool complete = ListSources(
      [&rows](std::size_t i) -> std::optional<std::string> {
        if (i >= rows.size()) return std::nullopt;
        return rows[i];
      },
      &log, run);
  return {log.Text(), complete};
}

// The listing's entry line with the date part made neutral.
std::string Neutral(const std::string& text) {
  static const std::regex date(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d +-?\d+)");
  return std::regex_replace(text, date, "DATE");
}

TEST(ListSourcesTest, ListsEachFolderBreadthFirstWithTotals) {
  ScratchTree tree;
  tree.File("src/one", 1);
  tree.File("src/a/two", 2048);
  tree.File("src/a/b/three", 2049);
  tree.File("src/c/four", 3000);
  std::atomic<bool> run{true};
  const Listing listing = List({tree.Path("src")}, run);
  EXPECT_TRUE(listing.complete);
  const std::string src = tree.Path("src");
  EXPECT_EQ(Neutral(listing.text), "The first file found is " + src +
                                       "/*\\.\n"
                                       "10,       0 KB, DATE, ..\n"
                                       "10,       0 KB, DATE, a\n"
                                       "10,       0 KB, DATE, c\n"
                                       "20,       0 KB, DATE, one\n" +
                                       src +
                                       "/a/*\n"
                                       "10,       0 KB, DATE, ..\n"
                                       "10,       0 KB, DATE, b\n"
                                       "20,       2 KB, DATE, two\n" +
                                       src +
                                       "/c/*\n"
                                       "10,       0 KB, DATE, ..\n"
                                       "20,       3 KB, DATE, four\n" +
                                       src +
                                       "/a/b/*\n"
                                       "10,       0 KB, DATE, ..\n"
                                       "20,       2 KB, DATE, three\n"
                                       "7 KB\n"
                                       "0.00 GB\n"
                                       "Search completed\n");
}

TEST(ListSourcesTest, TheDateShowsDayMonthYearAndTheOffsetInQuarterHours) {
  ScratchTree tree;
  tree.File("src/x", 5);
  std::atomic<bool> run{true};
  const Listing listing = List({tree.Path("src")}, run);
  std::smatch match;
  const std::string& text = listing.text;
  ASSERT_TRUE(std::regex_search(
      text, match,
      std::regex(R"(20,       0 KB, (\d\d)/(\d\d)/(\d{4}) \d\d:\d\d:\d\d ([ -]\d|-?\d\d), x)")));
  const LocalStamp now = LocalTimeOf(std::time(nullptr));
  EXPECT_EQ(std::stoi(match[3]), now.year);
  EXPECT_EQ(std::stoi(match[4]), now.quarter_hours);
}

TEST(ListSourcesTest, AFileRowEndsTheListingAndLaterRowsAreNotListed) {
  ScratchTree tree;
  tree.File("file", 10);
  tree.File("later/x", 1);
  std::atomic<bool> run{true};
  const Listing listing = List({tree.Path("file"), tree.Path("later")}, run);
  EXPECT_FALSE(listing.complete);
  EXPECT_EQ(listing.text,
            "Invalid File Handle. Get Last Error reports " + std::to_string(ENOTDIR) + "\n");
}

TEST(ListSourcesTest, EveryRowGetsItsOwnTotals) {
  ScratchTree tree;
  tree.File("a/x", 4096);
  tree.Sparse("b/big", 5 * kGiB);
  std::atomic<bool> run{true};
  const Listing listing = List({tree.Path("a"), tree.Path("b")}, run);
  EXPECT_TRUE(listing.complete);
  EXPECT_NE(listing.text.find("4 KB\n0.00 GB\nSearch completed\n"), std::string::npos);
  EXPECT_NE(listing.text.find(", 5242880 KB, "), std::string::npos);
  EXPECT_NE(listing.text.find("5242880 KB\n5.00 GB\nSearch completed\n"), std::string::npos);
}

// A log that removes a folder when the listing announces it.
class RemovingLog : public Console {
 public:
  RemovingLog(std::string announce, std::string remove)
      : announce_(std::move(announce)), remove_(std::move(remove)) {}
  void Append(std::string_view text) override {
    text_.append(text);
    if (text == announce_) std::filesystem::remove_all(remove_);
  }
  void Clear() override {}
  std::string text_;

 private:
  std::string announce_, remove_;
};

TEST(ListSourcesTest, AFolderRemovedDuringTheListingIsReportedAndTheListingGoesOn) {
  ScratchTree tree;
  tree.File("src/gone/a", 10);
  tree.File("src/kept/b", 20);
  RemovingLog log(tree.Path("src/gone") + "/*\n", tree.Path("src/gone"));
  std::atomic<bool> run{true};
  const std::vector<std::string> rows{tree.Path("src")};
  const bool complete = ListSources(
      [&rows](std::size_t i) -> std::optional<std::string> {
        if (i >= rows.size()) return std::nullopt;
        return rows[i];
      },
      &log, run);
  EXPECT_TRUE(complete);
  const std::string gone = tree.Path("src/gone");
  EXPECT_NE(
      log.text_.find(gone + "/*\nCannot list " + gone + ": No such file or directory (error " +
                     std::to_string(ENOENT) + ")\n" + tree.Path("src/kept") + "/*\n"),
      std::string::npos)
      << log.text_;
  EXPECT_NE(Neutral(log.text_).find("20,       0 KB, DATE, b\n0 KB\n0.00 GB\nSearch completed\n"),
            std::string::npos);
}

TEST(ListSourcesTest, AnUnreadableFolderIsReportedAndTheListingGoesOn) {
  ScratchTree tree;
  tree.File("src/locked/a", 10);
  tree.File("src/open/b", 20);
  ASSERT_EQ(chmod(tree.Path("src/locked").c_str(), 0), 0);
  const std::string path = tree.Path("src");
  const std::string text = test::RunUnprivileged([path] {
    std::atomic<bool> run{true};
    return List({path}, run).text;
  });
  EXPECT_NE(text.find("Cannot list " + tree.Path("src/locked") + ": Permission denied (error " +
                      std::to_string(EACCES) + ")\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Search completed\n"), std::string::npos);
}

TEST(ListSourcesTest, LinksAreListedNotFollowedAndTheStopFlagEndsAtOnce) {
  ScratchTree tree;
  tree.File("src/deep/file", 1);
  tree.Link("src/deep/loop", "..");
  std::atomic<bool> run{true};
  const Listing listing = List({tree.Path("src")}, run);
  EXPECT_TRUE(listing.complete);
  EXPECT_NE(Neutral(listing.text).find("400,       0 KB, DATE, loop\n"), std::string::npos);
  EXPECT_EQ(listing.text.find("loop/*"), std::string::npos);

  std::atomic<bool> stopped{false};
  const Listing none = List({tree.Path("src")}, stopped);
  EXPECT_EQ(none.text, "The first file found is " + tree.Path("src") + "/*\\.\n");
}

}  // namespace
}  // namespace zorvane
