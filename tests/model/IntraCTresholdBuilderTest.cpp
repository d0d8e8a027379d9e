#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "model/IntraCTresholdBuilder.h"

namespace lumetra {
namespace {

// The engine's coefficient sets (p, q, r) for the chromatic bases and crowns.
constexpr float kEngineSets[][3] = {
    {0.45f, 0.06f, 1.22f}, {0.48f, 0.03f, 0.82f}, {0.72f, 0.22f, 2.78f}, {0.13f, 0.05f, 0.42f}};

// Five float roundings of a rational function with positive terms.
constexpr double kCurveRelTol = 1e-6;

TEST(IntraCTresholdBuilder, WorkedValues) {
    const IntraCTresholdBuilder build;
    Array<float> x(1, 2);
    x(0, 1) = 1.0f;
    const Array<float> t = build(x, 0.48f, 0.03f, 0.82f);
    EXPECT_EQ(t(0, 0), 1.0f);  // 1 at x = 0 for any coefficients
    // (1 + 0.48 + 0.03) / (1 + 0.82) = 1.51 / 1.82: a threshold may fall below 1.
    EXPECT_NEAR(t(0, 1), 1.51 / 1.82, 1.51 / 1.82 * kCurveRelTol);
    EXPECT_EQ(build(x, -3.0f, 17.0f, 0.5f)(0, 0), 1.0f);
}

TEST(IntraCTresholdBuilder, EngineCoefficientsGivePositiveThresholdsSymmetricInSign) {
    const IntraCTresholdBuilder build;
    // Magnitudes 0 and 10^-1.67 up to 10^6, with both signs, in a 2 x 25 plane.
    Array<float> x(2, 25);
    for (std::uint32_t c = 0; c < x.cols(); ++c) {
        x(0, c) = c == 0 ? 0.0f : std::pow(10.0f, static_cast<float>(c) / 3.0f - 2.0f);
        x(1, c) = -x(0, c);
    }
    for (const auto& [p, q, r] : kEngineSets) {
        const Array<float> t = build(x, p, q, r);
        ASSERT_EQ(t.rows(), 2u);
        ASSERT_EQ(t.cols(), 25u);
        for (std::uint32_t c = 0; c < x.cols(); ++c) {
            const double a = x(0, c);
            const double expected = (1 + p * a + q * a * a) / (1 + r * a);
            EXPECT_GT(t(0, c), 0.0f);
            EXPECT_EQ(t(1, c), t(0, c));
            EXPECT_NEAR(t(0, c) / expected, 1.0, kCurveRelTol) << p << " " << a;
        }
    }
    EXPECT_EQ(build(Array<float>(0, 0), 1, 1, 1).size(), 0u);
    Array<float> nan(3, 1);
    nan(1, 0) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(build(nan, 0.48f, 0.03f, 0.82f)(1, 0)));
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

TEST(IntraCTresholdBuilder, SquareEqualsThePowerInDoubleBitForBit) {
    // Seeded magnitudes over twelve decades, both signs; the recipe squares through pow.
    std::mt19937 generator(11u);
    Array<float> x(200, 1000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float unit = static_cast<float>(generator() >> 8) / 16777216.0f;  // [0, 1)
        const float decade = static_cast<float>(generator() % 12) - 6.0f;
        x.data()[i] = (unit * 2.0f - 1.0f) * std::pow(10.0f, decade);
    }
    const float p = 0.13f, q = 0.05f, r = 0.42f;
    const Array<float> t = IntraCTresholdBuilder{}(x, p, q, r);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float a = std::fabs(x.data()[i]);
        const float square = static_cast<float>(std::pow(static_cast<double>(a), 2.0));
        const float expected = (q * square + (p * a + 1.0f)) / (r * a + 1.0f);
        ASSERT_EQ(t.data()[i], expected) << "x " << x.data()[i];
    }
}

}  // namespace
}  // namespace lumetra
