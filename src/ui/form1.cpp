#include "ui/form1.h"

#include "link/civ.h"
#include "sweep/localclock.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/formlayout.h"
#include "ui/frmabout.h"
#include "ui/messagequeue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QMenuBar>
#include <QScreen>
#include <cmath>

namespace {

// Layout in twips: left, top, width, height within the client area.
using TwipRect = formlayout::Rect;
constexpr TwipRect kClientArea{0, 0, 3150, 2325};
constexpr TwipRect kText1{0, 0, 3015, 735};
constexpr TwipRect kLabel3{120, 960, 1215, 495};
constexpr TwipRect kLabel1{120, 1440, 1215, 495};
constexpr TwipRect kText2{120, 1680, 1215, 495};
constexpr TwipRect kStartButton{1440, 1680, 1215, 495};
// The status line sits below the controls, across the window.
constexpr TwipRect kStatusLine{120, 2280, 3015, 1200};

constexpr int kDisplayPointSize = 24;
constexpr std::chrono::seconds kStatusRefresh{1};

QString FormatCountdown(double seconds) {
    const int whole = static_cast<int>(std::ceil(seconds));
    if (whole >= 60) {
        return QStringLiteral("%1 min %2 s")
            .arg(whole / 60)
            .arg(whole % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1 s").arg(whole);
}

// The gist of a port problem for the status line: the first sentence, after its last colon
// ("Cannot open the serial port COM2: there is no such device." gives "there is no such device").
// The whole message stays in the status line's tooltip.
QString ShortReason(const QString& problem) {
    QString first = problem.section(QStringLiteral(". "), 0, 0).trimmed();
    if (first.endsWith(u'.')) {
        first.chop(1);
    }
    const qsizetype colon = first.lastIndexOf(QStringLiteral(": "));
    if (colon >= 0) {
        first = first.mid(colon + 2);
    }
    return first.isEmpty() ? QStringLiteral(".") : QStringLiteral(": %1.").arg(first);
}

} // namespace

Form1::Form1(Options opts, QWidget* parent)
    : QMainWindow(parent), link(this), options(std::move(opts)), store(options.settingsFile),
      messages(std::make_unique<MessageQueue>(this)) {
    if (!options.clock) {
        options.clock = &sweep::SecondsSinceLocalMidnight;
    }
    setWindowTitle(QStringLiteral("Tavmirok (BETA)"));
    BuildControls();
    BuildMenus();

    Timer1 = std::make_unique<AlignedTickTimer>(options.clock);
    SweepScheduler::Hooks hooks;
    hooks.clock = options.clock;
    hooks.setfreq = [this](std::int32_t frequency) { return link.Setfreq(frequency); };
    hooks.chirpText = [this] { return Text2->text(); };
    hooks.setLabel3 = [this](const QString& text) { Label3->setText(text); };
    scheduler = std::make_unique<SweepScheduler>(hooks, *Timer1);
    Timer1->onTick = [this] { scheduler->Timer1Tick(); };

    connect(StartButton, &QPushButton::clicked, this, [this] { scheduler->StartButtonClick(); });
    connect(scheduler.get(), &SweepScheduler::problem, this, &Form1::ShowMessage);
    connect(scheduler.get(), &SweepScheduler::notice, this, [this](const QString& text) {
        lastNotice = text;
        UpdateStatusLine();
    });
    connect(scheduler.get(), &SweepScheduler::progressChanged, this, &Form1::UpdateStatusLine);

    connect(&link, &RadioLink::DisplayText, Text1, &QLineEdit::setText);
    connect(&link, &RadioLink::Problem, this, &Form1::ShowMessage);
    connect(&link, &RadioLink::PortStateChanged, this, &Form1::UpdateStatusLine);
    connect(&link, &RadioLink::RadioAnsweringChanged, this, &Form1::UpdateStatusLine);
    connect(&link, &RadioLink::RadioRefusingChanged, this, &Form1::UpdateStatusLine);

    statusRefresh.setInterval(kStatusRefresh);
    connect(&statusRefresh, &QTimer::timeout, this, &Form1::UpdateStatusLine);
    statusRefresh.start();
}

Form1::~Form1() {
    // Dialogs act on this window: they must not outlive it.
    delete form2.data();
    delete form3.data();
    link.Shutdown();
}

void Form1::BuildControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    Text1 = new QLineEdit(QStringLiteral("199999999"), client);
    Text1->setObjectName(QStringLiteral("Text1"));
    QFont display(QStringLiteral("MS Sans Serif"), kDisplayPointSize, QFont::Bold);
    display.setStyleHint(QFont::SansSerif);
    Text1->setFont(display);
    QPalette yellow = Text1->palette();
    yellow.setColor(QPalette::Base, QColor(255, 255, 0));
    yellow.setColor(QPalette::Text, Qt::black);
    Text1->setPalette(yellow);
    Text1->setAutoFillBackground(true);
    formlayout::Place(Text1, kText1);
    // 24 point bold is wider than the box for most frequencies; the font narrows to show them.
    formlayout::KeepTextWhole(Text1);

    Label3 = new QLabel(client);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    formlayout::Place(Label3, kLabel3);

    Label1 = new QLabel(QStringLiteral("Chirp time"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    formlayout::Place(Label1, kLabel1);

    Text2 = new QLineEdit(QStringLiteral("78"), client);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setToolTip(QStringLiteral("Set to same time as in Orblenta Ionogram (0-299)"));
    formlayout::Place(Text2, kText2);

    StartButton = new QPushButton(QStringLiteral("Start"), client);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    StartButton->setAutoDefault(false);
    formlayout::Place(StartButton, kStartButton);

    statusLine = new QLabel(client);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLine->setWordWrap(true);
    statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont small = statusLine->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    statusLine->setFont(small);
    formlayout::Place(statusLine, kStatusLine);

    QWidget::setTabOrder(Text1, StartButton);
    QWidget::setTabOrder(StartButton, Text2);
    Label1->setFocusPolicy(Qt::NoFocus);
    Label3->setFocusPolicy(Qt::NoFocus);
    statusLine->setFocusPolicy(Qt::NoFocus);
    Text1->setFocus();

    const int clientWidth = formlayout::ToPixels(kClientArea.width, logicalDpiX());
    const int clientHeight =
        formlayout::ToPixels(kStatusLine.top + kStatusLine.height, logicalDpiY());
    client->setMinimumSize(clientWidth, clientHeight);
    resize(clientWidth, clientHeight + menuBar()->sizeHint().height());
}

void Form1::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    Exit = file->addAction(QStringLiteral("&Exit"));
    connect(Exit, &QAction::triggered, this, &QWidget::close);

    QMenu* configure = menuBar()->addMenu(QStringLiteral("&Configure"));
    SerialPort = configure->addAction(QStringLiteral("&Serial Port"));
    RadioAddress = configure->addAction(QStringLiteral("&Radioaddress"));
    connect(SerialPort, &QAction::triggered, this, &Form1::ShowSerialPortDialog);
    connect(RadioAddress, &QAction::triggered, this, &Form1::ShowRadioDialog);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    About = help->addAction(QStringLiteral("About"));
    connect(About, &QAction::triggered, this, &Form1::ShowAboutDialog);
}

void Form1::Load() {
    QStringList notices;
    const StoredSettings settings = store.Load(&notices);
    link.comPort = settings.comPort;
    link.baudRate = settings.baudRate;
    Text2->setText(settings.chirpTime);
    link.radioAdress = settings.radioAdress;
    for (const QString& notice : notices) {
        ShowMessage(notice);
    }
    // A port that cannot be opened is reported; the window is shown all the same and the user
    // can pick another port in Configure > Serial Port.
    if (Status opened = link.OpenPort(); !opened.IsOk()) {
        ShowMessage(opened.Message());
    }
    UpdateStatusLine();
}

StoredSettings Form1::CurrentSettings() const {
    StoredSettings settings;
    settings.comPort = link.comPort;
    settings.baudRate = link.baudRate;
    settings.chirpTime = Text2->text();
    settings.radioAdress = link.radioAdress;
    return settings;
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded) {
        unloaded = true;
        const Status saved = store.Save(CurrentSettings());
        // Stop the sweep and end any wait for the radio; the port is released now, not when
        // the last window goes.
        scheduler->Stop();
        Timer1->onTick = nullptr;
        link.Shutdown();
        statusRefresh.stop();
        if (form2) {
            form2->close();
        }
        if (form3) {
            form3->close();
        }
        if (!saved.IsOk()) {
            // Shown after the window is gone; the program ends when the box is closed.
            ShowMessage(saved.Message());
        }
    }
    event->accept();
}

void Form1::ShowMessage(const QString& text) {
    messages->Show(text);
}

Form2* Form1::SerialPortDialog() const {
    return form2;
}

Form3* Form1::RadioDialog() const {
    return form3;
}

frmAbout* Form1::AboutDialog() const {
    return about;
}

void Form1::ShowSerialPortDialog() {
    if (!form2) {
        form2 = new Form2(*this);
    }
    form2->show();
    form2->raise();
    form2->activateWindow();
}

void Form1::ShowRadioDialog() {
    if (!form3) {
        form3 = new Form3(*this);
    }
    form3->show();
    form3->raise();
    form3->activateWindow();
}

void Form1::ShowAboutDialog() {
    if (!about) {
        about = new frmAbout();
    }
    about->show();
    about->raise();
    about->activateWindow();
}

void Form1::UpdateStatusLine() {
    QStringList lines;
    const QString device = link.Device();
    const QString port = device.isEmpty() || device == link.comPort
                             ? link.comPort
                             : QStringLiteral("%1 (%2)").arg(link.comPort, device);
    if (link.PortIsOpen()) {
        lines << QStringLiteral("Port %1 at %2 bit/s: open.").arg(port, link.baudRate);
    } else if (link.IsReopening()) {
        lines << QStringLiteral("Port %1: gone, trying again every 2 s.").arg(port);
    } else {
        lines << QStringLiteral("Port %1: not open%2").arg(port, ShortReason(link.PortProblem()));
    }
    statusLine->setToolTip(link.PortProblem());
    const QString address = QString::number(link.radioAdress, 16).toUpper();
    if (link.RadioRefusing()) {
        lines << QStringLiteral("Radio at %1: refuses commands (NG).").arg(address);
    } else if (!link.RadioAnswering()) {
        lines << QStringLiteral("Radio at %1: not answering.").arg(address);
    } else {
        lines << QStringLiteral("Radio at address %1.").arg(address);
    }
    switch (scheduler->CurrentPhase()) {
    case SweepScheduler::Phase::Idle:
        lines << QStringLiteral("Press Start to follow the sounder.");
        break;
    case SweepScheduler::Phase::Waiting: {
        double wait = scheduler->NextStepTime() - options.clock();
        if (wait < -43200) {
            wait += 86400;
        }
        lines << QStringLiteral("Next sweep in %1.").arg(FormatCountdown(std::max(wait, 0.0)));
        break;
    }
    case SweepScheduler::Phase::Stepping:
        lines << QStringLiteral("Following %1 kHz.")
                     .arg(civ::FormatKilohertz(
                         std::min(scheduler->StepFrequency(), std::int32_t{30000000})));
        break;
    }
    if (!lastNotice.isEmpty()) {
        lines << lastNotice;
    }
    statusLine->setText(lines.join(QLatin1Char('\n')));
}
