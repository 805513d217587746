#include "app/dialog.h"

namespace zorvane {

std::atomic<Dialog*> MainWindow{nullptr};

std::string MemoryDialog::Text(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].text;
}

void MemoryDialog::SetText(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  control.text = std::string(text);
  control.selected = -1;  // text typed into a combo box's edit field replaces the pick
}

bool MemoryDialog::IsChecked(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].checked;
}

void MemoryDialog::SetChecked(int id, bool checked) {
  std::lock_guard lock(mutex_);
  controls_[id].checked = checked;
}

bool MemoryDialog::IsEnabled(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].enabled;
}

void MemoryDialog::Enable(int id, bool enabled) {
  std::lock_guard lock(mutex_);
  controls_[id].enabled = enabled;
}

int MemoryDialog::ItemCount(int id) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(controls_[id].items.size());
}

std::string MemoryDialog::ItemText(int id, int index) const {
  std::lock_guard lock(mutex_);
  const Control& control = controls_[id];
  if (index < 0 || index >= static_cast<int>(control.items.size())) return {};
  return control.items[static_cast<std::size_t>(index)];
}

int MemoryDialog::SelectedItem(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].selected;
}

void MemoryDialog::AddItem(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  controls_[id].items.emplace_back(text);
}

void MemoryDialog::SelectItem(int id, int index) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  if (index < 0 || index >= static_cast<int>(control.items.size())) {
    control.selected = -1;
    return;
  }
  control.selected = index;
  control.text = control.items[static_cast<std::size_t>(index)];
}

void MemoryDialog::ClearItems(int id) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  control.items.clear();
  control.selected = -1;
  control.text.clear();
}

}  // namespace zorvane
