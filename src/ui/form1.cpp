#include "ui/form1.h"

#include "geo/position.h"
#include "station/followplan.h"
#include "station/stationfeed.h"
#include "sweep/schedule.h"
#include "sweep/utcclock.h"
#include "ui/audiodialog.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/formlayout.h"
#include "ui/frmabout.h"
#include "ui/heardwindow.h"
#include "ui/ionogramwindow.h"
#include "ui/messagequeue.h"
#include "ui/propagationwindow.h"
#include "ui/publishdialog.h"
#include "ui/rigdialog.h"
#include "ui/sounderdialog.h"
#include "ui/statusline.h"
#include "web/webface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QMenuBar>
#include <QScreen>
#include <QUrl>
#include <QWindow>
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

std::optional<geo::Position> PositionIn(const QString& text) {
    return geo::ParsePosition(text.trimmed().toStdString()).position;
}

} // namespace

Form1::Form1(Options opts, QWidget* parent)
    : QMainWindow(parent), options(std::move(opts)),
      clock(options.clock ? options.clock
                          : std::function<double()>(&sweep::SecondsSinceUtcMidnight)),
      // The station runs on a thread of its own, so painting, a modal dialog or reading an
      // archive never holds a step up.
      engine(std::make_unique<Engine>(options.clock)), store(options.settingsFile),
      savedSounders(store.Sounders()), messages(std::make_unique<MessageQueue>(this)) {
    setWindowTitle(QStringLiteral("Tavmirok (BETA)"));
    // Saved in Configure > Sounder or Sounders Heard: the station names their sweeps at once.
    connect(&savedSounders, &SavedSounders::Changed, this, &Form1::FollowSavedSounders);
    BuildControls();
    BuildMenus();

    StationFeed& feed = Feed();
    connect(StartButton, &QPushButton::clicked, &feed, &StationFeed::Start);
    connect(Text2, &QLineEdit::textChanged, &feed, &StationFeed::SetChirpText);
    connect(&feed, &StationFeed::Problem, this, &Form1::ShowMessage);
    connect(&feed, &StationFeed::Connected, this, [this](const Status& outcome, quint64 request) {
        // The Serial Port dialog tells its own.
        if (connectsAsked.erase(request) > 0 && !outcome.IsOk()) {
            ShowMessage(outcome.Message());
        }
    });
    connect(&feed, &StationFeed::Notice, this, [this](const QString& text) {
        lastNotice = text;
        UpdateStatusLine();
    });
    connect(&feed, &StationFeed::DisplayText, Text1, &QLineEdit::setText);
    feed.SetChirpText(Text2->text());
    connect(&feed, &StationFeed::StateChanged, this, &Form1::ShowState);

    statusRefresh.setInterval(kStatusRefresh);
    connect(&statusRefresh, &QTimer::timeout, this, &Form1::UpdateStatusLine);
    statusRefresh.start();
}

Form1::~Form1() {
    publisher.reset(); // the status goes offline
    webFace.reset();
    // Dialogs act on the station: they must not outlive it.
    delete form2.data();
    delete form3.data();
    delete heardWindow.data();
    engine.reset();
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
    Text2->setToolTip(QStringLiteral("Set to same time as in Orblenta Ionogram: the second of the "
                                     "sweep period at which the sounder starts"));
    chirpToolTip = Text2->toolTip();
    formlayout::Place(Text2, kText2);

    StartButton = new QPushButton(QStringLiteral("Start"), client);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    StartButton->setAutoDefault(false);
    formlayout::Place(StartButton, kStartButton);

    statusLine = new QLabel(client);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLine->setWordWrap(true);
    statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Plain text, not selectable: the countdown changes it every second while the sweep is
    // awaited, and a selectable label lays out a whole text document each time (0.13 % of a
    // core against 0.09 % measured). The whole port message is in the tooltip.
    statusLine->setTextFormat(Qt::PlainText);
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
    // Access keys: S and R are taken by the two above.
    Sounder = configure->addAction(QStringLiteral("S&ounder..."));
    RigControl = configure->addAction(QStringLiteral("Rig &Control..."));
    connect(SerialPort, &QAction::triggered, this, &Form1::ShowSerialPortDialog);
    connect(RadioAddress, &QAction::triggered, this, &Form1::ShowRadioDialog);
    connect(Sounder, &QAction::triggered, this, &Form1::ShowSounderDialog);
    connect(RigControl, &QAction::triggered, this, &Form1::ShowRigDialog);
    AudioInput = configure->addAction(QStringLiteral("&Audio Input..."));
    connect(AudioInput, &QAction::triggered, this, &Form1::ShowAudioDialog);
    Publishing = configure->addAction(QStringLiteral("&Publishing..."));
    connect(Publishing, &QAction::triggered, this, &Form1::ShowPublishDialog);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    IonogramView = view->addAction(QStringLiteral("&Ionogram"));
    connect(IonogramView, &QAction::triggered, this, &Form1::ShowIonogramWindow);
    PropagationView = view->addAction(QStringLiteral("&Propagation"));
    connect(PropagationView, &QAction::triggered, this, &Form1::ShowPropagationWindow);
    HeardView = view->addAction(QStringLiteral("&Sounders Heard"));
    connect(HeardView, &QAction::triggered, this, &Form1::ShowHeardWindow);
    view->addSeparator();
    OpenInBrowser = view->addAction(QStringLiteral("Open in &Browser"));
    OpenInBrowser->setEnabled(false);
    OpenInBrowser->setToolTip(QStringLiteral("The station's page is served when the settings "
                                             "file's group [web] gives an Address."));
    connect(OpenInBrowser, &QAction::triggered, this, [this] {
        if (webFace) {
            QDesktopServices::openUrl(QUrl(webFace->Url()));
        }
    });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    About = help->addAction(QStringLiteral("About"));
    connect(About, &QAction::triggered, this, &Form1::ShowAboutDialog);
}

void Form1::Load() {
    // What loading has to say waits until the window is on screen (it is shown right after
    // loading) and placed, so the boxes appear over it and not on their own in a corner. A
    // window that is not shown by then lets them out at once.
    messages->Hold();
    QTimer::singleShot(0, this, [this] {
        if (!isVisible()) {
            messages->Release();
        }
    });
    QStringList notices;
    const StationSettings settings = store.Load(&notices);
    savedSounders.Reload();
    Feed().Apply(settings);
    StartPublisher(settings);
    Text2->setText(settings.basic.chirpTime);
    for (const QString& notice : notices) {
        ShowMessage(notice);
    }
    // A port that cannot be opened is reported (Connected); the window is shown all the same and
    // the user can pick another port in Configure > Serial Port.
    connectsAsked.insert(Feed().Connect());
    // The window shows the settings in force from its first paint, and what loading and the
    // port have to say is queued before it is shown.
    Feed().Sync();
    ShowState();
    ServeWeb(settings.web);
    UpdateStatusLine();
}

void Form1::ServeWeb(const WebChoice& choice) {
    if (choice.address.isEmpty()) {
        return;
    }
    const auto refuse = [this](const QString& why) {
        ShowMessage(QStringLiteral("The station's page is not served: %1 Correct the group [web] "
                                   "in %2 and start Tavmirok again.")
                        .arg(why, store.Location()));
    };
    const auto address = web::ParseListenAddress(choice.address);
    if (!address) {
        refuse(QStringLiteral("the address \"%1\" is not [ADDRESS:]PORT (a port from 1 to "
                              "65535, an IPv6 address in brackets).")
                   .arg(choice.address));
        return;
    }
    QByteArray token;
    if (!choice.tokenFile.isEmpty()) {
        QString refusal;
        token = web::ReadTokenFile(choice.tokenFile, &refusal);
        if (!refusal.isEmpty()) {
            refuse(refusal.left(1).toUpper() + refusal.mid(1));
            return;
        }
    }
    webFace = web::FaceOf(&Feed());
    webFace->SetToken(token);
    if (const QString failed = webFace->Listen(address->address, address->port);
        !failed.isEmpty()) {
        webFace.reset();
        refuse(QStringLiteral("%1 port %2 cannot be listened on (%3).")
                   .arg(address->address.toString())
                   .arg(address->port)
                   .arg(failed));
        return;
    }
    OpenInBrowser->setEnabled(true);
    OpenInBrowser->setToolTip(webFace->Url());
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (QWindow* window = windowHandle(); window && !exposeWatched) {
        exposeWatched = true;
        window->installEventFilter(this);
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Exposed means mapped, and under a window manager also placed: a box centred on the window
    // now lands over it.
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        watched->removeEventFilter(this);
        messages->Release();
    }
    return QMainWindow::eventFilter(watched, event);
}

StoredSettings Form1::CurrentSettings() const {
    StoredSettings settings = Feed().Snap().stored;
    settings.chirpTime = Text2->text();
    return settings;
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded) {
        unloaded = true;
        const Status saved = store.Save(CurrentSettings());
        // Stop the sweep and end any wait for the radio; the port is released now, not when
        // the last window goes.
        Feed().Shutdown();
        statusRefresh.stop();
        if (form2) {
            form2->close();
        }
        if (form3) {
            form3->close();
        }
        for (QWidget* dialog : {sounderDialog.data(), rigDialog.data(), audioDialog.data(),
                                static_cast<QWidget*>(ionogramWindow.data()),
                                static_cast<QWidget*>(propagationWindow.data()),
                                static_cast<QWidget*>(heardWindow.data())}) {
            if (dialog) {
                dialog->close();
            }
        }
        if (!saved.IsOk()) {
            // Shown after the window is gone, in a box of its own that keeps the program
            // running until the user closes it.
            messages->Detach();
            ShowMessage(saved.Message());
        }
    }
    event->accept();
}

template <typename Group> void Form1::SaveGroup(const Group& group) {
    if (const Status saved = store.Save(group); !saved.IsOk()) {
        ShowMessage(saved.Message());
    }
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

RigDialog* Form1::RigControlDialog() const {
    return qobject_cast<RigDialog*>(rigDialog.data());
}

HeardWindow* Form1::SoundersHeardWindow() const {
    return heardWindow;
}

void Form1::ShowSerialPortDialog() {
    if (!form2) {
        form2 = new Form2(Feed());
    }
    form2->show();
    form2->raise();
    form2->activateWindow();
}

void Form1::ShowRadioDialog() {
    if (!form3) {
        form3 = new Form3(Feed());
    }
    form3->show();
    form3->raise();
    form3->activateWindow();
}

void Form1::Raise(QWidget* dialog) {
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void Form1::FollowSavedSounders() {
    Feed().SetSavedSounders(savedSounders.List());
}

StationSettings Form1::WithSaved(const std::vector<SavedSounder>& saved) const {
    QStringList ignored; // told when the settings were loaded
    StationSettings settings = store.Load(&ignored);
    const feed::Snapshot now = Feed().Snap();
    settings.basic = now.stored;
    settings.basic.chirpTime = Text2->text();
    settings.rig = now.rigChoice;
    settings.ionogram = now.ionogram;
    settings.saved = saved;
    return settings;
}

void Form1::ApplyFollowed(const std::vector<SavedSounder>& saved) {
    Feed().FollowMarked(WithSaved(saved));
}

void Form1::ShowState() {
    Label3->setText(PhaseLabel(Feed().Snap().phase));
    ShowFollowed();
    UpdateStatusLine();
}

void Form1::ShowFollowed() {
    const feed::Snapshot now = Feed().Snap();
    QStringList names;
    if (now.plan) {
        for (const feed::Sounder& s : now.followed) {
            names << s.name;
        }
    }
    if (shownFollowed == names) {
        return;
    }
    shownFollowed = names;
    Text2->setEnabled(names.isEmpty());
    Text2->setToolTip(names.isEmpty()
                          ? chirpToolTip
                          : QStringLiteral("Following the saved sounders %1 at their own chirp "
                                           "times. Untick Follow in Configure > Sounder... to use "
                                           "this chirp time again.")
                                .arg(names.join(QStringLiteral(", "))));
    if (ionogramWindow) {
        ionogramWindow->SetSounders(names);
    }
}

void Form1::ShowSounderDialog() {
    if (!sounderDialog) {
        const sweep::Profile profile = Feed().Snap().profile;
        const std::optional<double> chirp =
            sweep::ParseChirpTime(Text2->text(), QLocale(), profile.period);
        savedSounders.Reload(); // the file may have been edited by hand
        auto* dialog = new SounderDialog(profile, chirp.value_or(0), savedSounders, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->SetFollowCheck([this](const std::vector<SavedSounder>& saved) {
            return CheckFollowed(WithSaved(saved));
        });
        connect(dialog, &SounderDialog::followAccepted, this, &Form1::ApplyFollowed);
        connect(dialog, &SounderDialog::profileAccepted, this,
                [this](const sweep::Profile& profile, std::optional<double> chirpTime) {
                    // The sounder's settings are kept as soon as they are chosen.
                    SaveGroup(profile);
                    if (chirpTime) {
                        Text2->setText(QLocale().toString(*chirpTime, 'g', 12));
                    }
                    FollowSavedSounders(); // the dialog may have saved one meanwhile
                    Feed().ApplyProfile(profile);
                });
        sounderDialog = dialog;
    }
    Raise(sounderDialog);
}

void Form1::ShowRigDialog() {
    if (!rigDialog) {
        auto* dialog = new RigDialog(Feed().Snap().rigChoice, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &RigDialog::Chosen, this, [this](const RigChoice& choice) {
            SaveGroup(choice);
            connectsAsked.insert(Feed().UseRig(choice)); // a failure is told as Connected
        });
        rigDialog = dialog;
    }
    Raise(rigDialog);
}

void Form1::ShowAudioDialog() {
    if (!audioDialog) {
        auto* dialog = new AudioDialog(Feed().Snap().ionogram, ionogram::ListAudioInputs(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &AudioDialog::choiceAccepted, this, [this](const IonogramChoice& choice) {
            SaveGroup(choice);
            Feed().ConfigureIonogram(choice);
            if (ionogramWindow) {
                ionogramWindow->SetArchiveFolder(choice.folder);
            }
            if (propagationWindow) {
                propagationWindow->SetArchiveFolder(choice.folder);
                propagationWindow->SetIaruRegion(choice.iaruRegion);
            }
        });
        audioDialog = dialog;
    }
    Raise(audioDialog);
}

void Form1::StartPublisher(const StationSettings& settings) {
    publisher.reset(); // its status goes offline
    if (!settings.publish.enabled) {
        return;
    }
    publisher = std::make_unique<network::Publisher>(network::SetupFor(settings));
    connect(publisher.get(), &network::Publisher::Problem, this, &Form1::ShowMessage);
    network::FollowFeed(Feed(), *publisher);
    QStringList followed;
    for (const SavedSounder& sounder : FollowedSounders(settings)) {
        followed << sounder.name;
    }
    publisher->SetFollowing(followed, QDateTime::currentDateTimeUtc());
    publisher->Start();
}

void Form1::ShowPublishDialog() {
    if (!publishDialog) {
        QStringList notices; // told when the window loaded
        auto* dialog = new PublishDialog(store.Load(&notices), this);
        connect(
            dialog, &PublishDialog::choiceAccepted, this,
            [this](const QString& callsign, const QString& stationAt, const PublishChoice& choice) {
                for (const Status& saved : {store.Publishing().SaveCallsign(callsign),
                                            store.SaveStationPosition(stationAt)}) {
                    if (!saved.IsOk()) {
                        ShowMessage(saved.Message());
                    }
                }
                SaveGroup(choice);
                QStringList notices;
                const StationSettings loaded = store.Load(&notices);
                // The new position takes effect at once: paths, the Propagation window.
                Feed().SetPositions(loaded.stationAt, loaded.sounderAt);
                if (propagationWindow) {
                    propagationWindow->SetStationPosition(PositionIn(loaded.stationAt));
                }
                StartPublisher(loaded);
            });
        publishDialog = dialog;
    }
    Raise(publishDialog);
}

void Form1::ShowIonogramWindow() {
    if (!ionogramWindow) {
        ionogramWindow = new IonogramWindow();
        ionogramWindow->setAttribute(Qt::WA_DeleteOnClose);
        const feed::Snapshot now = Feed().Snap();
        ionogramWindow->SetArchiveFolder(now.ionogram.folder);
        IonogramWindow* window = ionogramWindow;
        connect(&Feed(), &StationFeed::IonogramUpdated, window,
                [window](const std::shared_ptr<const ionogram::IonogramSweep>& sweep, int column) {
                    window->ShowSweep(*sweep, column);
                });
        connect(&Feed(), &StationFeed::Scaled, window, [window](const feed::Scaled& scaled) {
            window->ShowScaled(*scaled.sweep, scaled.scaled);
        });
        shownFollowed.reset();
        ShowFollowed(); // the window's sounder tabs
        for (const auto& sweep : now.ionograms) {
            // While sounders are followed, theirs; else the single sounder's.
            const bool followed =
                std::any_of(now.followed.begin(), now.followed.end(),
                            [&sweep](const feed::Sounder& s) { return s.name == sweep->sounder; });
            if (!now.plan || followed) {
                ionogramWindow->ShowSweep(*sweep, -1);
            }
        }
    }
    Raise(ionogramWindow);
}

void Form1::ShowPropagationWindow() {
    if (!propagationWindow) {
        propagationWindow = new PropagationWindow();
        propagationWindow->setAttribute(Qt::WA_DeleteOnClose);
        const feed::Snapshot now = Feed().Snap();
        propagationWindow->SetArchiveFolder(now.ionogram.folder);
        propagationWindow->SetIaruRegion(now.ionogram.iaruRegion);
        PropagationWindow* window = propagationWindow;
        connect(&Feed(), &StationFeed::Scaled, window, [window](const feed::Scaled& scaled) {
            window->ShowScaled(*scaled.sweep, scaled.scaled);
        });
        propagationWindow->SetStationPosition(now.stationAt);
        propagationWindow->ShowAudioDelaySuggestion(now.suggestedAudioDelay);
        connect(&Feed(), &StationFeed::AudioDelaySuggested, window,
                &PropagationWindow::ShowAudioDelaySuggestion);
    }
    Raise(propagationWindow);
}

void Form1::ShowHeardWindow() {
    if (!heardWindow) {
        savedSounders.Reload();
        heardWindow = new HeardWindow(Feed(), savedSounders);
        heardWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(heardWindow.data(), &HeardWindow::followClicked, this, &Form1::FollowHeard);
    }
    Raise(heardWindow);
}

void Form1::FollowHeard(const sweep::Profile& profile, double chirpTime) {
    SaveGroup(profile);
    Text2->setText(QLocale().toString(chirpTime, 'g', 12));
    Feed().ApplyProfile(profile);
    if (Feed().Snap().plan) {
        // The single sounder in place of the saved ones followed: their Follow ticks go.
        // Unreadable entries are told by Configure > Sounder; the list is left as it is then.
        std::vector<SavedSounder> saved = savedSounders.List();
        for (SavedSounder& s : saved) {
            s.follow = false;
        }
        if (savedSounders.Unread().isEmpty()) {
            if (const Status stored = savedSounders.Replace(saved); !stored.IsOk()) {
                ShowMessage(stored.Message());
            }
        }
        ApplyFollowed(saved);
    }
    Feed().Start(); // stops listening and arms the sweep
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
    const feed::Snapshot now = Feed().Snap();
    StatusValues values;
    values.rig = now.rig;
    values.phase = now.phase;
    values.secondsToNextStep = sweep::AroundTheDay(now.nextStepTime, clock());
    values.stepFrequency = now.stepHz;
    values.topFrequency = now.topHz;
    values.notice = lastNotice;
    values.listeningFrequency = static_cast<std::int32_t>(std::lround(now.listeningKhz * 1000));
    if (now.plan) {
        for (const feed::Sounder& s : now.followed) {
            values.followed << s.name;
        }
    }
    values.started = now.started;
    statusLine->setText(StatusLineText(values));
    statusLine->setToolTip(values.rig.problemDetail);
}
