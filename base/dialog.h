// The controls of one dialog, addressed by their control identifiers. The Qt front end
// maps identifiers to widgets; tests and the command-line front end keep the controls in
// memory.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvane {

class Dialog {
 public:
  virtual ~Dialog() = default;

  // The text of an edit, static, button or the edit field of a combo box.
  virtual std::string Text(int id) const = 0;
  virtual void SetText(int id, std::string_view text) = 0;

  virtual bool IsChecked(int id) const = 0;
  virtual void SetChecked(int id, bool checked) = 0;

  virtual bool IsEnabled(int id) const = 0;
  virtual void Enable(int id, bool enabled) = 0;

  // List boxes and the lists of combo boxes.
  virtual int ItemCount(int id) const = 0;
  virtual std::string ItemText(int id, int index) const = 0;
  virtual int SelectedItem(int id) const = 0;  // -1: none
  virtual void AddItem(int id, std::string_view text) = 0;
  virtual void SelectItem(int id, int index) = 0;
  virtual void ClearItems(int id) = 0;  // a combo box loses its edit text too

  // Progress bars: range, position, and the step that StepProgress adds.
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPosition(int id, int position) = 0;
  virtual int ProgressPosition(int id) const = 0;
  virtual void SetProgressStep(int id, int step) = 0;
  virtual void StepProgress(int id) = 0;

  // Shows or hides a control.
  virtual void Show(int id, bool visible) = 0;
  virtual bool IsVisible(int id) const = 0;

  // A dialog's timers: the front end calls the handler's OnTimer(timer_id) about every
  // `milliseconds` until the timer is stopped. Starting a running timer restarts it.
  virtual void StartTimer(int timer_id, int milliseconds) = 0;
  virtual void StopTimer(int timer_id) = 0;
  virtual bool TimerRunning(int timer_id) const = 0;

  // Closes the dialog (OK or Cancel ending it); the handler's OnClose runs first.
  virtual void EndDialog(int result) = 0;
};

// What a job dialog does, apart from its widgets: the front end builds the template's
// controls, calls OnInit once, OnCommand for every button press and every selection
// change of a combo box or list, and OnTimer on each tick of a timer the handler started.
// Workers the handler starts hold their state by shared ownership, so a dialog that closes
// while its worker runs leaves nothing dangling.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  virtual void OnInit(Dialog& dialog) = 0;
  virtual void OnCommand(Dialog& dialog, int id) = 0;
  virtual void OnTimer(Dialog& /*dialog*/, int /*timer_id*/) {}
  // The dialog is going away (closed by the user or by EndDialog): stop the worker's
  // updates, keep nothing that points at the dialog.
  virtual void OnClose(Dialog& /*dialog*/) {}
};

// Identifiers every dialog shares: the OK and Cancel buttons.
inline constexpr int kOkButton = 1;
inline constexpr int kCancelButton = 2;

// The main window's controls, for the operations that run on its behalf (reports,
// workers). Set by the front end when the window exists.
extern std::atomic<Dialog*> MainWindow;

// A dialog whose controls live in memory: the command-line front end's stand-in for the
// main window, and the tests' recording dialog.
class MemoryDialog : public Dialog {
 public:
  std::string Text(int id) const override;
  void SetText(int id, std::string_view text) override;
  bool IsChecked(int id) const override;
  void SetChecked(int id, bool checked) override;
  bool IsEnabled(int id) const override;
  void Enable(int id, bool enabled) override;
  int ItemCount(int id) const override;
  std::string ItemText(int id, int index) const override;
  int SelectedItem(int id) const override;
  void AddItem(int id, std::string_view text) override;
  void SelectItem(int id, int index) override;
  void ClearItems(int id) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPosition(int id, int position) override;
  int ProgressPosition(int id) const override;
  void SetProgressStep(int id, int step) override;
  void StepProgress(int id) override;
  void Show(int id, bool visible) override;
  bool IsVisible(int id) const override;
  void StartTimer(int timer_id, int milliseconds) override;
  void StopTimer(int timer_id) override;
  bool TimerRunning(int timer_id) const override;
  void EndDialog(int result) override;

  // The range of a progress bar, and the dialog's end (-1 while it is open).
  std::pair<int, int> ProgressRange(int id) const;
  int EndResult() const;

 private:
  struct Control {
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> items;
    int selected = -1;
    int low = 0, high = 100, position = 0, step = 10;
  };
  std::map<int, int> timers_;  // timer id -> interval
  int end_result_ = -1;
  mutable std::mutex mutex_;
  mutable std::map<int, Control> controls_;
};

}  // namespace zorvane
