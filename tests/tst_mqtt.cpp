// The publisher and the collector against a real broker (Debian's mosquitto on a loopback port):
// a scaled sweep reaches a subscriber with its fields and the status is retained; the broker
// stopped and started again while the station restarts and the collector is away loses and
// doubles nothing; a wrong password and an untrusted certificate are told once, and nothing
// reaches the broker.

#include "network/collector.h"
#include "network/networkmap.h"
#include "network/publisher.h"
#include "support/mosquittobroker.h"
#include "support/scaledmessage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <thread>

using namespace network;

namespace {

constexpr int kWaitMs = 15000;

PublisherSetup Setup(const MosquittoBroker& broker, const QString& outbox) {
    PublisherSetup setup;
    setup.choice.enabled = true;
    setup.choice.url = broker.Url();
    setup.station = {QStringLiteral("DL0ABC/P"), QStringLiteral("JO62qm")};
    setup.outboxFolder = outbox;
    return setup;
}

QString PasswordFile(const QTemporaryDir& dir, const QByteArray& password,
                     QFileDevice::Permissions permissions) {
    QFile file(dir.filePath(QStringLiteral("password")));
    file.open(QIODevice::WriteOnly);
    file.write(password + '\n');
    file.close();
    file.setPermissions(permissions);
    return file.fileName();
}

const QString kScaledTopic = QStringLiteral("tavmirok/v1/DL0ABC_P/scaled/Cyprus");
const QString kStatusTopic = QStringLiteral("tavmirok/v1/DL0ABC_P/status");
const QDateTime kFirstSweep(QDate(2026, 12, 7), QTime(19, 0), Qt::UTC);

} // namespace

class TestMqtt : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!MosquittoBroker::Installed()) {
            QSKIP("mosquitto, mosquitto_passwd or openssl is not installed");
        }
    }

    void scaledSweep_reachesSubscriberWithItsFields() {
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({}, &error), qPrintable(error));
        MqttSubscriber subscriber(broker);
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.subscribed, kWaitMs);
        QTemporaryDir outbox;
        Publisher publisher(Setup(broker, outbox.path()));
        publisher.SetFollowing({QStringLiteral("Cyprus")}, kFirstSweep);
        QVERIFY(publisher.Start());
        // The sweep comes while the connection is up on the network thread but its news has not
        // yet reached this one: it must still go out once.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        publisher.PublishScaled(CyprusSweep());
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.Count(kScaledTopic), 1, kWaitMs);
        const QJsonObject message = subscriber.Last(kScaledTopic);
        QCOMPARE(message.value("station").toString(), "DL0ABC/P");
        QCOMPARE(message.value("locator").toString(), "JO62qm");
        QCOMPARE(message.value("sounder").toObject().value("name").toString(), "Cyprus");
        QCOMPARE(message.value("traces").toArray().at(0).toObject().value("fof2_mhz").toDouble(),
                 6.1);
        QVERIFY(message.contains("queued_s"));
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.Last(kStatusTopic).value("online").toBool(), kWaitMs);
        QCOMPARE(subscriber.Last(kStatusTopic).value("following").toArray().at(0).toString(),
                 "Cyprus");
        QTRY_COMPARE_WITH_TIMEOUT(int(publisher.Waiting()), 0, kWaitMs);
        QCOMPARE(subscriber.Count(kScaledTopic), 1);
        ionogram::HeardSounder heard;
        heard.rateKhzPerS = 100;
        heard.chirpTimeS = 78.012;
        heard.heard = 3;
        publisher.PublishHeard({{6000, heard}});
        const QString heardTopic = QStringLiteral("tavmirok/v1/DL0ABC_P/heard");
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.Count(heardTopic), 1, kWaitMs);
        const QJsonObject sounder =
            subscriber.Last(heardTopic).value("heard").toArray().at(0).toObject();
        QCOMPARE(sounder.value("listen_khz").toDouble(), 6000.0);
        QVERIFY(!sounder.contains("period_s")); // a single crossing leaves it open
        publisher.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.Last(kStatusTopic).value("online").toBool(true),
                                 kWaitMs);
    }

    void brokerRestart_nothingMissingNorDoubled() {
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({}, &error), qPrintable(error));
        QTemporaryDir outbox;
        QTemporaryDir folder;
        CollectorSetup collecting{broker.Url(), {}, {}, {}, QStringLiteral("tavmirok"),
                                  folder.path()};
        // The collector's clock an hour after the first sweep, whatever today's date: doubles
        // are told apart only within its horizon of the sweeps' starts.
        collecting.now = [] { return kFirstSweep.addSecs(3600); };
        auto collector = std::make_unique<Collector>(collecting);
        QSignalSpy subscribed(collector.get(), &Collector::Notice);
        QVERIFY(collector->Start());
        QTRY_COMPARE_WITH_TIMEOUT(subscribed.size(), 1, kWaitMs);
        auto publisher = std::make_unique<Publisher>(Setup(broker, outbox.path()));
        QVERIFY(publisher->Start());
        int sweep = 0;
        const auto publish = [&](int count) {
            for (int i = 0; i < count; ++i, ++sweep) {
                publisher->PublishScaled(CyprusSweep(kFirstSweep.addSecs(300 * sweep)));
            }
        };
        publish(4);
        QTRY_COMPARE_WITH_TIMEOUT(collector->Kept(), 4, kWaitMs);

        // The broker goes away; the station keeps scaling, then restarts, and the collector is
        // stopped meanwhile: its session stays on the broker.
        broker.Stop();
        publish(3);
        collector.reset();
        publisher = std::make_unique<Publisher>(Setup(broker, outbox.path()));
        QVERIFY(publisher->Start());
        QCOMPARE(int(publisher->Waiting()), 3);
        publish(2);
        ionogram::HeardSounder heard;
        heard.rateKhzPerS = 100;
        heard.heard = 2;
        publisher->PublishHeard({{6000, heard}}); // the sounders heard change meanwhile
        QVERIFY2(broker.Restart(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(int(publisher->Waiting()), 0, 3 * kWaitMs);
        MqttSubscriber late(broker);
        QTRY_COMPARE_WITH_TIMEOUT(late.Count(QStringLiteral("tavmirok/v1/DL0ABC_P/heard")), 1,
                                  kWaitMs);
        publish(1);
        QTRY_COMPARE_WITH_TIMEOUT(int(publisher->Waiting()), 0, kWaitMs);
        collector = std::make_unique<Collector>(collecting);
        QVERIFY(collector->Start());
        QTRY_COMPARE_WITH_TIMEOUT(collector->Kept(), 6, kWaitMs);
        collector.reset();

        QFile day(QDir(folder.path()).filePath("network-2026-12-07.csv"));
        QVERIFY(day.open(QIODevice::ReadOnly));
        std::vector<QDateTime> starts;
        for (const ScaledRecord& row : ParseNetworkDayFile(day.readAll())) {
            if (row.traces.at(0).trace == 1) {
                starts.push_back(row.sweepStartUtc);
            }
        }
        QCOMPARE(int(starts.size()), sweep);
        for (int i = 0; i < sweep; ++i) {
            QCOMPARE(starts[i], kFirstSweep.addSecs(300 * i));
        }
        QVERIFY(QFile::exists(QDir(folder.path()).filePath("network-2026-12-07.png")));
    }

    void simulatedNetwork_collectedIntoDayFileAndMap() {
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({}, &error), qPrintable(error));
        QTemporaryDir folder;
        // The collector's clock at the simulated hour's end: a day older than the collector's
        // horizon keeps its rows but gets no map.
        CollectorSetup collecting{broker.Url(), {}, {}, {}, QStringLiteral("tavmirok"),
                                  folder.path()};
        collecting.now = [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC); };
        Collector collector(collecting);
        QSignalSpy subscribed(&collector, &Collector::Notice);
        QVERIFY(collector.Start());
        QTRY_COMPARE_WITH_TIMEOUT(subscribed.size(), 1, kWaitMs);
        QProcess simnet;
        simnet.start(QStringLiteral(TAVMIROK_SIMNET),
                     {"--url", broker.Url(), "--stations", "20", "--hours", "1", "--start",
                      "2026-12-07T11:00:00Z"});
        QVERIFY(simnet.waitForFinished(3 * kWaitMs));
        QCOMPARE(simnet.exitCode(), 0);
        constexpr int kSweeps = 20 * 3 * 12; // stations, sounders, five-minute sweeps
        QTRY_COMPARE_WITH_TIMEOUT(collector.Kept(), kSweeps, kWaitMs);
        collector.Stop();
        QFile day(QDir(folder.path()).filePath("network-2026-12-07.csv"));
        QVERIFY(day.open(QIODevice::ReadOnly));
        const std::vector<ScaledRecord> rows = ParseNetworkDayFile(day.readAll());
        QCOMPARE(int(rows.size()), kSweeps); // one trace each, or none for a closed path
        const auto withFof2 = std::count_if(rows.begin(), rows.end(), [](const auto& row) {
            return !row.traces.empty() && row.traces[0].fof2Mhz > 2;
        });
        QVERIFY2(withFof2 > kSweeps / 2, qPrintable(QString::number(withFof2)));
        const QImage map(QDir(folder.path()).filePath("network-2026-12-07.png"));
        QCOMPARE(map.width(), kMapWidth);
    }

    void wrongPassword_toldOnceAndNothingPublished() {
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({QStringLiteral("station"), QStringLiteral("right")}, &error),
                 qPrintable(error));
        MqttSubscriber subscriber(broker, QStringLiteral("station"), "right");
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.subscribed, kWaitMs);
        QTemporaryDir dir;
        PublisherSetup setup = Setup(broker, dir.filePath("outbox"));
        setup.choice.user = QStringLiteral("station");
        setup.choice.passwordFile =
            PasswordFile(dir, "right", QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        {
            Publisher shared(setup);
            QSignalSpy problems(&shared, &Publisher::Problem);
            QVERIFY(!shared.Start());
            QCOMPARE(problems.at(0).at(0).toString(),
                     QStringLiteral("not publishing: the password file %1 may be read by others "
                                    "than its owner: make it private (chmod 600 %1); it is not "
                                    "used until then.")
                         .arg(setup.choice.passwordFile));
        }
        setup.choice.passwordFile = PasswordFile(dir, "wrong", QFileDevice::ReadOwner);
        Publisher publisher(setup);
        QSignalSpy problems(&publisher, &Publisher::Problem);
        QVERIFY(publisher.Start());
        publisher.PublishScaled(CyprusSweep());
        QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, kWaitMs);
        QVERIFY2(problems.at(0).at(0).toString().contains("refused the connection"),
                 qPrintable(problems.at(0).at(0).toString()));
        QTest::qWait(3500); // two more tries, after 1 s and 2 s
        QCOMPARE(problems.size(), 1);
        QVERIFY(broker.Log().count("not authorised") >= 2);
        QCOMPARE(subscriber.Count(kScaledTopic), 0);
        QCOMPARE(int(publisher.Waiting()), 1);
    }

    void untrustedCertificate_toldAndNothingInClear() {
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({{}, {}, true}, &error), qPrintable(error));
        MqttSubscriber subscriber(broker); // trusts the test's CA
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.subscribed, kWaitMs);
        QTemporaryDir dir;
        PublisherSetup setup = Setup(broker, dir.filePath("outbox"));
        Publisher untrusting(setup); // the system's CAs only
        QSignalSpy problems(&untrusting, &Publisher::Problem);
        QVERIFY(untrusting.Start());
        untrusting.PublishScaled(CyprusSweep());
        QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, kWaitMs);
        QVERIFY2(problems.at(0).at(0).toString().contains("TLS connection"),
                 qPrintable(problems.at(0).at(0).toString()));
        QCOMPARE(subscriber.Count(kScaledTopic), 0);
        QVERIFY(!broker.Log().contains("as tavmirok-DL0ABC_P"));

        untrusting.Stop();
        setup.choice.caFile = broker.CaFile();
        Publisher trusting(setup);
        QVERIFY(trusting.Start());
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.Count(kScaledTopic), 1, kWaitMs);
    }
};

QTEST_MAIN(TestMqtt)
#include "tst_mqtt.moc"
