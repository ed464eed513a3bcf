#include "ui/formlayout.h"

#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace formlayout {

namespace {
constexpr int kTwipsPerInch = 1440;
}

int ToPixels(int twips, int logicalDpi) {
    return static_cast<int>(std::lround(double(twips) * logicalDpi / kTwipsPerInch));
}

void Place(QWidget* widget, const Rect& r) {
    const int dpiX = widget->logicalDpiX();
    const int dpiY = widget->logicalDpiY();
    widget->setGeometry(ToPixels(r.left, dpiX), ToPixels(r.top, dpiY), ToPixels(r.width, dpiX),
                        ToPixels(r.height, dpiY));
}

QSize Size(const QWidget* widget, const Rect& r) {
    return {ToPixels(r.width, widget->logicalDpiX()), ToPixels(r.height, widget->logicalDpiY())};
}

QLabel* NewProblemLabel(QWidget* dialog, const QString& objectName) {
    auto* label = new QLabel(dialog);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFocusPolicy(Qt::NoFocus);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    label->hide();
    return label;
}

void ShowBelow(QWidget* dialog, QLabel* label, const QString& text, int top, int margin) {
    const int left = ToPixels(margin, dialog->logicalDpiX());
    const int topPixels = ToPixels(top, dialog->logicalDpiY());
    const int labelWidth = std::max(dialog->width() - 2 * left, 1);
    label->setText(text);
    const int labelHeight = label->heightForWidth(labelWidth);
    label->setGeometry(left, topPixels, labelWidth, labelHeight);
    label->show();
    const int needed = topPixels + labelHeight + ToPixels(margin, dialog->logicalDpiY());
    if (dialog->height() < needed) {
        dialog->resize(dialog->width(), needed);
    }
}

} // namespace formlayout
