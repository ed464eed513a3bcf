#include "settings/sounderstore.h"

#include "core/decimal.h"
#include "settings/storefile.h"

#include <array>
#include <optional>

namespace {

using sweep::Profile;

struct Field {
    const char* key;
    const char* fallback;
    double Profile::*value;
};

constexpr std::array<Field, 5> kProfileFields{{
    {SounderStore::kSweepRateKey, SounderStore::kDefaultSweepRate, &Profile::sweepRate},
    {SounderStore::kPeriodKey, SounderStore::kDefaultPeriod, &Profile::period},
    {SounderStore::kLowFrequencyKey, SounderStore::kDefaultLowFrequency, &Profile::lowFrequency},
    {SounderStore::kHighFrequencyKey, SounderStore::kDefaultHighFrequency, &Profile::highFrequency},
    {SounderStore::kStepSizeKey, SounderStore::kDefaultStepSize, &Profile::stepSize},
}};

// A stored value that is not a number: which key, and its text.
struct BadValue {
    QString key;
    QString text;
};

// Reads the five values of the current group or array entry; the first that is not a number is
// reported through bad and takes its default.
Profile ReadProfile(const QSettings& store, const QLocale& locale, std::optional<BadValue>* bad) {
    Profile profile;
    for (const Field& field : kProfileFields) {
        const QString text = storefile::ReadText(store, field.key, field.fallback);
        const std::optional<double> value = ParseDecimal(text, locale);
        if (value) {
            profile.*field.value = *value;
        } else if (!bad->has_value()) {
            *bad = BadValue{QLatin1String(field.key), text};
        }
    }
    return profile;
}

// The texts written for a profile, in the order of kProfileFields.
QStringList ProfileTexts(const Profile& profile) {
    QStringList texts;
    for (const Field& field : kProfileFields) {
        texts.append(FormatDecimal(profile.*field.value));
    }
    return texts;
}

QStringList SavedTexts(const SavedSounder& sounder) {
    return QStringList{sounder.name, FormatDecimal(sounder.chirpTime)} +
           ProfileTexts(sounder.profile);
}

void WriteProfileTexts(QSettings& store, const QStringList& texts) {
    for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
        store.setValue(QLatin1String(kProfileFields[i].key), texts.at(static_cast<qsizetype>(i)));
    }
}

QStringList ReadProfileTexts(const QSettings& store) {
    QStringList texts;
    for (const Field& field : kProfileFields) {
        texts.append(storefile::ReadText(store, field.key, ""));
    }
    return texts;
}

} // namespace

SounderStore::SounderStore(QString iniFile, QLocale locale)
    : iniFile(std::move(iniFile)), locale(std::move(locale)) {}

QString SounderStore::Location() const {
    return storefile::Open(iniFile)->fileName();
}

Profile SounderStore::Load(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    std::optional<BadValue> bad;
    const Profile profile = ReadProfile(*store, locale, &bad);
    store->endGroup();
    if (bad) {
        notices->append(QStringLiteral("The stored sounder value %1 \"%2\" in %3 is not a "
                                       "number, so its default is used. Set the sounder again in "
                                       "Configure > Sounder.")
                            .arg(bad->key, bad->text, store->fileName()));
    }
    const Status followable = sweep::ValidateProfile(profile);
    if (!followable.IsOk()) {
        notices->append(QStringLiteral("The stored sounder cannot be followed: %1 The default "
                                       "sounder is used instead (2 to 30 MHz at 100 kHz/s every "
                                       "300 s); set yours in Configure > Sounder.")
                            .arg(followable.Message()));
        return Profile{};
    }
    return profile;
}

Status SounderStore::Save(const Profile& profile) const {
    const QStringList texts = ProfileTexts(profile);
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    WriteProfileTexts(*store, texts);
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&texts](QSettings& fresh) {
        fresh.beginGroup(QLatin1String(kGroup));
        return ReadProfileTexts(fresh) == texts;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("sounder settings"));
}

std::vector<SavedSounder> SounderStore::LoadSaved(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    std::vector<SavedSounder> sounders;
    const int count = store->beginReadArray(QLatin1String(kArray));
    for (int i = 0; i < count; ++i) {
        store->setArrayIndex(i);
        SavedSounder sounder;
        sounder.name = storefile::ReadText(*store, kNameKey, "");
        const QString chirpText = storefile::ReadText(*store, kChirpTimeKey, kDefaultChirpTime);
        std::optional<BadValue> bad;
        sounder.profile = ReadProfile(*store, locale, &bad);
        const std::optional<double> chirp = ParseDecimal(chirpText, locale);
        if (!chirp && !bad) {
            bad = BadValue{QLatin1String(kChirpTimeKey), chirpText};
        }
        if (bad) {
            notices->append(QStringLiteral("The saved sounder \"%1\" in %2 has a value that is "
                                           "not a number (%3 \"%4\"), so it is left out of the "
                                           "list, and dropped when the list is next changed. "
                                           "Save it again in Configure > Sounder.")
                                .arg(sounder.name, store->fileName(), bad->key, bad->text));
            continue;
        }
        sounder.chirpTime = *chirp;
        sounders.push_back(sounder);
    }
    store->endArray();
    return sounders;
}

Status SounderStore::SaveSaved(const std::vector<SavedSounder>& sounders) const {
    QList<QStringList> written;
    for (const SavedSounder& sounder : sounders) {
        written.append(SavedTexts(sounder));
    }
    auto store = storefile::Open(iniFile);
    store->remove(QLatin1String(kArray));
    store->beginWriteArray(QLatin1String(kArray), static_cast<int>(written.size()));
    for (qsizetype i = 0; i < written.size(); ++i) {
        store->setArrayIndex(static_cast<int>(i));
        store->setValue(QLatin1String(kNameKey), written.at(i).at(0));
        store->setValue(QLatin1String(kChirpTimeKey), written.at(i).at(1));
        WriteProfileTexts(*store, written.at(i).mid(2));
    }
    store->endArray();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&written](QSettings& fresh) {
        QList<QStringList> back;
        const int count = fresh.beginReadArray(QLatin1String(kArray));
        for (int i = 0; i < count; ++i) {
            fresh.setArrayIndex(i);
            back.append(QStringList{storefile::ReadText(fresh, kNameKey, ""),
                                    storefile::ReadText(fresh, kChirpTimeKey, "")} +
                        ReadProfileTexts(fresh));
        }
        return back == written;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("saved sounders"));
}
