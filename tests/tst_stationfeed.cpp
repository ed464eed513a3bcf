// The station's feed as a face sees it: every column of a sweep once and in order, whatever
// updates the recorder sends; its values crossing to a face in another thread; the commands
// that a remote face may send (stop, follow) doing what the window's buttons do.

#include "station/engine.h"
#include "station/station.h"
#include "station/stationfeed.h"
#include "testkit/realtime.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <mutex>
#include <sched.h>
#include <thread>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

ionogram::IonogramSweep SweepOf(const QString& sounder, int columns) {
    ionogram::IonogramSweep sweep;
    sweep.sounder = sounder;
    sweep.startUtc = QDateTime::fromSecsSinceEpoch(1796637600, Qt::UTC);
    for (int i = 0; i < columns; ++i) {
        sweep.frequenciesKhz.push_back(2100 + 100 * i);
        sweep.snrDb.push_back(std::vector<float>(std::size_t(sweep.DelayCount()), float(i)));
    }
    return sweep;
}

} // namespace

class TestStationFeed : public QObject {
    Q_OBJECT
private slots:
    void columns_data() {
        QTest::addColumn<std::vector<int>>("updates"); // columns done at each update, -1: complete
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("sent");
        QTest::newRow("one by one") << std::vector<int>{1, 2, 3} << 3 << 3;
        QTest::newRow("several at once") << std::vector<int>{2, 5} << 6 << 5;
        QTest::newRow("the same count again") << std::vector<int>{2, 2} << 6 << 2;
        QTest::newRow("complete sends the rest") << std::vector<int>{2, -1} << 6 << 6;
        QTest::newRow("complete with none before") << std::vector<int>{-1} << 4 << 4;
    }
    void columns() {
        QFETCH(std::vector<int>, updates);
        QFETCH(int, columns);
        QFETCH(int, sent);
        Station station;
        StationFeed feed(station);
        QSignalSpy started(&feed, &StationFeed::SweepStarted);
        QSignalSpy added(&feed, &StationFeed::ColumnAdded);
        emit station.SweepStarted(QStringLiteral("A"), 0);
        const ionogram::IonogramSweep sweep = SweepOf(QStringLiteral("A"), columns);
        for (const int done : updates) {
            emit station.IonogramUpdated(sweep, done);
        }
        QCOMPARE(started.count(), 1);
        QCOMPARE(added.count(), sent);
        for (int i = 0; i < sent; ++i) {
            const auto column = added.at(i).at(0).value<feed::Column>();
            QCOMPARE(column.index, i);
            QCOMPARE(column.khz, 2100.0 + 100 * i);
            QCOMPARE(column.snrDb.front(), float(i));
        }
        QCOMPARE(feed.Snap().ionograms.size(), std::size_t(1));
    }

    // A face in its own thread gets the values queued: each type must be known to Qt's queues.
    void valuesCrossThreads() {
        Station station;
        StationFeed feed(station);
        QThread faceThread;
        QObject face;
        face.moveToThread(&faceThread);
        std::mutex seen;
        QStringList got;
        const auto note = [&](const QString& what) {
            const std::lock_guard<std::mutex> held(seen);
            got << what;
        };
        connect(&feed, &StationFeed::ColumnAdded, &face,
                [&](const feed::Column& c) { note(QStringLiteral("column %1").arg(c.index)); });
        connect(&feed, &StationFeed::Scaled, &face,
                [&](const feed::Scaled& s) { note(QStringLiteral("scaled ") + s.sounder.name); });
        faceThread.start();
        emit station.SweepStarted(QStringLiteral("A"), 0);
        emit station.IonogramUpdated(SweepOf(QStringLiteral("A"), 1), 1);
        emit station.Scaled(SweepOf(QStringLiteral("A"), 1), {});
        const auto all = [&] {
            const std::lock_guard<std::mutex> held(seen);
            return got;
        };
        QTRY_COMPARE(all(), (QStringList{"column 0", "scaled A"}));
        faceThread.quit();
        faceThread.wait();
    }

    void commands() {
        Station station;
        station.SetChirpText(QStringLiteral("78"));
        StationFeed feed(station);
        QSignalSpy problems(&feed, &StationFeed::Problem);
        station.Start();
        QCOMPARE(feed.Snap().activity, feed::Activity::Waiting);
        QVERIFY(feed.Snap().nextSweepEpoch > 0);

        // The radio is not connected here: that is told too, before the refusal.
        const int before = problems.count();
        feed.Follow({QStringLiteral("Nowhere")});
        QTRY_COMPARE(problems.count(), before + 1);
        QVERIFY(problems.last().at(0).toString().contains(QStringLiteral("Nowhere")));
        QVERIFY(station.Followed().empty());
        QVERIFY(station.Started());

        feed.Stop();
        QTRY_COMPARE(feed.Snap().activity, feed::Activity::Stopped);
        QVERIFY(!station.Started());
        QCOMPARE(station.Scheduler().CurrentPhase(), SweepScheduler::Phase::Idle);
    }

    // The engine's thread asks for a real-time priority below the timed writer's, so a busy
    // core does not hold a step's hand-over back; where the system refuses, it runs all the same.
    void engineThread_runsAtRealTimePriorityWhereAllowed() {
        bool allowed = false;
        std::thread([&allowed] { allowed = testkit::RaiseToRealTime().empty(); }).join();
        Engine engine(std::function<double()>{});
        int policy = -1;
        sched_param param{};
        QMetaObject::invokeMethod(
            &engine.Feed(),
            [&] {
                policy = ::sched_getscheduler(0); // 0: the calling thread, the engine's
                ::sched_getparam(0, &param);
            },
            Qt::BlockingQueuedConnection);
        QCOMPARE(policy, allowed ? SCHED_FIFO : SCHED_OTHER);
        QCOMPARE(param.sched_priority, allowed ? Engine::kRealTimePriority : 0);
    }
};

QTEST_GUILESS_MAIN(TestStationFeed)
#include "tst_stationfeed.moc"
