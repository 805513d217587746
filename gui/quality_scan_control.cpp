#include "gui/quality_scan_control.h"

#include <QApplication>

#include "base/templates.h"

namespace zorvane {

namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

QualityScanControl& QualityScanControl::Instance() {
  static QPointer<QualityScanControl> instance;
  if (instance.isNull()) instance = new QualityScanControl(QCoreApplication::instance());
  return *instance;
}

QualityScanControl::QualityScanControl(QObject* parent) : QObject(parent) {
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
}

bool QualityScanControl::Running() const {
  return state_ && !state_->finished.load();
}

void QualityScanControl::Toggle() {
  Dialog* window = MainWindow.load();
  if (Running()) {
    // Stops before the scan's next command; the button waits until it has.
    state_->run.store(false);
    if (window != nullptr) window->Enable(kQualityScanCommand, false);
    return;
  }
  if (window == nullptr) return;
  auto record = std::make_shared<ScanRecord>();
  auto state = StartQualityScan(*window, record);
  if (!state) return;  // one runs already
  state_ = std::move(state);
  record_ = std::move(record);
  if (window_.isNull()) {
    window_ = new ScanChartWindow(record_);
  } else {
    window_->SetRecord(record_);
  }
  window_->show();
  window->SetText(kQualityScanCommand, kQualityScanStopCaption);
  timer_.start(kPollMilliseconds);
}

void QualityScanControl::Poll() {
  if (Running()) return;
  timer_.stop();
  if (Dialog* window = MainWindow.load()) {
    window->SetText(kQualityScanCommand, kQualityScanCaption);
    window->Enable(kQualityScanCommand, true);
  }
  if (!window_.isNull()) window_->Panel()->Refresh();
}

}  // namespace zorvane
