// The audio delay suggested from the day's 1F + 2F sweeps: told once enough sweeps agree, again
// only when the median moves by a tenth of a millisecond, afresh each UTC day, and what it says.

#include "station/audiodelaysuggestion.h"

#include <QTest>

class TestAudioDelaySuggestion : public QObject {
    Q_OBJECT

private slots:
    void take_toldOncePerChange_data() {
        // Each sweep as "DAY:ESTIMATE"; what is told after each, "-" for nothing.
        QTest::addColumn<QString>("sweeps");
        QTest::addColumn<QString>("told");
        QTest::newRow("told at the third sweep") << "1:1.3 1:1.32 1:1.27"
                                                 << "- - 1.3";
        QTest::newRow("steady: told once") << "1:1.3 1:1.3 1:1.3 1:1.31 1:1.29"
                                           << "- - 1.3 - -";
        QTest::newRow("one wild pair moves nothing") << "1:1.3 1:9 1:1.3 1:-4"
                                                     << "- - 1.3 -";
        QTest::newRow("median moves a tenth: told again") << "1:1.3 1:1.3 1:1.3 1:1.5 1:1.5 1:1.5"
                                                          << "- - 1.3 - - 1.4";
        QTest::newRow("a new day begins afresh") << "1:1.3 1:1.3 1:1.3 2:1.3 2:1.3 2:1.3"
                                                 << "- - 1.3 - - 1.3";
        QTest::newRow("no number counts for nothing") << "1:nan 1:1.3 1:1.3 1:inf 1:1.3"
                                                      << "- - - - 1.3";
    }
    void take_toldOncePerChange() {
        QFETCH(QString, sweeps);
        QFETCH(QString, told);
        AudioDelaySuggestion suggestion;
        QStringList said;
        for (const QString& sweep : sweeps.split(' ')) {
            const QStringList dayAndMs = sweep.split(':');
            const std::optional<double> now =
                suggestion.Take(QDate(2026, 12, dayAndMs[0].toInt()), dayAndMs[1].toDouble());
            said << (now ? QString::number(*now) : QStringLiteral("-"));
        }
        QCOMPARE(said.join(' '), told);
    }

    void text_saysWhatToDo() {
        QCOMPARE(AudioDelaySuggestion::Text(1.3, 1.0, 12),
                 QStringLiteral("The audio delay looks like 1.3 ms, not the 1.0 ms set (the "
                                "median of 12 sweeps today that showed 1F and 2F). Every height "
                                "and the modes depend on it: set 1.3 ms in Configure > Audio "
                                "Input, or with --audio-delay, if it holds."));
        QCOMPARE(AudioDelaySuggestion::Text(1.1, 1.1, 3),
                 QStringLiteral("The audio delay setting of 1.1 ms agrees with the median of 3 "
                                "sweeps today that showed 1F and 2F."));
    }
};

QTEST_APPLESS_MAIN(TestAudioDelaySuggestion)
#include "tst_audiodelaysuggestion.moc"
