#include "image/Percentiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace lumetra {

namespace {

// Percentile q of `values` (not empty); partially orders them.
float percentile(std::vector<float>& values, double q) {
    const double position = q * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(position);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(below),
                     values.end());
    const double low = values[below];
    if (below + 1 == values.size()) return static_cast<float>(low);
    // The next order statistic is the smallest of the values above position `below`.
    const double high =
        *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(below) + 1, values.end());
    return static_cast<float>(low + (high - low) * (position - static_cast<double>(below)));
}

}  // namespace

MapPercentiles percentilesOf(const Array<float>& map) {
    std::vector<float> values;
    values.reserve(map.size());
    for (std::size_t i = 0; i < map.size(); ++i) {
        if (!std::isnan(map.data()[i])) values.push_back(map.data()[i]);
    }
    if (values.empty()) {
        constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
        return {kNan, kNan, kNan, kNan};
    }
    constexpr double kMedian = 0.50;
    constexpr double kHigh = 0.95;
    constexpr double kTop = 0.99;
    MapPercentiles p{};
    p.p50 = percentile(values, kMedian);
    p.p95 = percentile(values, kHigh);
    p.p99 = percentile(values, kTop);
    p.max = *std::max_element(values.begin(), values.end());
    return p;
}

}  // namespace lumetra
