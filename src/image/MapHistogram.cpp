#include "image/MapHistogram.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace lumetra {

MapHistogram histogramOf(const Array<float>& map, std::size_t bins) {
    assert(bins >= 1);
    const float* values = map.data();
    const std::size_t n = map.size();
    float top = 0.0f;
    double sum = 0.0;
    std::size_t finite = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) continue;
        top = std::max(top, values[i]);
        sum += values[i];
        ++finite;
    }
    MapHistogram histogram{top, std::vector<float>(bins, 0.0f),
                           std::numeric_limits<float>::quiet_NaN()};
    if (finite == 0) return histogram;
    histogram.mean = static_cast<float>(sum / static_cast<double>(finite));
    std::vector<std::size_t> counts(bins, 0);
    const double width = static_cast<double>(top) / static_cast<double>(bins);
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) continue;
        // A map of zeros (top 0) puts every value in the first bin.
        const double place = width > 0.0 ? static_cast<double>(values[i]) / width : 0.0;
        const auto bin =
            static_cast<std::size_t>(std::clamp(place, 0.0, static_cast<double>(bins - 1)));
        ++counts[bin];
    }
    for (std::size_t b = 0; b < bins; ++b) {
        histogram.shares[b] =
            static_cast<float>(static_cast<double>(counts[b]) / static_cast<double>(finite));
    }
    return histogram;
}

}  // namespace lumetra
