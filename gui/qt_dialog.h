// The Dialog port over a built form: identifiers name widgets. Calls from a worker thread
// are carried out on the UI thread; calls for a form that is gone do nothing.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>

#include "base/dialog.h"

namespace zorvane {

class QtDialog : public Dialog {
 public:
  explicit QtDialog(QWidget* form) : form_(form) {}

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

  QWidget* Form() const { return form_.data(); }

  // What a timer tick and the dialog's end call (set by the window that hosts a handler).
  void SetTimerCallback(std::function<void(int)> on_timer) { on_timer_ = std::move(on_timer); }
  void SetEndCallback(std::function<void(int)> on_end) { on_end_ = std::move(on_end); }

 private:
  // Runs `work` with the control's widget on the UI thread (blocking when called from
  // another thread); does nothing when the form or control is gone.
  void OnControl(int id, const std::function<void(QWidget*)>& work) const;

  // Runs `work` with the form on the UI thread, as OnControl does for a control.
  void OnForm(const std::function<void(QWidget*)>& work) const;

  QPointer<QWidget> form_;
  std::function<void(int)> on_timer_;
  std::function<void(int)> on_end_;
  // Progress steps per bar (QProgressBar has none of its own).
  mutable std::map<int, int> steps_;
};

}  // namespace zorvane
