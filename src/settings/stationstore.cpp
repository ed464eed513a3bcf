#include "settings/stationstore.h"

StationStore::StationStore(QString iniFile) : iniFile(std::move(iniFile)) {}

StationSettings StationStore::Load(QStringList* notices) const {
    StationSettings settings;
    settings.basic = SettingsStore(iniFile).Load(notices);
    settings.profile = SounderStore(iniFile).Load(notices);
    settings.rig = RigStore(iniFile).Load(notices);
    settings.ionogram = IonogramStore(iniFile).Load(notices);
    QStringList ignored; // a saved sounder that cannot be read is told by the Sounder dialog
    settings.saved = SounderStore(iniFile).LoadSaved(&ignored);
    return settings;
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
