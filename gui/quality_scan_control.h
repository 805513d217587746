// The main window's quality-scan button: it starts the PIE/PIF or BLER scan and opens the
// scan's chart; while the scan runs the same button stops it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "gui/scan_chart.h"
#include "scan/quality_scan.h"

namespace zorvane {

// Captions of the button (control 1020) when idle and while a scan runs.
inline constexpr const char* kQualityScanCaption = "品質檢測(&Q)";
inline constexpr const char* kQualityScanStopCaption = "停止檢測(&Q)";

class QualityScanControl : public QObject {
  Q_OBJECT

 public:
  // The one control of the program (owned by the application object).
  static QualityScanControl& Instance();

  // Starts a scan when none runs; otherwise asks the running one to stop.
  void Toggle();
  bool Running() const;
  const std::shared_ptr<QualityScanState>& State() const { return state_; }
  ScanChartWindow* ChartWindow() const { return window_.data(); }

 private:
  explicit QualityScanControl(QObject* parent);
  // Follows the worker: when it has ended, the button starts scans again.
  void Poll();

  std::shared_ptr<QualityScanState> state_;
  std::shared_ptr<ScanRecord> record_;
  QPointer<ScanChartWindow> window_;
  QTimer timer_;
};

}  // namespace zorvane
