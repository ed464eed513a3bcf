#pragma once

// The audio delay the station suggests: each sweep that shows 1F and 2F of one layer says how
// long the receiver's audio path really is (the setting in force then plus what the two traces
// still hold beyond it); the median of the day's sweeps, once a few agree, is suggested, and
// told again only when it moves by a tenth of a millisecond. Never applied by itself: a wrong
// pair of traces must not move every height of the day.

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

class AudioDelaySuggestion {
public:
    static constexpr int kLeastSweeps = 3;
    static constexpr double kShownStepMs = 0.1;

    // A sweep of dayUtc put the audio path at estimateMs. The suggestion, rounded to
    // kShownStepMs, when it is new; a new UTC day begins afresh.
    std::optional<double> Take(const QDate& dayUtc, double estimateMs);
    int Sweeps() const { return int(estimates.size()); }

    // "The audio delay looks like 1.3 ms, not the 1.0 ms set: ..."
    static QString Text(double suggestedMs, double inForceMs, int sweeps);

private:
    QDate day;
    std::vector<double> estimates;
    std::optional<double> told;
};
