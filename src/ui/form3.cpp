#include "ui/form3.h"

#include "link/civ.h"
#include "link/radiolink.h"
#include "ui/formlayout.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// Layout in twips: left, top, width, height within the client area.
using TwipRect = formlayout::Rect;
constexpr TwipRect kClientArea{0, 0, 2775, 1050};
constexpr TwipRect kLabel1{0, 0, 1215, 495};
constexpr TwipRect kText1{0, 240, 1215, 495};
constexpr TwipRect kCommand1{1320, 240, 1215, 495};
// A refused address is explained under the box; the window grows to show all of it.
constexpr int kProblemTop = 780;
constexpr int kProblemMargin = 60;

constexpr int kHexBase = 16;

} // namespace

Form3::Form3(RadioLink& radioLink, QWidget* parent)
    : QWidget(parent, Qt::Window), link(&radioLink) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Radio"));
    formlayout::UseLayoutFont(this);

    Label1 = new QLabel(QStringLiteral("Radio Adress"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    formlayout::Place(Label1, kLabel1);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setToolTip(QStringLiteral("Hex Adress I.E 4E  Use 0  for most radios"));
    formlayout::Place(Text1, kText1);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    formlayout::Place(Command1, kCommand1);

    addressProblem = formlayout::NewProblemLabel(this, QStringLiteral("addressProblem"));

    setTabOrder(Text1, Command1);
    Text1->setFocus();

    resize(formlayout::Size(this, kClientArea));

    connect(Command1, &QPushButton::clicked, this, &Form3::Command1Click);
    Load();
}

Form3::Parsed Form3::ParseAddress(const QString& text) {
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]+$"));
    const QString digits = text.trimmed();
    const QString expected =
        QStringLiteral("Type the radio's CI-V address as hexadecimal digits only, 0 to FF, "
                       "such as 4E (0 for most radios).");
    if (digits.isEmpty()) {
        return {std::nullopt, QStringLiteral("No address typed. ") + expected};
    }
    if (!hexDigits.match(digits).hasMatch()) {
        return {std::nullopt,
                QStringLiteral("\"%1\" is not a hexadecimal address. ").arg(digits) + expected};
    }
    // Leading zeros are allowed, so the digits may be many; anything past FF is refused.
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits.at(first) == QLatin1Char('0')) {
        ++first;
    }
    const QString significant = digits.sliced(first);
    bool ok = false;
    const uint value = significant.size() <= 2 ? significant.toUInt(&ok, kHexBase) : 0;
    if (!ok || value > static_cast<uint>(civ::kHighestAddress)) {
        return {std::nullopt,
                QStringLiteral("\"%1\" is above FF: a CI-V address is one byte. ").arg(digits) +
                    expected};
    }
    return {static_cast<int>(value), QString()};
}

void Form3::Load() {
    Text1->setText(QString::number(link->radioAdress, kHexBase).toUpper());
}

void Form3::Command1Click() {
    if (!link) {
        close();
        return;
    }
    const Parsed parsed = ParseAddress(Text1->text());
    if (!parsed.address) {
        // The previous address stays in force until a valid one is typed.
        ShowProblem(parsed.problem);
        return;
    }
    link->SetRadioAddress(*parsed.address);
    close();
}

void Form3::ShowProblem(const QString& text) {
    formlayout::ShowBelow(this, addressProblem, text, kProblemTop, kProblemMargin);
}
