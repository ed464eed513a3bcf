#include "support/ionogramrun.h"

#include "support/settingsfile.h"
#include "testkit/headlessrun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <cmath>

namespace {

constexpr char kRadioAddressDecimal[] = "78"; // 4E
constexpr int kRunPollMs = 100;

} // namespace

bool IonogramRun::Start(const QString& programPath, const QStringList& profile, double period,
                        double lead, const QStringList& radioArguments,
                        const QStringList& programArguments, const QString& home) {
    const QString fifo = pulse.StartWithRadioInput(&error);
    if (fifo.isEmpty()) {
        return false;
    }
    // The chirp time whose sweep takes its first step `lead` seconds from now.
    QProcess print;
    print.start(QStringLiteral(TAVMIROK_RADIOSIM),
                profile + QStringList{QStringLiteral("--print-sweep-start"), QStringLiteral("0")});
    if (!print.waitForFinished(kRunTimeoutMs)) {
        error = QStringLiteral("the simulated radio did not print the sweep's start");
        return false;
    }
    const double untilFirst =
        QString::fromLatin1(print.readAllStandardOutput()).section(u' ', 0, 0).toDouble();
    const double chirp = std::fmod(std::fmod(lead - untilFirst, period) + period, period);
    const QString chirpText = QString::number(std::floor(chirp * 10) / 10, 'f', 1);

    const QString device =
        radio.Start(profile + QStringList{"--chirp", chirpText, "--audio", fifo} + radioArguments);
    if (device.isEmpty()) {
        error = radio.ErrorString();
        return false;
    }
    SettingsValues settings;
    settings.comPort = device;
    settings.chirpTime = chirpText;
    settings.radioAddress = QLatin1String(kRadioAddressDecimal);
    WriteSettingsFile(folder.filePath(QStringLiteral("Tavmirok/Tavmirok.conf")), settings);
    QDir().mkpath(home);

    PrepareWindowless(program, folder.path(), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    QProcessEnvironment environment = program.processEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    program.setProcessEnvironment(environment);
    program.start(programPath,
                  QStringList{"--headless", "--audio-input", "radio"} + profile + programArguments);
    if (!program.waitForStarted(kRunTimeoutMs)) {
        error = program.errorString();
        return false;
    }
    return true;
}

QRegularExpressionMatch IonogramRun::WaitFor(const QRegularExpression& pattern, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QRegularExpressionMatch match;
    while (!(match = pattern.match(log)).hasMatch() && program.state() != QProcess::NotRunning &&
           !deadline.hasExpired()) {
        program.waitForReadyRead(kRunPollMs);
        log += QString::fromLocal8Bit(program.readAllStandardError());
        QCoreApplication::processEvents();
    }
    return match;
}

bool IonogramRun::Finish() {
    program.terminate();
    const bool ended = program.waitForFinished(kRunTimeoutMs);
    log += QString::fromLocal8Bit(program.readAllStandardError());
    return ended;
}
