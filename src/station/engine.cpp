#include "station/engine.h"

#include "core/realtime.h"
#include "station/station.h"

#include <QMetaObject>

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
            AskRealTimePriority(kRealTimePriority);
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
