// The status line's text for every state of port, radio and sweep, from plain values.

#include "ui/statusline.h"

#include <QTest>

Q_DECLARE_METATYPE(StatusValues)

namespace {

RigState Civ(bool connected, bool reconnecting = false, QString problem = {}) {
    RigState rig;
    rig.backend = QStringLiteral("civ");
    rig.endpoint = QStringLiteral("COM2 (/dev/ttyS1)");
    rig.speed = QStringLiteral("19200");
    rig.connected = connected;
    rig.reconnecting = reconnecting;
    rig.problem = std::move(problem);
    rig.radio = QStringLiteral("4E");
    return rig;
}

} // namespace

class TestStatusLine : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<StatusValues>("values");
        QTest::addColumn<QString>("expected");
        using Phase = feed::Phase;
        const QString idle = QStringLiteral("Press Start to follow the sounder.");
        QTest::newRow("open, idle")
            << StatusValues{Civ(true), Phase::Idle, 0, 0, 30000000, {}}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at address 4E.\n" + idle;
        QTest::newRow("not open, reason")
            << StatusValues{Civ(false, false, QStringLiteral("there is no such device")),
                            Phase::Idle,
                            0,
                            0,
                            30000000,
                            {}}
            << "Port COM2 (/dev/ttyS1): not open: there is no such device.\nRadio at address "
               "4E.\n" +
                   idle;
        QTest::newRow("not open, reason ending in a full stop")
            << StatusValues{Civ(false, false, QStringLiteral("Input/output error.")),
                            Phase::Idle,
                            0,
                            0,
                            30000000,
                            {}}
            << "Port COM2 (/dev/ttyS1): not open: Input/output error.\nRadio at address 4E.\n" +
                   idle;
        QTest::newRow("not tried yet")
            << StatusValues{Civ(false), Phase::Idle, 0, 0, 30000000, {}}
            << "Port COM2 (/dev/ttyS1): not open.\nRadio at address 4E.\n" + idle;
        QTest::newRow("gone, retrying")
            << StatusValues{Civ(false, true, QStringLiteral("gone")),
                            Phase::Idle,
                            0,
                            0,
                            30000000,
                            {}}
            << "Port COM2 (/dev/ttyS1): gone, trying again every 2 s.\nRadio at address 4E.\n" +
                   idle;
        RigState silent = Civ(true);
        silent.answering = false;
        QTest::newRow("silent radio, waiting 65 s")
            << StatusValues{silent, Phase::Waiting, 64.2, 2000000, 30000000, {}}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at 4E: not answering.\nNext "
               "sweep in 1 min 05 s.";
        RigState refusing = silent;
        refusing.refusing = true;
        QTest::newRow("refusing outranks silent, waiting under a minute")
            << StatusValues{refusing, Phase::Waiting, 9.0, 2000000, 30000000, {}}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at 4E: refuses commands "
               "(NG).\nNext sweep in 9 s.";
        QTest::newRow("late step counts as due now")
            << StatusValues{Civ(true), Phase::Waiting, -0.3, 2000000, 30000000, {}}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at address 4E.\nNext sweep "
               "in 0 s.";
        QTest::newRow("stepping, with a notice")
            << StatusValues{Civ(true), Phase::Stepping, 0,
                            12300000,  30000000,        QStringLiteral("The clock was set back.")}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at address 4E.\nFollowing "
               "12,300.000 kHz.\nThe clock was set back.";
        QTest::newRow("stepping past the top shows the top")
            << StatusValues{Civ(true), Phase::Stepping, 0, 30100000, 30000000, {}}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at address 4E.\nFollowing "
               "30,000.000 kHz.";
        QTest::newRow("listening")
            << StatusValues{Civ(true), Phase::Idle, 0, 0, 30000000, {}, 7000000}
            << "Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio at address 4E.\nListening for "
               "sounders on 7,000.000 kHz; the sweep is not followed.";
        // Saved sounders followed: the single sounder's phase gives way to their names.
        const QString open = QStringLiteral("Port COM2 (/dev/ttyS1) at 19200 bit/s: open.\nRadio "
                                            "at address 4E.\n");
        const QStringList two{QStringLiteral("Cyprus"), QStringLiteral("Inskip")};
        QTest::newRow("two followed, before Start")
            << StatusValues{Civ(true), Phase::Idle, 0, 0, 30000000, {}, 0, two, false}
            << open + "Press Start to follow 2 sounders together: Cyprus, Inskip.";
        QTest::newRow("two followed, started, with a notice")
            << StatusValues{Civ(true), Phase::Idle, 0,   0, 30000000, QStringLiteral("Late."),
                            0,         two,         true}
            << open + "Following 2 sounders together: Cyprus, Inskip.\nLate.";
        QTest::newRow("one followed, started, phase ignored")
            << StatusValues{Civ(true), Phase::Stepping, 0,   12300000, 30000000, {},
                            0,         {two[0]},        true}
            << open + "Following the saved sounder Cyprus.";
        QTest::newRow("one followed, before Start")
            << StatusValues{Civ(true), Phase::Idle, 0, 0, 30000000, {}, 0, {two[1]}, false}
            << open + "Press Start to follow the saved sounder Inskip.";
    }
    void otherBackends_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("reconnecting");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<QString>("expected");
        QTest::newRow("rigctld connected")
            << "network" << true << false << true
            << "rigctld at localhost:4532: connected.\nRadio: answering.";
        QTest::newRow("rigctld refused, retrying")
            << "network" << false << true << true
            << "rigctld at localhost:4532: not connected: connection refused. Trying again every "
               "2 s.\nRadio: answering.";
        QTest::newRow("hamlib open, silent radio")
            << "hamlib" << true << false << false
            << "Hamlib, IC-7300 on /dev/ttyUSB0: open.\nRadio: not answering.";
        QTest::newRow("hamlib gone")
            << "hamlib" << false << true << true
            << "Hamlib, IC-7300 on /dev/ttyUSB0: gone, trying again every 2 s.\nRadio: answering.";
    }
    void otherBackends() {
        QFETCH(QString, backend);
        QFETCH(bool, connected);
        QFETCH(bool, reconnecting);
        QFETCH(bool, answering);
        QFETCH(QString, expected);
        RigState rig;
        rig.backend = backend;
        rig.endpoint = backend == QLatin1String("network")
                           ? QStringLiteral("localhost:4532")
                           : QStringLiteral("IC-7300 on /dev/ttyUSB0");
        rig.connected = connected;
        rig.reconnecting = reconnecting;
        rig.answering = answering;
        rig.problem = connected ? QString() : QStringLiteral("connection refused");
        QCOMPARE(StatusLineText({rig, feed::Phase::Idle, 0, 0, 30000000, {}}),
                 expected + QStringLiteral("\nPress Start to follow the sounder."));
    }

    void text() {
        QFETCH(StatusValues, values);
        QFETCH(QString, expected);
        QCOMPARE(StatusLineText(values, QLocale(QLocale::English)), expected);
    }
};

QTEST_GUILESS_MAIN(TestStatusLine)
#include "tst_statusline.moc"
