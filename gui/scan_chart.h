// The live chart of a scan, drawn with QPainter from the scan's record: PIE and PIF per
// position for a DVD (PIF on an axis of its own), BLER, E22 and E32 per disc time for a
// CD, C2 sectors (and flags) per position for the C2 scan. Under it the total, maximum and
// average of each series, and buttons that save the chart as PNG and the figures as CSV.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "scan/scan_record.h"

namespace zorvane {

class ScanChart : public QWidget {
  Q_OBJECT

 public:
  explicit ScanChart(std::shared_ptr<ScanRecord> record, QWidget* parent = nullptr);
  void SetRecord(std::shared_ptr<ScanRecord> record);
  const std::shared_ptr<ScanRecord>& Record() const { return record_; }

  QSize sizeHint() const override { return {640, 260}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<ScanRecord> record_;
};

class ScanChartPanel : public QWidget {
  Q_OBJECT

 public:
  explicit ScanChartPanel(std::shared_ptr<ScanRecord> record, QWidget* parent = nullptr);

  void SetRecord(std::shared_ptr<ScanRecord> record);
  ScanChart* Chart() const { return chart_; }
  // The totals line under the chart.
  QString StatsText() const;

  // Saves without asking; false and the reason when the file was not written whole.
  bool SavePng(const QString& path, QString* error) const;
  bool SaveCsv(const QString& path, QString* error) const;

  // Redraws when the record has changed (the panel's timer calls it).
  void Refresh();

 private:
  void AskAndSavePng();
  void AskAndSaveCsv();

  ScanChart* chart_;
  QLabel* stats_;
  QTimer timer_;
  std::uint64_t shown_version_ = ~std::uint64_t{0};
};

// The statistics line of a record: each series' total, maximum and average.
QString StatsLine(const ScanRecord& record);

// Puts a chart panel of `record` under the controls of a built dialog form, widening the
// form where the chart needs room.
ScanChartPanel* AddChartBelow(QWidget* form, std::shared_ptr<ScanRecord> record);

// The quality scan's own window: the chart panel, titled by the scan's kind.
class ScanChartWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ScanChartWindow(std::shared_ptr<ScanRecord> record);
  ScanChartPanel* Panel() const { return panel_; }
  void SetRecord(std::shared_ptr<ScanRecord> record);

 private:
  ScanChartPanel* panel_;
};

}  // namespace zorvane
