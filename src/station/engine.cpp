#include "station/engine.h"

#include "station/station.h"

#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <pthread.h>
#include <sched.h>
#endif

Engine::Engine(const StationSettings& settings)
    : Engine(std::optional<StationSettings>(settings), {}) {}

Engine::Engine(std::function<double()> clock)
    : Engine(std::optional<StationSettings>(), std::move(clock)) {}

Engine::Engine(const std::optional<StationSettings>& settings, std::function<double()> clock) {
    thread.setObjectName(QStringLiteral("station"));
    context.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        &context,
        [this, &settings, &clock] {
#ifdef Q_OS_UNIX
            // Ahead of ordinary threads where the system allows it (an rtprio limit); where it
            // refuses, the thread runs at the ordinary priority.
            sched_param param{};
            param.sched_priority = kRealTimePriority;
            (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
            station = new Station(std::move(clock));
            if (settings) {
                station->Apply(*settings);
            }
            feed = new StationFeed(*station);
        },
        Qt::BlockingQueuedConnection);
}

Engine::~Engine() {
    QMetaObject::invokeMethod(
        &context,
        [this] {
            delete feed;
            station->Shutdown();
            delete station;
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}
