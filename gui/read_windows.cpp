// The read dialogs' windows, with the save-file chooser.
#include <QPointer>
#include <memory>

#include "gui/file_dialogs.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "read/read_dialog.h"

namespace zorvane {

namespace {

int FilterSetOf(ReadFileFilter filter) {
  switch (filter) {
    case ReadFileFilter::kWave:
      return kWaveFiles;
    case ReadFileFilter::kIso:
      return kIsoFiles;
    case ReadFileFilter::kCdImage:
      return kCdReadFiles;
    case ReadFileFilter::kCue:
      return kCueFiles;
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
}

}  // namespace

void RegisterReadWindows(GuiJobDialogs& jobs) {
  jobs.Register(kCdReadDialog, [] { OpenReadDialog(ReadDialog::Kind::kCd); });
  jobs.Register(kDvdReadDialog, [] { OpenReadDialog(ReadDialog::Kind::kDvd); });
}

}  // namespace zorvane
