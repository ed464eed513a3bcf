#pragma once

// The groups of settings a station is built from, and the one place that reads them all
// and writes each: the window and the windowless run load them here once and hand them to the
// station whole. The window writes "settings" when it closes and each other group when its
// dialog's OK is pressed; the windowless run never writes.

#include "core/status.h"
#include "rig/rigchoice.h"
#include "settings/ionogramstore.h"
#include "settings/planstore.h"
#include "settings/publishstore.h"
#include "settings/rigstore.h"
#include "settings/settingsstore.h"
#include "settings/sounderstore.h"
#include "settings/webstore.h"
#include "sweep/profile.h"

#include <QString>
#include <QStringList>
#include <vector>

struct StationSettings {
    StoredSettings basic; // port, speed, chirp time, radio address: the group "settings"
    sweep::Profile profile;
    RigChoice rig;
    IonogramChoice ionogram;
    sweep::PlanChoice plan;
    // The saved sounders in the list's order, which name the sweeps they match. When any is
    // marked Follow, the station follows those through the plan (the order is the priority)
    // instead of the single profile.
    std::vector<SavedSounder> saved;
    // Where the station stands, and the single sounder (the profile's): a locator or "LAT,LON"
    // as typed, empty when unknown (then no path is worked out).
    QString stationAt; // the group "station"
    QString sounderAt; // the group "sounder", beside the profile
    WebChoice web;     // the group "web": the window's web face
    // Who the station is on the network (the group "station"), and where it publishes.
    QString callsign;
    PublishChoice publish;
};

// The saved sounders marked Follow, in the list's order.
std::vector<SavedSounder> FollowedSounders(const StationSettings& settings);

class StationStore {
public:
    static constexpr const char* kStationGroup = "station";

    // The user's native store (on Linux $XDG_CONFIG_HOME/Tavmirok/Tavmirok.conf); a file path
    // selects an INI file instead.
    explicit StationStore(QString iniFile = QString());

    // Every group in force, each with its defaults and checks; what the user should be told
    // about them is added to notices.
    StationSettings Load(QStringList* notices) const;

    // Each writes its own group and makes sure it reached the store.
    Status Save(const StoredSettings& basic) const;
    Status Save(const sweep::Profile& profile) const;
    Status Save(const RigChoice& rig) const;
    Status Save(const IonogramChoice& ionogram) const;
    Status Save(const sweep::PlanChoice& plan) const;
    Status Save(const PublishChoice& publish) const;
    // Where the station stands (a locator or "LAT,LON", empty: unknown), in the group "station".
    Status SaveStationPosition(const QString& stationAt) const;

    // The sounder group, for its list of saved sounders.
    SounderStore Sounders() const { return SounderStore(iniFile); }
    // The groups "publish" and "station", for the callsign.
    PublishStore Publishing() const { return PublishStore(iniFile); }
    // Where the values live, for messages.
    QString Location() const { return SettingsStore(iniFile).Location(); }

private:
    QString iniFile;
};
