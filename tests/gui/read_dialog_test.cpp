// The read dialog as a user meets it: opened by the read button, a file chosen with
// Browse, OK, the progress moving, and the finished state.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <memory>

#include "base/templates.h"
#include "gui/file_dialogs.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/template_builder.h"
#include "read/read_dialog.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/virtual_backend.h"

using namespace zorvane;

class ReadDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindowForm> window_;
  QTemporaryDir directory_;

  template <typename T>
  static T* Control(QWidget* form, int id) {
    auto* widget = qobject_cast<T*>(ControlWidget(form, id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }

  static JobWindow* OpenReadWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* job = qobject_cast<JobWindow*>(widget); job != nullptr && job->isVisible()) {
        return job;
      }
    }
    return nullptr;
  }

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

 private slots:
  void init() {
    RegisterVirtualBackend();
    SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
  }

  void cleanup() {
    if (JobWindow* job = OpenReadWindow()) job->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window_.reset();
    SetFileDialogHooks({});
    CloseAllDevices();
    ResetVirtualDrives();
  }

  void dvdReadShowsProgressAndFinishes() {
    // 60,000 blocks at the drive's real DVD speed: several seconds, so the progress moves.
    const QString image = directory_.filePath(QStringLiteral("disc.iso"));
    QByteArray bytes(2048 * 60000, Qt::Uninitialized);
    QRandomGenerator random(9);
    for (char& byte : bytes) byte = static_cast<char>(random.generate());
    {
      QFile file(image);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QCOMPARE(file.write(bytes), bytes.size());
    }
    Start("virtual:dvdrom,time=real,image=" + image.toStdString());
    window_->OnCommand(kReadButton);
    JobWindow* job = OpenReadWindow();
    QVERIFY(job != nullptr);
    QVERIFY(job->windowTitle().startsWith(QString::fromUtf8("讀取  ") +
                                          QString::fromUtf8(DeviceTable[0].description)));
    QVERIFY(job->windowTitle().endsWith(QString::fromUtf8(" 中的 DVD-ROM")));
    QVERIFY(!window_->Controls().IsEnabled(kReadButton));  // one read dialog at a time
    auto* tracks = Control<QComboBox>(job, kTrackChoice);
    QCOMPARE(tracks->count(), 1);
    QCOMPARE(job->Controls().Text(kReadLastSector), std::string("  59999\n"));

    // Browse offers the DVD data set and puts the chosen name in the path field.
    const QString out = directory_.filePath(QStringLiteral("out.iso"));
    QStringList offered;
    SetFileDialogHooks({[&](QFileDialog& dialog) {
                          offered = dialog.nameFilters();
                          dialog.selectFile(out);
                          return true;
                        },
                        {}});
    Control<QPushButton>(job, kReadBrowse)->click();
    QCOMPARE(offered, FileFilters(kIsoFiles));
    QCOMPARE(Control<QLineEdit>(job, kReadPath)->text(), out);

    auto* progress = Control<QProgressBar>(job, kReadProgress);
    auto* ok = Control<QPushButton>(job, kOkButton);
    auto* cancel = Control<QPushButton>(job, kCancelButton);
    ok->click();
    QVERIFY(!ok->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0 && progress->value() < 60000, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QLabel>(job, kElapsedTime)->text() != "00:00", 20000);
    QTRY_COMPARE_WITH_TIMEOUT(cancel->text(), QString::fromUtf8("結束(&X)"), 60000);
    QCOMPARE(progress->maximum(), 60000);
    QCOMPARE(progress->value(), 60000);
    QVERIFY(ok->isEnabled());
    QCOMPARE(Control<QLabel>(job, kSectorReached)->text().trimmed(), QStringLiteral("60000"));
    QVERIFY(Control<QLabel>(job, kCurrentSpeed)->text().contains('('));  // DVD (CD) speeds
    QVERIFY(window_->Controls().IsEnabled(kReadButton));
    QFile result(out);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QVERIFY(result.readAll() == bytes);

    // The finished dialog closes with its button.
    cancel->click();
    QTRY_VERIFY(OpenReadWindow() == nullptr);
  }

  void cdAudioTrackOffersWaveAndClosingMidReadStopsTheWorker() {
    Start("virtual:cdda,time=real");
    window_->OnCommand(kReadButton);
    JobWindow* job = OpenReadWindow();
    QVERIFY(job != nullptr);
    // Six tracks, then the whole disc.
    QCOMPARE(Control<QComboBox>(job, kTrackChoice)->count(), 7);
    QCOMPARE(Control<QComboBox>(job, kTrackChoice)->itemText(6),
             QString::fromUtf8(kWholeDiscChoice));
    QStringList offered;
    const QString out = directory_.filePath(QStringLiteral("song.wav"));
    SetFileDialogHooks({[&](QFileDialog& dialog) {
                          offered = dialog.nameFilters();
                          dialog.selectFile(out);
                          return true;
                        },
                        {}});
    Control<QPushButton>(job, kReadBrowse)->click();
    QCOMPARE(offered, FileFilters(kWaveFiles));
    // The whole disc goes to a cue sheet; then back to the first track.
    auto* tracks = Control<QComboBox>(job, kTrackChoice);
    for (const int index : {6, 0}) {
      tracks->setCurrentIndex(index);
      emit tracks->activated(index);
      Control<QPushButton>(job, kReadBrowse)->click();
      QCOMPARE(offered, FileFilters(index == 6 ? kCueFiles : kWaveFiles));
    }
    Control<QPushButton>(job, kOkButton)->click();
    auto* progress = Control<QProgressBar>(job, kReadProgress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, 20000);
    // Closing the window mid-read: the worker stops on its own and what it read is kept as
    // NAME.part; the name asked for is not written.
    job->close();
    QTRY_VERIFY(OpenReadWindow() == nullptr);
    QVERIFY(window_->Controls().IsEnabled(kReadButton));
    const QString kept = out + QStringLiteral(".part");
    QTRY_VERIFY(QFile::exists(kept));  // the command in flight when the window closed ends
    QVERIFY(!QFile::exists(out));
    const qint64 size = QFile(kept).size();
    QVERIFY(size > 44);
    QTest::qWait(500);
    QCOMPARE(QFile(kept).size(), size);  // nothing more is written
    QCOMPARE((size - 44) % 2352, 0);
    QFile wave(kept);
    QVERIFY(wave.open(QIODevice::ReadOnly));
    const QByteArray header = wave.read(44);
    const auto le32 = [&header](int at) {
      return qFromLittleEndian<quint32>(header.constData() + at);
    };
    QCOMPARE(qint64(le32(40)), size - 44);  // the WAVE lengths say what the file holds
    QCOMPARE(qint64(le32(4)), size - 44 + 36);
  }
};

QTEST_MAIN(ReadDialogTest)
#include "read_dialog_test.moc"
