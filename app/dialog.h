// The controls of one dialog, addressed by their control identifiers. The Qt front end
// maps identifiers to widgets; tests and the command-line front end keep the controls in
// memory.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
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
};

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

 private:
  struct Control {
    std::string text;
    bool checked = false;
    bool enabled = true;
    std::vector<std::string> items;
    int selected = -1;
  };
  mutable std::mutex mutex_;
  mutable std::map<int, Control> controls_;
};

}  // namespace zorvane
