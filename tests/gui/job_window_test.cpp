// The window that hosts a job dialog: presses, picks and timer ticks reach the handler; the
// port works from a worker thread; a closed window tells the handler once and goes away.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "base/templates.h"
#include "gui/job_window.h"
#include "gui/template_builder.h"

using namespace zorvane;

namespace {

constexpr int kStart = 1;
constexpr int kSpeeds = 1059;
constexpr int kGauge = 1046;
constexpr int kStatus = 1041;

constexpr ControlTemplate kControls[] = {
    {kStart, ControlKind::kButton, "OK", 10, 10, 50, 14, kStyleDefault},
    {kSpeeds, ControlKind::kComboList, "", 10, 30, 80, 60, kStyleVScroll},
    {kGauge, ControlKind::kProgressBar, "", 10, 50, 120, 10, kStyleNone},
    {kStatus, ControlKind::kStatic, "", 10, 70, 120, 10, kStyleNone},
};
const DialogTemplate kForm{900, "Test", 150, 90, "MingLiU", 9, kControls};

struct Recorder : DialogHandler {
  std::atomic<int> inits{0}, presses{0}, picks{0}, ticks{0}, closes{0};
  void OnInit(Dialog& dialog) override {
    ++inits;
    dialog.AddItem(kSpeeds, "a");
    dialog.AddItem(kSpeeds, "b");
    dialog.SelectItem(kSpeeds, 0);  // filled by the handler: no pick
  }
  void OnCommand(Dialog& dialog, int id) override {
    if (id == kStart) {
      ++presses;
      dialog.StartTimer(1, 10);
    }
    if (id == kSpeeds) ++picks;
  }
  void OnTimer(Dialog& dialog, int) override {
    if (++ticks == 3) dialog.StopTimer(1);
  }
  void OnClose(Dialog&) override { ++closes; }
};

}  // namespace

class JobWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void pressesPicksAndTicksReachTheHandler() {
    auto handler = std::make_shared<Recorder>();
    QPointer<JobWindow> window = JobWindow::Open(kForm, handler);
    QVERIFY(QTest::qWaitForWindowExposed(window.data()));
    QCOMPARE(handler->inits.load(), 1);
    QCOMPARE(handler->picks.load(), 0);
    // Statics draw from their top-left corner, so a figure ending in a line end stays
    // level with its label instead of sinking to the middle of a taller rectangle.
    auto* status = qobject_cast<QLabel*>(ControlWidget(window, kStatus));
    QVERIFY(status != nullptr);
    QCOMPARE(status->alignment(), Qt::AlignLeft | Qt::AlignTop);

    auto* combo = qobject_cast<QComboBox*>(ControlWidget(window, kSpeeds));
    QVERIFY(combo != nullptr);
    combo->activated(1);
    QCOMPARE(handler->picks.load(), 1);

    QTest::mouseClick(qobject_cast<QPushButton*>(ControlWidget(window, kStart)), Qt::LeftButton);
    QCOMPARE(handler->presses.load(), 1);
    QTRY_COMPARE(handler->ticks.load(), 3);
    QVERIFY(!window->Controls().TimerRunning(1));
    QTest::qWait(50);
    QCOMPARE(handler->ticks.load(), 3);  // stopped means stopped

    window->Controls().EndDialog(kCancelButton);
    QTRY_VERIFY(window.isNull());
    QCOMPARE(handler->closes.load(), 1);
  }

  void workerThreadDrivesTheProgressBar() {
    auto handler = std::make_shared<Recorder>();
    QPointer<JobWindow> window = JobWindow::Open(kForm, handler);
    QtDialog& controls = window->Controls();
    controls.SetProgressRange(kGauge, 0, 1000);
    controls.SetProgressStep(kGauge, 100);
    std::atomic<bool> done{false};
    std::thread worker([&] {
      for (int i = 0; i < 4; ++i) controls.StepProgress(kGauge);
      controls.SetText(kStatus, "四");
      done = true;
    });
    QTRY_VERIFY(done.load());
    worker.join();
    QCOMPARE(controls.ProgressPosition(kGauge), 400);
    QCOMPARE(QString::fromStdString(controls.Text(kStatus)), QStringLiteral("四"));
    window->close();
    QTRY_VERIFY(window.isNull());
    QCOMPARE(handler->closes.load(), 1);
  }
};

QTEST_MAIN(JobWindowTest)
#include "job_window_test.moc"
