#include "settings/webstore.h"

#include "settings/storefile.h"

WebStore::WebStore(QString iniFile) : iniFile(std::move(iniFile)) {}

WebChoice WebStore::Load() const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    WebChoice choice{storefile::ReadText(*store, kAddressKey, "").trimmed(),
                     storefile::ReadText(*store, kTokenFileKey, QString()).trimmed()};
    store->endGroup();
    return choice;
}
