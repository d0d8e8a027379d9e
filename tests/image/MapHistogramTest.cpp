#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "image/MapHistogram.h"

namespace lumetra {
namespace {

Array<float> mapOf(const std::vector<float>& values) {
    Array<float> map(1, static_cast<std::uint32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i)
        map(0, static_cast<std::uint32_t>(i)) = values[i];
    return map;
}

// Values 0, 1, 2, 3, 4 in four bins of width 1 from 0 to 4: one value in each of the first
// three, the last bin holding 3 and its right edge 4.  Shares are counts / 5, exact in float
// after one division in double.
TEST(MapHistogram, CountsEachValueInItsBinAndTheTopInTheLast) {
    const MapHistogram h = histogramOf(mapOf({0.0f, 1.0f, 2.0f, 3.0f, 4.0f}), 4);
    EXPECT_EQ(h.top, 4.0f);
    EXPECT_EQ(h.shares, (std::vector<float>{0.2f, 0.2f, 0.2f, 0.4f}));
    EXPECT_EQ(h.mean, 2.0f);
}

// Values that are not finite are left out of the counts, the top and the mean; values below 0
// count in the first bin; the shares add up to 1.
TEST(MapHistogram, LeavesOutValuesThatAreNotFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const MapHistogram h = histogramOf(mapOf({nan, -1.0f, 2.0f, inf, 8.0f}), 8);
    EXPECT_EQ(h.top, 8.0f);
    EXPECT_EQ(h.mean, 3.0f);
    EXPECT_FLOAT_EQ(h.shares[0], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(h.shares[2], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(h.shares[7], 1.0f / 3.0f);
    // Three shares of 1/3 in float: within a few float roundings of 1.
    EXPECT_NEAR(std::accumulate(h.shares.begin(), h.shares.end(), 0.0), 1.0, 1e-6);
}

// A perfect copy's map (all 0) has every value in the first bin; a map without any number has
// no shares and a NaN mean.
TEST(MapHistogram, ZeroMapFillsTheFirstBinAndAnEmptyOneNone) {
    const MapHistogram zeros = histogramOf(mapOf({0.0f, 0.0f, 0.0f}), 5);
    EXPECT_EQ(zeros.top, 0.0f);
    EXPECT_EQ(zeros.shares, (std::vector<float>{1.0f, 0.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(zeros.mean, 0.0f);
    const MapHistogram none = histogramOf(mapOf({std::numeric_limits<float>::quiet_NaN()}), 3);
    EXPECT_EQ(none.shares, (std::vector<float>{0.0f, 0.0f, 0.0f}));
    EXPECT_TRUE(std::isnan(none.mean));
}

}  // namespace
}  // namespace lumetra
