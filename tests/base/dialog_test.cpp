// The in-memory dialog the CLI and the tests drive job logic through: it must behave as the
// widgets do where the logic depends on it.
#include "base/dialog.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

TEST(MemoryDialogTest, ProgressBarClampsToItsRangeAndWrapsWhenStepped) {
  MemoryDialog dialog;
  dialog.SetProgressRange(7, 0, 100);
  dialog.SetProgressPosition(7, 250);
  EXPECT_EQ(dialog.ProgressPosition(7), 100);
  dialog.SetProgressPosition(7, -5);
  EXPECT_EQ(dialog.ProgressPosition(7), 0);

  dialog.SetProgressStep(7, 40);
  dialog.StepProgress(7);
  dialog.StepProgress(7);
  EXPECT_EQ(dialog.ProgressPosition(7), 80);
  dialog.StepProgress(7);  // 120 is past the end: a stepped bar starts again
  EXPECT_EQ(dialog.ProgressPosition(7), 20);

  // A narrower range pulls the position into it.
  dialog.SetProgressRange(7, 50, 60);
  EXPECT_EQ(dialog.ProgressPosition(7), 50);
  EXPECT_EQ(dialog.ProgressRange(7), std::make_pair(50, 60));
}

TEST(MemoryDialogTest, TimersRunUntilStoppedOrTheDialogEnds) {
  MemoryDialog dialog;
  EXPECT_FALSE(dialog.TimerRunning(1));
  dialog.StartTimer(1, 1000);
  dialog.StartTimer(2, 500);
  EXPECT_TRUE(dialog.TimerRunning(1));
  dialog.StopTimer(1);
  EXPECT_FALSE(dialog.TimerRunning(1));
  EXPECT_TRUE(dialog.TimerRunning(2));

  EXPECT_EQ(dialog.EndResult(), -1);
  dialog.EndDialog(kCancelButton);
  EXPECT_EQ(dialog.EndResult(), kCancelButton);
  EXPECT_FALSE(dialog.TimerRunning(2));
}

TEST(MemoryDialogTest, ControlsStartVisibleAndEnabled) {
  MemoryDialog dialog;
  EXPECT_TRUE(dialog.IsVisible(1027));
  EXPECT_TRUE(dialog.IsEnabled(1027));
  dialog.Show(1027, false);
  EXPECT_FALSE(dialog.IsVisible(1027));
}

}  // namespace
}  // namespace zorvane
