// The command list: CommandSet.txt's lines; picking one puts its command into the main
// window's command box.
#pragma once

#include <QDialog>

#include "base/dialog.h"

namespace zorvane {

class CommandSetDialog : public QDialog {
  Q_OBJECT

 public:
  // Reads the list from the start directory; `main_window` receives the picked command.
  CommandSetDialog(QWidget* owner, Dialog& main_window);

 private:
  void Pick(int row);
  Dialog& main_window_;
};

}  // namespace zorvane
