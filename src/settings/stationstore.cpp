#include "settings/stationstore.h"

#include "settings/positionkeys.h"
#include "settings/storefile.h"

namespace {

// The position kept in a group; one that cannot be used is told and read as unknown.
QString ReadPosition(const QString& iniFile, const char* group, const QString& whose,
                     QStringList* notices) {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(group));
    QString problem;
    const QString position = positionkeys::Read(*store, &problem);
    store->endGroup();
    if (!problem.isEmpty()) {
        notices->append(QStringLiteral("The stored position of %1 in %2 cannot be used: %3. No "
                                       "path is worked out until it is given again.")
                            .arg(whose, store->fileName(), problem));
    }
    return position;
}

} // namespace

std::vector<SavedSounder> FollowedSounders(const StationSettings& settings) {
    std::vector<SavedSounder> followed;
    for (const SavedSounder& saved : settings.saved) {
        if (saved.follow) {
            followed.push_back(saved);
        }
    }
    return followed;
}

StationStore::StationStore(QString iniFile) : iniFile(std::move(iniFile)) {}

StationSettings StationStore::Load(QStringList* notices) const {
    StationSettings settings;
    settings.basic = SettingsStore(iniFile).Load(notices);
    settings.profile = SounderStore(iniFile).Load(notices);
    settings.rig = RigStore(iniFile).Load(notices);
    settings.ionogram = IonogramStore(iniFile).Load(notices);
    settings.plan = PlanStore(iniFile).Load(notices);
    QStringList ignored; // a saved sounder that cannot be read is told by the Sounder dialog
    settings.saved = SounderStore(iniFile).LoadSaved(&ignored);
    settings.stationAt =
        ReadPosition(iniFile, kStationGroup, QStringLiteral("the station"), notices);
    settings.sounderAt =
        ReadPosition(iniFile, SounderStore::kGroup, QStringLiteral("the sounder"), notices);
    settings.web = WebStore(iniFile).Load();
    settings.callsign = PublishStore(iniFile).LoadCallsign();
    settings.publish = PublishStore(iniFile).Load();
    return settings;
}

Status StationStore::SaveStationPosition(const QString& stationAt) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kStationGroup));
    positionkeys::Write(*store, stationAt);
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [this, &stationAt](QSettings&) {
        QStringList notices;
        return ReadPosition(iniFile, kStationGroup, QString(), &notices) == stationAt;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("the station's position"));
}

Status StationStore::Save(const StoredSettings& basic) const {
    return SettingsStore(iniFile).Save(basic);
}

Status StationStore::Save(const sweep::Profile& profile) const {
    return SounderStore(iniFile).Save(profile);
}

Status StationStore::Save(const RigChoice& rig) const {
    return RigStore(iniFile).Save(rig);
}

Status StationStore::Save(const IonogramChoice& ionogram) const {
    return IonogramStore(iniFile).Save(ionogram);
}

Status StationStore::Save(const sweep::PlanChoice& plan) const {
    return PlanStore(iniFile).Save(plan);
}

Status StationStore::Save(const PublishChoice& publish) const {
    return PublishStore(iniFile).Save(publish);
}
