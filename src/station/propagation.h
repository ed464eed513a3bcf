#pragma once

// Scales every complete sweep and keeps the day's record of it: the scaled values appended to
// the day file and the day plot redrawn, in the archive folder when saving is on. A folder that
// cannot be written is told once, until writing works again; the scaling goes on regardless.

#include "ionogram/ionogram.h"
#include "ionogram/ionogramchoice.h"
#include "ionogram/scaler.h"

#include <QObject>
#include <QString>

class Propagation : public QObject {
    Q_OBJECT
public:
    explicit Propagation(QObject* parent = nullptr);

    // Where the day file goes, whether it is kept, and the bands the day plot shows.
    void Configure(const IonogramChoice& choice);
    // A sweep's ionogram is whole (and archived first when saving is on). A sweep cut short is
    // neither scaled nor recorded; the rows name the sweep's sounder.
    void Take(const ionogram::IonogramSweep& sweep);

signals:
    void Scaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled,
                const QString& sounder);
    // The day file and day plot the sweep went into.
    void DayRecorded(const QString& csv, const QString& png);
    void Problem(const QString& message);

private:
    IonogramChoice choice;
    QString lastProblem;
};
