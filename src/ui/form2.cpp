#include "ui/form2.h"

#include "station/stationfeed.h"
#include "ui/formlayout.h"

#include <QAbstractItemView>
#include <QSerialPortInfo>
#include <QStyle>
#include <algorithm>
#include <utility>

namespace {

// Layout in twips: left, top, width, height within the client area.
using TwipRect = formlayout::Rect;
constexpr TwipRect kClientArea{0, 0, 2880, 1425};
constexpr TwipRect kLabel1{0, 0, 1215, 495};
// Wider than the speed box: a device path such as /dev/ttyUSB0 is the usual entry here.
constexpr TwipRect kCombo1{0, 240, 1125, 315};
constexpr TwipRect kLabel2{0, 600, 1215, 495};
constexpr TwipRect kCombo2{0, 840, 855, 315};
constexpr TwipRect kCommand1{1200, 120, 1215, 495};
// The port problem appears under the boxes; the window grows to show all of it.
constexpr int kProblemTop = 1200;
constexpr int kProblemMargin = 60;

const QStringList kPortNames = {
    QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
    QStringLiteral("COM5"), QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
};
const QStringList kBaudRates = {
    QStringLiteral("1200"), QStringLiteral("2400"),  QStringLiteral("4800"),
    QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
};

// An editable box whose text is exactly what the user typed or picked: no completion, no
// items added on Enter, and (without a completer) only an exact match selects a list entry.
// Its text is shown whole in the narrow box: a narrow drop-down button, and a long device path
// in a narrower, smaller font.
QComboBox* NewEditableCombo(const QStringList& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->addItems(items);
    formlayout::UseNarrowButton(combo);
    formlayout::KeepTextWhole(combo->lineEdit());
    return combo;
}

// Shows text in an editable box; the list entry of that exact text, if any, becomes current.
void SetComboText(QComboBox* combo, const QString& text) {
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    combo->setEditText(text);
}

} // namespace

Form2::Form2(StationFeed& stationFeed, QWidget* parent)
    : QWidget(parent, Qt::Window), feed(&stationFeed) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Serial Port"));
    formlayout::UseLayoutFont(this);

    Label1 = new QLabel(QStringLiteral("Comm Port"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    formlayout::Place(Label1, kLabel1);

    QStringList ports = kPortNames;
    for (const QString& port : SystemPorts()) {
        if (!ports.contains(port)) {
            ports << port;
        }
    }
    Combo1 = NewEditableCombo(ports, this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setToolTip(QStringLiteral("Radio Com Port"));
    formlayout::Place(Combo1, kCombo1);
    // The box is narrow; its list opens wide enough to read whole device paths.
    Combo1->view()->setMinimumWidth(Combo1->view()->sizeHintForColumn(0) +
                                    Combo1->style()->pixelMetric(QStyle::PM_ScrollBarExtent) * 2);

    Label2 = new QLabel(QStringLiteral("Baud Rate"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    formlayout::Place(Label2, kLabel2);

    Combo2 = NewEditableCombo(kBaudRates, this);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setToolTip(QStringLiteral("Baud rate"));
    formlayout::Place(Combo2, kCombo2);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    formlayout::Place(Command1, kCommand1);

    portProblem = formlayout::NewProblemLabel(this, QStringLiteral("portProblem"));

    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Command1);
    Combo1->setFocus();

    resize(formlayout::Size(this, kClientArea));

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1Click);
    connect(feed, &StationFeed::Connected, this, &Form2::Opened);
    Load();
}

QStringList Form2::SystemPorts() {
    QStringList ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        ports << info.portName();
#else
        ports << info.systemLocation();
#endif
    }
    return InNumberOrder(ports);
}

QStringList Form2::InNumberOrder(QStringList devices) {
    // A device name is a stem and a unit number: "/dev/ttyUSB" and 10.
    auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit()) {
            --digits;
        }
        const QStringView number = QStringView(name).sliced(digits);
        return std::make_pair(name.left(digits), number);
    };
    std::sort(devices.begin(), devices.end(), [&split](const QString& a, const QString& b) {
        const auto [stemA, numberA] = split(a);
        const auto [stemB, numberB] = split(b);
        if (stemA != stemB) {
            return stemA < stemB;
        }
        // Same stem: the shorter unit number is the smaller, so ttyS2 comes before ttyS10.
        if (numberA.size() != numberB.size()) {
            return numberA.size() < numberB.size();
        }
        return numberA < numberB;
    });
    devices.removeDuplicates();
    return devices;
}

void Form2::Load() {
    const StoredSettings stored = feed->Snap().stored;
    SetComboText(Combo1, stored.comPort);
    SetComboText(Combo2, stored.baudRate);
}

void Form2::Command1Click() {
    if (!feed) {
        close();
        return;
    }
    opening = feed->ConnectTo(Combo1->currentText(), Combo2->currentText());
}

void Form2::Opened(const Status& outcome, quint64 request) {
    if (request != opening) {
        return; // another connection than the one OK asked for
    }
    opening = 0;
    if (!outcome.IsOk()) {
        // The dialog stays open with the texts as typed, so the user can correct them.
        ShowProblem(outcome.Message());
        return;
    }
    close();
}

void Form2::ShowProblem(const QString& text) {
    formlayout::ShowBelow(this, portProblem, text, kProblemTop, kProblemMargin);
}
