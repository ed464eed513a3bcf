#include "settings/ionogramstore.h"

#include "settings/storefile.h"
#include "sweep/schedule.h"

#include <QStandardPaths>
#include <array>
#include <cmath>
#include <optional>

namespace {

constexpr const char* kTrue = "true";
constexpr const char* kFalse = "false";
constexpr const char* kArchiveSubfolder = "/Tavmirok/ionograms";

struct Number {
    const char* key;
    const char* fallback;
    double IonogramChoice::*value;
};

constexpr std::array<Number, 3> kNumbers{{
    {IonogramStore::kAudioDelayKey, IonogramStore::kDefaultAudioDelay,
     &IonogramChoice::audioDelayMs},
    {IonogramStore::kDelayFromKey, IonogramStore::kDefaultDelayFrom, &IonogramChoice::delayFromMs},
    {IonogramStore::kDelayToKey, IonogramStore::kDefaultDelayTo, &IonogramChoice::delayToMs},
}};

QString Ms(double value) {
    return sweep::FormatDecimal(value) + QStringLiteral(" ms");
}

// The texts stored for a choice, key by key.
QList<std::pair<const char*, QString>> Texts(const IonogramChoice& choice) {
    QList<std::pair<const char*, QString>> texts{
        {IonogramStore::kAudioInputKey, choice.audioInput},
        {IonogramStore::kFolderKey, choice.folder},
        {IonogramStore::kSaveKey, QLatin1String(choice.save ? kTrue : kFalse)}};
    for (const Number& number : kNumbers) {
        texts.append({number.key, sweep::FormatDecimal(choice.*number.value)});
    }
    return texts;
}

} // namespace

QString IonogramRefusal(const IonogramChoice& choice) {
    if (choice.delayToMs > kHighestDelayToMs) {
        return QStringLiteral("The delays shown can reach up to %1, not %2. Choose a smaller "
                              "\"to\".")
            .arg(Ms(kHighestDelayToMs), Ms(choice.delayToMs));
    }
    if (choice.delayFromMs < kLowestDelayFromMs) {
        return QStringLiteral("The delays shown can start from %1 at the lowest, not %2. Choose "
                              "a larger \"from\".")
            .arg(Ms(kLowestDelayFromMs), Ms(choice.delayFromMs));
    }
    if (choice.delayFromMs >= choice.delayToMs) {
        return QStringLiteral("The delays shown must run upwards: \"from\" (%1) is not below "
                              "\"to\" (%2). For example 0 to 20 ms.")
            .arg(Ms(choice.delayFromMs), Ms(choice.delayToMs));
    }
    if (std::abs(choice.audioDelayMs) > kLongestAudioDelayMs) {
        return QStringLiteral("The audio delay %1 is too long: a receiver and sound card delay "
                              "the audio by a few milliseconds, at most %2 either way.")
            .arg(Ms(choice.audioDelayMs), Ms(kLongestAudioDelayMs));
    }
    if (choice.save && choice.folder.trimmed().isEmpty()) {
        return QStringLiteral("Choose a folder for the ionograms, or turn off \"Save "
                              "ionograms\".");
    }
    return QString();
}

IonogramStore::IonogramStore(QString iniFile, QLocale locale)
    : iniFile(std::move(iniFile)), locale(std::move(locale)) {}

QString IonogramStore::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String(kArchiveSubfolder);
}

IonogramChoice IonogramStore::Load(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    const auto notReadable = [&](const char* key, const QString& text) {
        notices->append(
            QStringLiteral(
                "The stored ionogram value %1 \"%2\" in %3 cannot be "
                "read, so its default is used. Open Configure > Audio Input... to set it again.")
                .arg(QLatin1String(key), text, store->fileName()));
    };
    IonogramChoice choice;
    choice.audioInput = storefile::ReadText(*store, kAudioInputKey, "");
    const QString defaultFolder = DefaultFolder();
    choice.folder = storefile::ReadText(*store, kFolderKey, defaultFolder);
    const QString save = storefile::ReadText(*store, kSaveKey, kDefaultSave).trimmed();
    if (save == QLatin1String(kTrue) || save == QLatin1String(kFalse)) {
        choice.save = save == QLatin1String(kTrue);
    } else {
        notReadable(kSaveKey, save);
    }
    for (const Number& number : kNumbers) {
        const QString text = storefile::ReadText(*store, number.key, number.fallback);
        if (const std::optional<double> value = sweep::ParseDecimal(text, locale)) {
            choice.*number.value = *value;
        } else {
            notReadable(number.key, text);
            choice.*number.value = *sweep::ParseDecimal(QLatin1String(number.fallback), locale);
        }
    }
    store->endGroup();
    if (const QString refusal = IonogramRefusal(choice); !refusal.isEmpty()) {
        IonogramChoice defaults;
        defaults.folder = defaultFolder;
        notices->append(
            QStringLiteral("The stored ionogram settings cannot be used: %1 The "
                           "defaults are used instead (delays %2 to %3, audio delay "
                           "%4, saved in %5); open Configure > Audio Input... to set yours.")
                .arg(refusal, Ms(defaults.delayFromMs), Ms(defaults.delayToMs),
                     Ms(defaults.audioDelayMs), defaults.folder));
        IonogramChoice kept = defaults;
        kept.audioInput = choice.audioInput;
        return kept;
    }
    return choice;
}

Status IonogramStore::Save(const IonogramChoice& choice) const {
    const auto texts = Texts(choice);
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    for (const auto& [key, text] : texts) {
        store->setValue(QLatin1String(key), text);
    }
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&texts](QSettings& fresh) {
        fresh.beginGroup(QLatin1String(kGroup));
        for (const auto& [key, text] : texts) {
            if (storefile::ReadText(fresh, key, "") != text) {
                return false;
            }
        }
        return true;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("ionogram settings"));
}
