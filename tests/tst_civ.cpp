#include "link/civ.h"
#include "support/hex.h"

#include <QTest>

#include <array>
#include <limits>
#include <vector>

namespace {

QByteArray Bytes(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kFrench(QLocale::French, QLocale::France);
const QLocale kSwissGerman(QLocale::German, QLocale::Switzerland);

} // namespace

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
        QTest::newRow("one hertz") << 1 << hex("01 00 00 00 00");
        QTest::newRow("ten hertz") << 10 << hex("10 00 00 00 00");
        QTest::newRow("every digit") << 1234567890 << hex("90 78 56 34 12");
        QTest::newRow("int32 max") << 2147483647 << hex("47 36 48 47 21");
    }
    void freqToBcd() {
        QFETCH(int, frequency);
        QFETCH(QByteArray, bcd);
        std::array<std::uint8_t, civ::kFrequencyBytes> buffer;
        buffer.fill(0xAA);
        QVERIFY(civ::FreqToBcd(frequency, buffer).IsOk());
        QCOMPARE(Bytes(buffer), bcd);
        QCOMPARE(civ::BcdToFreq(bcd), double(frequency));
    }

    // The buffer's size sets the number of digits: short ones drop the high digits, long ones
    // are filled with zeros.
    void freqToBcd_bufferSize_data() {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("bcd");
        QTest::newRow("4 bytes, fits") << 14074000 << 4 << hex("00 40 07 14");
        QTest::newRow("4 bytes, top digits dropped") << 2147483647 << 4 << hex("47 36 48 47");
        QTest::newRow("2 bytes") << 14074123 << 2 << hex("23 41");
        QTest::newRow("6 bytes") << 2147483647 << 6 << hex("47 36 48 47 21 00");
        QTest::newRow("empty buffer") << 14074000 << 0 << QByteArray();
    }
    void freqToBcd_bufferSize() {
        QFETCH(int, frequency);
        QFETCH(int, size);
        QFETCH(QByteArray, bcd);
        std::vector<std::uint8_t> buffer(std::size_t(size), 0xAA);
        QVERIFY(civ::FreqToBcd(frequency, buffer).IsOk());
        QCOMPARE(Bytes(buffer), bcd);
    }

    void freqToBcd_negative_failsAndLeavesBufferAlone() {
        for (int frequency : {-1, -14074000, std::numeric_limits<std::int32_t>::min()}) {
            std::array<std::uint8_t, civ::kFrequencyBytes> buffer;
            buffer.fill(0xAA);
            const Status status = civ::FreqToBcd(frequency, buffer);
            QVERIFY2(!status.IsOk(), qPrintable(QString::number(frequency)));
            QVERIFY(!status.Message().isEmpty());
            QCOMPARE(Bytes(buffer), hex("AA AA AA AA AA"));
        }
    }

    void bcdToFreq_data() {
        QTest::addColumn<QByteArray>("bcd");
        QTest::addColumn<double>("frequency");
        QTest::newRow("5 bytes") << hex("00 40 07 14 00") << 14074000.0;
        QTest::newRow("4 bytes") << hex("00 40 07 14") << 14074000.0;
        QTest::newRow("4 bytes, 7.074123 MHz") << hex("23 41 07 07") << 7074123.0;
        QTest::newRow("largest ten digits") << hex("99 99 99 99 99") << 9999999999.0;
        QTest::newRow("one byte") << hex("21") << 21.0;
        QTest::newRow("no bytes") << QByteArray() << 0.0;
        // Nibbles are summed as they are, without a test for being a decimal digit.
        QTest::newRow("nibble above 9, low") << hex("0A") << 10.0;
        QTest::newRow("nibble above 9, high") << hex("F0") << 150.0;
        QTest::newRow("FF in second byte") << hex("00 FF") << 16500.0;
    }
    void bcdToFreq() {
        QFETCH(QByteArray, bcd);
        QFETCH(double, frequency);
        QCOMPARE(civ::BcdToFreq(bcd), frequency);
    }

    void buildFrame_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("subcmd");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("frame");
        const int none = civ::kNoSubCommand;
        QTest::newRow("set 14.074 MHz at 00") << 0x00 << 0x05 << none << hex("00 40 07 14 00")
                                              << hex("FE FE 00 4D 05 00 40 07 14 00 FD");
        QTest::newRow("set 14.074 MHz at 4E") << 0x4E << 0x05 << none << hex("00 40 07 14 00")
                                              << hex("FE FE 4E 4D 05 00 40 07 14 00 FD");
        QTest::newRow("S-meter, no data")
            << 0x00 << 0x15 << 0x02 << QByteArray() << hex("FE FE 00 4D 15 02 FD");
        QTest::newRow("S-meter, one data byte")
            << 0x00 << 0x15 << 0x02 << hex("01") << hex("FE FE 00 4D 15 02 01 FD");
        QTest::newRow("S-meter, two data bytes")
            << 0x00 << 0x15 << 0x02 << hex("01 20") << hex("FE FE 00 4D 15 02 01 20 FD");
        QTest::newRow("07 without data")
            << 0x00 << 0x07 << none << QByteArray() << hex("FE FE 00 4D 07 FD");
        QTest::newRow("07 with one data byte")
            << 0x94 << 0x07 << none << hex("00") << hex("FE FE 94 4D 07 00 FD");
        QTest::newRow("sub-command 0")
            << 0x4E << 0x15 << 0x00 << QByteArray() << hex("FE FE 4E 4D 15 00 FD");
        QTest::newRow("largest bytes")
            << 0xFF << 0xFF << 0xFF << hex("FF") << hex("FE FE FF 4D FF FF FF FD");
        QTest::newRow("data with frame bytes sent as they are")
            << 0x00 << 0x1A << 0x05 << hex("FD FE 00") << hex("FE FE 00 4D 1A 05 FD FE 00 FD");
        const QByteArray longData(300, char(0x42));
        QTest::newRow("300 data bytes")
            << 0x00 << 0x1A << none << longData << hex("FE FE 00 4D 1A") + longData + hex("FD");
    }
    void buildFrame() {
        QFETCH(int, address);
        QFETCH(int, cmd);
        QFETCH(int, subcmd);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, frame);
        QByteArray built;
        const Status status = civ::BuildFrame(address, cmd, subcmd, data, &built);
        QVERIFY2(status.IsOk(), qPrintable(status.Message()));
        QCOMPARE(toHex(built), toHex(frame));
    }

    // The set-frequency frame as the sender makes it: BCD of the frequency, then the frame.
    void setFrequencyFrame_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("14.074 MHz at 00")
            << 0x00 << 14074000 << hex("FE FE 00 4D 05 00 40 07 14 00 FD");
        QTest::newRow("2 MHz at 00") << 0x00 << 2000000 << hex("FE FE 00 4D 05 00 00 00 02 00 FD");
        QTest::newRow("30 MHz at 00")
            << 0x00 << 30000000 << hex("FE FE 00 4D 05 00 00 00 30 00 FD");
        QTest::newRow("14.074 MHz at 4E")
            << 0x4E << 14074000 << hex("FE FE 4E 4D 05 00 40 07 14 00 FD");
        QTest::newRow("2 MHz at 4E") << 0x4E << 2000000 << hex("FE FE 4E 4D 05 00 00 00 02 00 FD");
        QTest::newRow("zero at 00") << 0x00 << 0 << hex("FE FE 00 4D 05 00 00 00 00 00 FD");
        QTest::newRow("int32 max at 94")
            << 0x94 << 2147483647 << hex("FE FE 94 4D 05 47 36 48 47 21 FD");
    }
    void setFrequencyFrame() {
        QFETCH(int, address);
        QFETCH(int, frequency);
        QFETCH(QByteArray, frame);
        std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
        QVERIFY(civ::FreqToBcd(frequency, bcd).IsOk());
        QByteArray built;
        QVERIFY(civ::BuildFrame(address, civ::kCmdSetFrequency, civ::kNoSubCommand,
                                QByteArrayView(bcd.data(), qsizetype(bcd.size())), &built)
                    .IsOk());
        QCOMPARE(built.size(), 11);
        QCOMPARE(toHex(built), toHex(frame));
    }

    void buildFrame_outOfRange_fails_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("subcmd");
        const int none = civ::kNoSubCommand;
        QTest::newRow("address 0x100") << 0x100 << 0x05 << none;
        QTest::newRow("address -1") << -1 << 0x05 << none;
        QTest::newRow("cmd 256") << 0x00 << 256 << none;
        QTest::newRow("cmd -1") << 0x00 << -1 << none;
        QTest::newRow("subcmd 300") << 0x00 << 0x15 << 300;
        QTest::newRow("subcmd 256") << 0x00 << 0x15 << 256;
        QTest::newRow("subcmd -2") << 0x00 << 0x15 << -2;
    }
    void buildFrame_outOfRange_fails() {
        QFETCH(int, address);
        QFETCH(int, cmd);
        QFETCH(int, subcmd);
        const QByteArray untouched = hex("AA BB");
        QByteArray built = untouched;
        const Status status = civ::BuildFrame(address, cmd, subcmd, hex("00 40 07 14 00"), &built);
        QVERIFY(!status.IsOk());
        QVERIFY(!status.Message().isEmpty());
        QCOMPARE(built, untouched);
    }

    void formatKilohertz_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<double>("hz");
        QTest::addColumn<QString>("text");
        struct Row {
            double hz;
            const char* english;
        };
        // English texts; the other locales swap in their own separators below.
        const Row rows[] = {
            {0, ".000"},
            {1, ".001"},
            {999, ".999"},
            {1000, "1.000"},
            {999999, "999.999"},
            {1000000, "1,000.000"},
            {2000000, "2,000.000"},
            {7074123, "7,074.123"},
            {14074000, "14,074.000"},
            {145000000, "145,000.000"},
            {999999999, "999,999.999"},
            {1000000000, "1,000,000.000"},
            {9999999999, "9,999,999.999"},
        };
        const struct {
            const char* name;
            QLocale locale;
            QString group;
            QString decimal;
        } locales[] = {
            {"en_US", kEnglish, QStringLiteral(","), QStringLiteral(".")},
            {"de_DE", kGerman, QStringLiteral("."), QStringLiteral(",")},
            {"fr_FR", kFrench, QStringLiteral("\u202F"), QStringLiteral(",")},
            {"de_CH", kSwissGerman, QStringLiteral("\u2019"), QStringLiteral(".")},
        };
        for (const auto& l : locales) {
            for (const Row& row : rows) {
                QString text;
                for (QChar c : QString::fromLatin1(row.english)) {
                    text += c == u',' ? l.group : c == u'.' ? l.decimal : QString(c);
                }
                QTest::addRow("%s %.0f", l.name, row.hz) << l.locale << row.hz << text;
            }
        }
    }
    void formatKilohertz() {
        QFETCH(QLocale, locale);
        QFETCH(double, hz);
        QFETCH(QString, text);
        QCOMPARE(core::FormatKilohertz(hz, locale), text);
    }

    // The two texts named for the display, written out in full rather than derived.
    void formatKilohertz_englishAndGerman() {
        QCOMPARE(core::FormatKilohertz(14074000, kEnglish), QStringLiteral("14,074.000"));
        QCOMPARE(core::FormatKilohertz(14074000, kGerman), QStringLiteral("14.074,000"));
        QCOMPARE(core::FormatKilohertz(14074000, kFrench), QStringLiteral("14\u202F074,000"));
        QCOMPARE(core::FormatKilohertz(14074000, kSwissGerman), QStringLiteral("14\u2019074.000"));
    }
};

QTEST_GUILESS_MAIN(TestCiv)
#include "tst_civ.moc"
