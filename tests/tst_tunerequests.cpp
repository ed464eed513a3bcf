// The unanswered tunings of a scheduler: each answer finds its request once, and a failure is
// told once until a tuning reaches the radio again.

#include "sweep/tunerequests.h"

#include <QTest>

using Outcomes = QList<TuneOutcome>;

class TestTuneRequests : public QObject {
    Q_OBJECT
private slots:
    void failureToTell_data() {
        QTest::addColumn<Outcomes>("outcomes");
        QTest::addColumn<QList<bool>>("told");
        constexpr auto ok = TuneOutcome::Reached;
        constexpr auto fail = TuneOutcome::Failed;
        constexpr auto replaced = TuneOutcome::Superseded;
        QTest::newRow("first failure told, the next not")
            << Outcomes{fail, fail} << QList<bool>{true, false};
        QTest::newRow("told again after a success")
            << Outcomes{fail, ok, fail} << QList<bool>{true, false, true};
        QTest::newRow("a replaced tuning neither fails nor succeeds")
            << Outcomes{fail, replaced, fail, replaced, ok, replaced, fail}
            << QList<bool>{true, false, false, false, false, false, true};
    }
    void failureToTell() {
        QFETCH(Outcomes, outcomes);
        QFETCH(QList<bool>, told);
        TuneRequests<int> requests;
        QList<bool> seen;
        for (TuneOutcome outcome : outcomes) {
            seen << requests.FailureToTell(outcome);
        }
        QCOMPARE(seen, told);
    }

    void answer_findsItsRequestOnce() {
        TuneRequests<int> requests;
        const quint64 first = requests.Add(7);
        const quint64 second = requests.Add(8);
        QVERIFY(first != second);
        QCOMPARE(requests.Take(second), std::optional<int>(8));
        QCOMPARE(requests.Take(second), std::nullopt);     // answered already
        QCOMPARE(requests.Take(second + 1), std::nullopt); // never asked
        QCOMPARE(requests.TakeAll(), (std::map<quint64, int>{{first, 7}}));
        QVERIFY(requests.TakeAll().empty());
    }
};

QTEST_GUILESS_MAIN(TestTuneRequests)
#include "tst_tunerequests.moc"
