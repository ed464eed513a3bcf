#include "settings/ionogramstore.h"

#include "core/decimal.h"
#include "settings/storefile.h"

#include <QStandardPaths>
#include <array>
#include <cmath>
#include <optional>

namespace {

constexpr const char* kArchiveSubfolder = "/Tavmirok/ionograms";

struct Number {
    const char* key;
    double IonogramChoice::*value; // its default is that of IonogramChoice
};

constexpr std::array<Number, 3> kNumbers{{
    {IonogramStore::kAudioDelayKey, &IonogramChoice::audioDelayMs},
    {IonogramStore::kDelayFromKey, &IonogramChoice::delayFromMs},
    {IonogramStore::kDelayToKey, &IonogramChoice::delayToMs},
}};

QString Ms(double value) {
    return FormatDecimal(value) + QStringLiteral(" ms");
}

// The texts stored for a choice, key by key.
QList<std::pair<const char*, QString>> Texts(const IonogramChoice& choice) {
    QList<std::pair<const char*, QString>> texts{
        {IonogramStore::kAudioInputKey, choice.audioInput},
        {IonogramStore::kFolderKey, choice.folder},
        {IonogramStore::kSaveKey,
         QLatin1String(choice.save ? storefile::kTrue : storefile::kFalse)},
        {IonogramStore::kIaruRegionKey, QString::number(choice.iaruRegion)}};
    for (const Number& number : kNumbers) {
        texts.append({number.key, FormatDecimal(choice.*number.value)});
    }
    return texts;
}

} // namespace

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
    if (save == QLatin1String(storefile::kTrue) || save == QLatin1String(storefile::kFalse)) {
        choice.save = save == QLatin1String(storefile::kTrue);
    } else {
        notReadable(kSaveKey, save);
    }
    const QString region =
        storefile::ReadText(*store, kIaruRegionKey,
                            QByteArray::number(ionogram::kDefaultIaruRegion).constData())
            .trimmed();
    bool regionRead = false;
    choice.iaruRegion = region.toInt(&regionRead);
    if (!regionRead) {
        notReadable(kIaruRegionKey, region);
        choice.iaruRegion = ionogram::kDefaultIaruRegion;
    }
    for (const Number& number : kNumbers) {
        const double fallback = IonogramChoice{}.*number.value;
        const QString text =
            storefile::ReadText(*store, number.key, FormatDecimal(fallback).toUtf8().constData());
        if (const std::optional<double> value = ParseDecimal(text, locale)) {
            choice.*number.value = *value;
        } else {
            notReadable(number.key, text);
            choice.*number.value = fallback;
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
