#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/InterBTresholdBuilder.h"

namespace lumetra {
namespace {

// The engine's saturating coefficient sets (p, q, r).
constexpr float kEngineSets[][3] = {{1.16f, 0.16f, 0.048f},
                                    {1.8f, 0.8f, 0.02f},
                                    {1.89f, 0.03f, 2.0f},
                                    {1.7f, 0.7f, 0.22f},
                                    {2.0f, 1.0f, 0.0016f}};

// Three float roundings and a rounded exponential; p - q e loses at most a factor
// p / (p - q) <= 2 to cancellation.
constexpr double kCurveRelTol = 1e-6;

TEST(InterBTresholdBuilder, StartsAtPMinusQAndRisesTowardsP) {
    const InterBTresholdBuilder build;
    Array<float> x(1, 3);
    x(0, 1) = 1.0f;
    x(0, 2) = 1e4f;
    const Array<float> t = build(x, 2.0f, 1.0f, 1.0f);
    EXPECT_EQ(t(0, 0), 1.0f);
    EXPECT_NEAR(t(0, 1), 2.0 - std::exp(-1.0), kCurveRelTol);
    EXPECT_EQ(t(0, 2), 2.0f);
}

TEST(InterBTresholdBuilder, EngineCoefficientsGivePositiveFactorsSymmetricInSign) {
    const InterBTresholdBuilder build;
    Array<float> x(2, 25);
    for (std::uint32_t c = 1; c < x.cols(); ++c) {
        x(0, c) = std::pow(10.0f, static_cast<float>(c) / 3.0f - 2.0f);  // 10^-1.67 .. 10^6
        x(1, c) = -x(0, c);
    }
    for (const auto& [p, q, r] : kEngineSets) {
        const Array<float> t = build(x, p, q, r);
        for (std::uint32_t c = 0; c < x.cols(); ++c) {
            const double expected = p - q * std::exp(-r * double(x(0, c)));
            EXPECT_GT(t(0, c), 0.0f);
            EXPECT_EQ(t(1, c), t(0, c));
            EXPECT_NEAR(t(0, c) / expected, 1.0, kCurveRelTol) << p << " " << x(0, c);
        }
    }
    EXPECT_EQ(build(Array<float>(0, 0), 1, 1, 1).size(), 0u);
    Array<float> nan(1, 1);
    nan(0, 0) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(build(nan, 2.0f, 1.0f, 1.0f)(0, 0)));
}

}  // namespace
}  // namespace lumetra
