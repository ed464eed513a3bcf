#pragma once

// The ionogram's choice (ionogram/ionogramchoice.h) kept as text in the group "ionogram" of the
// per-user store.

#include "core/status.h"
#include "ionogram/ionogramchoice.h"

#include <QLocale>
#include <QString>
#include <QStringList>

class IonogramStore {
public:
    static constexpr const char* kGroup = "ionogram";
    static constexpr const char* kAudioInputKey = "AudioInput";
    static constexpr const char* kAudioDelayKey = "AudioDelay"; // ms
    static constexpr const char* kDelayFromKey = "DelayFrom";   // ms
    static constexpr const char* kDelayToKey = "DelayTo";       // ms
    static constexpr const char* kFolderKey = "Folder";
    static constexpr const char* kSaveKey = "Save"; // "true" or "false"
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
