#pragma once

// A widget's place and size given in twips (1/1440 inch), as the windows were first drawn, in
// pixels at the widget's own logical resolution: what its geometry must be.

#include <QRect>
#include <QSize>

class QWidget;

QRect TwipsRect(const QWidget* widget, int left, int top, int width, int height);
QSize TwipsSize(const QWidget* widget, int width, int height);

// Compares the widget's geometry within its parent with left, top, width, height twips.
void ExpectTwipsGeometry(const QWidget* widget, int left, int top, int width, int height);
