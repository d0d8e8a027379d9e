#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

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

// The vector path against the plain one: band values of every magnitude (seeded, scaled by
// hand), both signs, zeros, infinities and a NaN, in runs of every length up to a few blocks
// so that every tail the lanes leave comes up.  The exponentials' arguments themselves are
// swept in VectorMathTest; here the curve around them must give the same floats.
TEST(InterBTresholdBuilder, VectorPathGivesThePlainFloats) {
    std::mt19937 random(21);
    std::vector<float> values;
    for (int i = 0; i < 1500; ++i) {
        const double unit = static_cast<double>(random()) / 4294967296.0;  // [0, 1)
        const float magnitude = static_cast<float>(std::pow(10.0, 8.0 * unit - 4.0));
        values.push_back(random() % 2 == 0 ? magnitude : -magnitude);
    }
    const std::vector<float> special = {0.0f, -0.0f, std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        std::numeric_limits<float>::quiet_NaN()};
    values.insert(values.begin() + 300, special.begin(), special.end());
    for (const auto& [p, q, r] : kEngineSets) {
        for (const std::size_t n :
             {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{257}, values.size()}) {
            std::vector<float> x(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
            InterBTresholdBuilder::applyInPlace(x, p, q, r);
            for (std::size_t i = 0; i < n; ++i) {
                const float plain = InterBTresholdBuilder::at(values[i], p, q, r);
                if (std::isnan(plain)) {
                    EXPECT_TRUE(std::isnan(x[i]));
                } else {
                    EXPECT_EQ(x[i], plain) << values[i] << " (p = " << p << ")";
                }
            }
        }
    }
}

}  // namespace
}  // namespace lumetra
