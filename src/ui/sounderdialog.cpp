#include "ui/sounderdialog.h"

#include "core/units.h"
#include "geo/knownsites.h"
#include "sweep/listeningplan.h"
#include "sweep/schedule.h"
#include "ui/formlayout.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace {

// A value of the sweep as the user types it, for messages.
struct Entry {
    const char* what;
    const char* unit;
    const char* example;
};
constexpr Entry kRate{"sweep rate", "kHz/s", "100"};
constexpr Entry kPeriod{"period", "seconds", "300"};
constexpr Entry kLow{"low frequency", "MHz", "2"};
constexpr Entry kHigh{"high frequency", "MHz", "30"};
constexpr Entry kStep{"step size", "kHz", "100"};
constexpr Entry kDelayFrom{"delay shown from", "milliseconds", "20"};
constexpr Entry kDelayTo{"delay shown to", "milliseconds", "40"};
constexpr int kSiteDecimals = 4; // as the known sites are published, about 10 m

// "The sweep rate "fast" is not a number. Type it in kHz/s, for example 100."
QString NotANumber(const Entry& entry, const QString& text) {
    return QStringLiteral("The %1 \"%2\" is not a number. Type it in %3, for example %4.")
        .arg(QLatin1String(entry.what), text, QLatin1String(entry.unit),
             QLatin1String(entry.example));
}

QString ShownNumber(double value, const QLocale& locale) {
    QString text = FormatDecimal(value);
    return text.replace(u'.', locale.decimalPoint());
}

} // namespace

SounderDialog::SounderDialog(const sweep::Profile& profile, double chirpTime,
                             SavedSounders& savedSounders, QWidget* parent)
    : QDialog(parent), model(savedSounders) {
    setWindowTitle(QStringLiteral("Sounder"));

    sweepRate = formlayout::NewEdit(QStringLiteral("sweepRate"), QString(), this);
    period = formlayout::NewEdit(QStringLiteral("period"), QString(), this);
    lowFrequency = formlayout::NewEdit(QStringLiteral("lowFrequency"), QString(), this);
    highFrequency = formlayout::NewEdit(QStringLiteral("highFrequency"), QString(), this);
    stepSize = formlayout::NewEdit(QStringLiteral("stepSize"), QString(), this);
    auto* values = new QFormLayout;
    values->addRow(QStringLiteral("Sweep rate (kHz/s)"), sweepRate);
    values->addRow(QStringLiteral("Period (s)"), period);
    values->addRow(QStringLiteral("Low frequency, parked (MHz)"), lowFrequency);
    values->addRow(QStringLiteral("High frequency, last step (MHz)"), highFrequency);
    values->addRow(QStringLiteral("Step size (kHz)"), stepSize);

    auto* savedBox = new QGroupBox(QStringLiteral("Saved sounders"), this);
    savedList = new QListWidget(savedBox);
    savedList->setObjectName(QStringLiteral("savedList"));
    // Wide enough for a typical line in full.
    SavedSounder typical;
    typical.name = QStringLiteral("Station name");
    typical.chirpTime = 1800;
    typical.profile = {100, 3600, 2000, 30000, 100};
    typical.delays = DelayRange{20, 40};
    savedList->setMinimumWidth(savedList->fontMetrics().horizontalAdvance(Describe(typical)) +
                               savedList->fontMetrics().averageCharWidth() * 4);
    savedName = formlayout::NewEdit(QStringLiteral("savedName"), QString(), savedBox);
    savedChirpTime = formlayout::NewEdit(QStringLiteral("savedChirpTime"),
                                         ShownNumber(chirpTime, locale), savedBox);
    savedDelayFrom = formlayout::NewEdit(QStringLiteral("savedDelayFrom"), QString(), savedBox);
    savedDelayTo = formlayout::NewEdit(QStringLiteral("savedDelayTo"), QString(), savedBox);
    for (QLineEdit* edit : {savedDelayFrom, savedDelayTo}) {
        edit->setPlaceholderText(QStringLiteral("ionogram's"));
        edit->setToolTip(QStringLiteral("The delays this sounder's ionogram shows, such as 20 to "
                                        "40 ms for a far one; leave both empty for the delays of "
                                        "Configure > Audio Input"));
    }
    knownSites = new QComboBox(savedBox);
    knownSites->setObjectName(QStringLiteral("knownSites"));
    knownSites->addItem(QStringLiteral("Pick a known site..."));
    for (const geo::KnownSite& site : geo::KnownSounderSites()) {
        knownSites->addItem(QString::fromUtf8(site.name));
        knownSites->setItemData(knownSites->count() - 1, QString::fromUtf8(site.source),
                                Qt::ToolTipRole);
    }
    savedSite = formlayout::NewEdit(QStringLiteral("savedSite"), QString(), savedBox);
    savedSite->setPlaceholderText(QStringLiteral("where it stands, such as Cyprus"));
    savedAt = formlayout::NewEdit(QStringLiteral("savedAt"), QString(), savedBox);
    savedAt->setPlaceholderText(QStringLiteral("unknown"));
    savedAt->setToolTip(QStringLiteral("A locator such as KM64 or a latitude and longitude such "
                                       "as 35.19,33.38; leave it empty when unknown"));
    for (QLineEdit* edit : {savedSite, savedAt}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { placeEdited = true; });
    }
    auto* savedDelays = new QHBoxLayout;
    savedDelays->addWidget(savedDelayFrom);
    savedDelays->addWidget(new QLabel(QStringLiteral("to"), savedBox));
    savedDelays->addWidget(savedDelayTo);
    auto* savedValues = new QFormLayout;
    savedValues->addRow(QStringLiteral("Name"), savedName);
    savedValues->addRow(QStringLiteral("Chirp time (s)"), savedChirpTime);
    savedValues->addRow(QStringLiteral("Delays shown (ms)"), savedDelays);
    savedValues->addRow(QStringLiteral("Known sites"), knownSites);
    savedValues->addRow(QStringLiteral("Site"), savedSite);
    savedValues->addRow(QStringLiteral("Position (locator or LAT,LON)"), savedAt);
    saveButton =
        formlayout::NewButton(QStringLiteral("Save"), QStringLiteral("saveButton"), savedBox);
    renameButton =
        formlayout::NewButton(QStringLiteral("Rename"), QStringLiteral("renameButton"), savedBox);
    deleteButton =
        formlayout::NewButton(QStringLiteral("Delete"), QStringLiteral("deleteButton"), savedBox);
    auto* savedButtons = new QHBoxLayout;
    savedButtons->addWidget(saveButton);
    savedButtons->addWidget(renameButton);
    savedButtons->addWidget(deleteButton);
    savedButtons->addStretch();
    auto* savedLayout = new QVBoxLayout(savedBox);
    auto* followHint = new QLabel(
        QStringLiteral("Tick Follow for each sounder the radio follows together (up to %1).")
            .arg(sweep::kMostFollowed),
        savedBox);
    followHint->setWordWrap(true);
    savedLayout->addWidget(followHint);
    savedLayout->addWidget(savedList);
    savedLayout->addLayout(savedValues);
    savedLayout->addLayout(savedButtons);

    problem = formlayout::NewProblemLabel(this, QStringLiteral("problem"));
    QHBoxLayout* buttons = formlayout::NewOkCancelRow(this, &okButton, &cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(values);
    layout->addWidget(savedBox);
    layout->addWidget(problem);
    layout->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, &SounderDialog::OkClick);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &SounderDialog::SaveClick);
    connect(renameButton, &QPushButton::clicked, this, &SounderDialog::RenameClick);
    connect(deleteButton, &QPushButton::clicked, this, &SounderDialog::DeleteClick);
    connect(savedList, &QListWidget::currentRowChanged, this, &SounderDialog::Pick);
    connect(savedList, &QListWidget::itemChanged, this, &SounderDialog::FollowToggled);
    connect(knownSites, &QComboBox::activated, this, &SounderDialog::PickKnownSite);

    Show(profile);
    saved = model.List();
    if (!model.Unread().isEmpty()) {
        ShowProblem(model.Unread().join(QLatin1Char('\n')));
    }
    ListSaved();
    connect(&model, &SavedSounders::Changed, this, &SounderDialog::TakeSaved);
}

SounderDialog::Read SounderDialog::ReadProfile(const QString& rate, const QString& period,
                                               const QString& low, const QString& high,
                                               const QString& step, const QLocale& locale) {
    const std::array<std::pair<const Entry*, const QString*>, 5> texts{
        {{&kRate, &rate}, {&kPeriod, &period}, {&kLow, &low}, {&kHigh, &high}, {&kStep, &step}}};
    std::array<double, 5> values{};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto& [entry, text] = texts[i];
        const std::optional<double> value = ParseDecimal(*text, locale);
        if (!value) {
            return {std::nullopt, NotANumber(*entry, *text)};
        }
        values[i] = *value;
    }
    // Frequencies typed in MHz are kept to the hertz, so 2.1 MHz is 2100 kHz exactly.
    const auto kilohertz = [](double megahertz) {
        return std::round(megahertz * units::kHertzPerMegahertz) / units::kHertzPerKilohertz;
    };
    return {
        sweep::Profile{values[0], values[1], kilohertz(values[2]), kilohertz(values[3]), values[4]},
        QString()};
}

SounderDialog::ReadDelays SounderDialog::ReadDelayRange(const QString& from, const QString& to,
                                                        const QLocale& locale) {
    if (from.trimmed().isEmpty() && to.trimmed().isEmpty()) {
        return {std::nullopt, QString()};
    }
    DelayRange delays;
    for (const auto& [entry, text, value] : {std::tuple{&kDelayFrom, &from, &delays.fromMs},
                                             std::tuple{&kDelayTo, &to, &delays.toMs}}) {
        const std::optional<double> number = ParseDecimal(*text, locale);
        if (!number) {
            return {std::nullopt,
                    NotANumber(*entry, *text) +
                        QStringLiteral(" Leave both delays empty to show the ionogram's.")};
        }
        *value = *number;
    }
    if (const QString refusal = DelayRangeRefusal(delays); !refusal.isEmpty()) {
        return {std::nullopt, refusal};
    }
    return {delays, QString()};
}

QString SounderDialog::Describe(const SavedSounder& sounder) {
    const QLocale c = QLocale::c();
    const sweep::Profile& p = sounder.profile;
    const QString delays = sounder.delays ? QStringLiteral("  %1 to %2 ms")
                                                .arg(ShownNumber(sounder.delays->fromMs, c),
                                                     ShownNumber(sounder.delays->toMs, c))
                                          : QString();
    return QStringLiteral("%1  %2:%3  %4 kHz/s  %5 to %6 MHz  %7 kHz steps%8")
        .arg(sounder.name, ShownNumber(p.period, c), ShownNumber(sounder.chirpTime, c),
             ShownNumber(p.sweepRate, c),
             ShownNumber(p.lowFrequency / units::kKilohertzPerMegahertz, c),
             ShownNumber(p.highFrequency / units::kKilohertzPerMegahertz, c),
             ShownNumber(p.stepSize, c), delays);
}

void SounderDialog::Show(const sweep::Profile& profile) {
    sweepRate->setText(ShownNumber(profile.sweepRate, locale));
    period->setText(ShownNumber(profile.period, locale));
    lowFrequency->setText(
        ShownNumber(profile.lowFrequency / units::kKilohertzPerMegahertz, locale));
    highFrequency->setText(
        ShownNumber(profile.highFrequency / units::kKilohertzPerMegahertz, locale));
    stepSize->setText(ShownNumber(profile.stepSize, locale));
}

void SounderDialog::ListSaved() {
    const QSignalBlocker quiet(savedList); // filling the list toggles nothing
    savedList->clear();
    for (const SavedSounder& sounder : saved) {
        auto* item = new QListWidgetItem(Describe(sounder), savedList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(sounder.follow ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(QStringLiteral("Follow: tick to follow %1 with the other sounders ticked")
                             .arg(sounder.name));
    }
}

void SounderDialog::FollowToggled(QListWidgetItem* item) {
    const int row = savedList->row(item);
    if (row < 0 || row >= static_cast<int>(saved.size())) {
        return;
    }
    const bool follow = item->checkState() == Qt::Checked;
    const auto followed =
        std::count_if(saved.begin(), saved.end(), [](const SavedSounder& s) { return s.follow; });
    if (follow && !saved[static_cast<std::size_t>(row)].follow &&
        followed >= sweep::kMostFollowed) {
        const QSignalBlocker quiet(savedList);
        item->setCheckState(Qt::Unchecked);
        ShowProblem(QStringLiteral("One radio follows at most %1 sounders at once. Untick one of "
                                   "them before ticking %2.")
                        .arg(sweep::kMostFollowed)
                        .arg(saved[static_cast<std::size_t>(row)].name));
        return;
    }
    saved[static_cast<std::size_t>(row)].follow = follow;
    problem->hide();
}

void SounderDialog::Pick() {
    const int row = savedList->currentRow();
    if (row < 0 || row >= static_cast<int>(saved.size())) {
        return;
    }
    const SavedSounder& sounder = saved[static_cast<std::size_t>(row)];
    Show(sounder.profile);
    savedName->setText(sounder.name);
    savedChirpTime->setText(ShownNumber(sounder.chirpTime, locale));
    savedDelayFrom->setText(sounder.delays ? ShownNumber(sounder.delays->fromMs, locale)
                                           : QString());
    savedDelayTo->setText(sounder.delays ? ShownNumber(sounder.delays->toMs, locale) : QString());
    savedSite->setText(sounder.site);
    savedAt->setText(sounder.at);
    placeEdited = false;
    pickedChirpTime = sounder.chirpTime;
    problem->hide();
}

void SounderDialog::PickKnownSite(int index) {
    const std::vector<geo::KnownSite>& sites = geo::KnownSounderSites();
    if (index < 1 || index > int(sites.size())) {
        return;
    }
    const geo::KnownSite& site = sites[std::size_t(index - 1)];
    savedSite->setText(QString::fromUtf8(site.name));
    savedAt->setText(QStringLiteral("%1,%2")
                         .arg(site.position.latitude, 0, 'f', kSiteDecimals)
                         .arg(site.position.longitude, 0, 'f', kSiteDecimals));
    placeEdited = true;
    knownSites->setCurrentIndex(0);
}

std::optional<SavedSounder> SounderDialog::Typed() {
    const Read read = ReadProfile(sweepRate->text(), period->text(), lowFrequency->text(),
                                  highFrequency->text(), stepSize->text(), locale);
    if (!read.profile) {
        ShowProblem(read.problem);
        return std::nullopt;
    }
    const Status followable = sweep::ValidateProfile(*read.profile);
    if (!followable.IsOk()) {
        ShowProblem(followable.Message());
        return std::nullopt;
    }
    const std::optional<double> chirp =
        sweep::ParseChirpTime(savedChirpTime->text(), locale, read.profile->period);
    if (!chirp) {
        ShowProblem(sweep::ChirpTimeRefusal(savedChirpTime->text(), read.profile->period));
        return std::nullopt;
    }
    const ReadDelays delays = ReadDelayRange(savedDelayFrom->text(), savedDelayTo->text(), locale);
    if (!delays.problem.isEmpty()) {
        ShowProblem(delays.problem);
        return std::nullopt;
    }
    const QString at = savedAt->text().trimmed();
    if (!at.isEmpty()) {
        if (const geo::PositionText place = geo::ParsePosition(at.toStdString()); !place.position) {
            ShowProblem(QStringLiteral("Position: %1. Type a locator such as KM64 or a "
                                       "latitude and longitude such as 35.19,33.38, or leave it "
                                       "empty when unknown.")
                            .arg(QString::fromStdString(place.error)));
            return std::nullopt;
        }
    }
    SavedSounder typed;
    typed.name = savedName->text().trimmed();
    typed.site = savedSite->text().trimmed();
    typed.at = at;
    typed.chirpTime = *chirp;
    typed.profile = *read.profile;
    typed.delays = delays.delays;
    return typed;
}

void SounderDialog::OkClick() {
    const Read read = ReadProfile(sweepRate->text(), period->text(), lowFrequency->text(),
                                  highFrequency->text(), stepSize->text(), locale);
    if (!read.profile) {
        ShowProblem(read.problem);
        return;
    }
    std::optional<double> chirp;
    if (pickedChirpTime) {
        // A saved sounder was picked: its chirp time, as it now stands in the box, goes too.
        const std::optional<SavedSounder> typed = Typed();
        if (!typed) {
            return;
        }
        chirp = typed->chirpTime;
        // Its delays as they now stand in the boxes are kept with it.
        for (SavedSounder& sounder : saved) {
            if (sounder.name == typed->name) {
                sounder.delays = typed->delays;
                if (placeEdited) {
                    sounder.site = typed->site;
                    sounder.at = typed->at;
                }
            }
        }
    } else if (const Status followable = sweep::ValidateProfile(*read.profile);
               !followable.IsOk()) {
        ShowProblem(followable.Message());
        return;
    }
    // The ticks stay as the user set them when the radio cannot follow them: the dialog stays
    // open saying why, and nothing is stored.
    if (followCheck) {
        if (const Status servable = followCheck(saved); !servable.IsOk()) {
            ShowProblem(servable.Message());
            return;
        }
    }
    if (saved != model.List() && !Store(saved)) {
        return;
    }
    emit profileAccepted(*read.profile, chirp);
    emit followAccepted(saved);
    accept();
}

void SounderDialog::SaveClick() {
    std::optional<SavedSounder> typed = Typed();
    if (!typed) {
        return;
    }
    if (typed->name.isEmpty()) {
        ShowProblem(QStringLiteral("Type a name for the sounder before saving it, such as its "
                                   "place or call sign."));
        return;
    }
    std::vector<SavedSounder> changed = saved;
    auto same = std::find_if(changed.begin(), changed.end(),
                             [&typed](const SavedSounder& s) { return s.name == typed->name; });
    if (same != changed.end()) {
        // Saving a sounder anew keeps its Follow tick, and where it stands unless that was
        // typed or picked.
        typed->follow = same->follow;
        if (!placeEdited) {
            typed->site = same->site;
            typed->at = same->at;
        }
        *same = *typed;
    } else {
        changed.push_back(*typed);
        same = changed.end() - 1;
    }
    const int row = static_cast<int>(same - changed.begin());
    if (Store(changed)) {
        savedList->setCurrentRow(row);
        pickedChirpTime = typed->chirpTime;
    }
}

void SounderDialog::RenameClick() {
    const int row = savedList->currentRow();
    const QString name = savedName->text().trimmed();
    if (row < 0) {
        ShowProblem(QStringLiteral("Pick the saved sounder to rename in the list first, then type "
                                   "its new name."));
        return;
    }
    if (name.isEmpty()) {
        ShowProblem(QStringLiteral("Type the new name of the sounder before renaming it."));
        return;
    }
    std::vector<SavedSounder> changed = saved;
    for (std::size_t i = 0; i < changed.size(); ++i) {
        if (changed[i].name == name && static_cast<int>(i) != row) {
            ShowProblem(QStringLiteral("A saved sounder is already called \"%1\". Choose another "
                                       "name, or delete that one first.")
                            .arg(name));
            return;
        }
    }
    changed[static_cast<std::size_t>(row)].name = name;
    if (Store(changed)) {
        savedList->setCurrentRow(row);
    }
}

void SounderDialog::DeleteClick() {
    const int row = savedList->currentRow();
    if (row < 0) {
        ShowProblem(QStringLiteral("Pick the saved sounder to delete in the list first."));
        return;
    }
    std::vector<SavedSounder> changed = saved;
    changed.erase(changed.begin() + row);
    if (Store(changed)) {
        pickedChirpTime.reset();
    }
}

bool SounderDialog::Store(const std::vector<SavedSounder>& sounders) {
    storing = true;
    const Status stored = model.Replace(sounders);
    storing = false;
    if (!stored.IsOk()) {
        ShowProblem(stored.Message());
        return false;
    }
    saved = sounders;
    ListSaved();
    problem->hide();
    return true;
}

void SounderDialog::TakeSaved() {
    if (storing) {
        return;
    }
    std::vector<SavedSounder> next = model.List();
    for (SavedSounder& s : next) {
        const auto mine = std::find_if(saved.begin(), saved.end(),
                                       [&s](const SavedSounder& m) { return m.name == s.name; });
        if (mine != saved.end()) {
            s.follow = mine->follow;
        }
    }
    const int row = savedList->currentRow();
    const QString picked =
        row >= 0 && row < int(saved.size()) ? saved[std::size_t(row)].name : QString();
    saved = std::move(next);
    ListSaved();
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (!picked.isEmpty() && saved[i].name == picked) {
            const QSignalBlocker quiet(savedList); // the typed values stay as they are
            savedList->setCurrentRow(int(i));
        }
    }
}

void SounderDialog::ShowProblem(const QString& text) {
    problem->setText(text);
    problem->show();
}
