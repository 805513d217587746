// The main window: the template's controls, the two console panes, and the buttons wired
// to the window's commands.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "app/main_commands.h"
#include "gui/qt_console.h"
#include "gui/qt_dialog.h"

namespace zorvane {

// The job dialogs the window can open, by template number; a job without an entry has
// no dialog yet and its button stays disabled.
class GuiJobDialogs : public JobDialogs {
 public:
  using Opener = std::function<void()>;
  void Register(int template_id, Opener opener);
  void RegisterQualityScan(Opener starter);
  bool CanOpen(int template_id) const override;
  void Open(int template_id) override;
  bool CanStartQualityScan() const override;
  void StartQualityScan() override;

 private:
  std::map<int, Opener> openers_;
  Opener quality_scan_;
};

// Registers every job dialog that exists with the window's openers.
void RegisterJobDialogs(GuiJobDialogs& jobs);

class MainWindowForm : public QWidget {
  Q_OBJECT

 public:
  MainWindowForm();
  ~MainWindowForm() override;

  QtConsole* CommandPane() const { return command_console_; }
  QtConsole* InfoPane() const { return info_console_; }
  QtDialog& Controls() { return controls_; }
  GuiJobDialogs& Jobs() { return jobs_; }

  // What a control's command does (button clicks and the device list end here).
  void OnCommand(int id);

  // Enables each job button whose dialog (or report) exists.
  void UpdateJobButtons();

  // Sets the data field's length limit by the opcode in the command box.
  void UpdateDataLimit();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OpenCommandSet();

  QtConsole* command_console_ = nullptr;
  QtConsole* info_console_ = nullptr;
  QtDialog controls_;
  GuiJobDialogs jobs_;
  bool started_ = false;
};

}  // namespace zorvane
