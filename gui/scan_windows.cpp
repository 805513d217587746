// The scans' windows: the C2 dialog with its chart, and the quality-scan control.
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/quality_scan_control.h"
#include "gui/scan_chart.h"
#include "scan/c2_dialog.h"

namespace zorvane {

void RegisterScanWindows(GuiJobDialogs& jobs) {
  // The C2 scan: its dialog with the chart of C2 sectors under its figures.
  jobs.Register(kC2ScanDialog, [] {
    auto record = std::make_shared<ScanRecord>(ScanKind::kC2);
    JobWindow* window = JobWindow::Open(C2ScanTemplate(), std::make_shared<C2Dialog>(record));
    AddChartBelow(window, record);
  });
  jobs.RegisterQualityScan([] { QualityScanControl::Instance().Toggle(); });
}

}  // namespace zorvane
