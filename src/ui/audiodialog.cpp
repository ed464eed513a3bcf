#include "ui/audiodialog.h"

#include "core/decimal.h"
#include "ui/formlayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <tuple>

namespace {

// A delay as the user types it, for messages.
struct Entry {
    const char* what;
    const char* example;
};
constexpr Entry kAudioDelay{"audio delay", "0"};
constexpr Entry kDelayFrom{"delay shown from", "0"};
constexpr Entry kDelayTo{"delay shown to", "20"};

QString Shown(double value, const QLocale& locale) {
    return FormatDecimal(value).replace(u'.', locale.decimalPoint());
}

} // namespace

AudioDialog::AudioDialog(const IonogramChoice& current,
                         const std::vector<ionogram::AudioInput>& inputs, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Audio Input"));

    audioInput = new QComboBox(this);
    audioInput->setObjectName(QStringLiteral("audioInput"));
    audioInput->addItem(QStringLiteral("none (no ionogram)"), QString());
    for (const ionogram::AudioInput& input : inputs) {
        audioInput->addItem(input.description.isEmpty() ? input.id : input.description, input.id);
    }
    if (!current.audioInput.isEmpty() && audioInput->findData(current.audioInput) < 0) {
        // Unplugged now, perhaps: kept, so OK does not change it behind the user's back.
        audioInput->addItem(QStringLiteral("%1 (not found now)").arg(current.audioInput),
                            current.audioInput);
    }
    audioInput->setCurrentIndex(std::max(0, audioInput->findData(current.audioInput)));

    audioDelay = formlayout::NewEdit(QStringLiteral("audioDelay"),
                                     Shown(current.audioDelayMs, locale), this);
    delayFrom =
        formlayout::NewEdit(QStringLiteral("delayFrom"), Shown(current.delayFromMs, locale), this);
    delayTo =
        formlayout::NewEdit(QStringLiteral("delayTo"), Shown(current.delayToMs, locale), this);
    auto* delays = new QHBoxLayout;
    delays->addWidget(delayFrom);
    delays->addWidget(new QLabel(QStringLiteral("to"), this));
    delays->addWidget(delayTo);

    folder = formlayout::NewEdit(QStringLiteral("folder"), current.folder, this);
    folder->setMinimumWidth(folder->fontMetrics().averageCharWidth() * 40);
    browseButton =
        formlayout::NewButton(QStringLiteral("Browse..."), QStringLiteral("browseButton"), this);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(browseButton);
    save = new QCheckBox(QStringLiteral("Save ionograms"), this);
    save->setObjectName(QStringLiteral("save"));
    save->setChecked(current.save);
    iaruRegion = new QComboBox(this);
    iaruRegion->setObjectName(QStringLiteral("iaruRegion"));
    for (int region = 1; region <= ionogram::kIaruRegions; ++region) {
        iaruRegion->addItem(QStringLiteral("Region %1").arg(region), region);
    }
    iaruRegion->setCurrentIndex(std::max(0, iaruRegion->findData(current.iaruRegion)));
    iaruRegion->setToolTip(QStringLiteral("The amateur bands the day plot shows"));

    auto* values = new QFormLayout;
    values->addRow(QStringLiteral("Audio input"), audioInput);
    values->addRow(QStringLiteral("Audio delay (ms)"), audioDelay);
    values->addRow(QStringLiteral("Delays shown (ms)"), delays);
    values->addRow(QStringLiteral("Folder"), folderRow);
    values->addRow(QString(), save);
    values->addRow(QStringLiteral("IARU region"), iaruRegion);

    formlayout::LayOutFormDialog(this, values, &problem, &okButton, &cancelButton);
    connect(okButton, &QPushButton::clicked, this, &AudioDialog::OkClick);
    connect(browseButton, &QPushButton::clicked, this, &AudioDialog::BrowseClick);
}

AudioDialog::Read AudioDialog::ReadChoice(const QString& audioInput, const QString& audioDelay,
                                          const QString& delayFrom, const QString& delayTo,
                                          const QString& folder, bool save, const QLocale& locale) {
    IonogramChoice choice;
    choice.audioInput = audioInput;
    choice.folder = folder.trimmed();
    choice.save = save;
    const std::array<std::tuple<const Entry*, const QString*, double*>, 3> numbers{{
        {&kAudioDelay, &audioDelay, &choice.audioDelayMs},
        {&kDelayFrom, &delayFrom, &choice.delayFromMs},
        {&kDelayTo, &delayTo, &choice.delayToMs},
    }};
    for (const auto& [entry, text, value] : numbers) {
        const std::optional<double> number = ParseDecimal(*text, locale);
        if (!number) {
            return {std::nullopt,
                    QStringLiteral("The %1 \"%2\" is not a number. Type it in milliseconds, for "
                                   "example %3.")
                        .arg(QLatin1String(entry->what), *text, QLatin1String(entry->example))};
        }
        *value = *number;
    }
    if (const QString refusal = IonogramRefusal(choice); !refusal.isEmpty()) {
        return {std::nullopt, refusal};
    }
    return {choice, QString()};
}

void AudioDialog::OkClick() {
    const Read read =
        ReadChoice(audioInput->currentData().toString(), audioDelay->text(), delayFrom->text(),
                   delayTo->text(), folder->text(), save->isChecked(), locale);
    if (!read.choice) {
        problem->setText(read.problem);
        problem->show();
        return;
    }
    IonogramChoice choice = *read.choice;
    choice.iaruRegion = iaruRegion->currentData().toInt();
    emit choiceAccepted(choice);
    close();
}

void AudioDialog::BrowseClick() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Folder for the ionograms"), folder->text());
    if (!chosen.isEmpty()) {
        folder->setText(chosen);
    }
}

void AudioDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
