#include "gui/qt_dialog.h"

#include <algorithm>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include "gui/template_builder.h"

namespace zorvane {

namespace {

QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string FromQt(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace

void QtDialog::OnControl(int id, const std::function<void(QWidget*)>& work) const {
  QWidget* form = form_.data();
  if (form == nullptr) return;
  auto run = [this, id, &work] {
    QWidget* current = form_.data();
    if (current == nullptr) return;
    if (QWidget* widget = ControlWidget(current, id)) work(widget);
  };
  if (QThread::currentThread() == form->thread()) {
    run();
  } else {
    QMetaObject::invokeMethod(form, run, Qt::BlockingQueuedConnection);
  }
}

void QtDialog::OnForm(const std::function<void(QWidget*)>& work) const {
  QWidget* form = form_.data();
  if (form == nullptr) return;
  auto run = [this, &work] {
    if (QWidget* current = form_.data()) work(current);
  };
  if (QThread::currentThread() == form->thread()) {
    run();
  } else {
    QMetaObject::invokeMethod(form, run, Qt::BlockingQueuedConnection);
  }
}

std::string QtDialog::Text(int id) const {
  std::string text;
  OnControl(id, [&text](QWidget* widget) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      text = FromQt(edit->text());
    } else if (auto* pane = qobject_cast<QPlainTextEdit*>(widget)) {
      text = FromQt(pane->toPlainText());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      text = FromQt(combo->currentText());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      text = FromQt(button->text());
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      text = FromQt(label->text());
    }
  });
  return text;
}

void QtDialog::SetText(int id, std::string_view text) {
  const QString value = ToQt(text);
  OnControl(id, [&value](QWidget* widget) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      edit->setText(value);
    } else if (auto* pane = qobject_cast<QPlainTextEdit*>(widget)) {
      pane->setPlainText(value);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      if (combo->isEditable()) combo->setEditText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      label->setText(value);
    }
  });
}

bool QtDialog::IsChecked(int id) const {
  bool checked = false;
  OnControl(id, [&checked](QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) checked = button->isChecked();
  });
  return checked;
}

void QtDialog::SetChecked(int id, bool checked) {
  OnControl(id, [checked](QWidget* widget) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (button == nullptr) return;
    QButtonGroup* group = button->group();
    if (!checked && group != nullptr && group->exclusive() && button->isChecked()) {
      // An exclusive group keeps its checked button checked; the dialog logic may still
      // clear a group (a medium that offers none of its options).
      group->setExclusive(false);
      button->setChecked(false);
      group->setExclusive(true);
      return;
    }
    button->setChecked(checked);
  });
}

bool QtDialog::IsEnabled(int id) const {
  bool enabled = false;
  OnControl(id, [&enabled](QWidget* widget) { enabled = widget->isEnabled(); });
  return enabled;
}

void QtDialog::Enable(int id, bool enabled) {
  OnControl(id, [enabled](QWidget* widget) { widget->setEnabled(enabled); });
}

int QtDialog::ItemCount(int id) const {
  int count = 0;
  OnControl(id, [&count](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) count = combo->count();
    if (auto* list = qobject_cast<QListWidget*>(widget)) count = list->count();
  });
  return count;
}

std::string QtDialog::ItemText(int id, int index) const {
  std::string text;
  OnControl(id, [&text, index](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      if (index >= 0 && index < combo->count()) text = FromQt(combo->itemText(index));
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
      if (QListWidgetItem* item = list->item(index)) text = FromQt(item->text());
    }
  });
  return text;
}

int QtDialog::SelectedItem(int id) const {
  int selected = -1;
  OnControl(id, [&selected](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      const int index = combo->currentIndex();
      // Text typed over a picked item replaces the pick.
      if (index >= 0 && (!combo->isEditable() || combo->itemText(index) == combo->currentText())) {
        selected = index;
      }
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
      selected = list->currentRow();
    }
  });
  return selected;
}

void QtDialog::AddItem(int id, std::string_view text) {
  const QString value = ToQt(text);
  OnControl(id, [&value](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) combo->addItem(value);
    if (auto* list = qobject_cast<QListWidget*>(widget)) list->addItem(value);
  });
}

void QtDialog::SelectItem(int id, int index) {
  OnControl(id, [index](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) combo->setCurrentIndex(index);
    if (auto* list = qobject_cast<QListWidget*>(widget)) list->setCurrentRow(index);
  });
}

void QtDialog::ClearItems(int id) {
  OnControl(id, [](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      combo->clear();
      if (combo->isEditable()) combo->clearEditText();
    }
    if (auto* list = qobject_cast<QListWidget*>(widget)) list->clear();
  });
}

void QtDialog::SetProgressRange(int id, int low, int high) {
  OnControl(id, [low, high](QWidget* widget) {
    auto* bar = qobject_cast<QProgressBar*>(widget);
    if (bar == nullptr) return;
    bar->setRange(low, high);
    // A new bar has no position yet (Qt shows it as reset): it starts at its low end.
    if (bar->value() < low) bar->setValue(low);
  });
}

void QtDialog::SetProgressPosition(int id, int position) {
  OnControl(id, [position](QWidget* widget) {
    if (auto* bar = qobject_cast<QProgressBar*>(widget)) bar->setValue(position);
  });
}

int QtDialog::ProgressPosition(int id) const {
  int position = 0;
  OnControl(id, [&position](QWidget* widget) {
    if (auto* bar = qobject_cast<QProgressBar*>(widget)) position = bar->value();
  });
  return position;
}

void QtDialog::SetProgressStep(int id, int step) {
  OnControl(id, [this, id, step](QWidget*) { steps_[id] = step; });
}

void QtDialog::StepProgress(int id) {
  OnControl(id, [this, id](QWidget* widget) {
    auto* bar = qobject_cast<QProgressBar*>(widget);
    if (bar == nullptr) return;
    const auto found = steps_.find(id);
    const int step = found == steps_.end() ? 10 : found->second;
    int position = std::max(bar->value(), bar->minimum()) + step;
    // Past its end a bar starts again from the beginning, as a Windows bar does.
    if (position > bar->maximum()) position = bar->minimum() + (position - bar->maximum());
    bar->setValue(position);
  });
}

void QtDialog::Show(int id, bool visible) {
  OnControl(id, [visible](QWidget* widget) { widget->setVisible(visible); });
}

bool QtDialog::IsVisible(int id) const {
  bool visible = false;
  OnControl(id, [&visible](QWidget* widget) { visible = !widget->isHidden(); });
  return visible;
}

namespace {

QString TimerName(int timer_id) {
  return QStringLiteral("timer:%1").arg(timer_id);
}

}  // namespace

void QtDialog::StartTimer(int timer_id, int milliseconds) {
  OnForm([this, timer_id, milliseconds](QWidget* form) {
    auto* timer = form->findChild<QTimer*>(TimerName(timer_id), Qt::FindDirectChildrenOnly);
    if (timer == nullptr) {
      timer = new QTimer(form);
      timer->setObjectName(TimerName(timer_id));
      QObject::connect(timer, &QTimer::timeout, form, [this, timer_id] {
        if (on_timer_) on_timer_(timer_id);
      });
    }
    timer->start(milliseconds);
  });
}

void QtDialog::StopTimer(int timer_id) {
  OnForm([timer_id](QWidget* form) {
    if (auto* timer = form->findChild<QTimer*>(TimerName(timer_id), Qt::FindDirectChildrenOnly)) {
      timer->stop();
    }
  });
}

bool QtDialog::TimerRunning(int timer_id) const {
  bool running = false;
  OnForm([&running, timer_id](QWidget* form) {
    if (auto* timer = form->findChild<QTimer*>(TimerName(timer_id), Qt::FindDirectChildrenOnly)) {
      running = timer->isActive();
    }
  });
  return running;
}

void QtDialog::EndDialog(int result) {
  OnForm([this, result](QWidget* form) {
    for (QTimer* timer : form->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
      timer->stop();
    }
    if (on_end_) {
      on_end_(result);
    } else {
      form->close();
    }
  });
}

}  // namespace zorvane
