#pragma once

// The status line under the main window's controls, as text: a pure function of plain values,
// so every wording is tested with one table and the window only displays it.

#include "rig/tuner.h"
#include "station/stationfeed.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>

struct StatusValues {
    RigState rig;
    feed::Phase phase = feed::Phase::Idle;
    double secondsToNextStep = 0;        // while waiting
    std::int32_t stepFrequency = 0;      // hertz, while stepping
    std::int32_t topFrequency = 0;       // the highest step, hertz
    QString notice;                      // the last passing remark, or ""
    std::int32_t listeningFrequency = 0; // hertz, while the radio is parked listening, else 0
    QStringList followed;                // the saved sounders followed together, or none
    bool started = false;                // Start was pressed (what the line says while following)
};

// "1 min 05 s", "42 s": a countdown rounded up to whole seconds.
QString FormatCountdown(double seconds);

// The lines of the status line, joined with '\n'.
QString StatusLineText(const StatusValues& values, const QLocale& locale = QLocale());

// The label under the frequency display for each phase of the sweep.
QString PhaseLabel(feed::Phase phase);
