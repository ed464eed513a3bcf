#include "station/propagation.h"

#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "station/offthread.h"

#include <QDir>

Propagation::Propagation(QObject* parent) : QObject(parent) {
    dayWriter.setMaxThreadCount(1);
}

void Propagation::Configure(const IonogramChoice& next) {
    choice = next;
}

void Propagation::Take(const ionogram::IonogramSweep& sweep) {
    if (sweep.cutShort || !sweep.startUtc.isValid()) {
        return;
    }
    const ionogram::ScaledSweep scaled = ionogram::ScaleSweep(sweep);
    if (!choice.save) {
        emit Scaled(sweep, scaled, sweep.sounder);
        return;
    }
    const QDate day = sweep.startUtc.toUTC().date();
    const QDir folder(choice.folder);
    const QString csv = folder.filePath(ionogram::DayFileName(day));
    const QString png = folder.filePath(ionogram::DayPlotName(day));
    RunOffThread<Status>(
        dayWriter, this,
        [folder = choice.folder, region = choice.iaruRegion, start = sweep.startUtc,
         sounder = sweep.sounder, scaled, day] {
            Status written = ionogram::AppendDayFile(folder, start, sounder, scaled);
            return written.IsOk() ? ionogram::WriteDayPlot(folder, day, region) : written;
        },
        [this, sweep, scaled, csv, png](const Status& written) {
            // Told once its rows are in the day file: the day plot's window reads them then.
            emit Scaled(sweep, scaled, sweep.sounder);
            TellRecorded(written, csv, png);
        });
}

void Propagation::TellRecorded(const Status& written, const QString& csv, const QString& png) {
    if (!written.IsOk()) {
        if (written.Message() != lastProblem) {
            lastProblem = written.Message();
            emit Problem(written.Message());
        }
        return;
    }
    lastProblem.clear();
    emit DayRecorded(csv, png);
}
