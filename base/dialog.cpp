#include "base/dialog.h"

#include <algorithm>

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

void MemoryDialog::SetProgressRange(int id, int low, int high) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  control.low = low;
  control.high = high;
  control.position = std::clamp(control.position, low, std::max(low, high));
}

void MemoryDialog::SetProgressPosition(int id, int position) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  control.position = std::clamp(position, control.low, std::max(control.low, control.high));
}

int MemoryDialog::ProgressPosition(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].position;
}

void MemoryDialog::SetProgressStep(int id, int step) {
  std::lock_guard lock(mutex_);
  controls_[id].step = step;
}

void MemoryDialog::StepProgress(int id) {
  std::lock_guard lock(mutex_);
  Control& control = controls_[id];
  // A bar stepped past its end starts again from the beginning, as a Windows bar does.
  control.position += control.step;
  if (control.position > control.high)
    control.position = control.low + (control.position - control.high);
}

std::pair<int, int> MemoryDialog::ProgressRange(int id) const {
  std::lock_guard lock(mutex_);
  const Control& control = controls_[id];
  return {control.low, control.high};
}

void MemoryDialog::Show(int id, bool visible) {
  std::lock_guard lock(mutex_);
  controls_[id].visible = visible;
}

bool MemoryDialog::IsVisible(int id) const {
  std::lock_guard lock(mutex_);
  return controls_[id].visible;
}

void MemoryDialog::StartTimer(int timer_id, int milliseconds) {
  std::lock_guard lock(mutex_);
  timers_[timer_id] = milliseconds;
}

void MemoryDialog::StopTimer(int timer_id) {
  std::lock_guard lock(mutex_);
  timers_.erase(timer_id);
}

bool MemoryDialog::TimerRunning(int timer_id) const {
  std::lock_guard lock(mutex_);
  return timers_.count(timer_id) != 0;
}

void MemoryDialog::EndDialog(int result) {
  std::lock_guard lock(mutex_);
  end_result_ = result;
  timers_.clear();
}

int MemoryDialog::EndResult() const {
  std::lock_guard lock(mutex_);
  return end_result_;
}

}  // namespace zorvane
