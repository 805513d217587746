// The source list: rows as the user drops them, their columns, the totals, the keys.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "iso/source_list.h"
#include "tests/iso/iso_test_support.h"

namespace zorvane {
namespace {

using test::ScratchTree;

class SourceListTest : public ::testing::Test {
 protected:
  void SetUp() override { MessageBoxSink = &messages_; }
  void TearDown() override {
    list_->Close();
    MessageBoxSink = nullptr;
  }

  SourceListView Drop(const std::vector<std::string>& relative) {
    std::vector<std::string> paths;
    for (const std::string& r : relative) paths.push_back(tree_.Path(r));
    list_->Drop(paths);
    list_->WaitUntilMeasured();
    return list_->View();
  }
  std::vector<std::string> Column(int column) {
    std::vector<std::string> texts;
    for (const SourceRowTexts& row : list_->View().rows) {
      texts.push_back(row[static_cast<std::size_t>(column)]);
    }
    return texts;
  }

  ScratchTree tree_;
  StringMessageSink messages_;
  std::shared_ptr<SourceList> list_ = SourceList::Create();
};

TEST_F(SourceListTest, AOneByteFileShowsNoKilobytesButTakesASector) {
  tree_.File("one", 1);
  const SourceListView view = Drop({"one"});
  ASSERT_EQ(view.rows.size(), 1u);
  const SourceRowTexts& row = view.rows[0];
  EXPECT_EQ(row[0], "/one");
  EXPECT_EQ(row[1], "      0.00 KB");
  EXPECT_EQ(row[2], "檔案");
  EXPECT_EQ(row[3].size(), 19u);  // yyyy/mm/dd hh:mm:ss
  EXPECT_EQ(row[4], tree_.Path("one"));
  EXPECT_EQ(row[5], "1");
  EXPECT_EQ(row[6], "0");
  EXPECT_EQ(row[7], "2 KB");
  EXPECT_EQ(view.total_size, "      0.00 KB(      2 KB)");
  EXPECT_EQ(view.total_folders, "0");
  EXPECT_EQ(view.total_files, "1");
  EXPECT_EQ(view.progress_high, 1);
  EXPECT_EQ(view.progress_position, 1);
}

TEST_F(SourceListTest, SectorBoundariesAndAFolderWithSubfolders) {
  tree_.File("sector", 2048);
  tree_.File("more", 2049);
  tree_.File("src/a", 1);
  tree_.File("src/b", 1);
  tree_.File("src/left/c", 1);
  tree_.File("src/left/d", 1);
  tree_.File("src/right/e", 1);
  const SourceListView view = Drop({"sector", "more", "src"});
  EXPECT_EQ(Column(7), (std::vector<std::string>{"2 KB", "4 KB", "2 KB"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{"檔案", "檔案", "目錄"}));
  EXPECT_EQ(Column(5), (std::vector<std::string>{"1", "1", "5"}));
  EXPECT_EQ(Column(6), (std::vector<std::string>{"0", "0", "3"}));
  EXPECT_EQ(view.total_folders, "3");
  EXPECT_EQ(view.total_files, "7");
  EXPECT_EQ(view.total_size, "      4.01 KB(      8 KB)");
  EXPECT_EQ(view.progress_high, 3);
  EXPECT_EQ(view.progress_position, 3);
}

TEST_F(SourceListTest, AFolderIsRoundedOnceFilesDroppedAloneEachTakeASector) {
  for (const char* name : {"a", "b", "c"}) tree_.File(std::string("src/") + name, 100);
  EXPECT_EQ(Drop({"src"}).total_size, "      0.29 KB(      2 KB)");
  list_->ClearAll();
  EXPECT_EQ(Drop({"src/a", "src/b", "src/c"}).total_size, "      0.29 KB(      6 KB)");
}

TEST_F(SourceListTest, APathNotFoundGetsAMessageAndAnEmptyRowThatStays) {
  tree_.File("real", 10);
  const SourceListView view = Drop({"missing", "real"});
  EXPECT_EQ(messages_.Text(), "test: Invalid File Handle. Get Last Error reports 2\n");
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0][0], "/missing");
  EXPECT_EQ(view.rows[0][1], "");
  EXPECT_EQ(view.rows[0][2], "");
  EXPECT_EQ(view.rows[0][5], "0");
  EXPECT_EQ(view.rows[0][7], "");
  EXPECT_EQ(view.total_files, "1");
  // Deleting it takes nothing off the totals.
  ASSERT_TRUE(list_->PressKey(SourceKey::kDelete, {0}));
  EXPECT_EQ(list_->View().total_size, "      0.01 KB(      2 KB)");
  EXPECT_EQ(list_->View().total_files, "1");
}

TEST_F(SourceListTest, UpAndDownMoveExactlyOneRowWithinTheList) {
  for (const char* name : {"a", "b", "c"}) tree_.File(name, 1);
  Drop({"a", "b", "c"});
  EXPECT_FALSE(list_->PressKey(SourceKey::kUp, {0}));
  EXPECT_FALSE(list_->PressKey(SourceKey::kDown, {2}));
  EXPECT_FALSE(list_->PressKey(SourceKey::kUp, {1, 2}));
  EXPECT_FALSE(list_->PressKey(SourceKey::kDown, {0, 1}));
  EXPECT_FALSE(list_->PressKey(SourceKey::kUp, {}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"/a", "/b", "/c"}));

  EXPECT_EQ(list_->PressKey(SourceKey::kUp, {2}), std::vector<int>{1});
  EXPECT_EQ(Column(0), (std::vector<std::string>{"/a", "/c", "/b"}));
  EXPECT_EQ(list_->PressKey(SourceKey::kDown, {0}), std::vector<int>{1});
  EXPECT_EQ(Column(0), (std::vector<std::string>{"/c", "/a", "/b"}));
  // Every column moves with its row, the full source path included.
  EXPECT_EQ(Column(4),
            (std::vector<std::string>{tree_.Path("c"), tree_.Path("a"), tree_.Path("b")}));
}

TEST_F(SourceListTest, ALongSourcePathMovesWhole) {
  const std::string deep = std::string(150, 'd') + "/" + std::string(150, 'e') + "/f";
  tree_.File(deep, 1);
  tree_.File("g", 1);
  Drop({deep, "g"});
  ASSERT_TRUE(list_->PressKey(SourceKey::kUp, {1}));
  EXPECT_EQ(list_->SourceAt(1), tree_.Path(deep));
}

TEST_F(SourceListTest, DeleteTakesTheRowsOffTheTotalsAndDeletingAllGivesZero) {
  tree_.File("one", 1);
  tree_.File("src/a", 3000);
  tree_.File("src/sub/b", 5000);
  tree_.File("two", 2049);
  Drop({"one", "src", "two"});
  EXPECT_EQ(list_->View().total_size, "      9.81 KB(     14 KB)");

  EXPECT_EQ(list_->PressKey(SourceKey::kDelete, {1}), std::vector<int>{});
  SourceListView view = list_->View();
  EXPECT_EQ(Column(0), (std::vector<std::string>{"/one", "/two"}));
  EXPECT_EQ(view.total_size, "      2.00 KB(      6 KB)");
  EXPECT_EQ(view.total_folders, "0");
  EXPECT_EQ(view.total_files, "2");

  EXPECT_EQ(list_->PressKey(SourceKey::kDelete, {0, 1, 7}), std::vector<int>{});
  view = list_->View();
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.total_size, "      0.00 KB(      0 KB)");
  EXPECT_EQ(view.total_folders, "0");
  EXPECT_EQ(view.total_files, "0");
  const SourceTotals totals = list_->Totals();
  EXPECT_EQ(totals.bytes, 0u);
  EXPECT_EQ(totals.disc_bytes, 0u);
}

TEST_F(SourceListTest, ClearAllEmptiesTheTotalsAndTheListStaysUsable) {
  tree_.File("src/a", 10);
  Drop({"src"});
  list_->ClearAll();
  SourceListView view = list_->View();
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.total_size, "");
  EXPECT_EQ(view.total_folders, "");
  EXPECT_EQ(view.total_files, "");
  view = Drop({"src/a"});
  EXPECT_EQ(view.total_files, "1");
  EXPECT_EQ(view.total_size, "      0.01 KB(      2 KB)");
}

TEST_F(SourceListTest, FoldersAreMeasuredOffTheDroppingThreadAndRowsKeepDropOrder) {
  for (int i = 0; i < 300; ++i)
    tree_.File("big/d" + std::to_string(i % 30) + "/f" + std::to_string(i), 10);
  tree_.File("file", 5);
  tree_.File("small/x", 7);
  std::mutex mutex;
  std::set<std::thread::id> threads;
  bool saw_measuring = false;
  list_->SetChanged([&] {
    std::lock_guard lock(mutex);
    threads.insert(std::this_thread::get_id());
  });
  list_->Drop({tree_.Path("big"), tree_.Path("file"), tree_.Path("small")});
  {
    // Right after the drop every row is there, in order; the folders may still be measured.
    const SourceListView view = list_->View();
    ASSERT_EQ(view.rows.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      if (view.measuring[i]) {
        saw_measuring = true;
        EXPECT_EQ(view.rows[i][1], kMeasuringText);
      }
    }
    EXPECT_FALSE(view.measuring[1]);
  }
  list_->WaitUntilMeasured();
  const SourceListView view = list_->View();
  EXPECT_EQ(Column(0), (std::vector<std::string>{"/big", "/file", "/small"}));
  EXPECT_EQ(Column(5), (std::vector<std::string>{"300", "1", "1"}));
  EXPECT_EQ(view.measuring, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(view.total_files, "302");
  EXPECT_EQ(view.total_folders, "32");
  std::lock_guard lock(mutex);
  EXPECT_TRUE(threads.count(std::this_thread::get_id()) == 1);
  EXPECT_GE(threads.size(), 2u) << "no change came from another thread";
  (void)saw_measuring;
}

TEST_F(SourceListTest, DeletingOrClearingRowsStillBeingMeasuredLeavesConsistentTotals) {
  for (int i = 0; i < 2000; ++i)
    tree_.File("big/d" + std::to_string(i % 50) + "/f" + std::to_string(i), 1);
  tree_.File("kept", 4096);
  list_->Drop({tree_.Path("big"), tree_.Path("kept"), tree_.Path("big")});
  // Whether or not the walks have ended, the deleted rows leave nothing in the totals.
  ASSERT_TRUE(list_->PressKey(SourceKey::kDelete, {0, 2}));
  list_->WaitUntilMeasured();
  SourceListView view = list_->View();
  EXPECT_EQ(Column(0), std::vector<std::string>{"/kept"});
  EXPECT_EQ(view.total_files, "1");
  EXPECT_EQ(view.total_folders, "0");
  EXPECT_EQ(view.total_size, "      4.00 KB(      4 KB)");

  list_->Drop({tree_.Path("big")});
  ASSERT_TRUE(list_->PressKey(SourceKey::kUp, {1}));  // moved while measured
  list_->WaitUntilMeasured();
  EXPECT_EQ(Column(5), (std::vector<std::string>{"2000", "1"}));

  list_->Drop({tree_.Path("big")});
  list_->ClearAll();
  list_->WaitUntilMeasured();
  view = list_->View();
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.total_files, "");
  EXPECT_EQ(list_->Totals().files, 0u);
}

TEST_F(SourceListTest, AfterCloseNothingIsReportedAndDropsAreIgnored) {
  tree_.File("a", 1);
  std::atomic<int> calls{0};
  list_->SetChanged([&] { ++calls; });
  list_->Close();
  list_->Drop({tree_.Path("a")});
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(list_->RowCount(), 0u);
}

}  // namespace
}  // namespace zorvane
