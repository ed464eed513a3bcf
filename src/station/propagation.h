#pragma once

// Scales every complete sweep and keeps the day's record of it: the scaled values appended to
// the day file and the day plot redrawn, in the archive folder when saving is on. Where the
// station's and the sweep's sounder's positions are known, each trace is also read as the layer
// over the path's midpoint. A folder that cannot be written is told once, until writing works
// again; the scaling goes on regardless. Scaling, the layer fit, the day file and the plot run on
// a thread of their own, one sweep after the other, so that none of it holds up the radio's
// steps. Sweeps that show 1F and 2F of one layer measure the audio path: their median over the
// day is suggested as the audio delay setting.

#include "ionogram/ionogram.h"
#include "ionogram/ionogramchoice.h"
#include "ionogram/scaler.h"

#include "geo/position.h"
#include "station/audiodelaysuggestion.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <map>
#include <optional>

class Propagation : public QObject {
    Q_OBJECT
public:
    explicit Propagation(QObject* parent = nullptr);

    // Where the day file goes, whether it is kept, and the bands the day plot shows.
    void Configure(const IonogramChoice& choice);
    // A sweep's ionogram is whole (and archived first when saving is on). A sweep cut short is
    // neither scaled nor recorded; the rows name the sweep's sounder.
    void Take(const ionogram::IonogramSweep& sweep);
    // Where the station stands, where the sounders saved by name stand, and where the single
    // sounder (any sweep not named after a saved one) stands; a sounder missing here has no path.
    void SetPositions(std::optional<geo::Position> station,
                      std::map<QString, geo::Position> savedSounders,
                      std::optional<geo::Position> singleSounder);

signals:
    // The sweep scaled: when saving, once its rows are in the day file.
    void Scaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);
    // The day file and day plot the sweep went into.
    void DayRecorded(const QString& csv, const QString& png);
    void Problem(const QString& message);
    // The day's sweeps suggest another audio delay (AudioDelaySuggestion::Text), once per change.
    void AudioDelaySuggested(const QString& text);

private:
    void TellRecorded(const Status& written, const QString& csv, const QString& png);

    IonogramChoice choice;
    std::optional<geo::Position> station;
    std::map<QString, geo::Position> saved;
    std::optional<geo::Position> single;
    QString lastProblem;
    AudioDelaySuggestion audioDelay;
    QThreadPool dayWriter; // one thread: sweeps go into the day file in their order
};
