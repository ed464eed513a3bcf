#pragma once

// How the radio is reached (built-in CI-V link, rigctld's protocol, Hamlib), kept as text in the
// settings group "rig" beside the other groups of the same store.

#include "core/status.h"
#include "rig/rigchoice.h"

#include <QString>
#include <QStringList>

class RigStore {
public:
    // The user's native store, or an INI file for tests.
    explicit RigStore(QString iniFile = QString());

    // The stored choice; one that does not hold up (an unknown backend, a bad address) is told
    // in notices and the built-in link is used instead.
    RigChoice Load(QStringList* notices) const;
    Status Save(const RigChoice& choice) const;

private:
    QString iniFile;
};
