// The file-name dialog behind every browse button: a filter set by type, "ISO" as the
// default suffix, a create prompt when opening a file that does not exist, an overwrite
// prompt when saving over one. UI thread only.
#pragma once

#include <QFileDialog>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>

namespace zorvane {

enum FileFilterSet : int {
  kWaveFiles = 0,     // audio tracks read to WAVE
  kIsoFiles = 1,      // DVD images, address writing, volume images
  kCdReadFiles = 2,   // CD data tracks read to ISO or MD2
  kCdWriteFiles = 3,  // images the CD writer takes
  kCueFiles = 4,      // a whole CD read to a cue sheet and its BIN
};

// The filters of a set, first offered first; any other type gives "All Files (*.*)".
QStringList FileFilters(int type);

// Chooses the filter set for the next chooser call, with `owner` as the dialog's parent.
void PrepareFileDialog(QWidget* owner, int type);

// Runs the open (or save) dialog with `name` as the initial name. Returns true when the
// user chose a file: `name` then holds its path and `title` its name without folder.
bool ChooseOpenFile(QWidget* owner, std::string* name, std::string* title);
bool ChooseSaveFile(QWidget* owner, std::string* name, std::string* title);

// How the configured dialog is run and how the create prompt is answered; tests replace
// them (the defaults run the dialog and ask the user).
struct FileDialogHooks {
  std::function<bool(QFileDialog& dialog)> run;
  std::function<bool(QWidget* parent, const QString& path)> confirm_create;
};
void SetFileDialogHooks(FileDialogHooks hooks);

}  // namespace zorvane
