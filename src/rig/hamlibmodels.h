#pragma once

// Every radio model the Hamlib library knows (maker, model, number), for the Rig Control
// dialog's list and for naming the model in messages. Hamlib's global tables are touched only
// under HamlibLock(), so the list and a Hamlib backend's worker may run at the same time.

#include <QList>
#include <QString>
#include <mutex>

struct HamlibModel {
    int number = 0;
    QString maker;
    QString model;

    // "Icom IC-7300 (3073)"
    QString Label() const;
};

// Loads every Hamlib backend once, then lists their models sorted by maker, model and number.
QList<HamlibModel> HamlibModels();

// The model with that number ("" in maker and model when Hamlib does not know it).
HamlibModel FindHamlibModel(int number);

// Held around Hamlib calls that use its global state (backend loading, rig_init).
std::unique_lock<std::mutex> HamlibLock();
