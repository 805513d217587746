// The scans as a user meets them in the window: the C2 button opens its dialog with a
// chart, 結束 stops it; the quality-scan button starts a scan with its chart window and
// stops it; the charts fill and save.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <memory>

#include "base/templates.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/quality_scan_control.h"
#include "gui/scan_chart.h"
#include "gui/template_builder.h"
#include "scan/c2_dialog.h"
#include "scan/quality_scan.h"
#include "transport/discovery.h"
#include "transport/polling.h"
#include "transport/virtual_backend.h"

using namespace zorvane;

class ScanGuiTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindowForm> window_;

  void Open(const std::string& spec) {
    CloseAllDevices();
    ResetVirtualDrives();
    for (std::string& path : DevicePaths) path.clear();
    DevicePaths[2] = "virtual:" + spec;
    DiscoverDevices();
    window_ = std::make_unique<MainWindowForm>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  QPushButton* Button(int id) {
    auto* button = qobject_cast<QPushButton*>(ControlWidget(window_.get(), id));
    if (button == nullptr) qFatal("button %d missing", id);
    return button;
  }

  static JobWindow* C2Window() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* job = qobject_cast<JobWindow*>(widget);
      if (job != nullptr && job->isVisible() && job->windowTitle() == QString::fromUtf8("C2檢測")) {
        return job;
      }
    }
    return nullptr;
  }

  static QString Label(QWidget* form, int id) {
    return qobject_cast<QLabel*>(ControlWidget(form, id))->text();
  }

  // Saves a picture for the README when ZORVANE_SCREENSHOTS names a folder.
  static void Snap(QWidget* widget, const char* name) {
    const QString folder = qEnvironmentVariable("ZORVANE_SCREENSHOTS");
    if (folder.isEmpty()) return;
    QApplication::processEvents();
    widget->grab().save(folder + "/" + name);
  }

 private slots:
  void init() {
    RegisterVirtualBackend();
    SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
  }

  void cleanup() {
    if (QualityScanControl::Instance().Running()) QualityScanControl::Instance().Toggle();
    QTRY_VERIFY_WITH_TIMEOUT(!QualityScanRunning(), 10000);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget != window_.get()) widget->close();
    }
    window_.reset();
    CloseAllDevices();
    ResetVirtualDrives();
  }

  void c2ScanRunsToItsEndAndFillsItsChart() {
    Open("cdrom,blocks=8000,damage=5000-5099,damage=7990-7999");
    QPushButton* c2 = Button(kC2Button);
    QVERIFY(c2->isVisible());
    QVERIFY(c2->isEnabled());
    QTest::mouseClick(c2, Qt::LeftButton);
    JobWindow* dialog = C2Window();
    QVERIFY(dialog != nullptr);
    QVERIFY(!c2->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Label(dialog, kC2SectorReached), QString("  7999\n"), 60000);
    QCOMPARE(Label(dialog, kC2LastSector), QString("  7999\n"));
    QCOMPARE(Label(dialog, kC2ErrorSectors), QString("   110\n"));
    auto* panel = dialog->findChild<ScanChartPanel*>(QStringLiteral("scanChart"));
    QVERIFY(panel != nullptr);
    QCOMPARE(panel->Chart()->Record()->Size(), std::size_t{320});  // 25 sectors a command
    QTRY_VERIFY(panel->StatsText().startsWith("C2 sectors: total 110, max 25, average "));
    Snap(dialog, "04-c2-scan.png");
    // A scan that ran to its end keeps the C2 button disabled until the dialog closes.
    QVERIFY(!c2->isEnabled());
    QTest::mouseClick(qobject_cast<QPushButton*>(ControlWidget(dialog, kC2ExitButton)),
                      Qt::LeftButton);
    QTRY_VERIFY(C2Window() == nullptr);
    QVERIFY(c2->isEnabled());
  }

  void c2ScanStopsAtExit() {
    // In real time a whole CD takes about a minute.
    Open("cdrom,blocks=359849,time=real");
    QTest::mouseClick(Button(kC2Button), Qt::LeftButton);
    JobWindow* dialog = C2Window();
    QVERIFY(dialog != nullptr);
    auto* handler = dynamic_cast<C2Dialog*>(&dialog->Handler());
    QVERIFY(handler != nullptr);
    const auto state = handler->State();
    auto* panel = dialog->findChild<ScanChartPanel*>(QStringLiteral("scanChart"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->Chart()->Record()->Size() > 3, 10000);
    QTest::mouseClick(qobject_cast<QPushButton*>(ControlWidget(dialog, kC2ExitButton)),
                      Qt::LeftButton);
    QTRY_VERIFY(C2Window() == nullptr);
    QVERIFY(Button(kC2Button)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(state->finished.load(), 10000);
    QCOMPARE(state->phase.load(), C2Phase::kStopped);
    QVERIFY(state->scanned.load() < 359849U);
  }

  void qualityScanButtonStartsAndStopsTheScan() {
    Open("dvdrom,time=real,quality=poor");
    QPushButton* scan = Button(kQualityScanCommand);
    QCOMPARE(scan->text(), QString::fromUtf8("品質檢測(&Q)"));
    QVERIFY(scan->isEnabled());
    QTest::mouseClick(scan, Qt::LeftButton);
    QCOMPARE(scan->text(), QString::fromUtf8("停止檢測(&Q)"));
    QualityScanControl& control = QualityScanControl::Instance();
    QVERIFY(control.Running());
    ScanChartWindow* chart = control.ChartWindow();
    QVERIFY(chart != nullptr);
    QVERIFY(chart->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(chart->Panel()->Chart()->Record()->Size() > 20, 20000);
    Snap(window_.get(), "06-quality-scan-running.png");
    // While it runs no second scan starts.
    QVERIFY(StartQualityScan(window_->Controls()) == nullptr);
    const auto state = control.State();
    QTest::mouseClick(scan, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(scan->text(), QString::fromUtf8("品質檢測(&Q)"), 10000);
    QVERIFY(scan->isEnabled());
    QCOMPARE(state->end.load(), QualityScanEnd::kStopped);
    QVERIFY(chart->Panel()->Chart()->Record()->Size() >= 20);
    QTRY_VERIFY(chart->Panel()->StatsText().startsWith("PIE: total "));
    window_->InfoPane()->Flush();
    QVERIFY(window_->InfoPane()->Text().startsWith("LBA="));
    QCOMPARE(window_->InfoPane()->Text().count("LBA="), 1);  // each line replaced the last
  }

  void cdQualityScanRunsToTheEndAndSaves() {
    Open("cdr-closed,quality=poor,damage=3000-3200");
    QPushButton* scan = Button(kQualityScanCommand);
    QTest::mouseClick(scan, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(scan->text(), QString::fromUtf8("品質檢測(&Q)"), 60000);
    window_->InfoPane()->Flush();
    QVERIFY(window_->InfoPane()->Text().endsWith("Scan Error.\n"));
    ScanChartPanel* panel = QualityScanControl::Instance().ChartWindow()->Panel();
    QCOMPARE(panel->Chart()->Record()->Size(), std::size_t{134});
    QTRY_VERIFY(panel->StatsText().contains("E32: total "));
    Snap(QualityScanControl::Instance().ChartWindow(), "05-quality-scan-chart.png");
    QTemporaryDir folder;
    QString error;
    QVERIFY2(panel->SavePng(folder.filePath("chart.png"), &error), qPrintable(error));
    const QImage image(folder.filePath("chart.png"));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), panel->Chart()->size() * panel->Chart()->devicePixelRatio());
    QVERIFY2(panel->SaveCsv(folder.filePath("chart.csv"), &error), qPrintable(error));
    QFile csv(folder.filePath("chart.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().count('\n'), 135);  // the header and one line a second
    // A failed save names the path and the system's reason and leaves what was there.
    QVERIFY(!panel->SaveCsv("/dev/full", &error));
    QCOMPARE(error, QStringLiteral("/dev/full: No such device"));
    QVERIFY(!panel->SavePng("/dev/full", &error));
    QCOMPARE(error, QStringLiteral("/dev/full: No such device"));
    const QString missing = folder.filePath("no/such/folder/chart.png");
    QVERIFY(!panel->SavePng(missing, &error));
    QCOMPARE(error, missing + QStringLiteral(": No such file or directory"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no leftovers
  }
};

QTEST_MAIN(ScanGuiTest)
#include "scan_gui_test.moc"
