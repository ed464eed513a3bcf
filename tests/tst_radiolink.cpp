// The command sender and the receive path of the radio link, over a real pseudo-terminal:
// exact bytes on the wire, the shared reply flag, nested waits, the reply deadline, shut-down.

#include "link/civ.h"
#include "link/radiolink.h"
#include "support/hex.h"
#include "support/pty.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Links a RadioLink to a fresh pseudo-terminal and records what it shows.
struct LinkOnPty {
    PtyPair pty;
    SerialSettings serial;
    RadioLink link{serial};
    QStringList display;
    int dispatches = 0;
    std::function<void(int)> onDispatch; // called with the dispatch count before processing

    LinkOnPty() {
        QObject::connect(&link, &RadioLink::DisplayText,
                         [this](const QString& text) { display << text; });
        link.SetDisplayLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        serial.comPort = pty.SlavePath();
        link.SetDispatcher([this](bool mayBlock) {
            ++dispatches;
            if (onDispatch) {
                onDispatch(dispatches);
            }
            QCoreApplication::processEvents(mayBlock ? QEventLoop::AllEvents |
                                                           QEventLoop::WaitForMoreEvents
                                                     : QEventLoop::AllEvents);
        });
    }
    bool Open() { return link.OpenPort().IsOk(); }
    // Lets the link's receive events run until the display has n entries or time is up.
    void AwaitDisplay(int n) { QTRY_VERIFY_WITH_TIMEOUT(display.size() >= n, 5000); }
};

} // namespace

class TestRadioLink : public QObject {
    Q_OBJECT
private slots:
    void setfreq_writesExactFrame_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("14.074 MHz to 00")
            << 0x00 << 14074000 << hex("FE FE 00 4D 05 00 40 07 14 00 FD");
        QTest::newRow("14.074 MHz to 4E")
            << 0x4E << 14074000 << hex("FE FE 4E 4D 05 00 40 07 14 00 FD");
        QTest::newRow("2 MHz to 00") << 0x00 << 2000000 << hex("FE FE 00 4D 05 00 00 00 02 00 FD");
        QTest::newRow("30 MHz to 00")
            << 0x00 << 30000000 << hex("FE FE 00 4D 05 00 00 00 30 00 FD");
        QTest::newRow("2 MHz to 4E") << 0x4E << 2000000 << hex("FE FE 4E 4D 05 00 00 00 02 00 FD");
        QTest::newRow("zero") << 0x94 << 0 << hex("FE FE 94 4D 05 00 00 00 00 00 FD");
        QTest::newRow("int32 max") << 0xFF << 2147483647 << hex("FE FE FF 4D 05 47 36 48 47 21 FD");
    }
    void setfreq_writesExactFrame() {
        QFETCH(int, address);
        QFETCH(int, frequency);
        QFETCH(QByteArray, frame);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = address;
        // The bus echoes the frame back: that ends the wait and shows the frequency.
        rig.onDispatch = [&](int n) {
            if (n == 1) {
                const QByteArray sent = rig.pty.Read(2000, frame.size());
                QCOMPARE(sent, frame);
                rig.pty.Write(sent);
            }
        };
        QVERIFY(rig.link.Setfreq(frequency).IsOk());
        QVERIFY(rig.link.RadioAnswering());
        QCOMPARE(rig.link.replyReceived, false);
        QCOMPARE(rig.display.size(), 2);
        QCOMPARE(rig.display.at(0), QString());
        QCOMPARE(rig.display.at(1), core::FormatKilohertz(frequency, QLocale(QLocale::English)));
        QCOMPARE(rig.pty.Read(50), QByteArray()); // one frame, nothing resent
    }

    void sendCommand_dataSentWhole_data() {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("subcmd");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("15 02, no data")
            << 0x15 << 0x02 << QByteArray() << hex("FE FE 4E 4D 15 02 FD");
        QTest::newRow("15 02, one byte")
            << 0x15 << 0x02 << hex("01") << hex("FE FE 4E 4D 15 02 01 FD");
        QTest::newRow("15 02, two bytes")
            << 0x15 << 0x02 << hex("01 20") << hex("FE FE 4E 4D 15 02 01 20 FD");
        QTest::newRow("07, no sub-command")
            << 0x07 << -1 << QByteArray() << hex("FE FE 4E 4D 07 FD");
    }
    void sendCommand_dataSentWhole() {
        QFETCH(int, cmd);
        QFETCH(int, subcmd);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, frame);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        rig.link.replyReceived = true; // end the wait at once; only the bytes matter here
        QVERIFY(rig.link.SendCommand(cmd, subcmd, data).IsOk());
        QCOMPARE(rig.pty.Read(2000, frame.size()), frame);
    }

    // A set for later is written by the port's writer thread at its instant while the event
    // loop is held up, as by a long paint: not before the instant, once, and the echo then ends
    // the wait as it does for a set sent at once.
    void timedSetfreq_writtenOnItsInstantWhileTheLoopIsHeld() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        const auto at = std::chrono::steady_clock::now() + std::chrono::milliseconds{100};
        QByteArray sent;
        std::chrono::steady_clock::time_point arrived;
        bool loopSawTheWrite = true;
        rig.onDispatch = [&](int n) {
            if (n == 1) {
                sent = rig.pty.Read(5000, 11, false); // the loop stays held
                arrived = std::chrono::steady_clock::now();
                loopSawTheWrite = !rig.link.Port().WritePending();
                rig.pty.Write(sent);
            }
        };
        QVERIFY(rig.link.Setfreq(14074000, at).IsOk());
        QCOMPARE(sent, hex("FE FE 00 4D 05 00 40 07 14 00 FD"));
        QVERIFY(arrived >= at);
        QVERIFY(!loopSawTheWrite); // written while the loop was held
        QVERIFY(rig.link.RadioAnswering());
        QCOMPARE(rig.display.last(), QStringLiteral("14,074.000"));
        QCOMPARE(rig.pty.Read(50), QByteArray());
    }

    // The device goes away while a timed set waits for its instant: the frame is dropped, not
    // written to a closed descriptor, and the set fails rather than report it sent.
    void timedSetfreq_deviceGoneBeforeItsInstant_fails() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.onDispatch = [&](int n) {
            if (n == 1) {
                rig.pty.CloseMaster();
            }
        };
        const Status sent = rig.link.Setfreq(2000000, std::chrono::steady_clock::now() +
                                                          std::chrono::milliseconds{2000});
        QCOMPARE(sent.Message(), QStringLiteral("The serial port %1 closed before the frame for "
                                                "the radio was sent.")
                                     .arg(rig.pty.SlavePath()));
        QVERIFY(!rig.link.PortIsOpen());
    }

    void staleReplyFlag_endsNextWaitAfterOneDispatch() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.link.replyReceived = true;
        QVERIFY(rig.link.Setfreq(2000000).IsOk());
        QCOMPARE(rig.dispatches, 1);
        QCOMPARE(rig.link.replyReceived, false);
        QVERIFY(rig.link.RadioAnswering());
    }

    void waitEndsOnlyOnRecognisedFrame_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<bool>("endsWait");
        QTest::newRow("OK from the radio") << hex("FE FE 4D 4E FB FD") << true;
        QTest::newRow("NG from the radio") << hex("FE FE 4D 4E FA FD") << true;
        QTest::newRow("frequency report") << hex("FE FE 00 4E 00 00 40 07 14 00 FD") << true;
        QTest::newRow("unrecognised command") << hex("FE FE 00 4E 1C 00 01 FD") << false;
        QTest::newRow("frame to another device") << hex("FE FE E0 4E FB FD") << false;
    }
    void waitEndsOnlyOnRecognisedFrame() {
        QFETCH(QByteArray, first);
        QFETCH(bool, endsWait);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        bool okSent = false;
        rig.onDispatch = [&](int n) {
            if (n == 1) {
                rig.pty.Read(2000, 11);
                rig.pty.Write(first);
            }
            // A frame that does not end the wait is followed by one that does.
            if (n > 1 && !okSent && !rig.link.replyReceived) {
                QTest::qWait(20);
                okSent = true;
                rig.pty.Write(hex("FE FE 4D 4E FB FD"));
            }
        };
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        QVERIFY(rig.link.Setfreq(7074000).IsOk());
        QCOMPARE(okSent, !endsWait);
        QCOMPARE(rig.link.replyReceived, false);
        QCOMPARE(answering.count(), 0);
    }

    void silentRadio_waitEndsAtDeadline_andRecovers() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        QVERIFY(rig.link.Setfreq(2000000).IsOk()); // nobody answers: the deadline ends it
        QCOMPARE(rig.pty.Read(2000, 11).size(), 11);
        QVERIFY(!rig.link.RadioAnswering());
        QCOMPARE(answering.count(), 1);
        QCOMPARE(answering.at(0).at(0).toBool(), false);
        QVERIFY(rig.dispatches >= 2); // it blocked in the event loop rather than returning early
        // The next recognised frame takes the sign away.
        rig.pty.Write(hex("FE FE 00 4E 00 00 40 07 14 00 FD"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioAnswering(), 5000);
        QCOMPARE(answering.count(), 2);
        QCOMPARE(rig.display.last(), QStringLiteral("14,074.000"));
    }

    void radioNg_toldOncePerRun_clearedByOk() {
        LinkOnPty rig;
        rig.serial.radioAdress = 0x4E;
        QVERIFY(rig.Open());
        QSignalSpy problems(&rig.link, &RadioLink::Problem);
        QSignalSpy refusing(&rig.link, &RadioLink::RadioRefusingChanged);
        const QByteArray ng = hex("FE FE 4D 4E FA FD");
        const QByteArray ok = hex("FE FE 4D 4E FB FD");
        // Two refusals in a row (the second split across reads), then an OK, then one more NG.
        rig.pty.Write(ng + hex("FE FE 4D"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioRefusing(), 5000);
        rig.pty.Write(hex("4E FA FD"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.replyReceived, 5000);
        rig.link.replyReceived = false;
        rig.pty.Write(ok);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.RadioRefusing(), 5000);
        rig.pty.Write(ng);
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioRefusing(), 5000);

        QCOMPARE(refusing.count(), 3);
        QCOMPARE(problems.count(), 2);
        QCOMPARE(problems.at(0).at(0).toString(),
                 QStringLiteral("The radio at address 4E answered NG: it refused a command, so it "
                                "may not be following the sweep even though the display shows "
                                "the frequency sent. Check that it can tune 2 to 30 MHz in its "
                                "present band, mode and VFO settings."));
        // An NG to another controller on the bus is not ours.
        rig.pty.Write(ok + hex("FE FE E0 4E FA FD"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.RadioRefusing(), 5000);
        QTest::qWait(50);
        QVERIFY(!rig.link.RadioRefusing());
        QCOMPARE(problems.count(), 2);
    }

    void nestedWaits_innerTakesFirstFlag_outerTheNext() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        enum { Outer, Inner, Resumed, Done } phase = Outer;
        bool innerReturned = false;
        rig.onDispatch = [&](int) {
            switch (phase) {
            case Outer:
                // A handler inside the outer wait sends too (a Start click during a step).
                phase = Inner;
                QVERIFY(rig.link.Setfreq(2000000).IsOk());
                innerReturned = true;
                QCOMPARE(rig.link.replyReceived, false);
                phase = Resumed;
                break;
            case Inner:
                rig.pty.Read(2000, 22);
                rig.pty.Write(hex("FE FE 4D 00 FB FD")); // one reply: ends the inner wait only
                phase = Done;
                break;
            case Resumed:
                rig.pty.Write(hex("FE FE 4D 00 FB FD")); // the next one ends the outer
                phase = Done;
                break;
            case Done:
                break;
            }
        };
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        QVERIFY(rig.link.Setfreq(2100000).IsOk());
        QVERIFY(innerReturned);
        QVERIFY(phase == Done);         // the outer wait went on after the inner one took the flag
        QCOMPARE(answering.count(), 0); // both waits ended on a reply, not at the deadline
        QCOMPARE(rig.link.replyReceived, false);
    }

    void refusedAddressOrFrequency_writesNothing_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("frequency");
        QTest::newRow("address 0x100") << 0x100 << 2000000;
        QTest::newRow("address -1") << -1 << 2000000;
        QTest::newRow("negative frequency") << 0x4E << -100;
    }
    void refusedAddressOrFrequency_writesNothing() {
        QFETCH(int, address);
        QFETCH(int, frequency);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = address;
        const Status status = rig.link.Setfreq(frequency);
        QVERIFY(!status.IsOk());
        QVERIFY(!status.Message().isEmpty());
        QCOMPARE(rig.dispatches, 0);
        QCOMPARE(rig.pty.Read(100), QByteArray());
    }

    void sendWithPortClosed_failsWithoutWaiting() {
        LinkOnPty rig;
        rig.serial.comPort = QStringLiteral("COMX");
        const Status opened = rig.link.OpenPort();
        QVERIFY(!opened.IsOk());
        QVERIFY(opened.Message().contains(QStringLiteral("\"COMX\"")));
        QVERIFY(!rig.link.PortIsOpen());
        const Status sent = rig.link.Setfreq(2000000);
        QVERIFY(!sent.IsOk());
        QVERIFY(sent.Message().contains(QStringLiteral("COMX")));
        QCOMPARE(rig.dispatches, 0);
    }

    void shutdownInsideWait_endsItAtOnce() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.onDispatch = [&](int n) {
            if (n == 2) {
                rig.link.Shutdown(); // the main window closes while the radio is silent
            }
        };
        QVERIFY(rig.link.Setfreq(2000000).IsOk());
        QCOMPARE(rig.dispatches, 2);
        QVERIFY(!rig.link.PortIsOpen());
        QVERIFY(!rig.link.Setfreq(2000000).IsOk());
    }

    void splitEcho_decodesAsOne() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        rig.pty.Write(hex("FE FE 00"));
        QTest::qWait(30);
        rig.pty.Write(hex("4E 00 00 40"));
        QTest::qWait(30);
        rig.pty.Write(hex("07 14 00 FD"));
        rig.AwaitDisplay(2);
        QCOMPARE(rig.display, QStringList({QString(), QStringLiteral("14,074.000")}));
        QVERIFY(rig.link.replyReceived);
    }

    void bytesWaitingAtOpen_areRead() {
        LinkOnPty rig;
        rig.pty.Write(hex("FE FE 00 4E 00 00 00 00 02 00 FD"));
        QVERIFY(rig.Open());
        rig.AwaitDisplay(2);
        QCOMPARE(rig.display.last(), QStringLiteral("2,000.000"));
    }
};

QTEST_GUILESS_MAIN(TestRadioLink)
#include "tst_radiolink.moc"
