#include "headless/runner.h"

#include "core/units.h"
#include "headless/commandline.h"
#include "headless/stopsignals.h"
#include "network/collector.h"
#include "network/publisher.h"
#include "settings/stationstore.h"
#include "station/engine.h"
#include "sweep/schedule.h"
#include "web/webface.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdio>
#include <memory>

namespace headless {

namespace {

void WriteError(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void LogLineNow(const QString& text) {
    WriteError(LogLine(QDateTime::currentDateTimeUtc(), text) + QLatin1Char('\n'));
}

// Listens where --http asked; false when it cannot, told on stderr.
bool Serve(web::WebFace& face, const web::ListenAddress& http) {
    const QString failed = face.Listen(http.address, http.port);
    if (!failed.isEmpty()) {
        WriteError(QStringLiteral("tavmirok: --http: the page cannot be served on %1 port %2 "
                                  "(%3).\n")
                       .arg(http.address.toString())
                       .arg(http.port)
                       .arg(failed));
    }
    return failed.isEmpty();
}

// The windowless collector: no radio, only the broker and the folder.
int Collect(const CommandLine& commandLine, StationSettings settings) {
    for (const auto& [option, value] : commandLine.overrides) {
        option->apply(settings, value);
    }
    network::CollectorSetup setup;
    setup.url = commandLine.collectUrl;
    setup.user = settings.publish.user;
    setup.caFile = settings.publish.caFile;
    setup.prefix = settings.publish.prefix;
    setup.folder = settings.ionogram.folder;
    QString problem;
    if (setup.folder.isEmpty()) {
        problem = QStringLiteral("--collect needs the folder to keep the day files in: give "
                                 "--folder DIR.");
    } else if (!settings.publish.passwordFile.isEmpty()) {
        setup.password =
            network::ReadPasswordFile(settings.publish.passwordFile, &problem).value_or("");
    }
    if (!problem.isEmpty()) {
        WriteError(QStringLiteral("tavmirok: %1\n").arg(problem));
        return kExitRefused;
    }
    StopSignals stopSignals;
    network::Collector collector(setup);
    QObject::connect(&collector, &network::Collector::Problem, [](const QString& message) {
        LogLineNow(QStringLiteral("problem: ") + message);
    });
    QObject::connect(&collector, &network::Collector::Notice, &LogLineNow);
    // The web view of a collector: its map, live, and its folder's files; no station, no commands.
    std::unique_ptr<web::WebFace> face;
    if (commandLine.http) {
        const QString folder = setup.folder;
        face = std::make_unique<web::WebFace>(
            [folder] {
                feed::Snapshot snapshot;
                snapshot.archiveFolder = folder;
                return snapshot;
            },
            web::Commands{[] {}, [] {}, [](const QStringList&) {},
                          [](const std::vector<double>&) {}});
        face->ShowNetwork({[&collector] {
                               return network::NetworkMapJson(collector.LatestPicture(),
                                                              QDateTime::currentDateTimeUtc());
                           },
                           &network::LandJson});
        QObject::connect(&collector, &network::Collector::SweepKept, face.get(),
                         &web::WebFace::OnNetworkChanged);
        QObject::connect(&collector, &network::Collector::Problem, face.get(),
                         &web::WebFace::OnProblem);
        if (!Serve(*face, *commandLine.http)) {
            return kExitRefused;
        }
        LogLineNow(QStringLiteral("web: serving %1 (the network's map)").arg(face->Url()));
    }
    QObject::connect(&stopSignals, &StopSignals::Received, [&collector](int signalNumber) {
        LogLineNow(StopText(signalNumber));
        collector.Stop();
        QCoreApplication::exit(kExitOk);
    });
    if (!collector.Start()) {
        return kExitRefused;
    }
    LogLineNow(QStringLiteral("collector started: %1 into %2").arg(setup.url, setup.folder));
    const int status = QCoreApplication::exec();
    collector.Stop();
    LogLineNow(QStringLiteral("collector stopped: %1 sweep(s) kept, %2 double(s) dropped")
                   .arg(collector.Kept())
                   .arg(collector.Doubles()));
    return status;
}

} // namespace

Runner::Runner(StationFeed& feed, bool verbose, QObject* parent)
    : QObject(parent), feed(feed), verbose(verbose) {
    connect(&feed, &StationFeed::Problem, this, [this](const QString& message) {
        if (!stopped) {
            Log(QStringLiteral("problem: ") + message);
        }
    });
    connect(&feed, &StationFeed::Notice, this, [this](const QString& message) {
        if (!stopped) {
            Log(QStringLiteral("notice: ") + message);
        }
    });
    connect(&feed, &StationFeed::StateChanged, this, [this] { ObserveRig(false); });
    connect(&feed, &StationFeed::RigAnswered, this,
            [this](bool reached) { ObserveRig(reached && !radioReported); });
    connect(&feed, &StationFeed::Connected, this, &Runner::Connected);
    connect(&feed, &StationFeed::Armed, this, [this](const feed::Armed& armed) {
        if (!stopped) {
            Log(WaitingText(armed.firstStep, armed.chirpText, armed.parkHz));
        }
    });
    connect(&feed, &StationFeed::SweepStarted, this, [this](const feed::SweepInfo& sweep) {
        if (stopped) {
            return;
        }
        underWay[SweepName(sweep.sounder)] = {};
        Log(SweepStartText(sweep.mark, SweepName(sweep.sounder)));
    });
    connect(&feed, &StationFeed::SweepEnded, this, [this](const QString& sounder, bool complete) {
        if (!stopped && underWay.contains(SweepName(sounder))) {
            EndSweep(SweepName(sounder), complete);
        }
    });
    connect(&feed, &StationFeed::StepTuned, this,
            [this](const QString& sounder, std::int32_t hz, double atEpoch, bool reached,
                   bool answering) {
                const QString name = SweepName(sounder);
                StepTuned(name, reached, answering);
                if (this->verbose && !stopped) {
                    // A slot of the listening plan is logged as a step, with its sounder's name.
                    const QString step =
                        StepText(hz, std::fmod(atEpoch, units::kSecondsPerDay), reached, answering);
                    Log(name.isEmpty() ? step : name + QStringLiteral(": ") + step);
                }
            });
    connect(&feed, &StationFeed::Archived, this,
            [this](const QString& png) { Log(ArchivedText(png)); });
    connect(&feed, &StationFeed::Scaled, this, [this](const feed::Scaled& scaled) {
        SweepScaled(scaled.scaled, scaled.sounder.name);
    });
    connect(&feed, &StationFeed::DayRecorded, this,
            [this](const QString& csv, const QString& png) { Log(DayRecordedText(csv, png)); });
    connect(&feed, &StationFeed::Detected, this,
            [this](double khz, const ionogram::ChirpDetection& d) { Log(DetectionText(khz, d)); });
    connect(&feed, &StationFeed::SounderConfirmed, this,
            [this](double khz, const ionogram::HeardSounder& s) { Log(ConfirmedText(khz, s)); });
    connect(&feed, &StationFeed::LsbSuspected, this, [this] { Log(LsbText()); });

    clockCheck.setInterval(kClockCheckPeriod);
    connect(&clockCheck, &QTimer::timeout, this, &Runner::CheckClock);
    reconnect.setInterval(kReconnectInterval);
    connect(&reconnect, &QTimer::timeout, this, &Runner::RetryConnect);
}

void Runner::Log(const QString& text) {
    WriteError(LogLine(QDateTime::currentDateTimeUtc(), text) + QLatin1Char('\n'));
}

void Runner::Begin(const QStringList& loadNotices) {
    for (const QString& notice : loadNotices) {
        Log(QStringLiteral("settings: ") + notice);
    }
    CheckClock();
    clockCheck.start();
    feed.Connect();
    if (listenKhz.empty()) {
        feed.Start();
        return;
    }
    Log(ListeningText(listenKhz));
    feed.Listen(listenKhz);
}

void Runner::Connected(const Status& opened) {
    if (!begun) {
        begun = true;
        if (opened.IsOk()) {
            ObserveRig(false);
            return;
        }
        // Without a window nobody can pick another port: keep trying this one.
        connectProblem = opened.Message();
        Log(QStringLiteral("problem: %1 Trying again every %2 s.")
                .arg(connectProblem)
                .arg(
                    std::chrono::duration_cast<std::chrono::seconds>(reconnect.intervalAsDuration())
                        .count()));
        rig = feed.Rig();
        reconnect.start();
        return;
    }
    if (opened.IsOk()) {
        reconnect.stop();
        connectProblem.clear();
    } else if (opened.Message() != connectProblem) {
        connectProblem = opened.Message();
        Log(QStringLiteral("problem: ") + connectProblem);
    }
}

void Runner::ObserveRig(bool reportRadio) {
    if (stopped) {
        return;
    }
    const RigState state = feed.Rig();
    QStringList lines = rig ? RigChanges(*rig, state) : QStringList{PortText(state)};
    // The radio's first answer (or silence) is told even when nothing changed.
    if (reportRadio && state.connected) {
        radioReported = true;
        if (!lines.contains(RadioText(state))) {
            lines << RadioText(state);
        }
    }
    for (const QString& line : lines) {
        Log(line);
    }
    rig = state;
}

void Runner::CheckClock() {
    const ClockSync sync = QueryClockSync();
    if (clockSync != sync) {
        clockSync = sync;
        Log(ClockSyncText(sync));
    }
}

void Runner::RetryConnect() {
    if (stopped || feed.Rig().connected) {
        reconnect.stop();
        return;
    }
    feed.Connect();
}

QString Runner::SweepName(const QString& sounder) const {
    return feed.Plan() ? sounder : QString();
}

void Runner::StepTuned(const QString& sweep, bool reached, bool answering) {
    const auto under = underWay.find(sweep);
    if (stopped || under == underWay.end()) {
        return;
    }
    SweepTally& tally = under->second;
    ++tally.steps;
    if (!reached) {
        ++tally.failed;
    } else if (!answering) {
        ++tally.unanswered;
    }
}

void Runner::EndSweep(const QString& sweep, bool complete) {
    Log(SweepEndText(underWay[sweep], complete, sweep));
    underWay.erase(sweep);
}

void Runner::Stop(const QString& why) {
    if (stopped) {
        return;
    }
    Log(why);
    while (!underWay.empty()) {
        EndSweep(underWay.begin()->first, false);
    }
    stopped = true;
    clockCheck.stop();
    reconnect.stop();
    const QString endpoint = feed.Rig().endpoint;
    feed.Shutdown();
    Log(QStringLiteral("stopped; port %1 released").arg(endpoint));
}

void Runner::SweepScaled(const ionogram::ScaledSweep& scaled, const QString& sounder) {
    if (stopped) {
        return;
    }
    Log(ScaledText(scaled, SweepName(sounder)));
    const double mof = scaled.traces.empty() ? std::nan("") : scaled.traces.front().mofKhz;
    if (const auto before = lastMofKhz.find(sounder); before != lastMofKhz.end()) {
        const auto bands = ionogram::AmateurBands(feed.Snap().iaruRegion);
        for (const QString& line : BandChangeTexts(before->second, mof, bands)) {
            Log(line);
        }
    }
    lastMofKhz[sounder] = mof;
}

int Main(const QStringList& arguments) {
    const CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.exitStatus) {
        if (*commandLine.exitStatus == kExitOk) {
            std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        } else {
            WriteError(commandLine.output);
        }
        return *commandLine.exitStatus;
    }
    const StationStore store;
    QStringList notices;
    StationSettings settings = store.Load(&notices);
    if (!commandLine.collectUrl.isEmpty()) {
        return Collect(commandLine, settings);
    }
    if (const QString refusal = ApplyOverrides(commandLine, &settings, store.Location());
        !refusal.isEmpty()) {
        WriteError(QStringLiteral("tavmirok: %1\n").arg(refusal));
        return kExitRefused;
    }

    QByteArray token;
    if (!commandLine.httpTokenFile.isEmpty()) {
        QString refusal;
        token = web::ReadTokenFile(commandLine.httpTokenFile, &refusal);
        if (!refusal.isEmpty()) {
            WriteError(QStringLiteral("tavmirok: --http-token-file: %1\n").arg(refusal));
            return kExitRefused;
        }
    }

    StopSignals stopSignals;
    // The station runs on a thread of its own; this one logs, serves and watches the signals.
    Engine engine(settings);
    // The web face, when asked for: it observes the station through its feed only.
    std::unique_ptr<web::WebFace> face;
    if (commandLine.http) {
        face = web::FaceOf(&engine.Feed());
        face->SetToken(token);
        if (!Serve(*face, *commandLine.http)) {
            return kExitRefused;
        }
    }
    Runner runner(engine.Feed(), commandLine.verbose);
    runner.ListenTo(commandLine.listenKhz);
    QObject::connect(&stopSignals, &StopSignals::Received, &runner, [&runner](int signalNumber) {
        runner.Stop(StopText(signalNumber));
        QCoreApplication::exit(kExitOk);
    });
    QStringList followed;
    for (const SavedSounder& sounder : FollowedSounders(settings)) {
        followed << sounder.name;
    }
    runner.Log(StartText(settings.basic, store.Location(), followed));
    if (face) {
        QObject::connect(face.get(), &web::WebFace::CommandAccepted, &runner,
                         [&runner](const QString& what) {
                             runner.Log(QStringLiteral("web: command %1").arg(what));
                         });
        runner.Log(QStringLiteral("web: serving %1 (%2)")
                       .arg(face->Url(), token.isEmpty()
                                             ? QStringLiteral("read-only: no access token set")
                                             : QStringLiteral("commands need the access token")));
    }
    std::unique_ptr<network::Publisher> publisher;
    if (settings.publish.enabled) {
        publisher = std::make_unique<network::Publisher>(network::SetupFor(settings));
        QObject::connect(publisher.get(), &network::Publisher::Problem, &runner,
                         [&runner](const QString& message) {
                             runner.Log(QStringLiteral("problem: ") + message);
                         });
        QObject::connect(publisher.get(), &network::Publisher::Notice, &runner, &Runner::Log);
        network::FollowFeed(engine.Feed(), *publisher);
        publisher->SetFollowing(followed, QDateTime::currentDateTimeUtc());
        publisher->Start();
    }
    if (!stopSignals.Problem().isEmpty()) {
        runner.Log(QStringLiteral("problem: SIGINT and SIGTERM cannot be caught (%1); they end "
                                  "the program without releasing the port first.")
                       .arg(stopSignals.Problem()));
    }
    // Begin inside the event loop, so that a signal during the first tuning ends it.
    QTimer::singleShot(0, &runner, [&runner, &notices] { runner.Begin(notices); });
    const int status = QCoreApplication::exec();
    if (publisher) {
        publisher->Stop();
    }
    runner.Stop(QStringLiteral("the event loop ended: stopping"));
    return status;
}

} // namespace headless
