#pragma once

// The web face's settings, kept as text in the group "web" of the same store as the others:
// where the window serves the station's page (empty: it does not) and the file holding the
// access token for commands (empty: read-only). Written by hand; the window checks them when it
// starts serving.

#include <QString>

struct WebChoice {
    QString address;   // [ADDRESS:]PORT as for --http; empty: not served
    QString tokenFile; // as for --http-token-file
};

class WebStore {
public:
    static constexpr const char* kGroup = "web";
    static constexpr const char* kAddressKey = "Address";
    static constexpr const char* kTokenFileKey = "TokenFile";

    // The user's native store, or an INI file for tests.
    explicit WebStore(QString iniFile = QString());

    WebChoice Load() const;

private:
    QString iniFile;
};
