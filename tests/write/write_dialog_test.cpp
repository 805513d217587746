// The write dialogs against virtual drives: start-up, the speed list and SET STREAMING,
// option buttons, the image chooser and the one-second timer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/templates.h"
#include "tests/write/wave_builder.h"
#include "tests/write/write_test_support.h"
#include "write/audio_cd_dialog.h"
#include "write/write_dialog.h"

namespace zorvane::test {
namespace {

class WriteDialogTest : public WriteTest {
 protected:
  // Opens a dialog of `template_id` on a fresh drive of `spec`.
  std::shared_ptr<WriteDialog> Open(const std::string& spec, int template_id) {
    Fresh(spec);
    auto handler = std::make_shared<WriteDialog>(template_id);
    LoadTemplate(D(), template_id == kCdWriteDialog ? CdWriteTemplate() : DvdWriteTemplate());
    handler->OnInit(D());
    return handler;
  }
  // Applies the worker's updates until it ends.
  void Finish(WriteDialog& handler) {
    for (int i = 0; i < 2000 && handler.Job()->Running(); ++i) {
      handler.OnTimer(D(), kUpdateTimer);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    handler.OnTimer(D(), kUpdateTimer);
    ASSERT_FALSE(handler.Job()->Running());
  }

  MemoryDialog& D() { return *owned_; }
  std::unique_ptr<MemoryDialog> owned_ = std::make_unique<MemoryDialog>();
};

TEST_F(WriteDialogTest, CdDialogStartsWithTheDriveSpeedsAndTheDefaultSelected) {
  auto handler = Open(Spec("cdr-blank"), kCdWriteDialog);
  EXPECT_EQ(D().EndResult(), -1);
  EXPECT_EQ(D().ItemText(kSpeedCombo, 0), "設備預設\n");
  ASSERT_GT(D().ItemCount(kSpeedCombo), 1);
  EXPECT_EQ(static_cast<std::size_t>(D().ItemCount(kSpeedCombo)),
            handler->WriteSpeedTable().size() + 1);
  bool found = false;
  for (int i = 1; i < D().ItemCount(kSpeedCombo); ++i) {
    if (D().ItemText(kSpeedCombo, i) == "40.0x (7056 KB/s)\n") found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(D().SelectedItem(kSpeedCombo), 0);
  EXPECT_TRUE(D().IsChecked(kTrackAtOnce));
  EXPECT_TRUE(D().IsChecked(kKeepSessionOpen));
  EXPECT_TRUE(D().IsChecked(kMultiSession));
  EXPECT_FALSE(D().IsEnabled(kSessionAtOnce));
  EXPECT_FALSE(D().Text(kCdProfileName).empty());
  EXPECT_EQ(D().Text(kImagePath), "");
  // The device default restores the drive's own performance.
  EXPECT_CONTAINS(command_console_.Text(),
                  "04 00 00 00 00 00 00 00 05 23 10 1F 00 00 56 90 \n"
                  "00 00 03 E8 00 00 00 00 00 00 03 E8 \n"
                  "SET STREAMING  B6 00 00 00 00 00 00 00 00 00 1C 00");
}

TEST_F(WriteDialogTest, PickingASpeedSendsItsRawBytesInTheDescriptor) {
  auto handler = Open(Spec("dvd+r"), kDvdWriteDialog);
  ASSERT_GT(D().ItemCount(kSpeedCombo), 1);
  const std::string item = D().ItemText(kSpeedCombo, 1);
  EXPECT_NE(item.find("x ("), std::string::npos);
  EXPECT_NE(item.find(" KB/s)\n"), std::string::npos);
  command_console_.Clear();
  D().SelectItem(kSpeedCombo, 1);
  handler->OnCommand(D(), kSpeedCombo);
  const auto& raw = handler->WriteSpeedTable()[0];
  char expected[64];
  std::snprintf(expected, sizeof expected, "00 00 03 E8 %02X %02X %02X %02X 00 00 03 E8 \n", raw[0],
                raw[1], raw[2], raw[3]);
  EXPECT_CONTAINS(command_console_.Text(), std::string("00 00 00 00 00 00 00 00 05 23 10 1F "));
  EXPECT_CONTAINS(command_console_.Text(), expected);
  EXPECT_EQ(D().EndResult(), -1);
}

TEST_F(WriteDialogTest, ADriveWithoutSpeedsEndsTheDialog) {
  Open(Spec("cdr-blank", "quirk=noperf"), kCdWriteDialog);
  EXPECT_EQ(info_console_.Text(), "寫入速率讀取失敗.\n");
  EXPECT_EQ(D().EndResult(), kCancelButton);
}

TEST_F(WriteDialogTest, DvdClosePresetsFollowTheProfile) {
  Open(Spec("dvd-r"), kDvdWriteDialog);
  EXPECT_FALSE(D().IsEnabled(kCloseTrackOption));
  EXPECT_TRUE(D().IsChecked(kCloseSessionDvdOption));
  EXPECT_TRUE(D().IsEnabled(kCloseDiscOption));

  owned_ = std::make_unique<MemoryDialog>();
  Open(Spec("dvd-rw-seq"), kDvdWriteDialog);
  EXPECT_FALSE(D().IsEnabled(kCloseSessionDvdOption));
  EXPECT_TRUE(D().IsChecked(kCloseDiscOption));

  owned_ = std::make_unique<MemoryDialog>();
  Open(Spec("dvd+rw"), kDvdWriteDialog);
  EXPECT_FALSE(D().IsEnabled(kCloseTrackOption));
  EXPECT_FALSE(D().IsEnabled(kCloseSessionDvdOption));
  EXPECT_FALSE(D().IsEnabled(kCloseDiscOption));
}

TEST_F(WriteDialogTest, CdOptionButtonsChangeCaptionsAndTheMultiSessionBox) {
  auto handler = Open(Spec("cdr-blank"), kCdWriteDialog);
  handler->OnCommand(D(), kCloseSessionOption);
  EXPECT_TRUE(D().IsChecked(kCloseSessionOption));
  EXPECT_FALSE(D().IsChecked(kKeepSessionOpen));
  handler->OnCommand(D(), kSessionAtOnce);
  EXPECT_EQ(D().Text(kKeepSessionOpen), "不關碟片");
  EXPECT_EQ(D().Text(kCloseSessionOption), "關掉碟片");
  EXPECT_FALSE(D().IsEnabled(kMultiSession));
  EXPECT_FALSE(D().IsChecked(kTrackAtOnce));
  handler->OnCommand(D(), kKeepSessionOpen);
  EXPECT_TRUE(D().IsEnabled(kMultiSession));
  handler->OnCommand(D(), kCloseSessionOption);
  EXPECT_FALSE(D().IsEnabled(kMultiSession));
  handler->OnCommand(D(), kTrackAtOnce);
  EXPECT_EQ(D().Text(kKeepSessionOpen), "不關節區");
  EXPECT_EQ(D().Text(kCloseSessionOption), "關掉節區");
  EXPECT_TRUE(D().IsEnabled(kMultiSession));
  // A test write records nothing to read back: it clears and disables the verify box.
  D().SetChecked(kVerifyAfterWrite, true);
  D().SetChecked(kTestWrite, true);
  handler->OnCommand(D(), kTestWrite);
  EXPECT_FALSE(D().IsChecked(kVerifyAfterWrite));
  EXPECT_FALSE(D().IsEnabled(kVerifyAfterWrite));
  D().SetChecked(kTestWrite, false);
  handler->OnCommand(D(), kTestWrite);
  EXPECT_TRUE(D().IsEnabled(kVerifyAfterWrite));
}

TEST_F(WriteDialogTest, ChoosingAnImageShowsItsSizeAndPresetsTheSession) {
  MakeImage("track.wav", 44 + 2352 * 10, 1);
  MakeImage("disc.iso", 3 * 1024 * 1024 + 1, 2);
  auto handler = Open(Spec("cdr-blank"), kCdWriteDialog);
  handler->SetFileChooser([this](int filter_set, std::string* path) {
    EXPECT_EQ(filter_set, 3);
    *path = PathOf("track.wav");
    return true;
  });
  handler->OnCommand(D(), kBrowseImage);
  EXPECT_EQ(D().Text(kImagePath), PathOf("track.wav"));
  EXPECT_EQ(D().Text(kImageSize), "0.02 MB\n");
  EXPECT_TRUE(D().IsChecked(kKeepSessionOpen));
  EXPECT_FALSE(D().IsChecked(kCloseSessionOption));
  handler->SetFileChooser(nullptr);
  D().SetText(kImagePath, PathOf("disc.iso"));
  handler->OnCommand(D(), kBrowseImage);
  EXPECT_EQ(D().Text(kImageSize), "3.00 MB\n");
  EXPECT_FALSE(D().IsChecked(kKeepSessionOpen));
  EXPECT_TRUE(D().IsChecked(kCloseSessionOption));

  owned_ = std::make_unique<MemoryDialog>();
  auto dvd = Open(Spec("dvd+rw"), kDvdWriteDialog);
  dvd->SetFileChooser([this](int filter_set, std::string* path) {
    EXPECT_EQ(filter_set, 1);
    *path = PathOf("disc.iso");
    return true;
  });
  dvd->OnCommand(D(), kBrowseImage);
  EXPECT_EQ(D().Text(kImageSize), "3.00 MB\n");
  EXPECT_EQ(D().Text(kSectorCount), "0/1537\n");  // one byte more than 1,536 sectors

  D().SetText(kImagePath, PathOf("none.iso"));
  dvd->SetFileChooser(nullptr);
  dvd->OnCommand(D(), kBrowseImage);
  EXPECT_EQ(D().Text(kFileMessage), "檔案無法被開啟, errorcode=2\n");
  EXPECT_EQ(D().Text(kSectorCount), "0/1537\n");
}

TEST_F(WriteDialogTest, TimerShowsElapsedTimeAndSpeedsOnlyWhenSectorsMoved) {
  auto cd = Open(Spec("cdr-blank"), kCdWriteDialog);
  cd->OnTimer(D(), kProgressTimer);  // nothing written: nothing changes
  EXPECT_EQ(D().Text(kElapsedTime), "00:00");
  cd->Job()->sectors_written = 150;
  cd->OnTimer(D(), kProgressTimer);
  EXPECT_EQ(D().Text(kElapsedTime), "00:02\n");
  EXPECT_EQ(D().Text(kCurrentSpeed), "2.00\n");
  EXPECT_EQ(D().Text(kHighestSpeed), "2.00\n");
  EXPECT_EQ(D().Text(kAverageSpeed), "1.00\n");
  cd->Job()->sectors_written = 225;  // slower: the highest stays
  cd->OnTimer(D(), kProgressTimer);
  EXPECT_EQ(D().Text(kCurrentSpeed), "1.00\n");
  EXPECT_EQ(D().Text(kHighestSpeed), "2.00\n");
  for (std::uint32_t i = 0; i < 5997; ++i) {
    cd->Job()->sectors_written = 226 + i;
    cd->OnTimer(D(), kProgressTimer);
  }
  EXPECT_EQ(D().Text(kElapsedTime), "100:00\n");

  owned_ = std::make_unique<MemoryDialog>();
  auto dvd = Open(Spec("dvd+rw"), kDvdWriteDialog);
  dvd->Job()->sectors_written = 1385;
  dvd->OnTimer(D(), kProgressTimer);
  EXPECT_EQ(D().Text(kCurrentSpeed), "2.00(18.47)\n");
  EXPECT_EQ(D().Text(kSectorCount), "1386/0\n");
}

TEST_F(WriteDialogTest, EachDialogCountsItsOwnSectors) {
  auto first = Open(Spec("dvd+rw"), kDvdWriteDialog);
  MemoryDialog other_controls;
  auto second = std::make_shared<WriteDialog>(kDvdWriteDialog);
  second->Job()->sectors_written = 5000;
  first->OnTimer(D(), kProgressTimer);
  EXPECT_EQ(D().Text(kCurrentSpeed), "0");
  second->OnTimer(other_controls, kProgressTimer);
  EXPECT_EQ(other_controls.Text(kCurrentSpeed), "7.22(66.67)\n");
}

TEST_F(WriteDialogTest, CdDialogOnADvdFailsWithoutWriting) {
  MakeImage("a.iso", 2048 * 40, 3);
  auto handler = Open(Spec("dvd-r"), kCdWriteDialog);
  ASSERT_EQ(D().EndResult(), -1);
  D().SetText(kImagePath, PathOf("a.iso"));
  handler->OnCommand(D(), kOkButton);
  Finish(*handler);
  EXPECT_EQ(handler->Job()->state.load(), WriteState::kFailed);
  EXPECT_CONTAINS(info_console_.Text(), "光碟片不是CD-R/RW, 無法以CD方式寫入.\n");
  EXPECT_FALSE(D().IsEnabled(kOkButton));
  EXPECT_FALSE(D().TimerRunning(kProgressTimer));
  EXPECT_LACKS(command_console_.Text(), "MODE SELECT");
}

TEST_F(WriteDialogTest, FinishedWriteOffersAnotherRun) {
  MakeImage("a.iso", 2048 * 40, 4);
  auto handler = Open(Spec("dvd+rw"), kDvdWriteDialog);
  D().SetText(kImagePath, PathOf("a.iso"));
  handler->OnCommand(D(), kOkButton);
  EXPECT_FALSE(D().IsEnabled(kOkButton));
  Finish(*handler);
  EXPECT_EQ(handler->Job()->state.load(), WriteState::kFinished);
  EXPECT_EQ(D().Text(kCancelButton), "結束(&X)");
  EXPECT_TRUE(D().IsEnabled(kOkButton));
  EXPECT_FALSE(D().TimerRunning(kProgressTimer));
  EXPECT_EQ(D().ProgressPosition(kWriteGauge), 40);
  EXPECT_EQ(D().ProgressRange(kWriteGauge), std::make_pair(0, 41));
}

TEST_F(WriteDialogTest, AudioCdDialogListsTracksAgainstTheDiscAndHandsItsAlbumToTheCdDialog) {
  auto save_wave = [this](const std::string& name, std::size_t bytes, int seed) {
    const auto samples = MakeImage(name + ".raw", bytes, seed);
    const auto file = Wave({Chunk("fmt ", Fmt(1, 2, 44100, 16)), Chunk("data", samples)});
    std::FILE* out = std::fopen(PathOf(name).c_str(), "wb");
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
    EXPECT_EQ(std::fclose(out), 0);
    return samples;
  };
  const auto a = save_wave("a.wav", 2352 * 320, 1);
  const auto b = save_wave("b.wav", 2352 * 400, 2);
  save_wave("short.wav", 2352 * 100, 3);
  auto cd = Open(Spec("cdr-blank"), kCdWriteDialog);
  int opened = 0;
  cd->SetAudioCdOpener([&opened] { ++opened; });
  cd->OnCommand(D(), kAudioCdButton);
  EXPECT_EQ(opened, 1);

  MemoryDialog audio_controls;
  LoadTemplate(audio_controls, AudioCdTemplate());
  AudioCdDialog audio;
  std::shared_ptr<const SaoRequest> album;
  audio.SetOnAccept([&album](std::shared_ptr<const SaoRequest> given) { album = given; });
  audio.OnInit(audio_controls);
  // The blank 80-minute CD-R: its free blocks and the first pre-gap.
  EXPECT_EQ(audio_controls.Text(kAudioCapacity), "79:59:74");
  EXPECT_FALSE(audio_controls.IsEnabled(kOkButton));
  auto add = [&](const std::string& name, const std::string& title) {
    audio_controls.SetText(kAudioWavePath, PathOf(name));
    audio_controls.SetText(kAudioTrackTitle, title);
    audio.OnCommand(audio_controls, kAudioAdd);
  };
  add("a.wav", "第一首");
  add("short.wav", "");
  EXPECT_EQ(audio_controls.Text(kAudioMessage), "曲目須至少 4 秒");
  add("b.wav", "");
  add("short.wav", "");
  ASSERT_EQ(audio_controls.ItemCount(kAudioTrackList), 2);
  EXPECT_EQ(audio_controls.ItemText(kAudioTrackList, 0), "01  00:04:20  第一首");
  EXPECT_EQ(audio_controls.ItemText(kAudioTrackList, 1), "02  00:05:25  b.wav");
  // 150 + 320 + 150 + 400 blocks.
  EXPECT_EQ(audio_controls.Text(kAudioTotalTime), "00:13:45");
  audio_controls.SetText(kAudioGap, "0");
  audio.OnCommand(audio_controls, kAudioGap);
  EXPECT_EQ(audio_controls.Text(kAudioTotalTime), "00:11:45");
  audio_controls.SetText(kAudioGap, "x");
  audio.OnCommand(audio_controls, kAudioGap);
  EXPECT_FALSE(audio_controls.IsEnabled(kOkButton));
  audio_controls.SetText(kAudioGap, "0");
  audio_controls.SelectItem(kAudioTrackList, 1);
  audio.OnCommand(audio_controls, kAudioTrackList);
  audio_controls.SetText(kAudioTrackTitle, "第二首");
  audio.OnCommand(audio_controls, kAudioRename);
  EXPECT_EQ(audio_controls.ItemText(kAudioTrackList, 1), "02  00:05:25  第二首");
  audio_controls.SetText(kAudioAlbumTitle, "專輯");
  audio.OnCommand(audio_controls, kOkButton);
  ASSERT_NE(album, nullptr);
  EXPECT_EQ(audio_controls.EndResult(), kOkButton);
  EXPECT_EQ(album->waves, (std::vector<std::string>{PathOf("a.wav"), PathOf("b.wav")}));
  EXPECT_EQ(album->track_titles, (std::vector<std::string>{"第一首", "第二首"}));
  EXPECT_EQ(album->gap, 0U);

  // The CD dialog writes the album session at once. This drive takes no CD-TEXT in the
  // lead-in, so the texts are dropped for the write.
  auto plain = std::make_shared<SaoRequest>(*album);
  plain->drop_text = true;
  cd->AcceptAlbum(D(), plain);
  EXPECT_EQ(D().Text(kFileMessage), "音樂光碟: 2 首, 一次一節區寫入");
  cd->OnCommand(D(), kOkButton);
  Finish(*cd);
  EXPECT_EQ(cd->Job()->state.load(), WriteState::kFinished) << cd->Job()->Failure();
  Fresh(Spec("cdr-blank"));
  EXPECT_EQ(TrackStart(2), 320U);
  EXPECT_EQ(ReadCd(0, 320, 1, 2352), a);
  EXPECT_EQ(ReadCd(320, 400, 1, 2352), b);
}

}  // namespace
}  // namespace zorvane::test
