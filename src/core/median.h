#pragma once

// The median of a handful of values: the middle one, or the mean of the middle two for an even
// count; NaN for none.

#include <algorithm>
#include <cmath>
#include <vector>

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return std::nan("");
    }
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}
