// The serial control over real pseudo-terminals: port-name mapping, refused names and speeds,
// open failures with their messages, byte transparency both ways, a device that goes away.

#include "link/commport.h"
#include "link/radiolink.h"
#include "support/hex.h"
#include "support/pty.h"
#include "testkit/realtime.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <unistd.h>

class TestCommPort : public QObject {
    Q_OBJECT
private slots:
    void resolvePortName_data() {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QString>("device"); // "" when refused
        QTest::newRow("COM1") << "COM1"
                              << "/dev/ttyS0";
        QTest::newRow("COM2") << "COM2"
                              << "/dev/ttyS1";
        QTest::newRow("COM12 is port 12") << "COM12"
                                          << "/dev/ttyS11";
        QTest::newRow("lower case") << "com3"
                                    << "/dev/ttyS2";
        QTest::newRow("COM255") << "COM255"
                                << "/dev/ttyS254";
        QTest::newRow("blanks around") << " COM4 "
                                       << "/dev/ttyS3";
        QTest::newRow("USB device path") << "/dev/ttyUSB0"
                                         << "/dev/ttyUSB0";
        QTest::newRow("by-id path") << "/dev/serial/by-id/usb-Silicon_Labs_CP2102-if00"
                                    << "/dev/serial/by-id/usb-Silicon_Labs_CP2102-if00";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("COM alone") << "COM"
                                   << "";
        QTest::newRow("COMX") << "COMX"
                              << "";
        QTest::newRow("COM0") << "COM0"
                              << "";
        QTest::newRow("COM256") << "COM256"
                                << "";
        QTest::newRow("COM-1") << "COM-1"
                               << "";
        QTest::newRow("relative path") << "ttyUSB0"
                                       << "";
    }
    void resolvePortName() {
        QFETCH(QString, comPort);
        QFETCH(QString, device);
        QString resolved;
        const Status status = core::ResolvePortName(comPort, &resolved);
        QCOMPARE(status.IsOk(), !device.isEmpty());
        if (status.IsOk()) {
            QCOMPARE(resolved, device);
        } else {
            QVERIFY(status.Message().contains(QLatin1Char('"') + comPort + QLatin1Char('"')));
            QVERIFY(status.Message().contains(QStringLiteral("COM1 to COM255")));
        }
    }

    void parseBaudRate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("speed"); // 0 when refused
        QTest::newRow("19200") << "19200" << 19200;
        QTest::newRow("1200") << "1200" << 1200;
        QTest::newRow("115200") << "115200" << 115200;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-9600" << 0;
        QTest::newRow("fraction") << "9600.5" << 0;
        QTest::newRow("letters") << "fast" << 0;
        QTest::newRow("too large") << "99999999999" << 0;
    }
    void parseBaudRate() {
        QFETCH(QString, text);
        QFETCH(int, speed);
        qint32 parsed = -1;
        const Status status = core::ParseBaudRate(text, &parsed);
        QCOMPARE(status.IsOk(), speed > 0);
        if (speed > 0) {
            QCOMPARE(parsed, speed);
        } else {
            QVERIFY(status.Message().contains(QLatin1Char('"') + text + QLatin1Char('"')));
        }
    }

    void refusedNameOrSpeed_opensNothing_data() {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QString>("baudRate");
        QTest::newRow("bad name") << "COMX"
                                  << "19200";
        QTest::newRow("bad speed") << "PTY"
                                   << "19k2";
    }
    void refusedNameOrSpeed_opensNothing() {
        QFETCH(QString, comPort);
        QFETCH(QString, baudRate);
        PtyPair pty;
        SerialSettings serial{comPort == QLatin1String("PTY") ? pty.SlavePath() : comPort,
                              baudRate};
        RadioLink link(serial);
        QSignalSpy state(&link, &RadioLink::PortStateChanged);
        const Status status = link.OpenPort();
        QVERIFY(!status.IsOk());
        QVERIFY(!link.PortIsOpen());
        QVERIFY(!link.Port().IsOpen());
        QCOMPARE(link.PortProblem(), status.Message());
        // Nothing opened the pseudo-terminal: a frame written to it reaches nobody.
        pty.Write(hex("FE FE 00 4E 00 00 40 07 14 00 FD"));
        QTest::qWait(20);
        QCOMPARE(state.count(), 1);
    }

    void openFailures_sayWhatToDo() {
        CommPort port;
        Status status = port.Open(QStringLiteral("/dev/tavmirok-no-such-device"), 19200);
        QVERIFY(!status.IsOk());
        QVERIFY2(status.Message().contains(QStringLiteral("no such device")),
                 qPrintable(status.Message()));

        PtyPair pty;
        CommPort first;
        QVERIFY(first.Open(pty.SlavePath(), 19200).IsOk());
        CommPort second;
        status = second.Open(pty.SlavePath(), 19200);
        QVERIFY(!status.IsOk());
        QVERIFY2(status.Message().contains(QStringLiteral("in use by another program")),
                 qPrintable(status.Message()));
        QVERIFY(!second.IsOpen());
    }

    void permissionDenied_namesDialoutGroup() {
        if (::geteuid() == 0) {
            QSKIP("root may open any device; run as an ordinary user to see this message");
        }
        QTemporaryDir dir;
        PtyPair pty;
        const QString link = dir.filePath(QStringLiteral("tty"));
        QVERIFY(QFile::link(pty.SlavePath(), link));
        QVERIFY(QFile::setPermissions(pty.SlavePath(), QFileDevice::Permissions()));
        CommPort port;
        const Status status = port.Open(link, 19200);
        QVERIFY(!status.IsOk());
        QVERIFY2(status.Message().contains(QStringLiteral("dialout")),
                 qPrintable(status.Message()));
    }

    void everyByteValue_passesUnchangedBothWays() {
        PtyPair pty;
        CommPort port;
        QVERIFY(port.Open(pty.SlavePath(), 19200).IsOk());
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            all.append(char(b));
        }
        all += hex("00 11 13 1A FD FE FF 0A 0D");
        QVERIFY(port.Output(all).IsOk());
        QCOMPARE(pty.Read(3000, all.size()), all);

        QByteArray received;
        int notifications = 0;
        connect(&port, &CommPort::OnComm, this, [&] {
            ++notifications;
            received += port.ReadAll();
        });
        pty.Write(all);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), all.size(), 5000);
        QCOMPARE(received, all);
        QVERIFY(notifications >= 1);
    }

    // The thread that writes timed frames asks for a real-time priority, so a busy core does not
    // hold a frame back by a time slice; where the system refuses one, it writes all the same.
    void timedWriter_writesAtRealTimePriorityWhereAllowed() {
        bool allowed = false;
        std::thread([&allowed] { allowed = testkit::RaiseToRealTime().empty(); }).join();
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        std::atomic<int> policy{-1};
        TimedWriter writer;
        QVERIFY(writer.Submit(pipeFds[1], "FD", TimedWriter::Clock::now(),
                              [&](TimedWriter::Outcome) { policy = ::sched_getscheduler(0); }));
        QTRY_VERIFY_WITH_TIMEOUT(policy.load() >= 0, 5000);
        char got[3] = {};
        QCOMPARE(::read(pipeFds[0], got, 2), ssize_t(2));
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        QCOMPARE(policy.load(), allowed ? SCHED_FIFO : SCHED_OTHER);
    }

    void deviceGoneAway_isReportedOnce_andReopened() {
        auto pty = std::make_unique<PtyPair>();
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("civ"));
        QVERIFY(QFile::link(pty->SlavePath(), link));
        SerialSettings serial{link};
        RadioLink radio(serial);
        QVERIFY(radio.OpenPort().IsOk());
        QSignalSpy problems(&radio, &RadioLink::Problem);

        pty.reset(); // the interface is unplugged
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 5000);
        QVERIFY(!radio.PortIsOpen());
        QVERIFY(problems.at(0).at(0).toString().contains(QStringLiteral("went away")));
        QVERIFY(radio.IsReopening());

        // Plugged back in as another pseudo-terminal behind the same name.
        PtyPair again;
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(again.SlavePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(radio.PortIsOpen(), 10000);
        QVERIFY(!radio.IsReopening());
        QCOMPARE(problems.count(), 1); // told once, not at every failed retry
        // And it works: a frame from the radio reaches the parser.
        QSignalSpy display(&radio, &RadioLink::DisplayText);
        again.Write(hex("FE FE 00 4E 00 00 40 07 14 00 FD"));
        QTRY_COMPARE_WITH_TIMEOUT(display.count(), 2, 5000);
    }

    void choosingAnotherPort_stopsReopening() {
        auto pty = std::make_unique<PtyPair>();
        SerialSettings serial{pty->SlavePath()};
        RadioLink radio(serial);
        QVERIFY(radio.OpenPort().IsOk());
        QSignalSpy problems(&radio, &RadioLink::Problem);
        pty.reset();
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 5000);
        QVERIFY(radio.IsReopening());
        PtyPair other;
        serial.comPort = other.SlavePath();
        QVERIFY(radio.OpenPort().IsOk());
        QVERIFY(!radio.IsReopening());
    }
};

QTEST_GUILESS_MAIN(TestCommPort)
#include "tst_commport.moc"
