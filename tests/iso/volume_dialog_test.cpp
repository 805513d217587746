// The volume dialog over in-memory controls: its defaults, OK, Cancel, Browse, the totals.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>

#include "iso/volume_dialog.h"
#include "tests/iso/iso_test_support.h"

namespace zorvane {
namespace {

using test::ScratchTree;

VolumeClock May6(int offset_minutes) {
  return VolumeClock{2024, 5, 6, 7, 8, 9, 123, offset_minutes};
}

TEST(VolumeDefaultsTest, NamesAndDatesComeFromTheMomentTheDialogOpens) {
  const VolumeFields f = VolumeDefaults(May6(480), SystemNames{"Linux", "example.org", "ada"});
  EXPECT_EQ(f.volume, "20240506_07080912");
  EXPECT_EQ(f.volume_set, "20240506_07080912");
  EXPECT_EQ(f.set_size, "1");
  EXPECT_EQ(f.sequence, "1");
  EXPECT_EQ(f.system, "Linux");
  EXPECT_EQ(f.publisher, "example.org");
  EXPECT_EQ(f.preparer, "ada");
  EXPECT_EQ(f.application, "Zorvane");
  EXPECT_EQ(f.dates[0], "2024/05/06 07:08:09:12");
  EXPECT_EQ(f.dates[1], "2024/05/06 07:08:09:12");
  EXPECT_EQ(f.dates[2], "2074/05/06 07:08:09:12");
  EXPECT_EQ(f.dates[3], "2024/05/06 07:08:09:12");
  for (const std::string& offset : f.offsets) EXPECT_EQ(offset, "32");
  EXPECT_TRUE(f.copyright_file.empty() && f.abstract_file.empty() && f.bibliographic_file.empty());
}

TEST(VolumeDefaultsTest, OffsetsAreQuarterHoursEastTruncated) {
  EXPECT_EQ(VolumeDefaults(May6(-300), {}).offsets[0], "-20");
  EXPECT_EQ(VolumeDefaults(May6(0), {}).offsets[0], "0");
  EXPECT_EQ(VolumeDefaults(May6(345), {}).offsets[0], "23");    // UTC+5:45
  EXPECT_EQ(VolumeDefaults(May6(-570), {}).offsets[0], "-38");  // UTC-9:30
}

TEST(VolumeDefaultsTest, TheSystemGivesNamesForEveryField) {
  const SystemNames names = CurrentSystemNames();
  EXPECT_EQ(names.system, "Linux");
  EXPECT_FALSE(names.domain.empty());
  EXPECT_FALSE(names.user.empty());
}

class VolumeDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MessageBoxSink = &messages_;
    handler_->SetClock([] { return May6(480); });
    handler_->SetNames([] { return SystemNames{"Linux", "example.org", "ada"}; });
    handler_->SetLog(log_);
    handler_->OnInit(dialog_);
  }
  void TearDown() override {
    handler_->OnClose(dialog_);
    handler_->WaitForWorkers();
    MessageBoxSink = nullptr;
  }

  ScratchTree tree_;
  MemoryDialog dialog_;
  StringMessageSink messages_;
  std::shared_ptr<StringConsole> log_ = std::make_shared<StringConsole>();
  std::shared_ptr<VolumeDialog> handler_ = std::make_shared<VolumeDialog>();
};

TEST_F(VolumeDialogTest, OpeningFillsTheFieldsAndEmptiesTheRest) {
  EXPECT_EQ(dialog_.Text(kVolumeName), "20240506_07080912");
  EXPECT_EQ(dialog_.Text(kSystemName), "Linux");
  EXPECT_EQ(dialog_.Text(kPublisher), "example.org");
  EXPECT_EQ(dialog_.Text(kDataPreparer), "ada");
  EXPECT_EQ(dialog_.Text(kExpirationDate), "2074/05/06 07:08:09:12");
  EXPECT_EQ(dialog_.Text(kEffectiveOffset), "32");
  EXPECT_EQ(dialog_.Text(kOutputPath), "");
  EXPECT_EQ(dialog_.Text(kTotalSize), "");
  const VolumeFields read = ReadVolumeFields(dialog_);
  EXPECT_EQ(read.volume_set, "20240506_07080912");
  EXPECT_EQ(read.offsets[1], "32");
}

TEST_F(VolumeDialogTest, DroppedRowsShowTheirTotalsInTheDialog) {
  tree_.File("src/a", 3000);
  tree_.File("src/b/c", 10);
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  EXPECT_EQ(dialog_.Text(kTotalSize), "      2.94 KB(      4 KB)");
  EXPECT_EQ(dialog_.Text(kTotalFolders), "2");
  EXPECT_EQ(dialog_.Text(kTotalFiles), "2");
  EXPECT_EQ(dialog_.ProgressRange(kDropProgress), std::make_pair(0, 1));
  EXPECT_EQ(dialog_.ProgressPosition(kDropProgress), 1);
  handler_->OnCommand(dialog_, kClearAllButton);
  EXPECT_EQ(dialog_.Text(kTotalSize), "");
  EXPECT_EQ(handler_->Sources().RowCount(), 0u);
}

TEST_F(VolumeDialogTest, OkTwiceListsTheSourcesTwiceIntoTheLog) {
  tree_.File("src/x", 1);
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  handler_->OnCommand(dialog_, kOkButton);
  EXPECT_TRUE(dialog_.IsEnabled(kOkButton));
  handler_->OnCommand(dialog_, kOkButton);
  handler_->WaitForWorkers();
  const std::string text = log_->Text();
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find("Search completed\n", at)) != std::string::npos; ++at) {
    ++count;
  }
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(handler_->LastJobSucceeded());
}

TEST_F(VolumeDialogTest, CancelStopsTheWorkerAndClosesTheDialog) {
  for (int i = 0; i < 3000; ++i) tree_.File("src/f" + std::to_string(i), 1);
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  MemoryDialog main_window;
  main_window.Enable(kIsoImageButton, false);
  MainWindow.store(&main_window);
  handler_->OnCommand(dialog_, kOkButton);
  handler_->OnCommand(dialog_, kCancelButton);
  MainWindow.store(nullptr);
  EXPECT_EQ(dialog_.EndResult(), kCancelButton);
  EXPECT_TRUE(main_window.IsEnabled(kIsoImageButton));
  handler_->WaitForWorkers();
  EXPECT_FALSE(handler_->LastJobSucceeded());
  // The worker stopped at a check of the run flag: the listing did not reach its end.
  EXPECT_EQ(log_->Text().find("Search completed"), std::string::npos);
}

TEST_F(VolumeDialogTest, BrowseAsksForTheOutputPathStartingFromTheOneShown) {
  std::string offered;
  handler_->SetSaveFileChooser([&](std::string* path) {
    offered = *path;
    *path = "/tmp/chosen.iso";
    return true;
  });
  dialog_.SetText(kOutputPath, "/tmp/old.iso");
  handler_->OnCommand(dialog_, kBrowseButton);
  EXPECT_EQ(offered, "/tmp/old.iso");
  EXPECT_EQ(dialog_.Text(kOutputPath), "/tmp/chosen.iso");
  handler_->SetSaveFileChooser([](std::string*) { return false; });
  handler_->OnCommand(dialog_, kBrowseButton);
  EXPECT_EQ(dialog_.Text(kOutputPath), "/tmp/chosen.iso");
}

TEST_F(VolumeDialogTest, WithAnOutputPathOkAlsoWritesTheImageAndLogsItsSize) {
  tree_.File("src/a", 5000);
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  const std::string image = tree_.Path("out.iso");
  dialog_.SetText(kOutputPath, image);
  handler_->OnCommand(dialog_, kOkButton);
  handler_->WaitForWorkers();
  EXPECT_TRUE(handler_->LastJobSucceeded()) << log_->Text();
  std::smatch match;
  const std::string text = log_->Text();
  ASSERT_TRUE(std::regex_search(text, match,
                                std::regex("Image " + image + ": (\\d+) bytes, (\\d+) sectors\n")));
  EXPECT_EQ(std::stoull(match[1]), std::filesystem::file_size(image));
  EXPECT_EQ(std::stoull(match[1]), std::stoull(match[2]) * 2048);
  EXPECT_LT(text.find("Search completed\n"), text.find("Writing image "));
}

TEST_F(VolumeDialogTest, AnImageThatCannotBeWrittenIsSaidSoAndLeavesNothing) {
  tree_.File("src/a", 5000);
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  dialog_.SetText(kOutputPath, tree_.Path("no/such/folder/out.iso"));
  handler_->OnCommand(dialog_, kOkButton);
  handler_->WaitForWorkers();
  EXPECT_FALSE(handler_->LastJobSucceeded());
  EXPECT_NE(log_->Text().find("Image not written: " + tree_.Path("no/such/folder/out.iso") +
                              ": No such file or directory\n"),
            std::string::npos)
      << log_->Text();
}

TEST_F(VolumeDialogTest, TwoOksWithOneOutputPathNeverWriteTheImageTwiceAtOnce) {
  tree_.File("src/big", 24 * 1024 * 1024, 'b');
  handler_->Sources().Drop({tree_.Path("src")});
  handler_->Sources().WaitUntilMeasured();
  const std::string image = tree_.Path("out.iso");
  dialog_.SetText(kOutputPath, image);
  handler_->OnCommand(dialog_, kOkButton);
  handler_->OnCommand(dialog_, kOkButton);
  handler_->WaitForWorkers();
  const std::string text = log_->Text();
  // Either the second worker found the first still writing and wrote nothing, or it came
  // after; an image written at once by both would not have the size it reports.
  std::smatch match;
  ASSERT_TRUE(std::regex_search(text, match, std::regex("Image " + image + ": (\\d+) bytes")))
      << text;
  EXPECT_EQ(std::stoull(match[1]), std::filesystem::file_size(image));
  const bool refused =
      text.find("Image not written: another image is being written\n") != std::string::npos;
  const bool both = std::regex_search(match.suffix().first, text.cend(),
                                      std::regex("Image " + image + ": \\d+ bytes"));
  EXPECT_NE(refused, both) << text;
}

}  // namespace
}  // namespace zorvane
