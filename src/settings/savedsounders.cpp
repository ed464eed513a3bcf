#include "settings/savedsounders.h"

#include <utility>

SavedSounders::SavedSounders(SounderStore sounderStore, QObject* parent)
    : QObject(parent), store(std::move(sounderStore)) {
    list = store.LoadSaved(&unread);
}

Status SavedSounders::Replace(const std::vector<SavedSounder>& next) {
    if (const Status stored = store.SaveSaved(next); !stored.IsOk()) {
        return stored;
    }
    const bool changed = next != list;
    list = next;
    unread.clear(); // what could not be read is gone from the store now
    if (changed) {
        emit Changed();
    }
    return Status::Ok();
}

void SavedSounders::Reload() {
    QStringList notices;
    std::vector<SavedSounder> read = store.LoadSaved(&notices);
    unread = notices;
    if (read != list) {
        list = std::move(read);
        emit Changed();
    }
}
