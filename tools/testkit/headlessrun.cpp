#include "testkit/headlessrun.h"

#include "core/units.h"
#include "link/civ.h"
#include "sweep/schedule.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <cmath>

namespace {

constexpr int kStopTimeoutMs = 5000;

} // namespace

QList<WireFrame> SetFrequencyFrames(const QStringList& logLines) {
    // "57509.177 FE FE 94 E0 25 00 00 50 07 07 00 FD" or "... 4E 4D 05 00 50 07 07 00 FD": five
    // BCD bytes after the command.
    static const QRegularExpression setFrame(
        QStringLiteral("^([0-9.]+) FE FE [0-9A-F]{2} [0-9A-F]{2} (?:05|25 00) "
                       "((?:[0-9A-F]{2} ){5})FD$"));
    QList<WireFrame> frames;
    for (const QString& line : logLines) {
        const QRegularExpressionMatch match = setFrame.match(line);
        if (match.hasMatch()) {
            const QByteArray bcd = QByteArray::fromHex(match.captured(2).remove(u' ').toLatin1());
            frames.append({match.captured(1).toDouble(),
                           static_cast<std::int32_t>(std::llround(civ::BcdToFreq(bcd)))});
        }
    }
    return frames;
}

QList<WireFrame> FramesFromPark(const QStringList& logLines, const sweep::Profile& profile) {
    QList<WireFrame> frames = SetFrequencyFrames(logLines);
    while (!frames.isEmpty() && frames.first().hz != sweep::ParkFrequency(profile)) {
        frames.removeFirst();
    }
    return frames;
}

QString FaketimeLibrary() {
    // libfaketime itself, not the faketime wrapper: that forks, and would take signals meant for
    // the program.
    const QStringList folders =
        QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& folder : folders) {
        const QString candidate =
            QStringLiteral("/usr/lib/%1/faketime/libfaketime.so.1").arg(folder);
        if (QFile::exists(candidate)) {
            return candidate;
        }
    }
    return QString();
}

double UtcTimeOfDay() {
    return QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay() /
           units::kMillisecondsPerSecond;
}

void PrepareWindowless(QProcess& program, const QTemporaryDir& folder) {
    const QString runtime = folder.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    PrepareWindowless(program, folder.path(), runtime);
}

void PrepareWindowless(QProcess& program, const QString& configHome, const QString& runtime) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QLatin1String(name));
    }
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
}

HeadlessRun::HeadlessRun(const sweep::Profile& sweepProfile, double chirp, double lead)
    : profile(sweepProfile), chirpTime(chirp) {
    const double inPeriod =
        sweep::CrossingInPeriod(profile, chirpTime, profile.lowFrequency + profile.stepSize) -
        sweep::HalfStep(profile);
    // The latest first step not after now + lead; the program's clock runs behind to meet it.
    const double now = UtcTimeOfDay();
    firstStep = std::floor((now + lead - inPeriod) / profile.period) * profile.period + inPeriod;
    offset = firstStep - lead - now;
}

HeadlessRun::~HeadlessRun() {
    if (program.state() != QProcess::NotRunning) {
        program.terminate();
        if (!program.waitForFinished(kStopTimeoutMs)) {
            program.kill();
            program.waitForFinished(kStopTimeoutMs);
        }
    }
}

bool HeadlessRun::Start(const QString& programPath, const QString& faketime,
                        const QStringList& arguments) {
    PrepareWindowless(program, folder);
    QProcessEnvironment environment = program.processEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), faketime);
    // A sanitizer build wants its runtime loaded first; libfaketime does not disturb it.
    const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       sanitizer + (sanitizer.isEmpty() ? "" : ":") +
                           QStringLiteral("verify_asan_link_order=0"));
    // A relative offset needs its sign.
    environment.insert(QStringLiteral("FAKETIME"), (offset < 0 ? QString() : QStringLiteral("+")) +
                                                       QString::number(offset, 'f', 3));
    program.setProcessEnvironment(environment);
    const auto number = [](double value) { return QString::number(value, 'g', 12); };
    program.start(programPath,
                  QStringList{QStringLiteral("--headless"), QStringLiteral("--verbose"),
                              QStringLiteral("--chirp"), number(chirpTime),
                              QStringLiteral("--sweep-rate"), number(profile.sweepRate),
                              QStringLiteral("--period"), number(profile.period),
                              QStringLiteral("--low"), number(profile.lowFrequency),
                              QStringLiteral("--high"), number(profile.highFrequency),
                              QStringLiteral("--step"), number(profile.stepSize)} +
                      arguments);
    return program.waitForStarted();
}

double HeadlessRun::Mark(int step) const {
    return firstStep + sweep::StepOffset(profile, step) - offset;
}

double HeadlessRun::Lateness(const WireFrame& frame, int step) const {
    return sweep::AroundTheDay(frame.time, Mark(step));
}
