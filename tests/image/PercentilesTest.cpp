#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "image/Percentiles.h"

namespace lumetra {
namespace {

// The plain definition: sort everything, interpolate between the two nearest ranks in double.
double sortedPercentile(std::vector<float> values, double q) {
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const std::size_t k = static_cast<std::size_t>(position);
    if (k + 1 == values.size()) return values[k];
    return values[k] + (static_cast<double>(values[k + 1]) - values[k]) * (position - k);
}

TEST(Percentiles, OneToAHundredByHand) {
    Array<float> map(10, 10);
    for (std::size_t i = 0; i < map.size(); ++i) map.data()[i] = static_cast<float>(100 - i);
    const MapPercentiles p = percentilesOf(map);
    // Positions 49.5, 94.05 and 98.01 of the values 1 .. 100.
    EXPECT_FLOAT_EQ(p.p50, 50.5f);
    EXPECT_FLOAT_EQ(p.p95, 95.05f);
    EXPECT_FLOAT_EQ(p.p99, 99.01f);
    EXPECT_EQ(p.max, 100.0f);
}

// Partial ordering must give exactly what a full sort gives, on sizes from a single pixel up,
// with ties (values drawn from a small set) and without.
TEST(Percentiles, EqualTheSortedDefinition) {
    std::mt19937 random(17);
    for (const auto [rows, cols, levels] :
         {std::array<unsigned, 3>{1, 1, 1000}, {1, 2, 1000}, {7, 13, 5}, {31, 33, 100000}}) {
        Array<float> map(rows, cols);
        for (std::size_t i = 0; i < map.size(); ++i) {
            map.data()[i] = static_cast<float>(random() % levels) / 7.0f;
        }
        const std::vector<float> values(map.data(), map.data() + map.size());
        const MapPercentiles p = percentilesOf(map);
        SCOPED_TRACE(testing::Message() << rows << " x " << cols);
        EXPECT_EQ(p.p50, static_cast<float>(sortedPercentile(values, 0.50)));
        EXPECT_EQ(p.p95, static_cast<float>(sortedPercentile(values, 0.95)));
        EXPECT_EQ(p.p99, static_cast<float>(sortedPercentile(values, 0.99)));
        EXPECT_EQ(p.max, *std::max_element(values.begin(), values.end()));
    }
}

TEST(Percentiles, LeaveOutValuesThatAreNotNumbers) {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    Array<float> map(1, 4);
    map(0, 0) = kNan;
    map(0, 1) = 2.0f;
    map(0, 2) = kNan;
    map(0, 3) = 4.0f;
    EXPECT_EQ(percentilesOf(map).p50, 3.0f);
    EXPECT_EQ(percentilesOf(map).max, 4.0f);

    Array<float> none(2, 2);
    for (std::size_t i = 0; i < none.size(); ++i) none.data()[i] = kNan;
    EXPECT_TRUE(std::isnan(percentilesOf(none).p99));
    EXPECT_TRUE(std::isnan(percentilesOf(Array<float>()).max));
}

}  // namespace
}  // namespace lumetra
