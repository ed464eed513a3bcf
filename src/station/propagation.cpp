#include "station/propagation.h"

#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "ionogram/pathgeometry.h"
#include "station/offthread.h"

#include <QDir>

Propagation::Propagation(QObject* parent) : QObject(parent) {
    dayWriter.setMaxThreadCount(1);
}

void Propagation::Configure(const IonogramChoice& next) {
    choice = next;
}

void Propagation::SetPositions(std::optional<geo::Position> stationAt,
                               std::map<QString, geo::Position> savedAt,
                               std::optional<geo::Position> singleAt) {
    station = stationAt;
    saved = std::move(savedAt);
    single = singleAt;
}

void Propagation::Take(const ionogram::IonogramSweep& sweep) {
    if (sweep.cutShort || !sweep.startUtc.isValid()) {
        return;
    }
    std::optional<geo::Position> sounder = single;
    if (const auto named = saved.find(sweep.sounder); named != saved.end()) {
        sounder = named->second;
    }
    struct Outcome {
        ionogram::ScaledSweep scaled;
        Status written = Status::Ok();
    };
    const bool save = choice.save;
    const QDate day = sweep.startUtc.toUTC().date();
    const QDir folder(choice.folder);
    const QString csv = folder.filePath(ionogram::DayFileName(day));
    const QString png = folder.filePath(ionogram::DayPlotName(day));
    RunOffThread<Outcome>(
        dayWriter, this,
        [save, folder = choice.folder, region = choice.iaruRegion, sweep, day, station = station,
         sounder] {
            Outcome outcome;
            outcome.scaled = ionogram::ScaleSweep(sweep);
            if (station && sounder) {
                outcome.scaled.geometry =
                    ionogram::GeometryOf(sweep, outcome.scaled, *station, *sounder);
            }
            if (save) {
                outcome.written =
                    ionogram::AppendDayFile(folder, sweep.startUtc, sweep.sounder, outcome.scaled);
                if (outcome.written.IsOk()) {
                    outcome.written = ionogram::WriteDayPlot(folder, day, region);
                }
            }
            return outcome;
        },
        [this, sweep, save, csv, png, setMs = choice.audioDelayMs](const Outcome& outcome) {
            // Told once its rows are in the day file: the day plot's window reads them then.
            emit Scaled(sweep, outcome.scaled);
            if (outcome.scaled.geometry && outcome.scaled.geometry->audioDelayErrorMs) {
                const std::optional<double> suggested =
                    audioDelay.Take(sweep.startUtc.toUTC().date(),
                                    setMs + *outcome.scaled.geometry->audioDelayErrorMs);
                if (suggested) {
                    emit AudioDelaySuggested(AudioDelaySuggestion::Text(
                        *suggested, choice.audioDelayMs, audioDelay.Sweeps()));
                }
            }
            if (save) {
                TellRecorded(outcome.written, csv, png);
            }
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
