#include "settings/settingsstore.h"

#include "link/civ.h"
#include "settings/storefile.h"

#include <QFileInfo>
#include <QSettings>
#include <memory>

namespace {

using storefile::ReadText;

// Whether the store, read anew, holds exactly these settings.
bool ReadsBackAs(const QString& iniFile, const StoredSettings& settings) {
    auto store = storefile::Open(iniFile);
    if (store->status() != QSettings::NoError) {
        return false;
    }
    store->beginGroup(QLatin1String(SettingsStore::kGroup));
    return ReadText(*store, SettingsStore::kComPortKey, "") == settings.comPort &&
           ReadText(*store, SettingsStore::kBaudRateKey, "") == settings.baudRate &&
           ReadText(*store, SettingsStore::kChirpTimeKey, "") == settings.chirpTime &&
           ReadText(*store, SettingsStore::kRadioAddressKey, "") ==
               QString::number(settings.radioAdress);
}

} // namespace

SettingsStore::SettingsStore(QString iniFile) : iniFile(std::move(iniFile)) {}

QString SettingsStore::Location() const {
    return storefile::Open(iniFile)->fileName();
}

StoredSettings SettingsStore::Load(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    StoredSettings settings;
    if (store->status() != QSettings::NoError) {
        notices->append(
            QStringLiteral("The settings in %1 could not be read (%2), so the defaults are used. "
                           "Check the file, or set the port, speed, chirp time and radio address "
                           "again; they are saved when Tavmirok closes.")
                .arg(store->fileName(), store->status() == QSettings::AccessError
                                            ? QStringLiteral("no permission to read them")
                                            : QStringLiteral("the file is not in a valid format")));
    }
    store->beginGroup(QLatin1String(kGroup));
    settings.comPort = ReadText(*store, kComPortKey, kDefaultComPort);
    settings.baudRate = ReadText(*store, kBaudRateKey, kDefaultBaudRate);
    settings.chirpTime = ReadText(*store, kChirpTimeKey, kDefaultChirpTime);
    const QString address = ReadText(*store, kRadioAddressKey, kDefaultRadioAddress);
    store->endGroup();

    bool ok = false;
    const int value = address.trimmed().toInt(&ok, 10);
    if (ok && value >= 0 && value <= civ::kHighestAddress) {
        settings.radioAdress = value;
    } else {
        settings.radioAdress = 0;
        notices->append(QStringLiteral("The stored radio address \"%1\" is not a number from 0 "
                                       "to 255, so address 0 (the broadcast address) is used. "
                                       "Set your radio's CI-V address in Configure > "
                                       "Radioaddress.")
                            .arg(address));
    }
    return settings;
}

Status SettingsStore::Save(const StoredSettings& settings) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    store->setValue(QLatin1String(kComPortKey), settings.comPort);
    store->setValue(QLatin1String(kBaudRateKey), settings.baudRate);
    store->setValue(QLatin1String(kChirpTimeKey), settings.chirpTime);
    store->setValue(QLatin1String(kRadioAddressKey), QString::number(settings.radioAdress));
    store->endGroup();
    store->sync();
    // The first error of a QSettings sticks: a file that was damaged when it was read reports
    // FormatError even after the values written now have replaced it. Then a fresh read of the
    // store tells whether they arrived.
    const QSettings::Status status = store->status();
    const bool saved = status == QSettings::NoError ||
                       (status == QSettings::FormatError && ReadsBackAs(iniFile, settings));
    if (!saved) {
        // One arg() call for all values: a "%5" typed into a box must be quoted as typed.
        return Status::Error(
            QStringLiteral("The settings could not be saved to %1. Check that the folder exists "
                           "and that you may write there. They were: port \"%2\", speed \"%3\", "
                           "chirp time \"%4\", radio address %5 (hex %6).")
                .arg(store->fileName(), settings.comPort, settings.baudRate, settings.chirpTime,
                     QString::number(settings.radioAdress),
                     QString::number(settings.radioAdress, 16).toUpper()));
    }
    return Status::Ok();
}
