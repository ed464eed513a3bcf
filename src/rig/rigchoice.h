#pragma once

// Which way the program reaches the radio, as the user chose it in the Rig Control dialog and as
// it is kept in the settings group "rig": the built-in CI-V link, rigctld's network protocol at
// host:port, or a Hamlib model driven directly. Parsing and checking are pure functions.

#include "core/status.h"

#include <QString>

struct RigChoice {
    // rigconfig::kBackendCiv, rigconfig::kBackendNetwork or rigconfig::kBackendHamlib
    QString backend;
    QString address; // host:port, for the network backend
    int model = 0;   // Hamlib's model number, for the Hamlib backend

    bool operator==(const RigChoice&) const = default;
};

namespace rigconfig {

inline constexpr char kBackendCiv[] = "civ";
inline constexpr char kBackendNetwork[] = "network";
inline constexpr char kBackendHamlib[] = "hamlib";

// The settings: group "rig", keys "Backend", "Address", "Model".
inline constexpr char kSettingsGroup[] = "rig";
inline constexpr char kBackendKey[] = "Backend";
inline constexpr char kAddressKey[] = "Address";
inline constexpr char kModelKey[] = "Model";

// rigctld's own port; SDR programs' remote control often listens on 7356.
inline constexpr char kDefaultAddress[] = "localhost:4532";

// The choice a fresh installation starts with: the built-in link, rigctld's default address.
RigChoice DefaultRigChoice();

// The choice as the settings hold it, as text: what is missing takes the default (an empty
// backend is the built-in link, an empty address localhost:4532), a model that is not a whole
// number is 0. Nothing is checked here: ValidateRigChoice says what is wrong.
RigChoice RigChoiceFromStored(const QString& backend, const QString& address, const QString& model);

struct HostPort {
    QString host;
    quint16 port = 0;
};

// "host:port", "192.168.1.20:7356" or "[::1]:4532", blanks around it ignored. Anything else is
// refused with a message that quotes the text and shows the form.
Status ParseHostPort(const QString& text, HostPort* hostPort);

// A known backend; for the network backend an address ParseHostPort takes, for Hamlib a model
// above 0. The message says what to fix.
Status ValidateRigChoice(const RigChoice& choice);

} // namespace rigconfig
