#include "ui/statusline.h"

#include "core/units.h"
#include "link/civ.h"
#include "rig/rigchoice.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// ": reason." after "not open", or "." when there is no reason.
QString ReasonSuffix(QString reason) {
    reason = reason.trimmed();
    if (reason.endsWith(u'.')) {
        reason.chop(1);
    }
    return reason.isEmpty() ? QStringLiteral(".") : QStringLiteral(": %1.").arg(reason);
}

} // namespace

namespace {
QString PhaseLine(const StatusValues& values, const QLocale& locale);
} // namespace

QString FormatCountdown(double seconds) {
    const int whole = static_cast<int>(std::ceil(std::max(seconds, 0.0)));
    if (whole >= units::kSecondsPerMinute) {
        return QStringLiteral("%1 min %2 s")
            .arg(whole / units::kSecondsPerMinute)
            .arg(whole % units::kSecondsPerMinute, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1 s").arg(whole);
}

QString StatusLineText(const StatusValues& values, const QLocale& locale) {
    QStringList lines;
    const RigState& rig = values.rig;
    if (rig.backend == QLatin1String(rigconfig::kBackendNetwork)) {
        const QString server = QStringLiteral("rigctld at %1").arg(rig.endpoint);
        if (rig.connected) {
            lines << QStringLiteral("%1: connected.").arg(server);
        } else if (rig.reconnecting) {
            lines << QStringLiteral("%1: not connected%2 Trying again every 2 s.")
                         .arg(server, ReasonSuffix(rig.problem));
        } else {
            lines << QStringLiteral("%1: not connected%2").arg(server, ReasonSuffix(rig.problem));
        }
    } else {
        const QString port = rig.backend == QLatin1String(rigconfig::kBackendHamlib)
                                 ? QStringLiteral("Hamlib, %1").arg(rig.endpoint)
                                 : QStringLiteral("Port %1").arg(rig.endpoint);
        if (rig.connected) {
            lines << (rig.speed.isEmpty()
                          ? QStringLiteral("%1: open.").arg(port)
                          : QStringLiteral("%1 at %2 bit/s: open.").arg(port, rig.speed));
        } else if (rig.reconnecting) {
            lines << QStringLiteral("%1: gone, trying again every 2 s.").arg(port);
        } else {
            lines << QStringLiteral("%1: not open%2").arg(port, ReasonSuffix(rig.problem));
        }
    }
    if (rig.backend == QLatin1String(rigconfig::kBackendCiv) || rig.backend.isEmpty()) {
        if (rig.refusing) {
            lines << QStringLiteral("Radio at %1: refuses commands (NG).").arg(rig.radio);
        } else if (!rig.answering) {
            lines << QStringLiteral("Radio at %1: not answering.").arg(rig.radio);
        } else {
            lines << QStringLiteral("Radio at address %1.").arg(rig.radio);
        }
    } else if (rig.refusing) {
        lines << QStringLiteral("Radio: refuses the frequency.");
    } else if (!rig.answering) {
        lines << QStringLiteral("Radio: not answering.");
    } else {
        lines << QStringLiteral("Radio: answering.");
    }
    if (values.listeningFrequency > 0) {
        lines << QStringLiteral("Listening for sounders on %1 kHz; the sweep is not followed.")
                     .arg(core::FormatKilohertz(values.listeningFrequency, locale));
    } else {
        lines << PhaseLine(values, locale);
    }
    if (!values.notice.isEmpty()) {
        lines << values.notice;
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {

QString PhaseLine(const StatusValues& values, const QLocale& locale) {
    if (!values.followed.isEmpty()) {
        // The single sounder's sweep gives way to the plan: its phase says nothing then.
        const QString names = values.followed.join(QStringLiteral(", "));
        const qsizetype count = values.followed.size();
        if (values.started) {
            return count == 1 ? QStringLiteral("Following the saved sounder %1.").arg(names)
                              : QStringLiteral("Following %1 sounders together: %2.")
                                    .arg(count)
                                    .arg(names);
        }
        return count == 1 ? QStringLiteral("Press Start to follow the saved sounder %1.").arg(names)
                          : QStringLiteral("Press Start to follow %1 sounders together: %2.")
                                .arg(count)
                                .arg(names);
    }
    QStringList lines;
    switch (values.phase) {
    case feed::Phase::Idle:
        lines << QStringLiteral("Press Start to follow the sounder.");
        break;
    case feed::Phase::Waiting:
        lines << QStringLiteral("Next sweep in %1.").arg(FormatCountdown(values.secondsToNextStep));
        break;
    case feed::Phase::Stepping:
        lines << QStringLiteral("Following %1 kHz.")
                     .arg(core::FormatKilohertz(std::min(values.stepFrequency, values.topFrequency),
                                                locale));
        break;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString PhaseLabel(feed::Phase phase) {
    switch (phase) {
    case feed::Phase::Waiting:
        return QStringLiteral("waiting...");
    case feed::Phase::Stepping:
        return QStringLiteral("Stepping");
    case feed::Phase::Idle:
        break;
    }
    return QString();
}
