#include "ui/heardwindow.h"

#include "core/frequencytext.h"
#include "core/units.h"
#include "station/stationfeed.h"
#include "ui/formlayout.h"
#include "ui/sounderdialog.h"

#include <QApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// What a heard sounder is saved and followed with: the band and step cannot be heard.
constexpr double kSavedLowKhz = 2000;
constexpr double kSavedHighKhz = 30000;
constexpr double kSavedStepKhz = 100;
constexpr int kVisibleRows = 5;

QString Utc(double epochSeconds) {
    return QDateTime::fromMSecsSinceEpoch(
               static_cast<qint64>(std::llround(epochSeconds * units::kMillisecondsPerSecond)),
               Qt::UTC)
        .toString(QStringLiteral("HH:mm:ss"));
}

QTableWidget* NewList(const QStringList& headers, const QString& objectName, QWidget* parent) {
    auto* list = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    list->setObjectName(objectName);
    list->setHorizontalHeaderLabels(headers);
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->horizontalHeader()->setStretchLastSection(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // widened to fit instead
    const int rowHeight = list->verticalHeader()->defaultSectionSize();
    list->setMinimumHeight(list->horizontalHeader()->sizeHint().height() +
                           rowHeight * kVisibleRows + 2 * list->frameWidth());
    return list;
}

// Widens the list to show every column whole, as the rows now need.
void FitColumns(QTableWidget* list) {
    int width = 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < list->columnCount(); ++column) {
        if (!list->isColumnHidden(column)) {
            width += std::max(static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column),
                              list->horizontalHeader()->sectionSizeHint(column));
        }
    }
    list->setMinimumWidth(width);
}

void SetCell(QTableWidget* list, int row, int column, const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(column == HeardWindow::kName ? Qt::AlignLeft | Qt::AlignVCenter
                                                        : Qt::AlignRight | Qt::AlignVCenter);
    list->setItem(row, column, item);
}

// Rate, timing, times heard, SNR, last heard and the frequency listened on.
void ShowFigures(QTableWidget* list, int row, const ionogram::HeardSounder& s, double khz) {
    SetCell(list, row, HeardWindow::kRate, QString::number(s.rateKhzPerS, 'g', 12));
    SetCell(list, row, HeardWindow::kTiming, HeardWindow::Timing(s));
    SetCell(list, row, HeardWindow::kHeard, QString::number(s.heard));
    SetCell(list, row, HeardWindow::kSnr, QString::number(s.snrDb, 'f', 1));
    SetCell(list, row, HeardWindow::kLastHeard, Utc(s.lastHeard));
    SetCell(list, row, HeardWindow::kListenedOn, QString::number(khz, 'g', 12));
}

} // namespace

HeardWindow::HeardWindow(StationFeed& stationFeed, SavedSounders& savedSounders, QWidget* parent)
    : QWidget(parent), feed(stationFeed), saved(savedSounders) {
    setWindowTitle(QStringLiteral("Sounders Heard"));

    frequencies = new QLineEdit(this);
    frequencies->setObjectName(QStringLiteral("frequencies"));
    frequencies->setPlaceholderText(QStringLiteral("7000"));
    frequencies->setToolTip(QStringLiteral(
        "The frequency to listen on, in kHz: one that propagation supports at this hour, away "
        "from strong stations. Several separated by commas are listened to in turn."));
    listenButton =
        formlayout::NewButton(QStringLiteral("&Listen"), QStringLiteral("listenButton"), this);
    stopButton = formlayout::NewButton(QStringLiteral("S&top"), QStringLiteral("stopButton"), this);
    auto* frequencyLabel = new QLabel(QStringLiteral("&Frequency (kHz)"), this);
    frequencyLabel->setBuddy(frequencies);
    auto* controls = new QHBoxLayout;
    controls->addWidget(frequencyLabel);
    controls->addWidget(frequencies, 1);
    controls->addWidget(listenButton);
    controls->addWidget(stopButton);
    state = new QLabel(this);
    state->setObjectName(QStringLiteral("state"));
    state->setWordWrap(true);

    auto* confirmedBox = new QGroupBox(QStringLiteral("Sounders confirmed"), this);
    confirmedList = NewList({QStringLiteral("Saved as"), QStringLiteral("kHz/s"),
                             QStringLiteral("Period:chirp time"), QStringLiteral("Heard"),
                             QStringLiteral("SNR dB"), QStringLiteral("Last heard UTC"),
                             QStringLiteral("On kHz"), QString(), QString()},
                            QStringLiteral("confirmedList"), confirmedBox);
    (new QVBoxLayout(confirmedBox))->addWidget(confirmedList);
    auto* unconfirmedBox =
        new QGroupBox(QStringLiteral("Heard, not yet confirmed (three crossings a period apart "
                                     "confirm a sounder)"),
                      this);
    unconfirmedList =
        NewList({QString(), QStringLiteral("kHz/s"), QStringLiteral("Period:chirp time"),
                 QStringLiteral("Heard"), QStringLiteral("SNR dB"),
                 QStringLiteral("Last heard UTC"), QStringLiteral("On kHz")},
                QStringLiteral("unconfirmedList"), unconfirmedBox);
    unconfirmedList->hideColumn(kName);
    (new QVBoxLayout(unconfirmedBox))->addWidget(unconfirmedList);

    lsbNotice = formlayout::NewProblemLabel(this, QStringLiteral("lsbNotice"));
    problem = formlayout::NewProblemLabel(this, QStringLiteral("problem"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(state);
    layout->addWidget(confirmedBox, 1);
    layout->addWidget(unconfirmedBox, 1);
    layout->addWidget(lsbNotice);
    layout->addWidget(problem);

    refresh.setSingleShot(true);
    refresh.setInterval(0);
    connect(&refresh, &QTimer::timeout, this, &HeardWindow::Refresh);
    connect(&feed, &StationFeed::HeardGroupsChanged, &refresh, qOverload<>(&QTimer::start));
    connect(&saved, &SavedSounders::Changed, &refresh, qOverload<>(&QTimer::start));
    connect(&feed, &StationFeed::ListenProblem, this, &HeardWindow::ShowProblem);
    connect(&feed, &StationFeed::StateChanged, this, &HeardWindow::ShowState);
    connect(listenButton, &QPushButton::clicked, this, &HeardWindow::ListenClick);
    connect(stopButton, &QPushButton::clicked, this, &HeardWindow::StopClick);
    connect(frequencies, &QLineEdit::returnPressed, this, &HeardWindow::ListenClick);

    if (const double khz = feed.Snap().listeningKhz; khz > 0) {
        frequencies->setText(QString::number(khz, 'g', 12));
    }
    ShowState();
    Refresh();
}

sweep::Profile HeardWindow::ProfileOf(const ionogram::HeardSounder& sounder) {
    sweep::Profile profile;
    profile.sweepRate = sounder.rateKhzPerS;
    profile.period = sounder.periodS;
    profile.lowFrequency = kSavedLowKhz;
    profile.stepSize = kSavedStepKhz;
    // The sweep from the park frequency to the last step, with one step to spare, must fit in
    // the period.
    const double steps =
        std::floor((sounder.rateKhzPerS * sounder.periodS - kSavedStepKhz) / kSavedStepKhz + 1e-9);
    profile.highFrequency = std::min(kSavedHighKhz, kSavedLowKhz + steps * kSavedStepKhz);
    return profile;
}

double HeardWindow::ChirpTimeOf(const ionogram::HeardSounder& sounder) {
    const double chirp = std::round(sounder.chirpTimeS);
    return sounder.periodS > 0 && chirp >= sounder.periodS ? chirp - sounder.periodS : chirp;
}

QString HeardWindow::Timing(const ionogram::HeardSounder& sounder) {
    if (sounder.periodS <= 0) {
        return QStringLiteral("-");
    }
    // To the millisecond, and 299.9996 as 0.000 rather than 300.000.
    const double ms = std::round(sounder.chirpTimeS * units::kMillisecondsPerSecond);
    const double chirp = std::fmod(ms / units::kMillisecondsPerSecond, sounder.periodS);
    return QStringLiteral("%1:%2").arg(QString::number(sounder.periodS, 'g', 12),
                                       QString::number(chirp, 'f', 3));
}

const SavedSounder* HeardWindow::SavedMatch(const ionogram::HeardSounder& sounder,
                                            const std::vector<SavedSounder>& saved) {
    for (const SavedSounder& s : saved) {
        if (s.profile.sweepRate != sounder.rateKhzPerS || s.profile.period != sounder.periodS) {
            continue;
        }
        const double apart =
            std::abs(std::remainder(s.chirpTime - sounder.chirpTimeS, sounder.periodS));
        if (apart <= kSameChirpS) {
            return &s;
        }
    }
    return nullptr;
}

void HeardWindow::ListenClick() {
    std::vector<double> khz;
    if (!sweep::ParseListenList(frequencies->text(), &khz)) {
        ShowProblem(QStringLiteral("\"%1\" is not a frequency to listen on. Type it in kHz, from "
                                   "100 to 60000, such as 7000, or several separated by commas, "
                                   "such as 7000, 10100.")
                        .arg(frequencies->text()));
        return;
    }
    if (feed.Snap().ionogram.audioInput.isEmpty()) {
        ShowProblem(QStringLiteral("Listening needs the radio's audio: choose the input the "
                                   "radio is connected to in Configure > Audio Input..., then "
                                   "press Listen again."));
        return;
    }
    problem->hide();
    lsbNotice->hide();
    feed.Listen(khz);
    Refresh();
}

void HeardWindow::StopClick() {
    feed.StopListening();
}

void HeardWindow::ShowState() {
    const double khz = feed.Snap().listeningKhz;
    listenButton->setEnabled(khz == 0);
    stopButton->setEnabled(khz > 0);
    if (khz == 0) {
        state->setText(QStringLiteral("Not listening. Type a frequency and press Listen: the "
                                      "radio stays there and the sweep is not followed."));
        return;
    }
    const QString on = core::FormatKilohertz(std::round(khz * 1000)) + QStringLiteral(" kHz");
    state->setText(
        QStringLiteral("Listening on %1; the sweep is not followed. Each sounder needs three of "
                       "its periods to be confirmed (a 60 s sounder three minutes, a 720 s one "
                       "36 minutes).")
            .arg(on));
}

void HeardWindow::Refresh() {
    ShowState();
    if (asking) {
        return; // drawn anew once the question is answered
    }
    confirmedList->setRowCount(0);
    unconfirmedList->setRowCount(0);
    bool lsb = false;
    for (const feed::HeardGroup& group : feed.Snap().heardGroups) {
        lsb = lsb || group.seemsLsb;
        for (const ionogram::HeardSounder& s : group.confirmed) {
            const int row = confirmedList->rowCount();
            confirmedList->insertRow(row);
            const SavedSounder* match = SavedMatch(s, saved.List());
            SetCell(confirmedList, row, kName, match != nullptr ? match->name : QString());
            ShowFigures(confirmedList, row, s, group.listenKhz);
            auto* save = new QPushButton(QStringLiteral("Save..."), confirmedList);
            save->setToolTip(QStringLiteral("Saves this sounder by name in Configure > Sounder, "
                                            "as 2 to 30 MHz in 100 kHz steps: edit the band "
                                            "there if you know it."));
            auto* follow = new QPushButton(QStringLiteral("Follow"), confirmedList);
            follow->setToolTip(QStringLiteral("Stops listening and follows this sounder: its "
                                              "sweep and the whole second of its chirp time "
                                              "are put in force."));
            connect(save, &QPushButton::clicked, this, [this, s] { SaveClick(s); });
            connect(follow, &QPushButton::clicked, this, [this, s] { FollowClick(s); });
            confirmedList->setCellWidget(row, kSave, save);
            confirmedList->setCellWidget(row, kFollow, follow);
        }
        for (const ionogram::HeardSounder& s : group.unconfirmed) {
            const int row = unconfirmedList->rowCount();
            unconfirmedList->insertRow(row);
            ShowFigures(unconfirmedList, row, s, group.listenKhz);
        }
    }
    FitColumns(confirmedList);
    FitColumns(unconfirmedList);
    lsbNotice->setText(QStringLiteral(
        "Sounders are heard as falling chirps only: the radio seems to be in LSB. Set it to USB; "
        "the sounders are then heard as rising chirps and listed here."));
    lsbNotice->setVisible(lsb);
}

std::optional<sweep::Profile> HeardWindow::Followable(const ionogram::HeardSounder& sounder) {
    const sweep::Profile profile = ProfileOf(sounder);
    if (const Status valid = sweep::ValidateProfile(profile); !valid.IsOk()) {
        ShowProblem(QStringLiteral("The radio cannot follow the sounder %1 at %2 kHz/s as 2 to "
                                   "30 MHz in 100 kHz steps: %3")
                        .arg(Timing(sounder), QString::number(sounder.rateKhzPerS, 'g', 12),
                             valid.Message()));
        return std::nullopt;
    }
    return profile;
}

void HeardWindow::SaveClick(ionogram::HeardSounder sounder) {
    const std::optional<sweep::Profile> profile = Followable(sounder);
    if (!profile) {
        return;
    }
    const SavedSounder* match = SavedMatch(sounder, saved.List());
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("nameDialog"));
    ask.setWindowTitle(QStringLiteral("Save Sounder"));
    ask.setLabelText(QStringLiteral("A name for the sounder %1 at %2 kHz/s, such as its place or "
                                    "call sign:")
                         .arg(Timing(sounder), QString::number(sounder.rateKhzPerS, 'g', 12)));
    ask.setTextValue(match != nullptr ? match->name : QString());
    asking = true;
    const bool named = ask.exec() == QDialog::Accepted;
    asking = false;
    refresh.start(); // the lists as they now are
    if (!named) {
        return;
    }
    // The list as it is now: it may have changed while the name was asked.
    std::vector<SavedSounder> list = saved.List();
    if (!saved.Unread().isEmpty()) {
        // Writing the list now would drop the entries that cannot be read.
        ShowProblem(saved.Unread().join(QLatin1Char('\n')) +
                    QStringLiteral("\nNothing was saved, so that nothing is lost: mend or delete "
                                   "that sounder in Configure > Sounder... first."));
        return;
    }
    SavedSounder heard;
    heard.name = ask.textValue().trimmed();
    heard.chirpTime = ChirpTimeOf(sounder);
    heard.profile = *profile;
    if (heard.name.isEmpty()) {
        ShowProblem(QStringLiteral("Nothing was saved: type a name for the sounder, such as its "
                                   "place or call sign."));
        return;
    }
    const auto calledSo = [&heard](const SavedSounder& s) { return s.name == heard.name; };
    auto same = std::find_if(list.begin(), list.end(), calledSo);
    if (same != list.end()) {
        QMessageBox replace(QMessageBox::Question, QStringLiteral("Save Sounder"),
                            QStringLiteral("A saved sounder is already called \"%1\" (%2). "
                                           "Replace it with the sounder heard?")
                                .arg(heard.name, SounderDialog::Describe(*same)),
                            QMessageBox::Yes | QMessageBox::No, this);
        replace.setDefaultButton(QMessageBox::No);
        asking = true;
        const bool replacing = replace.exec() == QMessageBox::Yes;
        asking = false;
        refresh.start(); // the lists as they now are
        if (!replacing) {
            return;
        }
        list = saved.List(); // as it is after the question
        same = std::find_if(list.begin(), list.end(), calledSo);
    }
    if (same != list.end()) {
        heard.follow = same->follow; // replacing keeps its Follow tick, as the dialog does
        *same = heard;
    } else {
        list.push_back(heard);
    }
    if (const Status stored = saved.Replace(list); !stored.IsOk()) {
        ShowProblem(stored.Message());
        return;
    }
    problem->hide();
    Refresh();
}

void HeardWindow::FollowClick(const ionogram::HeardSounder& sounder) {
    const std::optional<sweep::Profile> profile = Followable(sounder);
    if (!profile) {
        return;
    }
    problem->hide();
    emit followClicked(*profile, ChirpTimeOf(sounder));
}

void HeardWindow::ShowProblem(const QString& text) {
    problem->setText(text);
    problem->show();
}
