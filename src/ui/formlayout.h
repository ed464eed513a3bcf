#pragma once

// The windows are laid out in twips (1/1440 inch), as they were first drawn. These helpers turn
// twips into pixels at a widget's logical resolution (15 twips make a pixel at 96 DPI), make the
// texts fit those rectangles, and place the red problem line the dialogs show under their
// controls.

#include <QSize>

class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
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

// The point size the windows were drawn for: their texts fit the twips rectangles at this size.
constexpr int kLayoutPointSize = 8;

// Gives a window and its controls the desktop's font at kLayoutPointSize.
void UseLayoutFont(QWidget* window);

// Draws the combo box with a narrow drop-down button. The styles' own buttons (19 pixels in
// Fusion) leave a box of the layout's width too little room for "19200" or "COM2".
void UseNarrowButton(QComboBox* combo);

// Keeps the whole text of the line edit in view whatever it is set to: a text too wide for the
// edit's present font is shown in that font narrowed, and if need be made smaller, just enough.
// The user never sees part of a value (a device path cut to "v/ttyUSB0").
void KeepTextWhole(QLineEdit* edit);

// A hidden, word-wrapped red label for what went wrong in a dialog; ShowBelow shows it.
QLabel* NewProblemLabel(QWidget* dialog, const QString& objectName);

// Shows text in a word-wrapped label under a dialog's controls, `top` twips down and `margin`
// twips in from the sides, and makes the dialog tall enough to show all of it.
void ShowBelow(QWidget* dialog, QLabel* label, const QString& text, int top, int margin);

// A push button that Enter in a box never presses, as in every dialog here.
QPushButton* NewButton(const QString& text, const QString& objectName, QWidget* parent);
// A line edit holding text, named objectName.
QLineEdit* NewEdit(const QString& objectName, const QString& text, QWidget* parent);

// The OK and Cancel buttons ("okButton", "cancelButton") at the right of the row that ends a
// dialog.
QHBoxLayout* NewOkCancelRow(QWidget* dialog, QPushButton** ok, QPushButton** cancel);

// Lays out a dialog of labelled values: the values, the problem label (NewProblemLabel, named
// "problem") and the OK and Cancel row under them; Cancel closes the dialog.
void LayOutFormDialog(QWidget* dialog, QFormLayout* values, QLabel** problem, QPushButton** ok,
                      QPushButton** cancel);

} // namespace formlayout
