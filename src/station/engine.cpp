#include "station/engine.h"

#include "station/station.h"

#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <pthread.h>
#include <sched.h>
#endif

Engine::Engine(const StationSettings& settings) : Engine(settings, Options()) {}

Engine::Engine(const StationSettings& settings, Options options)
    : Engine(std::optional<StationSettings>(settings), std::move(options)) {}

Engine::Engine(Options options) : Engine(std::optional<StationSettings>(), std::move(options)) {}

Engine::Engine(const std::optional<StationSettings>& settings, Options options)
    : ownThread(options.ownThread) {
    const auto make = [this, &settings, &options] {
        station = new Station(options.clock);
        if (settings) {
            station->Apply(*settings);
        }
        feed = new StationFeed(*station);
    };
    if (!ownThread) {
        make();
        return;
    }
    thread.setObjectName(QStringLiteral("station"));
    context.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        &context,
        [&make] {
#ifdef Q_OS_UNIX
            // Ahead of ordinary threads where the system allows it (an rtprio limit); where it
            // refuses, the thread runs at the ordinary priority.
            sched_param param{};
            param.sched_priority = kRealTimePriority;
            (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
            make();
        },
        Qt::BlockingQueuedConnection);
}

Engine::~Engine() {
    const auto end = [this] {
        delete feed;
        station->Shutdown();
        delete station;
    };
    if (!ownThread) {
        end();
        return;
    }
    QMetaObject::invokeMethod(&context, end, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}
