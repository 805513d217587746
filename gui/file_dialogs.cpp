#include "gui/file_dialogs.h"

#include <QFileInfo>
#include <QMessageBox>

namespace zorvane {

namespace {

struct FileRequest {
  QWidget* owner = nullptr;
  int type = -1;
};

FileRequest request;
FileDialogHooks hooks;

bool Run(QFileDialog& dialog) {
  if (hooks.run) return hooks.run(dialog);
  return dialog.exec() == QDialog::Accepted;
}

bool ConfirmCreate(QWidget* parent, const QString& path) {
  if (hooks.confirm_create) return hooks.confirm_create(parent, path);
  return QMessageBox::question(
             parent, parent->windowTitle(),
             QStringLiteral("%1\nThis file does not exist.\nCreate the file?").arg(path)) ==
         QMessageBox::Yes;
}

bool Choose(QWidget* owner, std::string* name, std::string* title, bool save) {
  QFileDialog dialog(owner != nullptr ? owner : request.owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(FileFilters(request.type));
  dialog.setDefaultSuffix(request.type == kCueFiles ? QStringLiteral("cue")
                                                    : QStringLiteral("ISO"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Opening accepts a name that does not exist yet (after asking); saving asks before
  // replacing a file.
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!name->empty()) dialog.selectFile(QString::fromStdString(*name));
  for (;;) {
    if (!Run(dialog) || dialog.selectedFiles().isEmpty()) return false;
    const QString chosen = dialog.selectedFiles().first();
    if (!save && !QFileInfo::exists(chosen) && !ConfirmCreate(&dialog, chosen)) {
      if (hooks.run) return false;  // a scripted run has no second try
      continue;                     // back to the dialog, as the system dialog does
    }
    *name = chosen.toStdString();
    *title = QFileInfo(chosen).fileName().toStdString();
    return true;
  }
}

}  // namespace

QStringList FileFilters(int type) {
  const QString wave = QStringLiteral("WAVE Files (*.wav)");
  const QString iso = QStringLiteral("ISO Files (*.ISO)");
  const QString md2 = QStringLiteral("Mode2 Files (*.MD2)");
  const QString cue = QStringLiteral("Cue Sheets (*.cue)");
  const QString all = QStringLiteral("All Files (*.*)");
  switch (type) {
    case kWaveFiles:
      return {wave, all};
    case kIsoFiles:
      return {iso, all};
    case kCdReadFiles:
      return {iso, md2, all};
    case kCdWriteFiles:
      return {iso, md2, wave, cue, all};
    case kCueFiles:
      return {cue, all};
    default:
      return {all};
  }
}

void PrepareFileDialog(QWidget* owner, int type) {
  request.owner = owner;
  request.type = type;
}

bool ChooseOpenFile(QWidget* owner, std::string* name, std::string* title) {
  return Choose(owner, name, title, false);
}

bool ChooseSaveFile(QWidget* owner, std::string* name, std::string* title) {
  return Choose(owner, name, title, true);
}

void SetFileDialogHooks(FileDialogHooks new_hooks) {
  hooks = std::move(new_hooks);
}

}  // namespace zorvane
