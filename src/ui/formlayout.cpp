#include "ui/formlayout.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace formlayout {

namespace {

constexpr int kTwipsPerInch = 1440;

// Wide enough for the style's arrow and its separator line, in pixels.
constexpr int kNarrowButtonWidth = 12;
// QLineEdit leaves this many pixels between its contents rectangle and the text on each side.
constexpr int kLineEditTextInset = 2;
// How far a font may be narrowed before it is made smaller instead, and the smallest size.
constexpr int kFullStretch = 100;
constexpr int kNarrowestStretch = QFont::Condensed;
constexpr int kSmallestPointSize = 6;

// The style the box had, with the drop-down button cut to kNarrowButtonWidth; the edit field
// takes the room. The style draws, places the line edit and tests clicks from these rectangles.
class NarrowButtonStyle : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField)) {
            return rect;
        }
        const int spare =
            QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget).width() -
            kNarrowButtonWidth;
        if (spare <= 0) {
            return rect;
        }
        // The button sits at the right, or at the left in a right-to-left layout.
        const bool buttonLeft = option->direction == Qt::RightToLeft;
        if (part == SC_ComboBoxArrow && buttonLeft) {
            rect.setRight(rect.right() - spare);
        } else if (part == SC_ComboBoxArrow) {
            rect.setLeft(rect.left() + spare);
        } else if (buttonLeft) {
            rect.setLeft(rect.left() - spare);
        } else {
            rect.setRight(rect.right() + spare);
        }
        return rect;
    }
};

bool Fits(const QFont& font, const QString& text, int width) {
    return QFontMetrics(font).horizontalAdvance(text) <= width;
}

// The width a line edit draws its text in, as QLineEdit works it out: its contents after the
// frame and the text margins, less kLineEditTextInset on each side.
int TextWidth(const QLineEdit* edit) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents =
        edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    return contents.marginsRemoved(edit->textMargins()).width() - 2 * kLineEditTextInset;
}

// The font, narrowed and then made smaller only as far as needed, in which text is at most
// width pixels wide; the font itself when the text fits it.
QFont FittingFont(const QFont& font, const QString& text, int width) {
    if (Fits(font, text, width)) {
        return font;
    }
    QFont fitted = font;
    for (int stretch = kFullStretch - 1; stretch >= kNarrowestStretch; --stretch) {
        fitted.setStretch(stretch);
        if (Fits(fitted, text, width)) {
            return fitted;
        }
    }
    for (int size = font.pointSize() - 1; size >= kSmallestPointSize; --size) {
        fitted.setPointSize(size);
        if (Fits(fitted, text, width)) {
            return fitted;
        }
    }
    return fitted;
}

} // namespace

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

void UseLayoutFont(QWidget* window) {
    QFont font = QApplication::font();
    font.setPointSize(kLayoutPointSize);
    window->setFont(font);
}

void UseNarrowButton(QComboBox* combo) {
    // Without a base style the proxy makes its own copy of the application's style; the box
    // owns it.
    auto* style = new NarrowButtonStyle;
    style->setParent(combo);
    combo->setStyle(style);
}

void KeepTextWhole(QLineEdit* edit) {
    const QFont widest = edit->font();
    auto fit = [edit, widest] {
        edit->setFont(FittingFont(widest, edit->text(), TextWidth(edit)));
    };
    QObject::connect(edit, &QLineEdit::textChanged, edit, fit);
    fit();
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

QPushButton* NewButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLineEdit* NewEdit(const QString& objectName, const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(objectName);
    return edit;
}

QHBoxLayout* NewOkCancelRow(QWidget* dialog, QPushButton** ok, QPushButton** cancel) {
    *ok = NewButton(QStringLiteral("OK"), QStringLiteral("okButton"), dialog);
    *cancel = NewButton(QStringLiteral("Cancel"), QStringLiteral("cancelButton"), dialog);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(*ok);
    row->addWidget(*cancel);
    return row;
}

void LayOutFormDialog(QWidget* dialog, QFormLayout* values, QLabel** problem, QPushButton** ok,
                      QPushButton** cancel) {
    *problem = NewProblemLabel(dialog, QStringLiteral("problem"));
    QHBoxLayout* buttons = NewOkCancelRow(dialog, ok, cancel);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(values);
    layout->addWidget(*problem);
    layout->addLayout(buttons);
    QObject::connect(*cancel, &QPushButton::clicked, dialog, &QWidget::close);
}

} // namespace formlayout
