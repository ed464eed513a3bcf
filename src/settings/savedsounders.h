#pragma once

// The sounders the user saved: one list in memory that the station and every window observe,
// read from the store and written back by each change. Whoever changes it (Configure > Sounder,
// Sounders Heard) changes the one list, and the others hear of it.

#include "settings/sounderstore.h"

#include <QObject>
#include <QStringList>
#include <vector>

class SavedSounders : public QObject {
    Q_OBJECT
public:
    explicit SavedSounders(SounderStore store, QObject* parent = nullptr);

    const std::vector<SavedSounder>& List() const { return list; }
    // Entries of the store that could not be read, as notices for the user: while there are
    // some, writing the list would drop them.
    const QStringList& Unread() const { return unread; }
    // Writes the list to the store; once it is there it is the list in force and Changed comes.
    // A failure changes nothing.
    Status Replace(const std::vector<SavedSounder>& next);
    // Reads the store again (the file may have been edited by hand); Changed when it differs.
    void Reload();

signals:
    void Changed();

private:
    SounderStore store;
    std::vector<SavedSounder> list;
    QStringList unread;
};
