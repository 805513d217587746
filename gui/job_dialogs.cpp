// The job dialogs the main window opens: each job registers its opener here, and the
// window enables a job's button once its opener exists.
#include <QLabel>
#include <QPointer>
#include <memory>

#include "gui/file_dialogs.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "gui/quality_scan_control.h"
#include "gui/scan_chart.h"
#include "read/read_dialog.h"
#include "scan/c2_dialog.h"
#include "write/erase_dialog.h"
#include "write/write_dialog.h"

namespace zorvane {

namespace {

// A write dialog: the browse button runs the file chooser with the window as its owner,
// and the title names the current drive.
void OpenWriteDialog(int template_id, const DialogTemplate& form) {
  auto handler = std::make_shared<WriteDialog>(template_id);
  auto owner = std::make_shared<QPointer<QWidget>>();
  handler->SetFileChooser([owner](int filter_set, std::string* path) {
    PrepareFileDialog(owner->data(), filter_set);
    std::string title;
    return ChooseOpenFile(owner->data(), path, &title);
  });
  QPointer<JobWindow> window = JobWindow::Open(form, handler);
  *owner = window.data();
  if (window) window->setWindowTitle(QString::fromStdString(handler->Title()));
}

void OpenEraseDialog() {
  auto handler = std::make_shared<EraseDialog>();
  QPointer<JobWindow> window = JobWindow::Open(EraseTemplate(), handler);
  if (window) window->setWindowTitle(QString::fromStdString(handler->Title()));
}

int FilterSetOf(ReadFileFilter filter) {
  switch (filter) {
    case ReadFileFilter::kWave:
      return kWaveFiles;
    case ReadFileFilter::kIso:
      return kIsoFiles;
    case ReadFileFilter::kCdImage:
      return kCdReadFiles;
  }
  return kIsoFiles;
}

void OpenReadDialog(ReadDialog::Kind kind) {
  auto handler = std::make_shared<ReadDialog>(kind);
  // The save dialog belongs to the read window, which exists once it is open.
  auto owner = std::make_shared<QPointer<QWidget>>();
  handler->SetFileChooser([owner](ReadFileFilter filter, std::string* path) {
    PrepareFileDialog(owner->data(), FilterSetOf(filter));
    std::string title;
    return ChooseSaveFile(owner->data(), path, &title);
  });
  JobWindow* window = JobWindow::Open(
      kind == ReadDialog::Kind::kDvd ? DvdReadTemplate() : CdReadTemplate(), handler);
  *owner = window;
  window->setWindowTitle(QString::fromStdString(handler->Title()));
  // Figures end in a line end; held at the top, as statics are, they stay level with
  // their labels.
  for (QLabel* label : window->findChildren<QLabel*>()) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
}

}  // namespace

void RegisterJobDialogs(GuiJobDialogs& jobs) {
  // The C2 scan: its dialog with the chart of C2 sectors under its figures.
  jobs.Register(kC2ScanDialog, [] {
    auto record = std::make_shared<ScanRecord>(ScanKind::kC2);
    JobWindow* window = JobWindow::Open(C2ScanTemplate(), std::make_shared<C2Dialog>(record));
    AddChartBelow(window, record);
  });
  jobs.RegisterQualityScan([] { QualityScanControl::Instance().Toggle(); });
  jobs.Register(kCdWriteDialog, [] { OpenWriteDialog(kCdWriteDialog, CdWriteTemplate()); });
  jobs.Register(kDvdWriteDialog, [] { OpenWriteDialog(kDvdWriteDialog, DvdWriteTemplate()); });
  jobs.Register(kMrwAddressWriteDialog,
                [] { OpenWriteDialog(kMrwAddressWriteDialog, MrwAddressWriteTemplate()); });
  jobs.Register(kDvdAddressWriteDialog,
                [] { OpenWriteDialog(kDvdAddressWriteDialog, DvdAddressWriteTemplate()); });
  jobs.Register(kEraseDialog, OpenEraseDialog);
  jobs.Register(kCdReadDialog, [] { OpenReadDialog(ReadDialog::Kind::kCd); });
  jobs.Register(kDvdReadDialog, [] { OpenReadDialog(ReadDialog::Kind::kDvd); });
}

}  // namespace zorvane
