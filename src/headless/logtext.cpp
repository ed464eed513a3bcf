#include "headless/logtext.h"

#include "core/units.h"
#include "core/version.h"
#include "ionogram/pathgeometry.h"

#include <QTime>
#include <cmath>
#include <csignal>

namespace headless {

namespace {

constexpr long long kMillisecondsPerDay =
    static_cast<long long>(units::kSecondsPerDay * units::kMillisecondsPerSecond);

QString Megahertz(std::int32_t hz) {
    constexpr int kDecimals = 3;
    return QString::number(hz / units::kHertzPerMegahertz, 'f', kDecimals);
}

QString SignalName(int signalNumber) {
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

QString RadioName(const RigState& state) {
    return state.backend == QLatin1String("civ")
               ? QStringLiteral("radio at address %1").arg(state.radio)
               : QStringLiteral("radio %1").arg(state.radio);
}
} // namespace

QString LogLine(const QDateTime& utc, const QString& text) {
    QString line = utc.toUTC().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

QString TimeOfDay(double secondsSinceMidnight) {
    long long ms =
        std::llround(secondsSinceMidnight * units::kMillisecondsPerSecond) % kMillisecondsPerDay;
    if (ms < 0) {
        ms += kMillisecondsPerDay;
    }
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms))
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString ClockSyncText(ClockSync sync) {
    switch (sync) {
    case ClockSync::Synchronised:
        return QStringLiteral("clock: synchronised");
    case ClockSync::Unsynchronised:
        return QStringLiteral("clock: NOT synchronised; the steps are only as right as the clock. "
                              "Check \"timedatectl\" (System clock synchronized: yes).");
    case ClockSync::Unknown:
        break;
    }
    return QStringLiteral("clock: whether it is synchronised cannot be read");
}

QString PortText(const RigState& state) {
    if (state.connected) {
        return state.speed.isEmpty()
                   ? QStringLiteral("port %1: open").arg(state.endpoint)
                   : QStringLiteral("port %1 at %2 bit/s: open").arg(state.endpoint, state.speed);
    }
    if (state.reconnecting) {
        return QStringLiteral("port %1: gone, trying again").arg(state.endpoint);
    }
    if (!state.problem.isEmpty()) {
        return QStringLiteral("port %1: not open: %2").arg(state.endpoint, state.problem);
    }
    return QStringLiteral("port %1: closed").arg(state.endpoint);
}

QString RadioText(const RigState& state) {
    if (state.refusing) {
        return RadioName(state) + QStringLiteral(": refuses commands (NG)");
    }
    return RadioName(state) +
           (state.answering ? QStringLiteral(": answering") : QStringLiteral(": not answering"));
}

QStringList RigChanges(const RigState& before, const RigState& after) {
    QStringList lines;
    for (const auto text : {&PortText, &RadioText}) {
        if (const QString told = text(after); told != text(before)) {
            lines << told;
        }
    }
    return lines;
}

QString WaitingText(double nextStep, const QString& chirpTime, std::int32_t parkHz) {
    return QStringLiteral("waiting at %1 MHz; the next sweep's first step is at %2 (chirp time %3)")
        .arg(Megahertz(parkHz), TimeOfDay(nextStep), chirpTime);
}

namespace {

// " (NAME)" after the words that open a followed sounder's sweep line; nothing for the single one.
QString Named(const QString& sounder) {
    return sounder.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(sounder);
}

} // namespace

QString SweepStartText(double mark, const QString& sounder) {
    return QStringLiteral("sweep started%1: first step at %2").arg(Named(sounder), TimeOfDay(mark));
}

QString SweepEndText(const SweepTally& tally, bool complete, const QString& sounder) {
    return QStringLiteral("%1%2: %3 steps, %4 not answered by the radio, %5 not sent")
        .arg(complete ? QStringLiteral("sweep ended") : QStringLiteral("sweep cut short"),
             Named(sounder))
        .arg(tally.steps)
        .arg(tally.unanswered)
        .arg(tally.failed);
}

QString StepText(std::int32_t hz, double mark, bool reached, bool answering) {
    QString outcome = QStringLiteral("reached");
    if (!reached) {
        outcome = QStringLiteral("not sent");
    } else if (!answering) {
        outcome = QStringLiteral("sent, not answered");
    }
    return QStringLiteral("step %1 MHz, mark %2: %3").arg(Megahertz(hz), TimeOfDay(mark), outcome);
}

QString StartText(const StoredSettings& settings, const QString& settingsLocation,
                  const QStringList& followed) {
    return QStringLiteral("Tavmirok %1 without a window; settings from %2 (not written by this "
                          "run): port %3 at %4 bit/s, radio address %5, %6")
        .arg(QLatin1String(tavmirok::kVersion), settingsLocation, settings.comPort,
             settings.baudRate, QString::number(settings.radioAdress, units::kHexBase).toUpper(),
             followed.isEmpty()
                 ? QStringLiteral("chirp time ") + settings.chirpTime
                 : QStringLiteral("following ") + followed.join(QStringLiteral(", ")));
}

QString ArchivedText(const QString& png) {
    return QStringLiteral("ionogram archived: %1 (and its .csv.gz)").arg(png);
}

QString DayRecordedText(const QString& csv, const QString& png) {
    return QStringLiteral("day file: %1, day plot: %2").arg(csv, png);
}

QString ScaledText(const ionogram::ScaledSweep& scaled, const QString& sounder) {
    const QString opening = QStringLiteral("sweep scaled%1: ").arg(Named(sounder));
    if (scaled.traces.empty()) {
        return opening + QStringLiteral("no trace");
    }
    const auto trace = [&scaled](std::size_t i) {
        const ionogram::ScaledTrace& t = scaled.traces[i];
        QString text = QStringLiteral("trace %1 MOF %2 MHz, least delay %3 ms")
                           .arg(t.number)
                           .arg(t.mofKhz / units::kKilohertzPerMegahertz, 0, 'f', 2)
                           .arg(t.minDelayMs, 0, 'f', 2);
        if (!scaled.geometry || i >= scaled.geometry->layers.size()) {
            return text;
        }
        const geo::PathLayer& layer = scaled.geometry->layers[i];
        if (!layer.error.empty()) {
            return text + QStringLiteral(" (%1)").arg(QString::fromStdString(layer.error));
        }
        return text + QStringLiteral(", mode %1, fo%2 %3 MHz at the midpoint %4")
                          .arg(QString::fromStdString(layer.mode),
                               layer.peakKm < geo::kHighestELayerKm ? QStringLiteral("E")
                                                                    : QStringLiteral("F2"))
                          .arg(layer.criticalKhz / units::kKilohertzPerMegahertz, 0, 'f', 2)
                          .arg(QString::fromStdString(scaled.geometry->path.midpointLocator));
    };
    // Without the path, the first trace as always; with it, every trace and its layer.
    QStringList traces{trace(0)};
    for (std::size_t i = 1; scaled.geometry && i < scaled.traces.size(); ++i) {
        traces << trace(i);
    }
    return opening + traces.join(QStringLiteral("; "));
}

QStringList BandChangeTexts(double mofBeforeKhz, double mofAfterKhz,
                            const std::vector<ionogram::AmateurBand>& bands) {
    const auto mof = [](double khz) {
        return std::isnan(khz) ? QStringLiteral("no trace")
                               : QStringLiteral("trace 1 MOF %1 MHz")
                                     .arg(khz / units::kKilohertzPerMegahertz, 0, 'f', 2);
    };
    const auto was = [](double khz) {
        return std::isnan(khz)
                   ? QStringLiteral("no trace")
                   : QStringLiteral("%1 MHz").arg(khz / units::kKilohertzPerMegahertz, 0, 'f', 2);
    };
    const double before = std::isnan(mofBeforeKhz) ? 0 : mofBeforeKhz;
    const double after = std::isnan(mofAfterKhz) ? 0 : mofAfterKhz;
    QStringList lines;
    for (const ionogram::AmateurBand& band : bands) {
        const bool opened = before < band.lowKhz && after >= band.lowKhz;
        const bool closed = before >= band.lowKhz && after < band.lowKhz;
        if (opened || closed) {
            lines.append(QStringLiteral("band %1: %2 (%3, was %4)")
                             .arg(opened ? QStringLiteral("opened") : QStringLiteral("closed"),
                                  QLatin1String(band.name), mof(mofAfterKhz), was(mofBeforeKhz)));
        }
    }
    return lines;
}

QString StopText(int signalNumber) {
    return QStringLiteral("%1 received: stopping").arg(SignalName(signalNumber));
}

} // namespace headless

namespace headless {

QString ListeningText(const std::vector<double>& khz) {
    QStringList names;
    for (double f : khz) {
        names << QString::number(f, 'g', 12) + QStringLiteral(" kHz");
    }
    return khz.size() == 1 ? QStringLiteral("listening for sounders on %1; the sweep is not "
                                            "followed")
                                 .arg(names.constFirst())
                           : QStringLiteral("listening for sounders on %1 in turn; the sweep is "
                                            "not followed")
                                 .arg(names.join(QStringLiteral(", ")));
}

QString DetectionText(double listenKhz, const ionogram::ChirpDetection& detection) {
    const double ofDay = std::fmod(detection.time, units::kSecondsPerDay);
    return QStringLiteral("heard at %1 kHz: %2 kHz/s %3 crossing at %4, %5 dB")
        .arg(QString::number(listenKhz, 'g', 12), QString::number(detection.rateKhzPerS, 'g', 12),
             detection.falling ? QStringLiteral("falling (LSB?)") : QStringLiteral("rising"),
             TimeOfDay(ofDay))
        .arg(detection.snrDb, 0, 'f', 1);
}

QString ConfirmedText(double listenKhz, const ionogram::HeardSounder& sounder) {
    return QStringLiteral("sounder confirmed at %1 kHz: %2 kHz/s %3:%4, heard %5 times, %6 dB")
        .arg(QString::number(listenKhz, 'g', 12), QString::number(sounder.rateKhzPerS, 'g', 12),
             QString::number(sounder.periodS, 'g', 12))
        .arg(sounder.chirpTimeS, 0, 'f', 3)
        .arg(sounder.heard)
        .arg(sounder.snrDb, 0, 'f', 1);
}

QString LsbText() {
    return QStringLiteral("notice: sounders are heard as falling chirps only: the radio seems to "
                          "be in LSB; set it to USB");
}

} // namespace headless
