#include "support/ui/twips.h"

#include "ui/formlayout.h"

#include <QTest>
#include <QWidget>

using formlayout::ToPixels;

QRect TwipsRect(const QWidget* widget, int left, int top, int width, int height) {
    const int dpiX = widget->logicalDpiX();
    const int dpiY = widget->logicalDpiY();
    return {ToPixels(left, dpiX), ToPixels(top, dpiY), ToPixels(width, dpiX),
            ToPixels(height, dpiY)};
}

QSize TwipsSize(const QWidget* widget, int width, int height) {
    return {ToPixels(width, widget->logicalDpiX()), ToPixels(height, widget->logicalDpiY())};
}

void ExpectTwipsGeometry(const QWidget* widget, int left, int top, int width, int height) {
    QCOMPARE(widget->geometry(), TwipsRect(widget, left, top, width, height));
}
