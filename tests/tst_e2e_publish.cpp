// The windowless program with the simulated radio publishes its scaled sweep: a subscriber on a
// real broker receives it with the documented fields, the path's midpoint and foF2 among them.

#include "ionogram/dayfile.h"
#include "support/ionogramrun.h"
#include "support/mosquittobroker.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <cmath>

class TestE2ePublish : public QObject {
    Q_OBJECT
private slots:
    void scaledSweep_publishedWithItsFields() {
        if (!PulseServer::Installed() || !MosquittoBroker::Installed()) {
            QSKIP("pulseaudio, pactl or mosquitto is not installed (scripts/test installs them)");
        }
        MosquittoBroker broker;
        QString error;
        QVERIFY2(broker.Start({}, &error), qPrintable(error));
        MqttSubscriber subscriber(broker);
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.subscribed, 10000);
        // As the ionogram's whole-program test: a layer with its nose at 11.23 MHz over a
        // 1500 km path along the equator, every minute.
        const QStringList profile{"--period", "60",    "--sweep-rate", "500",    "--step",
                                  "200",      "--low", "2000",         "--high", "14000"};
        constexpr double kLead = 15;
        constexpr int kScaledTimeoutMs = int((kLead + 24 + 1.5) * 1000) + 30000;
        IonogramRun run;
        QVERIFY2(run.Start(QStringLiteral(TAVMIROK_PROGRAM), profile, 60, kLead,
                           {"--noise", "0.01", "--layer", "5000:300:100:1500:1:0.05"},
                           {"--locator", "0,0", "--sounder-at", "0,13.48985", "--callsign",
                            "T3ST/P", "--publish", broker.Url()},
                           run.folder.filePath(QStringLiteral("home"))),
                 qPrintable(run.Error()));
        const auto day =
            run.WaitFor(QRegularExpression(QStringLiteral("Z day file: (\\S+\\.csv), day plot: ")),
                        kScaledTimeoutMs);
        QVERIFY2(day.hasMatch(), qPrintable(run.log));
        const QString topic = QStringLiteral("tavmirok/v1/T3ST_P/scaled/60_");
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(subscriber.received.begin(), subscriber.received.end(),
                        [&](const auto& m) { return m.first.startsWith(topic); }),
            10000);
        QVERIFY(run.Finish());
        QVERIFY2(!run.log.contains(QStringLiteral("problem: ")), qPrintable(run.log));
        QJsonObject message;
        for (const auto& [name, payload] : subscriber.received) {
            if (name.startsWith(topic)) {
                message = QJsonDocument::fromJson(payload).object();
            }
        }
        QCOMPARE(message.value("station").toString(), "T3ST/P");
        QCOMPARE(message.value("locator").toString(), "JJ00aa");
        QCOMPARE(message.value("sounder").toObject().value("rate_khz_s").toDouble(), 500.0);
        // The trace published is the one recorded: where the sky put its ends is the ionogram
        // test's concern (a step the radio reached late under load moves the LOF).
        QFile file(day.captured(1));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::vector<ionogram::DayRow> rows = ionogram::ParseDayFile(file.readAll());
        QVERIFY2(rows.size() == 1, qPrintable(run.log));
        const QJsonObject trace = message.value("traces").toArray().at(0).toObject();
        const QString published = QJsonDocument(message).toJson();
        QCOMPARE(trace.value("trace").toInt(), 1);
        QVERIFY2(std::abs(trace.value("lof_khz").toDouble() - rows[0].trace.lofKhz) < 0.5,
                 qPrintable(published));
        QVERIFY2(std::abs(trace.value("mof_khz").toDouble() - rows[0].trace.mofKhz) < 0.5,
                 qPrintable(published));
        QCOMPARE(trace.value("distance_km").toDouble(), 1500.0);
        QCOMPARE(trace.value("midpoint_lon").toDouble(), 6.7449);
        QVERIFY2(trace.value("fof2_mhz").toDouble() > 0 &&
                     std::abs(trace.value("fof2_mhz").toDouble() - rows[0].fof2Mhz) < 0.006,
                 qPrintable(published));
        QVERIFY(message.value("queued_s").toDouble() < 10);
        QTRY_VERIFY_WITH_TIMEOUT(
            !subscriber.Last("tavmirok/v1/T3ST_P/status").value("online").toBool(true), 10000);
    }
};

QTEST_GUILESS_MAIN(TestE2ePublish)
#include "tst_e2e_publish.moc"
