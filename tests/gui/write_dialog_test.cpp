// The write dialogs as a user meets them: the main window's write button opens the dialog
// for the loaded disc; a speed is picked, an image chosen, OK pressed, and the window shows
// the progress and the finished state.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <algorithm>
#include <memory>

#include "base/templates.h"
#include "gui/file_dialogs.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/qt_dialog.h"
#include "gui/template_builder.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/virtual_backend.h"
#include "write/audio_cd_dialog.h"
#include "write/erase_dialog.h"
#include "write/format.h"
#include "write/write_dialog.h"
#include "write/write_job.h"

using namespace zorvane;

class WriteDialogWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindowForm> window_;
  StringMessageSink messages_;
  QTemporaryDir dir_;

  void Start(const std::string& spec) {
    CloseAllDevices();
    ResetVirtualDrives();
    for (std::string& path : DevicePaths) path.clear();
    DevicePaths[0] = spec;
    DiscoverDevices();
    window_ = std::make_unique<MainWindowForm>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  static JobWindow* OpenJobWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* job = qobject_cast<JobWindow*>(widget); job != nullptr && job->isVisible()) {
        return job;
      }
    }
    return nullptr;
  }

  template <typename T>
  static T* Control(QWidget* form, int id) {
    auto* widget = qobject_cast<T*>(ControlWidget(form, id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }

  // With ZORVANE_SCREENSHOT_DIR set, keeps a picture of the window there.
  static void SaveShot(QWidget* window, const char* name) {
    const QByteArray dir = qgetenv("ZORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QVERIFY(window->grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name)));
  }

  QString MakeImage(const QString& name, qint64 size) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
    QByteArray data(static_cast<int>(size), '\0');
    for (int i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 2048);
    file.write(data);
    return path;
  }

  // Presses the write button, picks speed item 1, chooses `image` and writes it; returns
  // the dialog's window once it shows the finished state.
  JobWindow* WriteThroughTheDialog(const QString& image, const QString& caption_start) {
    QTest::mouseClick(ControlWidget(window_.get(), kWriteButton), Qt::LeftButton);
    JobWindow* job = OpenJobWindow();
    if (job == nullptr) return nullptr;
    if (!job->windowTitle().startsWith(caption_start)) return nullptr;
    // The dialog holds the write button while it is open.
    if (ControlWidget(window_.get(), kWriteButton)->isEnabled()) return nullptr;

    auto* speeds = Control<QComboBox>(job, kSpeedCombo);
    if (speeds->count() < 2 || speeds->itemText(0) != QString::fromUtf8("設備預設\n")) {
      return nullptr;
    }
    speeds->setCurrentIndex(1);
    emit speeds->activated(1);

    SetFileDialogHooks({[image](QFileDialog& dialog) {
                          dialog.selectFile(image);
                          return true;
                        },
                        {}});
    QTest::mouseClick(Control<QPushButton>(job, kBrowseImage), Qt::LeftButton);
    SetFileDialogHooks({});
    if (Control<QLineEdit>(job, kImagePath)->text() != image) return nullptr;

    QTest::mouseClick(Control<QPushButton>(job, kOkButton), Qt::LeftButton);
    if (Control<QPushButton>(job, kOkButton)->isEnabled()) return nullptr;  // writing
    return job;
  }

 private slots:
  void init() {
    RegisterVirtualBackend();
    SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
    SetWritePacing(WritePacing{std::chrono::milliseconds(1), std::chrono::milliseconds(3000),
                               std::chrono::milliseconds(0)});
    MessageBoxSink = &messages_;
  }

  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<JobWindow*>(widget) != nullptr) widget->close();
    }
    QTest::qWait(20);
    window_.reset();
    MessageBoxSink = nullptr;
    CloseAllDevices();
    ResetVirtualDrives();
    SetWritePacing(WritePacing{});
  }

  void cdDialogWritesAnImageAndOffersAnotherRun() {
    Start("virtual:cdr-blank");
    const QString image = MakeImage(QStringLiteral("disc.iso"), 2048 * 400);
    JobWindow* job = WriteThroughTheDialog(image, QString::fromUtf8("寫入  ZORVANE"));
    QVERIFY(job != nullptr);
    QCOMPARE(Control<QLabel>(job, kImageSize)->text(), QStringLiteral("0.78 MB\n"));
    QVERIFY(Control<QAbstractButton>(job, kCloseSessionOption)->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(job, kCancelButton)->text(),
                              QString::fromUtf8("結束(&X)"), 10000);
    QVERIFY(Control<QPushButton>(job, kOkButton)->isEnabled());
    QCOMPARE(Control<QProgressBar>(job, kWriteGauge)->value(), 400);
    QCOMPARE(Control<QLabel>(job, kSectorCount)->text(), QStringLiteral("400/400\n"));
    QVERIFY(ControlWidget(window_.get(), kWriteButton)->isEnabled());
    QVERIFY(window_->CommandPane()->Text().contains(
        QStringLiteral("CLOSE TRACK/SESSION  5B 00 02 00 00 01 00 00 00 00")));
    SaveShot(job, "04-write-cd.png");

    // Cancel ends the dialog; the write button stays available.
    QTest::mouseClick(Control<QPushButton>(job, kCancelButton), Qt::LeftButton);
    QTRY_VERIFY(OpenJobWindow() == nullptr);
    QVERIFY(ControlWidget(window_.get(), kWriteButton)->isEnabled());
  }

  void audioCdButtonOpensTheAlbumDialogWhoseAlbumTheCdWindowTakes() {
    Start("virtual:cdr-blank");
    QByteArray wave("RIFF");
    const qint32 samples = 2352 * 400;
    auto le = [&wave](qint64 value, int bytes) {
      for (int i = 0; i < bytes; ++i) wave.append(static_cast<char>(value >> (8 * i)));
    };
    le(36 + samples, 4);
    wave.append("WAVEfmt ");
    le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
    wave.append("data");
    le(samples, 4);
    wave.append(QByteArray(samples, '\x11'));
    const QString path = dir_.filePath(QStringLiteral("song.wav"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(wave);
    file.close();

    QTest::mouseClick(ControlWidget(window_.get(), kWriteButton), Qt::LeftButton);
    JobWindow* cd = OpenJobWindow();
    QVERIFY(cd != nullptr);
    QCOMPARE(Control<QPushButton>(cd, kAudioCdButton)->text(), QString::fromUtf8("音樂光碟"));
    QTest::mouseClick(Control<QPushButton>(cd, kAudioCdButton), Qt::LeftButton);
    JobWindow* album = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* job = qobject_cast<JobWindow*>(widget);
      if (job != nullptr && job != cd && job->isVisible()) album = job;
    }
    QVERIFY(album != nullptr);
    QCOMPARE(album->windowTitle(), QString::fromUtf8("音樂光碟"));
    SetFileDialogHooks({[path](QFileDialog& dialog) {
                          dialog.selectFile(path);
                          return true;
                        },
                        {}});
    Control<QLineEdit>(album, kAudioTrackTitle)->setText(QString::fromUtf8("第一首"));
    QTest::mouseClick(Control<QPushButton>(album, kAudioAdd), Qt::LeftButton);
    SetFileDialogHooks({});
    QCOMPARE(Control<QLabel>(album, kAudioTotalTime)->text(), QStringLiteral("00:07:25"));
    SaveShot(album, "04-audio-cd.png");
    QTest::mouseClick(Control<QPushButton>(album, kOkButton), Qt::LeftButton);
    QTRY_VERIFY(!album->isVisible() || OpenJobWindow() == cd);
    QCOMPARE(Control<QLabel>(cd, kFileMessage)->text(),
             QString::fromUtf8("音樂光碟: 1 首, 一次一節區寫入"));
    QVERIFY(Control<QAbstractButton>(cd, kSessionAtOnce)->isChecked());
  }

  void dvdDialogWritesAnImageWithItsSectorCount() {
    Start("virtual:dvd+rw");
    const QString image = MakeImage(QStringLiteral("dvd.iso"), 2048 * 1000 + 5);
    JobWindow* job = WriteThroughTheDialog(image, QString::fromUtf8("寫入  ZORVANE"));
    QVERIFY(job != nullptr);
    QCOMPARE(Control<QLabel>(job, kSectorCount)->text().left(2), QStringLiteral("0/"));
    QVERIFY(!Control<QAbstractButton>(job, kCloseSessionDvdOption)->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(job, kCancelButton)->text(),
                              QString::fromUtf8("結束(&X)"), 10000);
    QCOMPARE(Control<QProgressBar>(job, kWriteGauge)->value(), 1001);
    QCOMPARE(Control<QProgressBar>(job, kWriteGauge)->maximum(), 1002);
    QVERIFY(!Control<QLabel>(job, kDvdProfileName)->text().isEmpty());
    QTRY_VERIFY(window_->InfoPane()->Text().contains(QStringLiteral("EndSectors=7, i=1001\n")));
    SaveShot(job, "05-write-dvd.png");
    QTest::mouseClick(Control<QPushButton>(job, kCancelButton), Qt::LeftButton);
    QTRY_VERIFY(OpenJobWindow() == nullptr);
  }

  void progressShowsWhileARealTimeWriteRuns() {
    Start("virtual:dvd+rw,time=real");
    const QString image = MakeImage(QStringLiteral("slow.iso"), 2048 * 8000);
    JobWindow* job = WriteThroughTheDialog(image, QString::fromUtf8("寫入"));
    QVERIFY(job != nullptr);
    // The one-second timer shows the time and the speeds while sectors move.
    QTRY_VERIFY_WITH_TIMEOUT(Control<QLabel>(job, kElapsedTime)->text() != QStringLiteral("00:00"),
                             8000);
    QVERIFY(Control<QLabel>(job, kCurrentSpeed)->text().contains(QLatin1Char('(')));
    QVERIFY(Control<QProgressBar>(job, kBufferGauge)->maximum() > 0);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(job, kCancelButton)->text(),
                              QString::fromUtf8("結束(&X)"), 30000);
    QCOMPARE(Control<QProgressBar>(job, kWriteGauge)->value(), 8000);
  }

  void addressWriteDialogWritesFromTheStartSector() {
    Start("virtual:dvd+rw");
    const QString image = MakeImage(QStringLiteral("at.iso"), 65536);
    QTest::mouseClick(ControlWidget(window_.get(), kAddressWriteButton), Qt::LeftButton);
    JobWindow* job = OpenJobWindow();
    QVERIFY(job != nullptr);
    QVERIFY(job->windowTitle().startsWith(QString::fromUtf8("指定寫入  ZORVANE")));
    QVERIFY(!ControlWidget(window_.get(), kAddressWriteButton)->isEnabled());
    auto* start = Control<QLineEdit>(job, kStartSector);
    QCOMPARE(start->text(), QStringLiteral("      0"));
    start->setText(QStringLiteral("32"));
    SetFileDialogHooks({[image](QFileDialog& dialog) {
                          dialog.selectFile(image);
                          return true;
                        },
                        {}});
    QTest::mouseClick(Control<QPushButton>(job, kBrowseImage), Qt::LeftButton);
    SetFileDialogHooks({});
    QCOMPARE(Control<QLabel>(job, kImageSize)->text(), QStringLiteral("64.00 KB\n"));
    QCOMPARE(Control<QLabel>(job, kSectorCount)->text(), QStringLiteral("0/32\n"));
    QTest::mouseClick(Control<QPushButton>(job, kOkButton), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(job, kCancelButton)->text(),
                              QString::fromUtf8("結束(&X)"), 10000);
    QCOMPARE(Control<QLabel>(job, kSectorCount)->text(), QStringLiteral("32/32\n"));
    QCOMPARE(Control<QProgressBar>(job, kWriteGauge)->value(), 10);
    QVERIFY(ControlWidget(window_.get(), kAddressWriteButton)->isEnabled());
    SaveShot(job, "06-address-write.png");
    QTest::mouseClick(Control<QPushButton>(job, kCancelButton), Qt::LeftButton);
    QTRY_VERIFY(OpenJobWindow() == nullptr);
  }

  void eraseDialogBlanksACdRw() {
    Start("virtual:cdrw-blank");
    QTest::mouseClick(ControlWidget(window_.get(), kEraseButton), Qt::LeftButton);
    JobWindow* job = OpenJobWindow();
    QVERIFY(job != nullptr);
    QVERIFY(job->windowTitle().startsWith(QString::fromUtf8("抹除  ZORVANE")));
    QVERIFY(Control<QAbstractButton>(job, kMinimalBlank)->isChecked());
    QTest::mouseClick(Control<QAbstractButton>(job, kFullBlank), Qt::LeftButton);
    QVERIFY(Control<QAbstractButton>(job, kFullBlank)->isChecked());
    QVERIFY(!Control<QAbstractButton>(job, kMinimalBlank)->isChecked());
    QTest::mouseClick(Control<QPushButton>(job, kOkButton), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(job, kEraseStatus)->text(),
                              QString::fromUtf8("完成\n"), 10000);
    QCOMPARE(Control<QLabel>(job, kEraseMedium)->text(), QStringLiteral("CD-RW"));
    QVERIFY(Control<QPushButton>(job, kOkButton)->isEnabled());
    QVERIFY(window_->CommandPane()->Text().contains(
        QStringLiteral("BLANK  A1 10 00 00 00 00 00 00 00 00 00 00")));
    SaveShot(job, "07-erase.png");
    QTest::mouseClick(Control<QPushButton>(job, kCancelButton), Qt::LeftButton);
    QTRY_VERIFY(OpenJobWindow() == nullptr);
  }

  // The option buttons of the write and erase dialogs are radio buttons, one exclusive
  // group per template group: a click checks one and unchecks the others of its group
  // only; the dialog logic can still clear a group through the Dialog port.
  void optionButtonsAreRadioButtonsInTheirTemplatesGroups() {
    struct Case {
      const DialogTemplate* form;
      std::vector<std::vector<int>> groups;
      std::vector<int> check_boxes;
    };
    const Case cases[] = {
        {&EraseTemplate(), {{kFullBlank, kMinimalBlank, kUncloseSession, kEraseSession}}, {}},
        {&CdWriteTemplate(),
         {{kTrackAtOnce, kSessionAtOnce}, {kKeepSessionOpen, kCloseSessionOption}},
         {kMultiSession, kTestWrite, kVerifyAfterWrite}},
        {&DvdWriteTemplate(),
         {{kCloseTrackOption, kCloseSessionDvdOption, kCloseDiscOption}},
         {kTestWrite, kVerifyAfterWrite}},
    };
    for (const Case& c : cases) {
      QWidget form;
      BuildDialog(*c.form, &form);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      std::vector<QButtonGroup*> groups;
      for (const std::vector<int>& members : c.groups) {
        QButtonGroup* group = Control<QRadioButton>(&form, members.front())->group();
        QVERIFY(group != nullptr && group->exclusive());
        QCOMPARE(group->buttons().size(), static_cast<qsizetype>(members.size()));
        for (int id : members) {
          QCOMPARE(Control<QRadioButton>(&form, id)->group(), group);
          Control<QRadioButton>(&form, id)->setEnabled(true);
        }
        QVERIFY(std::find(groups.begin(), groups.end(), group) == groups.end());
        groups.push_back(group);
      }
      for (int id : c.check_boxes) QVERIFY(Control<QCheckBox>(&form, id)->group() == nullptr);
      for (const std::vector<int>& members : c.groups) {
        QTest::mouseClick(Control<QRadioButton>(&form, members.front()), Qt::LeftButton);
      }
      for (std::size_t g = 0; g < c.groups.size(); ++g) {
        for (int clicked : c.groups[g]) {
          QTest::mouseClick(Control<QRadioButton>(&form, clicked), Qt::LeftButton);
          for (int id : c.groups[g]) {
            QCOMPARE(Control<QRadioButton>(&form, id)->isChecked(), id == clicked);
          }
          for (std::size_t other = 0; other < c.groups.size(); ++other) {
            if (other != g) QVERIFY(groups[other]->checkedButton() != nullptr);
          }
        }
      }
      // The port clears a group's checked button and checks another as before.
      QtDialog port(&form);
      const std::vector<int>& first = c.groups.front();
      port.SetChecked(first.back(), false);
      QVERIFY(groups.front()->checkedButton() == nullptr);
      port.SetChecked(first.front(), true);
      QVERIFY(port.IsChecked(first.front()));
      QVERIFY(!port.IsChecked(first.back()));
    }
  }

  void formatButtonStartsAndFollowsTheFormat() {
    Start("virtual:dvd+rw-blank");
    QVERIFY(ControlWidget(window_.get(), kFormatButton)->isEnabled());
    QTest::mouseClick(ControlWidget(window_.get(), kFormatButton), Qt::LeftButton);
    QVERIFY(window_->InfoPane()->Text().contains(QString::fromUtf8("已開始格式化背景作業...\n")));
    QTRY_VERIFY_WITH_TIMEOUT(
        window_->InfoPane()->Text().contains(QString::fromUtf8(kFormatDoneMessage)), 10000);
  }

  void closingTheWindowWhileWritingLeavesTheWorkerHarmless() {
    Start("virtual:dvd+rw,fault=AA@62:020408");
    SetWritePacing(WritePacing{std::chrono::milliseconds(2), std::chrono::milliseconds(1500),
                               std::chrono::milliseconds(0)});
    const QString image = MakeImage(QStringLiteral("big.iso"), 2048 * 600);
    JobWindow* job = WriteThroughTheDialog(image, QString::fromUtf8("寫入"));
    QVERIFY(job != nullptr);
    job->close();  // the worker is held at LBA 62 and finds its run flag cleared
    QTRY_VERIFY(OpenJobWindow() == nullptr);
    QVERIFY(ControlWidget(window_.get(), kWriteButton)->isEnabled());
    QTest::qWait(100);  // the worker ends on its own and touches nothing that is gone
  }
};

QTEST_MAIN(WriteDialogWindowTest)
#include "write_dialog_test.moc"
