#pragma once

// The windowless run's log: one line per event, built by pure functions of plain values.
// Scripts read these lines, so their wording stays as it is; new events add lines.

#include "headless/clocksync.h"
#include "ionogram/dayplot.h"
#include "ionogram/scaler.h"
#include "ionogram/soundergrouper.h"
#include "rig/tuner.h"
#include "settings/settingsstore.h"

#include <QDateTime>

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace headless {

// What one sweep came to: steps tuned, steps after which the radio was not answering, steps
// that could not be sent.
struct SweepTally {
    int steps = 0;
    int unanswered = 0;
    int failed = 0;
};

// The log's lines: pure functions of plain values.
QString LogLine(const QDateTime& utc, const QString& text); // "2026-12-07T16:10:16.123Z text"
QString TimeOfDay(double secondsSinceMidnight);             // "16:40:20.500"
QString ClockSyncText(ClockSync sync);
QString PortText(const RigState& state);
QString RadioText(const RigState& state);
// The port and radio lines that read differently after than before.
QStringList RigChanges(const RigState& before, const RigState& after);
QString WaitingText(double nextStep, const QString& chirpTime, std::int32_t parkHz);
// A sweep's lines name its sounder in brackets while several are followed ("sweep started
// (Cyprus): ..."); the single sounder's (sounder empty) name none.
QString SweepStartText(double mark, const QString& sounder = {});
QString SweepEndText(const SweepTally& tally, bool complete, const QString& sounder = {});
QString StepText(std::int32_t hz, double mark, bool reached, bool answering);
// The opening line: where the settings come from, the radio, and the chirp time of the single
// sounder or the names of the sounders followed.
QString StartText(const StoredSettings& settings, const QString& settingsLocation,
                  const QStringList& followed = {});
QString ArchivedText(const QString& png); // "ionogram archived: PATH (and its .csv.gz)"
QString StopText(int signalNumber);       // "SIGTERM received: stopping"
// "day file: PATH, day plot: PATH"
QString DayRecordedText(const QString& csv, const QString& png);
// "sweep scaled: trace 1 MOF 13.45 MHz, least delay 5.92 ms" or "sweep scaled: no trace"; where
// the path is known, every trace with its mode and the layer's critical frequency at the midpoint.
QString ScaledText(const ionogram::ScaledSweep& scaled, const QString& sounder = {});
// The bands that opened or closed from one sweep of a sounder to its next: trace 1's MOF (NaN
// for no trace) crossed the band's lower edge. "band opened: 20 m (trace 1 MOF 14.45 MHz, was
// 13.85 MHz)", "band closed: 20 m (no trace, was 14.45 MHz)".
QStringList BandChangeTexts(double mofBeforeKhz, double mofAfterKhz,
                            const std::vector<ionogram::AmateurBand>& bands);
// "listening on 7,000.000 kHz for sounders" (a list: "in turn on ... and ...")
QString ListeningText(const std::vector<double>& khz);
// "heard at 7000 kHz: 500 kHz/s crossing at 19:04:20.123, 15.2 dB" (falling: "falling (LSB?)")
QString DetectionText(double listenKhz, const ionogram::ChirpDetection& detection);
// "sounder confirmed at 7000 kHz: 500 kHz/s 60:54.003, heard 3 times, 15.2 dB"
QString ConfirmedText(double listenKhz, const ionogram::HeardSounder& sounder);
QString LsbText();

} // namespace headless
