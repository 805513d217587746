#include "gui/template_builder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace zorvane {

namespace {

// Faces that stand in for the Windows Ming face, best first.
const char* const kMingFaces[] = {"AR PL UMing TW",     "AR PL UMing TW MBE", "AR PL UMing HK",
                                  "Noto Serif CJK TC",  "Noto Sans CJK TC",   "WenQuanYi Zen Hei",
                                  "Droid Sans Fallback"};

QWidget* MakeControl(const ControlTemplate& control, QWidget* form) {
  const QString caption = QString::fromUtf8(control.caption);
  switch (control.kind) {
    case ControlKind::kGroupBox:
      return new QGroupBox(caption, form);
    case ControlKind::kStatic: {
      // A static control draws its text from the top-left corner of its rectangle; a
      // figure that ends in a line end then stays level with the label beside it.
      auto* label = new QLabel(caption, form);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(caption, form);
      button->setAutoDefault(false);
      button->setDefault((control.style & kStyleDefault) != 0);
      return button;
    }
    case ControlKind::kCheckBox:
      return new QCheckBox(caption, form);
    case ControlKind::kRadioButton:
      return new QRadioButton(caption, form);
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(caption, form);
      edit->setReadOnly((control.style & kStyleReadOnly) != 0);
      return edit;
    }
    case ControlKind::kMultiLineEdit: {
      auto* pane = new QPlainTextEdit(form);
      pane->setReadOnly((control.style & kStyleReadOnly) != 0);
      pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      pane->setVerticalScrollBarPolicy(
          (control.style & kStyleVScroll) != 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
      pane->setUndoRedoEnabled(false);
      return pane;
    }
    case ControlKind::kComboEdit: {
      auto* combo = new QComboBox(form);
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      return combo;
    }
    case ControlKind::kComboList:
      return new QComboBox(form);
    case ControlKind::kListBox:
      return new QListWidget(form);
    case ControlKind::kProgressBar: {
      auto* bar = new QProgressBar(form);
      bar->setTextVisible(false);
      return bar;
    }
    case ControlKind::kListView: {
      auto* view = new QTreeWidget(form);
      view->setRootIsDecorated(false);
      return view;
    }
  }
  return new QWidget(form);
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialog) {
  const QStringList families = QFontDatabase::families();
  QFont font;
  for (const char* face : kMingFaces) {
    if (families.contains(QString::fromUtf8(face))) {
      font = QFont(QString::fromUtf8(face));
      break;
    }
  }
  font.setPointSize(dialog.font_points);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // Average width of the 52 letters, rounded, as dialog base units are computed.
  return DialogBaseUnits{(alphabet / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const DialogBaseUnits& base, int x, int y, int width, int height) {
  auto h = [&](int units) { return (units * base.x + 2) / 4; };
  auto v = [&](int units) { return (units * base.y + 4) / 8; };
  return QRect(h(x), v(y), h(width), v(height));
}

void BuildDialog(const DialogTemplate& dialog, QWidget* form) {
  const QFont font = DialogFont(dialog);
  form->setFont(font);
  const DialogBaseUnits base = BaseUnitsOf(font);
  std::vector<QWidget*> frames;
  QButtonGroup* group = nullptr;  // the exclusive group option buttons join
  for (const ControlTemplate& control : dialog.controls) {
    QWidget* widget = MakeControl(control, form);
    if ((control.style & kStyleGroup) != 0) group = nullptr;
    if (auto* option = qobject_cast<QRadioButton*>(widget)) {
      if (group == nullptr) {
        group = new QButtonGroup(form);
        group->setExclusive(true);
      }
      group->addButton(option);
    }
    widget->setFont(font);
    if (control.id != kNoId) widget->setObjectName(QString::number(control.id));
    QRect rect = DialogUnitsToPixels(base, control.x, control.y, control.width, control.height);
    // A combo box's height in the template includes its drop-down list; the closed box is
    // as tall as the font makes it.
    if (control.kind == ControlKind::kComboEdit || control.kind == ControlKind::kComboList) {
      rect.setHeight(widget->sizeHint().height());
    }
    widget->setGeometry(rect);
    widget->setVisible((control.style & kStyleHidden) == 0);
    widget->setEnabled((control.style & kStyleDisabled) == 0);
    if (control.kind == ControlKind::kGroupBox) frames.push_back(widget);
  }
  // Frames sit behind the controls they frame.
  for (QWidget* frame : frames) frame->lower();
  form->setFixedSize(DialogUnitsToPixels(base, 0, 0, dialog.width, dialog.height).size());
}

QWidget* ControlWidget(QWidget* form, int id) {
  return form->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

}  // namespace zorvane
