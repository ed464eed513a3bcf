#include "rig/hamlibmodels.h"

#include <hamlib/rig.h>

#include <algorithm>

namespace {

// Hamlib prints its debug traces to standard error unless told otherwise.
void LoadBackendsOnce() {
    static const bool loaded = []() {
        rig_set_debug(RIG_DEBUG_NONE);
        rig_load_all_backends();
        return true;
    }();
    (void)loaded;
}

int AddModel(const rig_caps* caps, rig_ptr_t data) {
    auto* models = static_cast<QList<HamlibModel>*>(data);
    models->append(HamlibModel{static_cast<int>(caps->rig_model),
                               QString::fromLatin1(caps->mfg_name).trimmed(),
                               QString::fromLatin1(caps->model_name).trimmed()});
    return 1; // go on
}

} // namespace

QString HamlibModel::Label() const {
    return QStringLiteral("%1 %2 (%3)").arg(maker, model).arg(number);
}

std::unique_lock<std::mutex> HamlibLock() {
    static std::mutex mutex;
    return std::unique_lock<std::mutex>(mutex);
}

QList<HamlibModel> HamlibModels() {
    QList<HamlibModel> models;
    {
        const auto lock = HamlibLock();
        LoadBackendsOnce();
        rig_list_foreach(AddModel, &models);
    }
    std::sort(models.begin(), models.end(), [](const HamlibModel& a, const HamlibModel& b) {
        const int maker = a.maker.compare(b.maker, Qt::CaseInsensitive);
        const int model = a.model.compare(b.model, Qt::CaseInsensitive);
        if (maker != 0) {
            return maker < 0;
        }
        if (model != 0) {
            return model < 0;
        }
        return a.number < b.number;
    });
    return models;
}

HamlibModel FindHamlibModel(int number) {
    const auto lock = HamlibLock();
    LoadBackendsOnce();
    const rig_caps* caps = rig_get_caps(static_cast<rig_model_t>(number));
    if (caps == nullptr) {
        return HamlibModel{number, {}, {}};
    }
    return HamlibModel{number, QString::fromLatin1(caps->mfg_name).trimmed(),
                       QString::fromLatin1(caps->model_name).trimmed()};
}
