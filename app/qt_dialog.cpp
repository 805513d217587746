#include "app/qt_dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QThread>

#include "app/template_builder.h"

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
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setChecked(checked);
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

}  // namespace zorvane
