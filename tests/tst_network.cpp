// The network's pure parts: topic levels and names, the broker's address, the scaled message's
// fields as docs/network.md lists them and their reading back, the outbox across a restart, and
// the collector's rows and de-duplication.

#include "network/collector.h"
#include "network/collectorrows.h"
#include "network/outbox.h"
#include "network/payload.h"
#include "network/topics.h"
#include "support/scaledmessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace network;

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    void topicNames_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("sounder");
        QTest::addColumn<QString>("topic");
        QTest::newRow("period:chirp") << "DL0ABC"
                                      << "300:78"
                                      << "tavmirok/v1/DL0ABC/scaled/300_78";
        QTest::newRow("fraction") << "DL0ABC"
                                  << "300:78.5"
                                  << "tavmirok/v1/DL0ABC/scaled/300_78_5";
        QTest::newRow("portable, named") << "DL0ABC/P"
                                         << "Cyprus-2"
                                         << "tavmirok/v1/DL0ABC_P/scaled/Cyprus-2";
        QTest::newRow("wildcards and spaces") << "G4XYZ"
                                              << "a+b #1/x"
                                              << "tavmirok/v1/G4XYZ/scaled/a_b__1_x";
        QTest::newRow("non-ASCII")
            << "G4XYZ" << QStringLiteral("Zürich") << "tavmirok/v1/G4XYZ/scaled/Z_rich";
    }
    void topicNames() {
        QFETCH(QString, callsign);
        QFETCH(QString, sounder);
        QFETCH(QString, topic);
        QCOMPARE(ScaledTopic(QStringLiteral("tavmirok"), callsign, sounder), topic);
    }

    void callsignAndPrefix_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("callsignOk");
        QTest::addColumn<bool>("prefixOk");
        QTest::newRow("plain") << "DL0ABC"
                               << "tavmirok" << true << true;
        QTest::newRow("slash and dash") << "VK2/G4-XY"
                                        << "club/ham.net" << true << true;
        QTest::newRow("empty") << ""
                               << "" << false << false;
        QTest::newRow("wildcards") << "DL+ABC"
                                   << "a/#" << false << false;
        QTest::newRow("space, empty level") << "DL ABC"
                                            << "a//b" << false << false;
        QTest::newRow("too long") << QString(21, u'A') << "/a" << false << false;
    }
    void callsignAndPrefix() {
        QFETCH(QString, callsign);
        QFETCH(QString, prefix);
        QFETCH(bool, callsignOk);
        QFETCH(bool, prefixOk);
        QCOMPARE(CallsignRefusal(callsign).isEmpty(), callsignOk);
        QCOMPARE(PrefixRefusal(prefix).isEmpty(), prefixOk);
    }

    void brokerUrl_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("default port")
            << "mqtt://broker.example" << true << false << "broker.example" << 1883;
        QTest::newRow("tls default port")
            << "mqtts://broker.example/" << true << true << "broker.example" << 8883;
        QTest::newRow("port") << "MQTT://127.0.0.1:18830" << true << false << "127.0.0.1" << 18830;
        QTest::newRow("http") << "http://broker.example" << false << false << "" << 0;
        QTest::newRow("no scheme") << "broker.example:1883" << false << false << "" << 0;
        QTest::newRow("password in url") << "mqtt://u:pw@host" << false << false << "" << 0;
        QTest::newRow("path") << "mqtt://host/topic" << false << false << "" << 0;
    }
    void brokerUrl() {
        QFETCH(QString, url);
        QFETCH(bool, valid);
        QString error;
        const auto address = ParseBrokerUrl(url, &error);
        QCOMPARE(address.has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (address) {
            QTEST(address->tls, "tls");
            QTEST(address->host, "host");
            QTEST(address->port, "port");
        }
    }

    void scaledPayload_documentedFieldsAndReadBack() {
        const QByteArray payload = WithQueuedSeconds(
            ScaledPayload(CyprusSweep(), {QStringLiteral("DL0ABC"), QStringLiteral("JO62qm")}),
            312.04);
        const QJsonObject message = QJsonDocument::fromJson(payload).object();
        QCOMPARE(message.value("version").toInt(), 1);
        QCOMPARE(message.value("sweep_start_utc").toString(), "2026-12-07T19:04:20Z");
        QCOMPARE(message.value("queued_s").toDouble(), 312.0);
        const QJsonObject sounder = message.value("sounder").toObject();
        QCOMPARE(sounder.value("name").toString(), "Cyprus");
        QCOMPARE(sounder.value("chirp_time_s").toDouble(), 78.0);
        QCOMPARE(sounder.value("lat").toDouble(), 35.1856);
        const QJsonArray traces = message.value("traces").toArray();
        QCOMPARE(traces.size(), 2);
        const QJsonObject first = traces.at(0).toObject();
        QCOMPARE(first.value("mode").toString(), "1F");
        QCOMPARE(first.value("peak_snr_db").toDouble(), 23.9);
        QCOMPARE(first.value("fof2_mhz").toDouble(), 6.1);
        QCOMPARE(first.value("mufd_mhz").toDouble(), 17.7);
        // A trace that says nothing of the layer keeps its path but no layer values.
        const QJsonObject second = traces.at(1).toObject();
        QVERIFY(!second.contains("mode") && !second.contains("fof2_mhz"));
        QCOMPARE(second.value("distance_km").toDouble(), 2590.1);

        QString error;
        const auto record = ParseScaledPayload(payload, &error);
        QVERIFY2(record, qPrintable(error));
        QCOMPARE(record->station, "DL0ABC");
        QCOMPARE(record->traces.size(), std::size_t(2));
        QCOMPARE(record->traces[0].md, 2.9);
        QVERIFY(std::isnan(record->traces[1].fof2Mhz));
    }

    void parseScaled_refusesIncomplete_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("not json") << QByteArray("{\"version\":1,");
        QTest::newRow("other version")
            << QByteArray(R"({"version":2,"station":"A","sounder":{"name":"S"},)"
                          R"("sweep_start_utc":"2026-12-07T19:04:20Z","traces":[]})");
        QTest::newRow("no start") << QByteArray(
            R"({"version":1,"station":"A","sounder":{"name":"S"},"traces":[]})");
        QTest::newRow("trace without number")
            << QByteArray(R"({"version":1,"station":"A","sounder":{"name":"S"},)"
                          R"("sweep_start_utc":"2026-12-07T19:04:20Z","traces":[{}]})");
    }
    void parseScaled_refusesIncomplete() {
        QFETCH(QByteArray, payload);
        QString error;
        QVERIFY(!ParseScaledPayload(payload, &error));
        QVERIFY(!error.isEmpty());
    }

    void outbox_keepsUnacknowledgedInOrderAcrossRestart() {
        QTemporaryDir folder;
        ::Status status = ::Status::Ok();
        {
            Outbox outbox(folder.path(), &status);
            QVERIFY(status.IsOk());
            for (int i = 1; i <= 5; ++i) {
                QVERIFY(outbox.Add(QStringLiteral("t/%1").arg(i), QByteArray::number(i), i).IsOk());
            }
            // 1 and 3 acknowledged, 3 before 2: only 1 is behind the first gap.
            QVERIFY(outbox.Acknowledge(1).IsOk());
            QVERIFY(outbox.Acknowledge(3).IsOk());
            QCOMPARE(outbox.Pending().front().number, 2);
        }
        QFile log(QDir(folder.path()).filePath("outbox.log"));
        QVERIFY(log.open(QIODevice::Append));
        log.write("6\t6\tt/6\t{\"cut"); // a crash in the middle of a line
        log.close();
        {
            Outbox outbox(folder.path(), &status);
            std::vector<std::int64_t> numbers;
            for (const OutboxEntry& entry : outbox.Pending()) {
                numbers.push_back(entry.number);
            }
            QCOMPARE(numbers, (std::vector<std::int64_t>{2, 3, 4, 5}));
            QCOMPARE(outbox.Pending().back().topic, "t/5");
            for (std::int64_t n : numbers) {
                QVERIFY(outbox.Acknowledge(n).IsOk());
            }
            std::int64_t next = 0;
            QVERIFY(outbox.Add("t/x", "x", 7, &next).IsOk());
            QCOMPARE(next, 6); // numbers go on after the cut line
        }
        Outbox reopened(folder.path(), &status);
        QCOMPARE(reopened.Pending().size(), std::size_t(1));
        QCOMPARE(reopened.Pending().front().payload, "x");
    }

    void outbox_compactsWhenAcknowledged() {
        QTemporaryDir folder;
        ::Status status = ::Status::Ok();
        Outbox outbox(folder.path(), &status);
        for (int i = 1; i <= Outbox::kCompactAfter + 1; ++i) {
            QVERIFY(outbox.Add("t", "p", i).IsOk());
            QVERIFY(outbox.Acknowledge(i).IsOk());
        }
        QVERIFY(QFileInfo(QDir(folder.path()).filePath("outbox.log")).size() < 100);
        QVERIFY(Outbox(folder.path(), &status).Pending().empty());
    }

    void collectorRows_oneSweepOnceAndReadBack() {
        QString error;
        auto record = ParseScaledPayload(
            ScaledPayload(CyprusSweep(), {QStringLiteral("DL0ABC/P"), QStringLiteral("JO62qm")}),
            &error);
        QVERIFY(record);
        const QDateTime received(QDate(2026, 12, 7), QTime(19, 10, 0), Qt::UTC);
        const QByteArray rows = NetworkRows(received, *record);
        QCOMPARE(rows.split('\n').first(),
                 "2026-12-07T19:10:00Z,DL0ABC/P,JO62qm,Cyprus,2026-12-07T19:04:20Z,1,1F,4100,"
                 "13450,9.21,23.9,2590.1,44.1,22.3,6.1,2.9,17.7");
        ScaledRecord empty = *record;
        empty.traces.clear();
        QCOMPARE(NetworkRows(received, empty),
                 "2026-12-07T19:10:00Z,DL0ABC/P,JO62qm,Cyprus,2026-12-07T19:04:20Z,0,,,,,,,,,,,\n");
        const auto back = ParseNetworkDayFile(QByteArray(kNetworkDayHeader) + '\n' + rows +
                                              NetworkRows(received, empty));
        QCOMPARE(back.size(), std::size_t(3));
        QCOMPARE(back[1].traces.front().trace, 2);
        QVERIFY(back[2].traces.empty());

        SeenSweeps seen;
        QVERIFY(seen.Add(*record));
        QVERIFY(!seen.Add(back[0])); // the same sweep read back from the day file
        ScaledRecord other = *record;
        other.sounder = QStringLiteral("Cyprus2");
        QVERIFY(seen.Add(other));
        other.sweepStartUtc = other.sweepStartUtc.addSecs(300);
        QVERIFY(seen.Add(other));
        seen.Forget(record->sweepStartUtc.addSecs(1));
        QCOMPARE(seen.Size(), std::size_t(1));
        QCOMPARE(NetworkDayFileName(QDate(2026, 12, 7)), "network-2026-12-07.csv");
    }

    // Stations catching up after a night or days away: their sweeps go to their own days' files,
    // and the map shown stays on the newest day.
    void collector_lateSweepsKeptMapStaysOnNewestDay() {
        QTemporaryDir folder;
        CollectorSetup setup;
        setup.folder = folder.path();
        const QDate today(2026, 12, 7);
        setup.now = [today] { return QDateTime(today, QTime(12, 0), Qt::UTC); };
        Collector collector(setup);
        QSignalSpy notices(&collector, &Collector::Notice);
        const StationIdentity station{QStringLiteral("DL0ABC/P"), QStringLiteral("JO62qm")};
        const auto take = [&](const QDate& day) {
            collector.Take(
                {}, ScaledPayload(CyprusSweep(QDateTime(day, QTime(9, 0), Qt::UTC)), station));
        };
        take(today);
        take(today.addDays(-1));
        QCOMPARE(collector.LatestPicture().day, today);
        take(today.addDays(-4));
        take(today.addDays(-5));
        QCOMPARE(collector.Kept(), 4);
        QCOMPARE(collector.LatestPicture().day, today);
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).at(0).toString().contains("network-2026-12-03.csv"),
                 qPrintable(notices.at(0).at(0).toString()));
        for (int back : {0, 1, 4, 5}) {
            QVERIFY(QFile::exists(
                QDir(folder.path()).filePath(NetworkDayFileName(today.addDays(-back)))));
        }
    }
};

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
