#pragma once

// The sounder the radio follows and the sounders the user saved by name, kept as text in the same
// per-user store as the other settings: the profile in the group "sounder", the saved ones in
// the array "sounders". Values are read with "." or the locale's decimal separator.

#include "core/status.h"
#include "sweep/profile.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The delays a saved sounder's ionogram shows, in ms: a far sounder's echoes come at 20 to 40 ms.
struct DelayRange {
    double fromMs = 0;
    double toMs = 0;

    bool operator==(const DelayRange&) const = default;
};

// What is wrong with a sounder's own delays, for the user (the ionogram's limits); empty when
// they can be used.
QString DelayRangeRefusal(const DelayRange& delays);

struct SavedSounder {
    QString name;
    double chirpTime = 0; // s after the start of the period
    sweep::Profile profile;
    bool follow = false; // the radio follows it, with the others followed, through the plan
    std::optional<DelayRange> delays; // none: the ionogram's delays in force
    QString site;                     // a short name of where it stands ("Cyprus"), may be empty
    QString at; // its position as typed: a locator or "LAT,LON"; empty when unknown

    bool operator==(const SavedSounder&) const = default;
};

class SounderStore {
public:
    static constexpr const char* kGroup = "sounder";
    static constexpr const char* kArray = "sounders";
    static constexpr const char* kNameKey = "Name";
    static constexpr const char* kChirpTimeKey = "ChirpTime";
    static constexpr const char* kSweepRateKey = "SweepRate";         // kHz/s
    static constexpr const char* kPeriodKey = "Period";               // s
    static constexpr const char* kLowFrequencyKey = "LowFrequency";   // kHz
    static constexpr const char* kHighFrequencyKey = "HighFrequency"; // kHz
    static constexpr const char* kStepSizeKey = "StepSize";           // kHz
    static constexpr const char* kFollowKey = "Follow";               // "true" or "false"
    static constexpr const char* kMinDelayKey = "MinDelay";           // ms, with MaxDelay
    static constexpr const char* kMaxDelayKey = "MaxDelay";           // ms, with MinDelay
    static constexpr const char* kSiteKey = "Site"; // with Locator, or Latitude and Longitude
    static constexpr const char* kDefaultSweepRate = "100";
    static constexpr const char* kDefaultPeriod = "300";
    static constexpr const char* kDefaultLowFrequency = "2000";
    static constexpr const char* kDefaultHighFrequency = "30000";
    static constexpr const char* kDefaultStepSize = "100";
    static constexpr const char* kDefaultChirpTime = "78";

    // The user's native store (on Linux $XDG_CONFIG_HOME/Tavmirok/Tavmirok.conf); a file path
    // selects an INI file instead.
    explicit SounderStore(QString iniFile = QString(), QLocale locale = QLocale());

    // The profile in force, the default for each missing key. A value that is not a number is
    // replaced by its default, and a profile the radio cannot follow by the default profile;
    // the user is told through notices.
    sweep::Profile Load(QStringList* notices) const;
    // Writes the five values and makes sure they reached the store.
    Status Save(const sweep::Profile& profile) const;

    // The saved sounders in their order. One with a value that is not a number is left out, and
    // the user is told through notices; one whose own delays cannot be used keeps the
    // ionogram's, and the user is told too.
    std::vector<SavedSounder> LoadSaved(QStringList* notices) const;
    // Replaces the saved sounders with these.
    Status SaveSaved(const std::vector<SavedSounder>& sounders) const;

    // Where the values live, for messages.
    QString Location() const;

private:
    QString iniFile;
    QLocale locale;
};
