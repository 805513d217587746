// Every dialog template built at its font: no two visible controls overlap unless a group
// box frames the other, and every caption fits its control (with the room a check box or
// an option button needs for its mark, and a push button for its frame).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QtTest/QtTest>
#include <vector>

#include "base/templates.h"
#include "gui/template_builder.h"
#include "iso/volume_dialog.h"
#include "scan/c2_dialog.h"
#include "write/audio_cd_dialog.h"
#include "write/erase_dialog.h"
#include "write/write_dialog.h"

namespace zorvane {

// The read dialogs' templates (their header's control names would clash with the write
// dialogs' ones here).
const DialogTemplate& CdReadTemplate();
const DialogTemplate& DvdReadTemplate();

namespace {

// A caption as it is drawn: "&&" is an ampersand, a single "&" marks the mnemonic.
QString Drawn(const char* caption) {
  const QString text = QString::fromUtf8(caption);
  QString drawn;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    drawn += text[i];
  }
  return drawn;
}

struct Placed {
  const ControlTemplate* control;
  QWidget* widget;
};

// The widget BuildDialog made for each control of the template, found by identifier, or
// for a control without one by its kind and rectangle.
std::vector<Placed> PlaceAll(const DialogTemplate& form, QWidget* built) {
  const DialogBaseUnits base = BaseUnitsOf(DialogFont(form));
  std::vector<Placed> placed;
  std::vector<QWidget*> taken;
  for (const ControlTemplate& control : form.controls) {
    QWidget* widget = nullptr;
    if (control.id != kNoId) {
      widget = ControlWidget(built, control.id);
    } else {
      const QRect rect =
          DialogUnitsToPixels(base, control.x, control.y, control.width, control.height);
      for (QWidget* child : built->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->geometry() == rect &&
            std::find(taken.begin(), taken.end(), child) == taken.end()) {
          widget = child;
          break;
        }
      }
    }
    if (widget != nullptr) taken.push_back(widget);
    placed.push_back({&control, widget});
  }
  return placed;
}

QString Name(const DialogTemplate& form, const ControlTemplate& control) {
  return QStringLiteral("template %1 control %2 \"%3\"")
      .arg(form.id)
      .arg(control.id)
      .arg(QString::fromUtf8(control.caption));
}

// The width a control needs around its caption's text.
int Room(QWidget* widget) {
  QStyle* style = widget->style();
  if (qobject_cast<QRadioButton*>(widget) != nullptr) {
    return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
           style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
  }
  if (qobject_cast<QCheckBox*>(widget) != nullptr) {
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
           style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
  }
  if (qobject_cast<QPushButton*>(widget) != nullptr) {
    return style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, widget);
  }
  if (qobject_cast<QGroupBox*>(widget) != nullptr) {
    // The title is drawn inset from the frame's corner.
    return 2 * QFontMetrics(widget->font()).horizontalAdvance(QLatin1Char(' '));
  }
  return 0;
}

// What is wrong with the caption of one control at the dialog font.
QString Clipped(const DialogTemplate& form, const Placed& placed) {
  QWidget* widget = placed.widget;
  const bool captioned = qobject_cast<QLabel*>(widget) != nullptr ||
                         qobject_cast<QAbstractButton*>(widget) != nullptr ||
                         qobject_cast<QGroupBox*>(widget) != nullptr;
  if (!captioned) return {};
  QString text = Drawn(placed.control->caption);
  while (text.endsWith('\n')) text.chop(1);  // a figure's line end draws nothing
  if (text.isEmpty()) return {};
  const QFontMetrics metrics(widget->font());
  const QStringList lines = text.split('\n');
  int width = 0;
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  const int needed = width + Room(widget);
  QString problem;
  if (needed > widget->width()) {
    problem = QStringLiteral("%1: caption needs %2 px, control is %3 px wide")
                  .arg(Name(form, *placed.control))
                  .arg(needed)
                  .arg(widget->width());
  }
  // A label shows its lines from the top; a button, box or frame one line.
  const int height =
      qobject_cast<QLabel*>(widget) != nullptr
          ? metrics.lineSpacing() * (static_cast<int>(lines.size()) - 1) + metrics.height()
          : metrics.height();
  if (height > widget->height() && qobject_cast<QGroupBox*>(widget) == nullptr) {
    problem += QStringLiteral("%1: caption needs %2 px, control is %3 px high")
                   .arg(Name(form, *placed.control))
                   .arg(height)
                   .arg(widget->height());
  }
  return problem;
}

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void everyTemplateHasRoomForEveryControl() {
    const DialogTemplate* forms[] = {
        &MainWindowTemplate(), &CommandSetTemplate(),      &C2ScanTemplate(),
        &CdReadTemplate(),     &DvdReadTemplate(),         &CdWriteTemplate(),
        &DvdWriteTemplate(),   &MrwAddressWriteTemplate(), &DvdAddressWriteTemplate(),
        &EraseTemplate(),      &VolumeInfoTemplate(),      &AudioCdTemplate(),
    };
    QStringList problems;
    for (const DialogTemplate* form : forms) {
      QWidget built;
      BuildDialog(*form, &built);
      const std::vector<Placed> placed = PlaceAll(*form, &built);
      const QRect client(QPoint(0, 0), built.size());
      std::vector<const Placed*> visible;
      for (const Placed& p : placed) {
        if (p.widget == nullptr) {
          problems << Name(*form, *p.control) + QStringLiteral(": no widget");
          continue;
        }
        if ((p.control->style & kStyleHidden) != 0) continue;
        visible.push_back(&p);
        if (!client.contains(p.widget->geometry())) {
          problems << Name(*form, *p.control) + QStringLiteral(": runs off the dialog");
        }
        if (QString problem = Clipped(*form, p); !problem.isEmpty()) problems << problem;
      }
      for (std::size_t i = 0; i < visible.size(); ++i) {
        for (std::size_t j = i + 1; j < visible.size(); ++j) {
          const QRect a = visible[i]->widget->geometry();
          const QRect b = visible[j]->widget->geometry();
          if (!a.intersects(b)) continue;
          // A group box frames the controls it holds whole.
          const bool a_frames =
              visible[i]->control->kind == ControlKind::kGroupBox && a.contains(b);
          const bool b_frames =
              visible[j]->control->kind == ControlKind::kGroupBox && b.contains(a);
          if (a_frames || b_frames) continue;
          problems << QStringLiteral("%1 overlaps %2 (%3,%4 %5x%6 and %7,%8 %9x%10)")
                          .arg(Name(*form, *visible[i]->control), Name(*form, *visible[j]->control))
                          .arg(a.x())
                          .arg(a.y())
                          .arg(a.width())
                          .arg(a.height())
                          .arg(b.x())
                          .arg(b.y())
                          .arg(b.width())
                          .arg(b.height());
        }
      }
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
  }
};

}  // namespace zorvane

QTEST_MAIN(zorvane::LayoutTest)
#include "layout_test.moc"
