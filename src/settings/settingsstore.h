#pragma once

// The four settings that survive from one run to the next (port, line speed, chirp time, radio
// address), kept as text in the platform's per-user store under "Tavmirok"/"settings". Read
// once before the port opens, written once when the main window closes.

#include "core/status.h"

#include <QString>
#include <QStringList>

struct StoredSettings {
    QString comPort;
    QString baudRate;
    QString chirpTime; // exactly as typed, even when it is not a number
    int radioAdress = 0;
};

class SettingsStore {
public:
    static constexpr const char* kGroup = "settings";
    static constexpr const char* kComPortKey = "comport";
    static constexpr const char* kBaudRateKey = "BaudRate";
    static constexpr const char* kChirpTimeKey = "ChirpTime";
    static constexpr const char* kRadioAddressKey = "RadioAddress";
    static constexpr const char* kDefaultComPort = "COM2";
    static constexpr const char* kDefaultBaudRate = "19200";
    static constexpr const char* kDefaultChirpTime = "78";
    static constexpr const char* kDefaultRadioAddress = "00";

    // The user's native store (on Linux $XDG_CONFIG_HOME/Tavmirok/Tavmirok.conf). A file path
    // selects an INI file instead.
    explicit SettingsStore(QString iniFile = QString());

    // Reads the four values in order, defaults for what is missing. Anything the user should be
    // told (an unreadable store, a radio address that is not 0 to 255) is added to notices; the
    // values read are still returned.
    StoredSettings Load(QStringList* notices) const;
    // Writes the four values in order and makes sure they reached the store.
    Status Save(const StoredSettings& settings) const;

    // Where the values live, for messages.
    QString Location() const;

private:
    QString iniFile;
};
