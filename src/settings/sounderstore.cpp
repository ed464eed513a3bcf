#include "settings/sounderstore.h"

#include "core/decimal.h"
#include "ionogram/ionogramchoice.h"
#include "settings/positionkeys.h"
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

// The keys of a saved sounder's entry besides the profile's, in the order of SavedTexts.
constexpr std::array<const char*, 9> kEntryKeys{
    SounderStore::kNameKey,     SounderStore::kChirpTimeKey, SounderStore::kFollowKey,
    SounderStore::kMinDelayKey, SounderStore::kMaxDelayKey,  SounderStore::kSiteKey,
    positionkeys::kLocatorKey,  positionkeys::kLatitudeKey,  positionkeys::kLongitudeKey};

// Name, chirp time, Follow, the delays, the site and the position ("" for none: the keys are not
// written), then the profile's values.
QStringList SavedTexts(const SavedSounder& sounder) {
    const auto delay = [&sounder](double DelayRange::*end) {
        return sounder.delays ? FormatDecimal((*sounder.delays).*end) : QString();
    };
    return QStringList{sounder.name,
                       FormatDecimal(sounder.chirpTime),
                       QLatin1String(sounder.follow ? storefile::kTrue : storefile::kFalse),
                       delay(&DelayRange::fromMs),
                       delay(&DelayRange::toMs),
                       sounder.site} +
           positionkeys::Texts(sounder.at) + ProfileTexts(sounder.profile);
}

QStringList ReadProfileTexts(const QSettings& store) {
    QStringList texts;
    for (const Field& field : kProfileFields) {
        texts.append(storefile::ReadText(store, field.key, ""));
    }
    return texts;
}

QStringList ReadEntryTexts(const QSettings& store) {
    QStringList texts;
    for (const char* key : kEntryKeys) {
        texts.append(storefile::ReadText(store, key, ""));
    }
    return texts + ReadProfileTexts(store);
}

// The delays of the current array entry: none when neither key is there; what is wrong with them
// when they cannot be used.
std::optional<DelayRange> ReadDelays(const QSettings& store, const QLocale& locale,
                                     QString* problem) {
    const QString from = storefile::ReadText(store, SounderStore::kMinDelayKey, "");
    const QString to = storefile::ReadText(store, SounderStore::kMaxDelayKey, "");
    if (from.isEmpty() && to.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<double> fromMs = ParseDecimal(from, locale);
    const std::optional<double> toMs = ParseDecimal(to, locale);
    if (!fromMs || !toMs) {
        *problem = QStringLiteral("%1 \"%2\" and %3 \"%4\" are not both numbers of "
                                  "milliseconds.")
                       .arg(QLatin1String(SounderStore::kMinDelayKey), from,
                            QLatin1String(SounderStore::kMaxDelayKey), to);
        return std::nullopt;
    }
    const DelayRange delays{*fromMs, *toMs};
    *problem = DelayRangeRefusal(delays);
    return problem->isEmpty() ? std::optional(delays) : std::nullopt;
}

void WriteProfileTexts(QSettings& store, const QStringList& texts) {
    for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
        store.setValue(QLatin1String(kProfileFields[i].key), texts.at(static_cast<qsizetype>(i)));
    }
}

} // namespace

QString DelayRangeRefusal(const DelayRange& delays) {
    // The ionogram's own check of its delays shown, with nothing else of its choice to refuse.
    IonogramChoice choice;
    choice.delayFromMs = delays.fromMs;
    choice.delayToMs = delays.toMs;
    choice.save = false;
    return IonogramRefusal(choice);
}

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
        // An entry without the key (saved before there was a plan) is not followed.
        sounder.follow = storefile::ReadText(*store, kFollowKey, storefile::kFalse) ==
                         QLatin1String(storefile::kTrue);
        // Without delays of its own (saved before they could be), the ionogram's are shown.
        QString unusable;
        sounder.delays = ReadDelays(*store, locale, &unusable);
        if (!unusable.isEmpty()) {
            notices->append(QStringLiteral("The saved sounder \"%1\" in %2 has delays that cannot "
                                           "be used: %3 Its ionogram shows the ionogram's delays "
                                           "until you set its own in Configure > Sounder.")
                                .arg(sounder.name, store->fileName(), unusable));
        }
        sounder.site = storefile::ReadText(*store, kSiteKey, "");
        QString badPosition;
        sounder.at = positionkeys::Read(*store, &badPosition);
        if (!badPosition.isEmpty()) {
            notices->append(QStringLiteral("The saved sounder \"%1\" in %2 has a position that "
                                           "cannot be used: %3. Its path is not worked out until "
                                           "you give its position again.")
                                .arg(sounder.name, store->fileName(), badPosition));
        }
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
        for (std::size_t key = 0; key < kEntryKeys.size(); ++key) {
            const QString& text = written.at(i).at(static_cast<qsizetype>(key));
            if (!text.isEmpty() || key < 2) { // a sounder without delays has no delay keys
                store->setValue(QLatin1String(kEntryKeys[key]), text);
            }
        }
        WriteProfileTexts(*store, written.at(i).mid(kEntryKeys.size()));
    }
    store->endArray();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&written](QSettings& fresh) {
        QList<QStringList> back;
        const int count = fresh.beginReadArray(QLatin1String(kArray));
        for (int i = 0; i < count; ++i) {
            fresh.setArrayIndex(i);
            back.append(ReadEntryTexts(fresh));
        }
        return back == written;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("saved sounders"));
}
