#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "model/IntraATresholdBuilder.h"

namespace lumetra {
namespace {

Array<float> row(std::initializer_list<float> values) {
    Array<float> a(1, static_cast<std::uint32_t>(values.size()));
    std::uint32_t c = 0;
    for (const float v : values) a(0, c++) = v;
    return a;
}

// k2 = 6^(10/3) rounded to float, as the builder uses it.
const float kGain = static_cast<float>(std::pow(6.0, static_cast<double>(10.0f / 3.0f)));

TEST(IntraATresholdBuilder, WorkedValues) {
    const IntraATresholdBuilder build;
    // x = 0 gives exactly 1 for every slope the engine uses.
    for (const float s : {0.7f, 1.0f, 0.85f}) EXPECT_EQ(build(row({0.0f}), s)(0, 0), 1.0f) << s;
    // k1 k2 = 6, so x = 1 with s = 1 gives (1 + 6^4)^(1/4) = 6.00116 (six digits given).
    EXPECT_NEAR(build(row({1.0f}), 1.0f)(0, 0), 6.00116f, 5e-6f);
    // x = 1 / k2 leaves (1 + k1^4)^(1/4): k1^4 = 5.5e-8 is below half an ulp of 1.
    EXPECT_EQ(build(row({1.0f / kGain}), 1.0f)(0, 0), 1.0f);
}

TEST(IntraATresholdBuilder, FollowsTheDoubleCurveAndIgnoresTheSign) {
    const IntraATresholdBuilder build;
    const Array<float> x = row({1e-4f, 3e-3f, 0.02f, 0.5f, 7.0f, 300.0f});
    Array<float> negated = x;
    for (std::size_t i = 0; i < negated.size(); ++i) negated.data()[i] = -x.data()[i];
    const double k1 = std::pow(6.0, -7.0 / 3.0), k2 = std::pow(6.0, 10.0 / 3.0);
    // Three rounded powers and float gains (6e-8 relative each) amplified at most four-fold.
    constexpr double kCurveRelTol = 2e-6;
    for (const float s : {0.7f, 1.0f, 0.85f}) {
        const Array<float> t = build(x, s);
        EXPECT_EQ(build(negated, s), t) << s;
        for (std::uint32_t c = 0; c < x.cols(); ++c) {
            const double expected = std::pow(1 + std::pow(k1 * std::pow(k2 * x(0, c), s), 4), 0.25);
            EXPECT_NEAR(t(0, c) / expected, 1.0, kCurveRelTol) << "s " << s << " x " << x(0, c);
        }
    }
}

// The three steps exactly as the curve is defined: float products, every power in double
// through pow, rounded to float.
float literalThreshold(float x, float s) {
    const float k1 = static_cast<float>(std::pow(6.0, static_cast<double>(-7.0f / 3.0f)));
    const float t = static_cast<float>(std::pow(static_cast<double>(kGain * std::fabs(x)), s));
    const float u = static_cast<float>(std::pow(static_cast<double>(k1 * t), 4.0));
    return static_cast<float>(std::pow(static_cast<double>(u + 1.0f), 0.25));
}

TEST(IntraATresholdBuilder, MatchesThePowRecipeWithinOneUlp) {
    // 300 000 seeded values with magnitudes from 1e-7 to 1e4 and both signs.
    std::mt19937 generator(7u);
    Array<float> x(300, 1000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float unit = static_cast<float>(generator() >> 8) / 16777216.0f;  // [0, 1)
        const float decade = static_cast<float>(generator() % 12) - 7.0f;
        x.data()[i] = (unit * 2.0f - 1.0f) * std::pow(10.0f, decade);
    }
    for (const float s : {0.7f, 1.0f, 0.85f}) {
        const Array<float> t = IntraATresholdBuilder{}(x, s);
        // The slope power runs through the float pow, which may round the other way near a
        // half-way point: one unit in the last place of t, which the fourth power and fourth
        // root carry into T as at most two units (2.4e-7 relative), and rarely (the unit
        // slope is exact).
        constexpr double kRelTol = 2.4e-7;
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float expected = literalThreshold(x.data()[i], s);
            const float actual = t.data()[i];
            if (actual != expected) {
                ++mismatches;
                ASSERT_LE(std::fabs(double{actual} - expected), kRelTol * expected)
                    << "x " << x.data()[i] << " s " << s << ": " << actual << " vs " << expected;
            }
        }
        EXPECT_LE(mismatches, x.size() / 1000) << "s " << s;
        if (s == 1.0f) {
            EXPECT_EQ(mismatches, 0u);
        }
    }
}

// Below unitBelow(s) the threshold is exactly 1, so masking may leave those values alone:
// checked on a fine sweep up to the bound for the model's three slopes and an odd one, and
// the bound is not so cautious that it stops well short of where the threshold leaves 1.
TEST(IntraATresholdBuilder, ThresholdIsExactlyOneBelowTheUnitBound) {
    const IntraATresholdBuilder builder;
    constexpr int kSteps = 200000;
    for (const float s : {0.7f, 0.85f, 1.0f, 2.5f}) {
        const float bound = builder.unitBelow(s);
        ASSERT_GT(bound, 0.0f) << s;
        for (int i = 0; i < kSteps; ++i) {
            const float gain = bound * static_cast<float>(i) / kSteps;
            // gain() is k2 |x|; the threshold is taken of x.
            const float x = gain / builder.gain(1.0f);
            if (builder.gain(x) >= bound) continue;
            ASSERT_EQ(builder.at(x, s), 1.0f) << "slope " << s << " gain " << gain;
            ASSERT_EQ(builder.at(-x, s), 1.0f) << "slope " << s << " gain " << -gain;
        }
        EXPECT_GT(builder.at(10.0f * bound / builder.gain(1.0f), s), 1.0f) << s;
    }
    EXPECT_EQ(builder.unitBelow(0.0f), 0.0f);
    EXPECT_EQ(builder.unitBelow(-1.0f), 0.0f);
}

// Masking takes the slope powers over runs of gains: they must be slopePower's floats to the
// bit (the thresholds are defined by them), for the model's three slopes, gains of magnitudes
// from 1e-3 to 1e7 and the odd ones (0, infinite, not a number), in runs of every length mod 4.
TEST(IntraATresholdBuilder, SlopePowerOverRunsIsTheScalarSlopePower) {
    std::mt19937 generator(11u);
    std::vector<float> gains;
    for (int i = 0; i < 20000; ++i) {
        const float unit = static_cast<float>(generator() >> 8) / 16777216.0f;  // [0, 1)
        gains.push_back((1.0f + 9.0f * unit) * std::pow(10.0f, static_cast<float>(i % 11) - 3.0f));
    }
    gains.insert(gains.begin() + 5, {0.0f, std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN()});
    for (const float s : {0.7f, 1.0f, 0.85f}) {
        for (const std::size_t length : {gains.size(), gains.size() - 1, gains.size() - 2}) {
            std::vector<float> run(gains.begin(),
                                   gains.begin() + static_cast<std::ptrdiff_t>(length));
            IntraATresholdBuilder::slopePowerInPlace(run, s);
            std::size_t differing = 0;
            for (std::size_t i = 0; i < length; ++i) {
                const float expected = IntraATresholdBuilder::slopePower(gains[i], s);
                differing +=
                    run[i] == expected || (std::isnan(run[i]) && std::isnan(expected)) ? 0 : 1;
            }
            EXPECT_EQ(differing, 0u) << "slope " << s << ", " << length << " gains";
        }
    }
}

TEST(IntraATresholdBuilder, KeepsShapePropagatesNaN) {
    const IntraATresholdBuilder build;
    EXPECT_EQ(build(Array<float>(0, 0), 1.0f).size(), 0u);
    const Array<float> column = build(Array<float>(5, 1), 0.7f);
    EXPECT_EQ(column.rows(), 5u);
    EXPECT_EQ(column.cols(), 1u);
    const Array<float> wide = build(Array<float>(1, 7), 0.7f);
    EXPECT_EQ(wide.rows(), 1u);
    EXPECT_EQ(wide.cols(), 7u);
    EXPECT_TRUE(std::isnan(build(row({std::numeric_limits<float>::quiet_NaN()}), 1.0f)(0, 0)));
}

}  // namespace
}  // namespace lumetra
