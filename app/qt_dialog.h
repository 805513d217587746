// The Dialog port over a built form: identifiers name widgets. Calls from a worker thread
// are carried out on the UI thread; calls for a form that is gone do nothing.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/dialog.h"

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

  QWidget* Form() const { return form_.data(); }

 private:
  // Runs `work` with the control's widget on the UI thread (blocking when called from
  // another thread); does nothing when the form or control is gone.
  void OnControl(int id, const std::function<void(QWidget*)>& work) const;

  QPointer<QWidget> form_;
};

}  // namespace zorvane
