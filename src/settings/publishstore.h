#pragma once

// Where the station publishes its scaled sweeps, kept as text in the group "publish" of the same
// store as the others, and the station's callsign in the group "station". The password itself is
// never stored: only the path of a file that holds it.

#include "core/status.h"

#include <QString>
#include <QStringList>

struct PublishChoice {
    bool enabled = false;
    QString url;          // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    QString user;         // "" for none
    QString passwordFile; // a file holding the password alone, readable by its owner only
    QString caFile;       // mqtts: the CA certificates to trust; "" for the system's
    QString prefix = QStringLiteral("tavmirok");

    bool operator==(const PublishChoice&) const = default;
};

class PublishStore {
public:
    static constexpr const char* kGroup = "publish";
    static constexpr const char* kEnabledKey = "Enabled"; // "true" or "false"
    static constexpr const char* kUrlKey = "Url";
    static constexpr const char* kUserKey = "User";
    static constexpr const char* kPasswordFileKey = "PasswordFile";
    static constexpr const char* kCaFileKey = "CaFile";
    static constexpr const char* kPrefixKey = "Prefix";
    static constexpr const char* kStationGroup = "station";
    static constexpr const char* kCallsignKey = "Callsign";

    // The user's native store, or an INI file for tests.
    explicit PublishStore(QString iniFile = QString());

    PublishChoice Load() const;
    QString LoadCallsign() const;
    Status Save(const PublishChoice& choice) const;
    Status SaveCallsign(const QString& callsign) const;

private:
    QString iniFile;
};
