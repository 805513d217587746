#include "gui/command_set_dialog.h"

#include <QListWidget>
#include <QPushButton>

#include "app/command_set.h"
#include "app/main_commands.h"
#include "base/templates.h"
#include "gui/template_builder.h"
#include "transport/console.h"

namespace zorvane {

CommandSetDialog::CommandSetDialog(QWidget* owner, Dialog& main_window)
    : QDialog(owner), main_window_(main_window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  const DialogTemplate& form = CommandSetTemplate();
  setWindowTitle(QString::fromUtf8(form.caption));
  BuildDialog(form, this);

  auto* list = static_cast<QListWidget*>(ControlWidget(this, kCommandSetList));
  std::vector<std::string> lines;
  std::string error;
  const std::string path = CommandSetPath(StartDirectory);
  if (ReadCommandSet(path, &lines, &error)) {
    for (const std::string& line : lines) list->addItem(QString::fromStdString(line));
  } else {
    ShowMessage("Error", "%s", error.c_str());  // "Can not open PATH" and what is wrong
  }
  connect(list, &QListWidget::currentRowChanged, this, [this](int row) { Pick(row); });
  connect(static_cast<QPushButton*>(ControlWidget(this, kCommandSetExit)), &QPushButton::clicked,
          this, &QDialog::close);
}

void CommandSetDialog::Pick(int row) {
  auto* list = static_cast<QListWidget*>(ControlWidget(this, kCommandSetList));
  if (row < 0 || row >= list->count()) return;
  const std::string command = CommandTextOf(list->item(row)->text().toUtf8().toStdString());
  main_window_.AddItem(kCdbInput, command);
  main_window_.SelectItem(kCdbInput, main_window_.ItemCount(kCdbInput) - 1);
}

}  // namespace zorvane
