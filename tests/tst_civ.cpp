#include "link/civ.h"
#include "support/hex.h"

#include <QTest>

class TestCiv : public QObject {
    Q_OBJECT
private slots:
    void freqToBcd_data() {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QByteArray>("bcd");
        QTest::newRow("2 MHz") << 2000000 << hex("00 00 00 02 00");
        QTest::newRow("14.074 MHz") << 14074000 << hex("00 40 07 14 00");
        QTest::newRow("30 MHz") << 30000000 << hex("00 00 00 30 00");
        QTest::newRow("7.074123 MHz") << 7074123 << hex("23 41 07 07 00");
        QTest::newRow("zero") << 0 << hex("00 00 00 00 00");
        QTest::newRow("int32 max") << 2147483647 << hex("47 36 48 47 21");
    }
    void freqToBcd() {
        QFETCH(int, frequency);
        QFETCH(QByteArray, bcd);
        std::uint8_t buffer[civ::kFrequencyBytes] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        QVERIFY(civ::FreqToBcd(frequency, buffer).IsOk());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), sizeof buffer), bcd);
        QCOMPARE(civ::BcdToFreq(bcd), double(frequency));
    }
};

QTEST_GUILESS_MAIN(TestCiv)
#include "tst_civ.moc"
