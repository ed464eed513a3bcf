#include "ui/form3.h"

#include "core/units.h"
#include "link/civ.h"
#include "station/stationfeed.h"
#include "ui/formlayout.h"

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

} // namespace

Form3::Form3(StationFeed& stationFeed, QWidget* parent)
    : QWidget(parent, Qt::Window), feed(&stationFeed) {
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
    return civ::ParseAddress(text);
}

void Form3::Load() {
    Text1->setText(QString::number(feed->Snap().stored.radioAdress, units::kHexBase).toUpper());
}

void Form3::Command1Click() {
    if (!feed) {
        close();
        return;
    }
    const Parsed parsed = ParseAddress(Text1->text());
    if (!parsed.address) {
        // The previous address stays in force until a valid one is typed.
        ShowProblem(parsed.problem);
        return;
    }
    feed->SetRadioAddress(*parsed.address);
    close();
}

void Form3::ShowProblem(const QString& text) {
    formlayout::ShowBelow(this, addressProblem, text, kProblemTop, kProblemMargin);
}
