#pragma once

// What the ionogram is made from and where it goes: the audio input, its delay, the delays
// shown and the archive, kept as text in the group "ionogram" of the per-user store, with the
// checks that refuse values the ionogram cannot use. The dialog and the store share them.

#include "core/status.h"

#include <QLocale>
#include <QString>
#include <QStringList>

struct IonogramChoice {
    QString audioInput; // PulseAudio source name; empty: no capture
    double audioDelayMs = 0;
    double delayFromMs = 0;
    double delayToMs = 20;
    QString folder;
    bool save = true;

    bool operator==(const IonogramChoice&) const = default;
};

// Limits of the values the ionogram accepts, in ms.
constexpr double kHighestDelayToMs = 100;
constexpr double kLowestDelayFromMs = -kHighestDelayToMs;
constexpr double kLongestAudioDelayMs = 1000; // either way

// What is wrong with the delays or the folder, for the user; empty when they can be used.
QString IonogramRefusal(const IonogramChoice& choice);

class IonogramStore {
public:
    static constexpr const char* kGroup = "ionogram";
    static constexpr const char* kAudioInputKey = "AudioInput";
    static constexpr const char* kAudioDelayKey = "AudioDelay"; // ms
    static constexpr const char* kDelayFromKey = "DelayFrom";   // ms
    static constexpr const char* kDelayToKey = "DelayTo";       // ms
    static constexpr const char* kFolderKey = "Folder";
    static constexpr const char* kSaveKey = "Save"; // "true" or "false"
    static constexpr const char* kDefaultAudioDelay = "0";
    static constexpr const char* kDefaultDelayFrom = "0";
    static constexpr const char* kDefaultDelayTo = "20";
    static constexpr const char* kDefaultSave = "true";

    // The user's native store (on Linux $XDG_CONFIG_HOME/Tavmirok/Tavmirok.conf); a file path
    // selects an INI file instead.
    explicit IonogramStore(QString iniFile = QString(), QLocale locale = QLocale());

    // The archive folder when none is stored: Tavmirok/ionograms in the user's data folder.
    static QString DefaultFolder();

    // The values in force, the default for each missing key. A value that cannot be read, or
    // delays the ionogram cannot use, give way to defaults and the user is told through notices.
    IonogramChoice Load(QStringList* notices) const;
    // Writes the six values and makes sure they reached the store.
    Status Save(const IonogramChoice& choice) const;

private:
    QString iniFile;
    QLocale locale;
};
