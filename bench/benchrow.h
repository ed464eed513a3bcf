#pragma once

// Shared output of the benchmarks: each figure is one tab-separated "ROW" line on standard
// output (measure, result, how it was measured) that scripts/bench gathers into one table;
// anything else a benchmark prints is commentary for a person.

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace bench {

inline void PrintRow(const QString& measure, const QString& result, const QString& method) {
    std::printf("ROW\t%s\t%s\t%s\n", qPrintable(measure), qPrintable(result), qPrintable(method));
    std::fflush(stdout);
}

inline void Note(const QString& text) {
    std::fprintf(stderr, "    %s\n", qPrintable(text));
    std::fflush(stderr);
}

// Nearest-rank percentile (0 < fraction <= 1) of unsorted samples; NaN when there are none.
inline double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return std::nan("");
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

inline double Median(const std::vector<double>& samples) {
    return Percentile(samples, 0.5);
}

inline double Mean(const std::vector<double>& samples) {
    double sum = 0;
    for (double value : samples) {
        sum += value;
    }
    return samples.empty() ? std::nan("") : sum / samples.size();
}

} // namespace bench
