#include "link/civ.h"
#include "link/receiveparser.h"
#include "support/buscapture.h"
#include "support/hex.h"

#include <QFile>
#include <QTest>

#include <cmath>

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

constexpr int kRadio = 0x4E;       // the radio of most rows
constexpr int kHamlibRadio = 0x94; // the IC-7300 of the Hamlib capture

// A parser wired to a display and a reply flag that record what they are told.
struct Listener {
    Listener() { parser.SetLocale(kEnglish); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    QStringList writes;
    int replies = 0;
    ReceiveParser parser{[this](const QString& text) { writes << text; }, [this] { ++replies; }};
};

// The display writes for texts shown in this order: "" before each.
QStringList Shown(const QStringList& texts) {
    QStringList writes;
    for (const QString& text : texts) {
        writes << QString() << text;
    }
    return writes;
}

const QByteArray kReport14074 = hex("FE FE 00 4E 00 00 40 07 14 00 FD");
const QByteArray kReport7074123 = hex("FE FE 00 4E 00 23 41 07 07 00 FD");

// A frequency report carrying five 99 bytes and then count more.
QByteArray LongReport(int count) {
    return hex("FE FE 00 4E 00") + QByteArray(5 + count, char(0x99)) + hex("FD");
}

// The words after a keyword line ("display 14,074.100 ...") of an expected-results file.
QStringList ReadExpected(const QString& path, const QString& keyword) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'#')) {
            continue;
        }
        QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        if (!words.isEmpty() && words.takeFirst() == keyword) {
            return words;
        }
    }
    return {};
}

const QString kCapture = QStringLiteral(TAVMIROK_TEST_DATA "/hamlib-4.5.4-ic7300-bus.txt");
const QString kCaptureExpected =
    QStringLiteral(TAVMIROK_TEST_DATA "/hamlib-4.5.4-ic7300-bus.expected.txt");

} // namespace

class TestReceiveParser : public QObject {
    Q_OBJECT

    static void AddColumns() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("radio");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("replies");
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("frequency");
    }
    static void Row(const char* name, const QByteArray& bytes, const QStringList& shown,
                    int replies, int state, double frequency, int radio = kRadio) {
        QTest::newRow(name) << bytes << radio << Shown(shown) << replies << state << frequency;
    }

    // Every row: the bytes of one or more reads, what the display and the reply flag saw, and
    // where the machine stands afterwards.
    static void Frames() {
        AddColumns();
        // Plain frames.
        Row("empty read", QByteArray(), {}, 0, 0, 0);
        Row("report to broadcast", kReport14074, {"14,074.000"}, 1, 0, 14074000);
        Row("single preamble", hex("FE 00 4E 00 00 40 07 14 00 FD"), {"14,074.000"}, 1, 0,
            14074000);
        Row("four preambles", hex("FE FE FE FE 00 4E 00 00 40 07 14 00 FD"), {"14,074.000"}, 1, 0,
            14074000);
        Row("noise before preamble", hex("00 13 FD FF 4E") + kReport7074123, {"7,074.123"}, 1, 0,
            7074123);
        Row("read answer to controller", hex("FE FE 4D 4E 03 00 00 00 45 01 FD"), {"145,000.000"},
            1, 0, 145000000);
        Row("echo of own set frame", hex("FE FE 4E 4D 05 00 00 00 02 00 FD"), {"2,000.000"}, 1, 0,
            2000000);
        Row("set from another controller", hex("FE FE 94 E0 05 00 40 07 07 00 FD"), {"7,074.000"},
            1, 0, 7074000, kHamlibRadio);
        Row("two reports", kReport14074 + kReport7074123, {"14,074.000", "7,074.123"}, 2, 0,
            7074123);

        // Frames for other devices.
        Row("other destination", hex("FE FE E0 4E 03 00 40 07 14 00 FD"), {}, 0, 0, 0);
        Row("set frame for another radio", hex("FE FE 4E 4D 05 00 00 00 02 00 FD"), {}, 0, 0, 0,
            kHamlibRadio);
        Row("OK to another controller", hex("FE FE E0 94 FB FD"), {}, 0, 0, 0, kHamlibRadio);
        Row("rejected frame dropped up to next preamble",
            hex("FE FE E0 4E 03 00 40 07 14 00 FD") + kReport7074123, {"7,074.123"}, 1, 0, 7074123);
        Row("stray FE in a rejected frame starts a frame",
            hex("FE FE E0 4E 1A FE 00 4E 00 00 40 07 14 00 FD"), {"14,074.000"}, 1, 0, 14074000);

        // OK and NG raise the flag at the command and again at the end.
        Row("OK", hex("FE FE 4D 4E FB FD"), {}, 2, 0, 0);
        Row("NG", hex("FE FE 4D 4E FA FD"), {}, 2, 0, 0);
        Row("OK without end", hex("FE FE 4D 4E FB"), {}, 1, 8, 0);
        Row("OK cut by a preamble", hex("FE FE 4D 4E FB") + kReport14074, {"14,074.000"}, 2, 0,
            14074000);

        // Frequency data.
        Row("read request without digits", hex("FE FE 4E E0 03 FD"), {}, 1, 0, 0);
        Row("read request keeps the display", kReport14074 + hex("FE FE 4E E0 03 FD"),
            {"14,074.000"}, 2, 0, 0);
        Row("no digits ended by FF", hex("FE FE 4D 4E 03 FF FD"), {}, 1, 0, 0);
        Row("FD after FF dropped, next frame decodes", hex("FE FE 4D 4E 03 FF FD") + kReport14074,
            {"14,074.000"}, 2, 0, 14074000);
        Row("digits ended by FF", hex("FE FE 00 4E 00 00 40 07 14 00 FF FD"), {"14,074.000"}, 1, 0,
            14074000);
        Row("four-byte frequency", hex("FE FE 00 4E 00 00 40 07 14 FD"), {"14,074.000"}, 1, 0,
            14074000);
        Row("one data byte", hex("FE FE 00 4E 00 99 FD"), {".099"}, 1, 0, 99);
        Row("all digits zero", hex("FE FE 00 4E 00 00 00 00 00 00 FD"), {".000"}, 1, 0, 0);
        Row("nibble above 9", hex("FE FE 00 4E 00 0A 00 FD"), {".010"}, 1, 0, 10);
        Row("largest ten digits", hex("FE FE 00 4E 00 99 99 99 99 99 FD"), {"9,999,999.999"}, 1, 0,
            9999999999.0);
        Row("sixth data byte not added", hex("FE FE 00 4E 00 00 40 07 14 00 01 FD"), {"14,074.000"},
            1, 0, 14074000);
        Row("long run of data bytes", LongReport(200), {"9,999,999.999"}, 1, 0, 9999999999.0);
        // A frame that lost its FD is dropped at the next preamble; the frames after it decode.
        Row("lost end byte", hex("FE FE 00 4E 00 00 40 07") + kReport7074123 + kReport14074,
            {"7,074.123", "14,074.000"}, 2, 0, 14074000);

        // Mode frames.
        Row("mode report", hex("FE FE 00 4E 01 03 02 FD"), {}, 1, 0, 0);
        Row("read-mode answer", hex("FE FE 4D 4E 04 01 02 FD"), {}, 1, 0, 0);
        Row("mode report with surplus data", hex("FE FE 00 4E 01 03 02 07 08 FD"), {}, 1, 0, 0);
        Row("mode report with one data byte", hex("FE FE 00 4E 01 03 FD"), {}, 0, 8, 0);
        Row("short mode report, next frame decodes", hex("FE FE 00 4E 01 03 FD") + kReport14074,
            {"14,074.000"}, 1, 0, 14074000);
        Row("read-mode request costs the next frame",
            hex("FE FE 4E E0 04 FD") + kReport14074 + kReport7074123, {"7,074.123"}, 1, 0, 7074123);

        // Command 15.
        Row("squelch", hex("FE FE 4D 4E 15 01 01 FD"), {}, 1, 0, 0);
        Row("S-meter", hex("FE FE 4D 4E 15 02 01 20 FD"), {}, 1, 0, 0);
        Row("S-meter data FD FD", hex("FE FE 4D 4E 15 02 FD FD FD"), {}, 1, 0, 0);
        Row("S-meter data FE FE", hex("FE FE 4D 4E 15 02 FE FE FD"), {}, 1, 0, 0);
        Row("S-meter waiting for its end", hex("FE FE 4D 4E 15 02 FD FD"), {}, 0, 8, 0);
        Row("unknown sub-command", hex("FE FE 4D 4E 15 03 FD"), {}, 0, 0, 0);
        Row("unknown sub-command, later 01", hex("FE FE 4D 4E 15 03 01 00 FD"), {}, 0, 0, 0);
        Row("unknown sub-command, later 02", hex("FE FE 4D 4E 15 07 02 00 00 FD"), {}, 0, 0, 0);
        Row("unknown sub-command, next frame decodes", hex("FE FE 4D 4E 15 03 FD") + kReport14074,
            {"14,074.000"}, 1, 0, 14074000);
        Row("unknown sub-command without end swallows a frame",
            hex("FE FE 4D 4E 15 03") + kReport14074, {}, 0, 0, 0);
        Row("end byte as sub-command", hex("FE FE 4D 4E 15 FD"), {}, 0, 0, 0);
        Row("end byte as sub-command, next frame decodes", hex("FE FE 4D 4E 15 FD") + kReport14074,
            {"14,074.000"}, 1, 0, 14074000);
        Row("preamble as sub-command", hex("FE FE 4D 4E 15") + kReport14074, {"14,074.000"}, 1, 0,
            14074000);
        Row("single preamble as sub-command", hex("FE FE 4D 4E 15 FE 00 4E 00 00 40 07 14 00 FD"),
            {"14,074.000"}, 1, 0, 14074000);

        // Unrecognised commands.
        Row("unknown command", hex("FE FE 00 4E 1C 00 01 FD"), {}, 0, 0, 0);
        Row("unknown command carrying a frequency", hex("FE FE 94 E0 25 00 00 41 07 14 00 FD"), {},
            0, 0, 0, kHamlibRadio);
        Row("unknown command, next frame decodes", hex("FE FE 00 4E 1C 00 01 FD") + kReport14074,
            {"14,074.000"}, 1, 0, 14074000);
        Row("unknown command without end swallows a frame", hex("FE FE 00 4E 1C 00") + kReport14074,
            {}, 0, 0, 0);

        // Cut-off frames wait in their state.
        Row("preamble", hex("FE"), {}, 0, 1, 0);
        Row("destination", hex("FE FE 00"), {}, 0, 2, 0);
        Row("source", hex("FE FE 00 4E"), {}, 0, 3, 0);
        Row("frequency data", hex("FE FE 00 4E 00 00 40"), {}, 0, 4, 4000);
        Row("skipping", hex("FE FE 00 4E 1C 00"), {}, 0, 5, 0);
        Row("mode byte", hex("FE FE 00 4E 01"), {}, 0, 6, 0);
        Row("filter byte", hex("FE FE 00 4E 01 03"), {}, 0, 7, 0);
        Row("sub-command", hex("FE FE 4D 4E 15"), {}, 0, 9, 0);
        Row("S-meter first byte", hex("FE FE 4D 4E 15 02"), {}, 0, 10, 0);
        Row("S-meter second byte", hex("FE FE 4D 4E 15 02 00"), {}, 0, 11, 0);
        Row("squelch byte", hex("FE FE 4D 4E 15 01"), {}, 0, 12, 0);

        // Only frequency frames touch the display, each once.
        Row("report, then OK", kReport14074 + hex("FE FE 4D 4E FB FD"), {"14,074.000"}, 3, 0,
            14074000);
        Row("report, then mode and squelch",
            kReport14074 + hex("FE FE 00 4E 01 03 02 FD FE FE 4D 4E 15 01 01 FD"), {"14,074.000"},
            3, 0, 14074000);
        Row("every kind in one read",
            hex("FE FE 4D 4E FB FD FE FE 00 4E 01 03 02 FD FE FE 4D 4E 15 01 01 FD") + kReport14074,
            {"14,074.000"}, 5, 0, 14074000);
    }

    static void Check(const Listener& listener, bool* ok) {
        QFETCH(QStringList, writes);
        QFETCH(int, replies);
        QFETCH(int, state);
        QFETCH(double, frequency);
        *ok = false;
        QCOMPARE(listener.writes, writes);
        QCOMPARE(listener.replies, replies);
        QCOMPARE(listener.parser.State(), state);
        QCOMPARE(listener.parser.Frequency(), frequency);
        *ok = true;
    }

private slots:
    void oneRead_data() { Frames(); }
    void oneRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, radio);
        Listener listener;
        listener.parser.ProcessBytes(bytes, radio);
        bool ok = false;
        Check(listener, &ok);
    }

    // Split into three reads at every pair of boundaries (empty reads included), the bytes
    // decode exactly as in one read.
    void splitAnywhere_decodesAsOneRead_data() { Frames(); }
    void splitAnywhere_decodesAsOneRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, radio);
        const qsizetype n = bytes.size();
        for (qsizetype i = 0; i <= n; ++i) {
            for (qsizetype j = i; j <= n; ++j) {
                Listener listener;
                listener.parser.ProcessBytes(bytes.first(i), radio);
                listener.parser.ProcessBytes(bytes.sliced(i, j - i), radio);
                listener.parser.ProcessBytes(bytes.sliced(j), radio);
                bool ok = false;
                Check(listener, &ok);
                if (!ok) {
                    qWarning("split as %s | %s | %s", qPrintable(toHex(bytes.first(i))),
                             qPrintable(toHex(bytes.sliced(i, j - i))),
                             qPrintable(toHex(bytes.sliced(j))));
                    return;
                }
            }
        }
    }

    void oneBytePerRead_decodesAsOneRead_data() { Frames(); }
    void oneBytePerRead_decodesAsOneRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, radio);
        Listener listener;
        for (char byte : bytes) {
            listener.parser.ProcessBytes(QByteArrayView(&byte, 1), radio);
        }
        bool ok = false;
        Check(listener, &ok);
    }

    // Each read uses the radio address it is given; the destination byte is judged by the
    // address of the read it arrives in.
    void radioAddress_takenFromEachRead() {
        const QByteArray echo = hex("FE FE 4E 4D 05 00 00 00 02 00 FD");
        {
            Listener listener;
            listener.parser.ProcessBytes(echo.first(2), kHamlibRadio);
            listener.parser.ProcessBytes(echo.sliced(2), kRadio);
            QCOMPARE(listener.writes, Shown({"2,000.000"}));
            QCOMPARE(listener.replies, 1);
        }
        {
            Listener listener;
            listener.parser.ProcessBytes(echo.first(2), kRadio);
            listener.parser.ProcessBytes(echo.sliced(2), kHamlibRadio);
            QCOMPARE(listener.writes, QStringList());
            QCOMPARE(listener.replies, 0);
            QCOMPARE(listener.parser.State(), 0);
        }
        {
            Listener listener;
            const QByteArray toHamlibRadio = hex("FE FE 94 E0 05 00 40 07 07 00 FD");
            listener.parser.ProcessBytes(toHamlibRadio, kHamlibRadio);
            listener.parser.ProcessBytes(toHamlibRadio, kRadio);
            listener.parser.ProcessBytes(echo, kRadio);
            listener.parser.ProcessBytes(echo, kHamlibRadio);
            QCOMPARE(listener.writes, Shown({"7,074.000", "2,000.000"}));
            QCOMPARE(listener.replies, 2);
        }
    }

    void display_usesTheLocaleSeparators() {
        Listener listener;
        listener.parser.SetLocale(kGerman);
        listener.parser.ProcessBytes(kReport14074 + hex("FE FE 00 4E 00 00 00 00 45 01 FD"),
                                     kRadio);
        QCOMPARE(listener.writes, Shown({"14.074,000", "145.000,000"}));
    }

    // However long a frequency frame runs without its end byte, the value stays at ten digits.
    void longRunWithoutEnd_staysFinite_data() {
        QTest::addColumn<char>("fill");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<QString>("text");
        QTest::newRow("99") << char(0x99) << 9999999999.0 << "9,999,999.999";
        QTest::newRow("EE") << char(0xEE) << 15555555554.0 << "15,555,555.554";
        QTest::newRow("00") << char(0x00) << 0.0 << ".000";
    }
    void longRunWithoutEnd_staysFinite() {
        QFETCH(char, fill);
        QFETCH(double, frequency);
        QFETCH(QString, text);
        Listener listener;
        listener.parser.ProcessBytes(hex("FE FE 00 4E 00"), kRadio);
        const QByteArray chunk(4096, fill);
        for (int i = 0; i < 256; ++i) { // a million data bytes
            listener.parser.ProcessBytes(chunk, kRadio);
            QVERIFY(std::isfinite(listener.parser.Frequency()));
            QCOMPARE(listener.parser.Frequency(), frequency);
            QCOMPARE(listener.parser.State(), 4);
        }
        QCOMPARE(listener.replies, 0);
        QCOMPARE(listener.writes, QStringList());
        listener.parser.ProcessBytes(hex("FD"), kRadio);
        QCOMPARE(listener.writes, Shown({text}));
        QCOMPARE(listener.replies, 1);
        // The next frame starts from zero again.
        listener.parser.ProcessBytes(kReport14074, kRadio);
        QCOMPARE(listener.writes, Shown({text, "14,074.000"}));
    }

    // Real bus traffic of Hamlib with an IC-7300 at 94, heard by a listener whose radio is 94:
    // the display must go through exactly the hand-worked sequence.
    void hamlibCapture_showsHandWorkedSequence_data() {
        QTest::addColumn<int>("readSize"); // 0: one read per captured frame
        QTest::newRow("one read per frame") << 0;
        QTest::newRow("one byte per read") << 1;
        QTest::newRow("seven bytes per read") << 7;
        QTest::newRow("whole stream in one read") << 100000;
    }
    void hamlibCapture_showsHandWorkedSequence() {
        QFETCH(int, readSize);
        const QList<QByteArray> frames = ReadCaptureFrames(kCapture);
        QCOMPARE(frames.size(), 45);
        const QByteArray stream = frames.join();
        QCOMPARE(stream.size(), 389);
        const QStringList expected = ReadExpected(kCaptureExpected, QStringLiteral("display"));
        const QStringList last = ReadExpected(kCaptureExpected, QStringLiteral("final"));
        QCOMPARE(expected.size(), 3);
        QCOMPARE(last.size(), 1);

        Listener listener;
        if (readSize == 0) {
            for (const QByteArray& frame : frames) {
                listener.parser.ProcessBytes(frame, kHamlibRadio);
            }
        } else {
            for (qsizetype at = 0; at < stream.size(); at += readSize) {
                listener.parser.ProcessBytes(
                    stream.sliced(at, qMin<qsizetype>(readSize, stream.size() - at)), kHamlibRadio);
            }
        }
        QCOMPARE(listener.writes, Shown(expected));
        QCOMPARE(listener.writes.last(), last.first());
        // The three shown frequencies and Hamlib's digit-less read request at the start.
        QCOMPARE(listener.replies, 4);
        QCOMPARE(listener.parser.State(), 0);
    }
};

QTEST_GUILESS_MAIN(TestReceiveParser)
#include "tst_receiveparser.moc"
