#include "station/propagation.h"

#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"

#include <QDir>

Propagation::Propagation(QObject* parent) : QObject(parent) {}

void Propagation::Configure(const IonogramChoice& next) {
    choice = next;
}

void Propagation::Take(const ionogram::IonogramSweep& sweep) {
    if (sweep.cutShort || !sweep.startUtc.isValid()) {
        return;
    }
    const ionogram::ScaledSweep scaled = ionogram::ScaleSweep(sweep);
    emit Scaled(sweep, scaled, sweep.sounder);
    if (!choice.save) {
        return;
    }
    const QDate day = sweep.startUtc.toUTC().date();
    Status written = ionogram::AppendDayFile(choice.folder, sweep.startUtc, sweep.sounder, scaled);
    if (written.IsOk()) {
        written = ionogram::WriteDayPlot(choice.folder, day, choice.iaruRegion);
    }
    if (!written.IsOk()) {
        if (written.Message() != lastProblem) {
            lastProblem = written.Message();
            emit Problem(written.Message());
        }
        return;
    }
    lastProblem.clear();
    const QDir folder(choice.folder);
    emit DayRecorded(folder.filePath(ionogram::DayFileName(day)),
                     folder.filePath(ionogram::DayPlotName(day)));
}
