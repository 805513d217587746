// Turns a dialog template into widgets: each control placed by its rectangle in dialog
// units, converted with the dialog font's metrics; every widget named by its identifier.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

#include "base/templates.h"

namespace zorvane {

// The dialog font: the template's Ming face (a Traditional-Chinese serif such as
// "AR PL UMing TW" on Linux) at its point size, or the nearest CJK face available.
QFont DialogFont(const DialogTemplate& dialog);

// Dialog base units of a font: average character width and character height in pixels.
struct DialogBaseUnits {
  int x;
  int y;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);

QRect DialogUnitsToPixels(const DialogBaseUnits& base, int x, int y, int width, int height);

// Creates the template's controls as children of `form`, sets its font and fixed client
// size. A control's objectName is its identifier ("1009"); frames without one are named
// after nothing.
void BuildDialog(const DialogTemplate& dialog, QWidget* form);

// The widget of a control identifier inside a built form, or null.
QWidget* ControlWidget(QWidget* form, int id);

}  // namespace zorvane
