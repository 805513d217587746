#include "gui/scan_chart.h"

#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "base/output_file.h"

namespace zorvane {

namespace {

constexpr int kRefreshMilliseconds = 250;
constexpr std::int64_t kCdFirstFrame = 150;  // 00:02:00

QColor ColorOf(const char* name) {
  if (std::strcmp(name, "PIF") == 0 || std::strcmp(name, "E32") == 0 ||
      std::strcmp(name, "C2 flags") == 0) {
    return {210, 30, 30};
  }
  if (std::strcmp(name, "E22") == 0) return {30, 60, 210};
  return {20, 150, 40};
}

// 1, 2 or 5 times a power of ten, not below `value`.
std::uint32_t NiceCeiling(std::uint32_t value) {
  std::uint64_t step = 1;
  for (;;) {
    for (const std::uint64_t factor : {1, 2, 5}) {
      if (step * factor >= value) return static_cast<std::uint32_t>(step * factor);
    }
    step *= 10;
  }
}

QString PositionLabel(ScanKind kind, std::int64_t position) {
  if (kind == ScanKind::kCd) return QString::fromStdString(FrameTime(position)).left(5);
  return QString::number(position);
}

}  // namespace

ScanChart::ScanChart(std::shared_ptr<ScanRecord> record, QWidget* parent)
    : QWidget(parent), record_(std::move(record)) {
  setMinimumSize(320, 180);
}

void ScanChart::SetRecord(std::shared_ptr<ScanRecord> record) {
  record_ = std::move(record);
  update();
}

void ScanChart::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect plot = rect().adjusted(58, 26, -58, -30);
  painter.setPen(Qt::black);
  painter.drawRect(plot);
  if (!record_ || plot.width() < 10 || plot.height() < 10) return;
  const ScanKind kind = record_->Kind();
  const std::vector<ScanSample> samples = record_->Samples();
  const std::vector<ScanSeries> series = SeriesOf(kind);

  // One bin per pixel column, holding the largest value of each figure that falls in it.
  const std::int64_t first = kind == ScanKind::kCd ? kCdFirstFrame : 0;
  std::int64_t end = std::max(record_->Extent(), first) + 1;
  for (const ScanSample& sample : samples) end = std::max(end, sample.position + 1);
  const int columns = plot.width() - 1;
  std::vector<std::array<std::uint32_t, 3>> bins(static_cast<std::size_t>(columns));
  std::vector<bool> filled(static_cast<std::size_t>(columns), false);
  for (const ScanSample& sample : samples) {
    const std::int64_t offset = std::max<std::int64_t>(sample.position - first, 0);
    const auto column = static_cast<std::size_t>(std::min<std::int64_t>(
        offset * columns / std::max<std::int64_t>(end - first, 1), columns - 1));
    filled[column] = true;
    for (std::size_t v = 0; v < 3; ++v)
      bins[column][v] = std::max(bins[column][v], sample.values[v]);
  }
  // Columns between two measurements keep the figures of the one before (a step), so a
  // scan with fewer measurements than columns still draws a closed curve.
  for (std::size_t c = 1; c < bins.size(); ++c) {
    if (filled[c] || !filled[c - 1]) continue;
    std::size_t next = c;
    while (next < bins.size() && !filled[next]) ++next;
    if (next == bins.size()) break;
    for (std::size_t k = c; k < next; ++k) {
      bins[k] = bins[c - 1];
      filled[k] = true;
    }
    c = next;
  }
  std::uint32_t left_max = 1;
  std::uint32_t right_max = 1;
  bool has_right = false;
  for (const ScanSeries& s : series) {
    std::uint32_t& axis = s.right_axis ? right_max : left_max;
    has_right = has_right || s.right_axis;
    for (std::size_t c = 0; c < bins.size(); ++c) {
      if (filled[c]) axis = std::max(axis, bins[c][static_cast<std::size_t>(s.value)]);
    }
  }
  // Four grid steps of 1, 2 or 5 times a power of ten.
  left_max = NiceCeiling((left_max + 3) / 4) * 4;
  right_max = NiceCeiling((right_max + 3) / 4) * 4;

  // Grid and axis labels.
  const QFontMetrics metrics = painter.fontMetrics();
  for (int i = 0; i <= 4; ++i) {
    const int y = plot.bottom() - (plot.height() * i) / 4;
    if (i > 0 && i < 4) {
      painter.setPen(QColor(225, 225, 225));
      painter.drawLine(plot.left() + 1, y, plot.right() - 1, y);
    }
    painter.setPen(Qt::black);
    const QString left = QString::number(static_cast<qulonglong>(left_max) * i / 4);
    painter.drawText(QRect(0, y - 8, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter, left);
    if (has_right) {
      const QString right = QString::number(static_cast<qulonglong>(right_max) * i / 4);
      painter.drawText(QRect(plot.right() + 4, y - 8, 54, 16), Qt::AlignLeft | Qt::AlignVCenter,
                       right);
    }
  }
  for (int i = 0; i <= 4; ++i) {
    const int x = plot.left() + (plot.width() * i) / 4;
    const std::int64_t position = first + (end - first) * i / 4;
    painter.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
    const QString label = PositionLabel(kind, position);
    const int width = metrics.horizontalAdvance(label);
    const int left = std::clamp(x - width / 2, 0, std::max(0, this->width() - width));
    painter.drawText(left, plot.bottom() + 4 + metrics.ascent(), label);
  }

  // The first series as bars, the others as lines over the columns that have figures.
  auto y_of = [&](std::uint32_t value, bool right) {
    const double top = right ? right_max : left_max;
    return plot.bottom() - static_cast<int>(plot.height() * (value / top));
  };
  for (std::size_t n = 0; n < series.size(); ++n) {
    const ScanSeries& s = series[n];
    const QColor color = ColorOf(s.name);
    const auto value = static_cast<std::size_t>(s.value);
    if (n == 0) {
      painter.setPen(color);
      for (std::size_t c = 0; c < bins.size(); ++c) {
        if (!filled[c] || bins[c][value] == 0) continue;
        const int x = plot.left() + 1 + static_cast<int>(c);
        painter.drawLine(x, plot.bottom() - 1, x, y_of(bins[c][value], s.right_axis));
      }
      continue;
    }
    QPainterPath path;
    bool started = false;
    for (std::size_t c = 0; c < bins.size(); ++c) {
      if (!filled[c]) continue;
      const QPointF point(plot.left() + 1 + static_cast<double>(c),
                          y_of(bins[c][value], s.right_axis));
      if (started) {
        path.lineTo(point);
      } else {
        path.moveTo(point);
        started = true;
      }
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(color, 1.5));
    painter.drawPath(path);
    painter.setRenderHint(QPainter::Antialiasing, false);
  }

  // Legend above the plot.
  int x = plot.left();
  for (const ScanSeries& s : series) {
    const QString name =
        QString::fromUtf8(s.name) + (s.right_axis && has_right ? QStringLiteral(" →") : QString());
    painter.fillRect(x, 8, 10, 10, ColorOf(s.name));
    painter.setPen(Qt::black);
    painter.drawText(x + 14, 8 + metrics.ascent() - 1, name);
    x += 14 + metrics.horizontalAdvance(name) + 16;
  }
  const QString axis = kind == ScanKind::kCd ? QStringLiteral("MM:SS") : QStringLiteral("LBA");
  painter.drawText(plot.right() - metrics.horizontalAdvance(axis), 8 + metrics.ascent() - 1, axis);
}

QString StatsLine(const ScanRecord& record) {
  QStringList parts;
  for (const ScanSeries& s : SeriesOf(record.Kind())) {
    const ScanRecord::Stats stats = record.StatsOf(s.value);
    parts << QString::fromUtf8("%1: total %2, max %3, average %4")
                 .arg(QString::fromUtf8(s.name))
                 .arg(static_cast<qulonglong>(stats.total))
                 .arg(stats.max)
                 .arg(stats.average, 0, 'f', 2);
  }
  parts << QString::fromUtf8("%1 measurements").arg(static_cast<qulonglong>(record.Size()));
  return parts.join(QStringLiteral("   "));
}

ScanChartPanel::ScanChartPanel(std::shared_ptr<ScanRecord> record, QWidget* parent)
    : QWidget(parent), chart_(new ScanChart(std::move(record), this)), stats_(new QLabel(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(chart_, 1);
  stats_->setObjectName(QStringLiteral("scanStats"));
  stats_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stats_->setWordWrap(true);
  layout->addWidget(stats_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* png = new QPushButton(QString::fromUtf8("儲存圖表(PNG)"), this);
  auto* csv = new QPushButton(QString::fromUtf8("儲存數據(CSV)"), this);
  png->setObjectName(QStringLiteral("savePng"));
  csv->setObjectName(QStringLiteral("saveCsv"));
  buttons->addWidget(png);
  buttons->addWidget(csv);
  layout->addLayout(buttons);
  connect(png, &QPushButton::clicked, this, [this] { AskAndSavePng(); });
  connect(csv, &QPushButton::clicked, this, [this] { AskAndSaveCsv(); });
  connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
  timer_.start(kRefreshMilliseconds);
  Refresh();
}

void ScanChartPanel::SetRecord(std::shared_ptr<ScanRecord> record) {
  chart_->SetRecord(std::move(record));
  shown_version_ = ~std::uint64_t{0};
  Refresh();
}

QString ScanChartPanel::StatsText() const {
  return stats_->text();
}

void ScanChartPanel::Refresh() {
  const auto& record = chart_->Record();
  if (!record) return;
  const std::uint64_t version = record->Version();
  if (version == shown_version_) return;
  shown_version_ = version;
  stats_->setText(StatsLine(*record));
  chart_->update();
}

bool ScanChartPanel::SavePng(const QString& path, QString* error) const {
  const QImage image = chart_->grab().toImage();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter encoder(&buffer, "png");
  if (!encoder.write(image)) {
    if (error != nullptr) *error = encoder.errorString();
    return false;
  }
  // Written whole or not at all: the file takes the place of an old one only after every
  // byte reached it.
  OutputFile file;
  int code = 0;
  if (!file.Create(QFile::encodeName(path).toStdString(), &code) ||
      !file.Write(bytes.constData(), static_cast<std::size_t>(bytes.size()), &code) ||
      !file.Commit(&code)) {
    if (error != nullptr)
      *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
    return false;
  }
  return true;
}

bool ScanChartPanel::SaveCsv(const QString& path, QString* error) const {
  const auto& record = chart_->Record();
  if (!record) return false;
  std::string reason;
  if (record->WriteCsv(path.toStdString(), &reason)) return true;
  if (error != nullptr) *error = QString::fromStdString(reason);
  return false;
}

void ScanChartPanel::AskAndSavePng() {
  const QString path = QFileDialog::getSaveFileName(this, QString(), QStringLiteral("scan.png"),
                                                    QStringLiteral("PNG (*.png)"));
  if (path.isEmpty()) return;
  QString error;
  if (!SavePng(path, &error)) QMessageBox::warning(this, QStringLiteral("Zorvane"), error);
}

void ScanChartPanel::AskAndSaveCsv() {
  const QString path = QFileDialog::getSaveFileName(this, QString(), QStringLiteral("scan.csv"),
                                                    QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  QString error;
  if (!SaveCsv(path, &error)) QMessageBox::warning(this, QStringLiteral("Zorvane"), error);
}

ScanChartPanel* AddChartBelow(QWidget* form, std::shared_ptr<ScanRecord> record) {
  constexpr int kChartHeight = 300;
  constexpr int kMinimumWidth = 560;
  const QSize size = form->size();
  auto* panel = new ScanChartPanel(std::move(record), form);
  panel->setObjectName(QStringLiteral("scanChart"));
  const int width = std::max(size.width(), kMinimumWidth);
  panel->setGeometry(0, size.height(), width, kChartHeight);
  form->setFixedSize(width, size.height() + kChartHeight);
  panel->show();
  return panel;
}

ScanChartWindow::ScanChartWindow(std::shared_ptr<ScanRecord> record)
    : panel_(new ScanChartPanel(std::move(record), this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8("品質檢測 - PIE/PIF, BLER/E22/E32"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel_);
  resize(760, 420);
}

void ScanChartWindow::SetRecord(std::shared_ptr<ScanRecord> record) {
  panel_->SetRecord(std::move(record));
}

}  // namespace zorvane
