#pragma once

// The windows are laid out in twips (1/1440 inch), as they were first drawn. These helpers turn
// twips into pixels at a widget's logical resolution (15 twips make a pixel at 96 DPI), and
// place the red problem line that the dialogs show under their controls.

#include <QSize>

class QLabel;
class QString;
class QWidget;

namespace formlayout {

struct Rect {
    int left, top, width, height;
};

int ToPixels(int twips, int logicalDpi);

// Gives the widget the rectangle r within its parent, at the widget's own resolution.
void Place(QWidget* widget, const Rect& r);

// The width and height of r in pixels at the widget's resolution.
QSize Size(const QWidget* widget, const Rect& r);

// A hidden, word-wrapped red label for what went wrong in a dialog; ShowBelow shows it.
QLabel* NewProblemLabel(QWidget* dialog, const QString& objectName);

// Shows text in a word-wrapped label under a dialog's controls, `top` twips down and `margin`
// twips in from the sides, and makes the dialog tall enough to show all of it.
void ShowBelow(QWidget* dialog, QLabel* label, const QString& text, int top, int margin);

} // namespace formlayout
