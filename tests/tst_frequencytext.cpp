// Frequencies as text for messages: megahertz and the band the station tunes.

#include "core/frequencytext.h"

#include <QTest>

class TestFrequencyText : public QObject {
    Q_OBJECT
private slots:
    void bandText_data() {
        QTest::addColumn<int>("lowHz");
        QTest::addColumn<int>("highHz");
        QTest::addColumn<QString>("text");
        QTest::newRow("usual sweep") << 2000000 << 30000000 << "2 to 30 MHz";
        QTest::newRow("halves") << 3500000 << 14500000 << "3.5 to 14.5 MHz";
        QTest::newRow("kilohertz steps") << 1800000 << 7074000 << "1.8 to 7.074 MHz";
        QTest::newRow("below 1 MHz") << 500000 << 1000000 << "0.5 to 1 MHz";
        QTest::newRow("hertz are rounded to kilohertz") << 2000400 << 30000600 << "2 to 30.001 MHz";
    }
    void bandText() {
        QFETCH(int, lowHz);
        QFETCH(int, highHz);
        QFETCH(QString, text);
        QCOMPARE(core::BandText(lowHz, highHz), text);
    }

    void megahertzText_data() {
        QTest::addColumn<int>("hz");
        QTest::addColumn<QString>("text");
        QTest::newRow("park") << 2000000 << "2.000 MHz";
        QTest::newRow("FT8") << 7074000 << "7.074 MHz";
        QTest::newRow("hertz rounded") << 14074600 << "14.075 MHz";
    }
    void megahertzText() {
        QFETCH(int, hz);
        QFETCH(QString, text);
        QCOMPARE(core::MegahertzText(hz), text);
    }
};

QTEST_MAIN(TestFrequencyText)
#include "tst_frequencytext.moc"
