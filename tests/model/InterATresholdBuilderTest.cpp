#include <gtest/gtest.h>

#include <cmath>

#include "model/InterATresholdBuilder.h"

namespace lumetra {
namespace {

// The engine's cross-channel coefficient sets (p, q, r), two with a negative p.
constexpr float kEngineSets[][3] = {{-0.287f, 0.053f, 0.241f}, {0.09f, 0.1f, 0.82f},
                                    {-0.057f, 0.031f, 0.258f}, {0.0232f, 0.0013f, 0.1096f},
                                    {0.136f, 0.004f, 0.196f},  {0.089f, 0.0005f, 0.1f},
                                    {0.019f, 0.0008f, 0.064f}};

// Six float roundings; a negative p cancels part of the numerator (to no less than about
// 0.6 of its terms for the engine's sets), so allow 2e-6 relative.
constexpr double kCurveRelTol = 2e-6;

TEST(InterATresholdBuilder, WorkedValues) {
    const InterATresholdBuilder build;
    Array<float> x(2, 1);
    x(1, 0) = -2.0f;
    const Array<float> t = build(x, -0.287f, 0.053f, 0.241f);
    EXPECT_EQ(t(0, 0), 1.0f);
    // (1 - 0.574 + 0.212) / (1 + 0.482) = 0.4305: cross-channel factors can fall below 1.
    EXPECT_NEAR(t(1, 0), 0.638 / 1.482, 0.638 / 1.482 * kCurveRelTol);
    EXPECT_NEAR(t(1, 0), 0.43f, 0.001f);
    ASSERT_EQ(t.rows(), 2u);
    ASSERT_EQ(t.cols(), 1u);
}

TEST(InterATresholdBuilder, EngineCoefficientsGivePositiveFactorsSymmetricInSign) {
    const InterATresholdBuilder build;
    Array<float> x(2, 25);
    for (std::uint32_t c = 1; c < x.cols(); ++c) {
        x(0, c) = std::pow(10.0f, static_cast<float>(c) / 3.0f - 2.0f);  // 10^-1.67 .. 10^6
        x(1, c) = -x(0, c);
    }
    for (const auto& [p, q, r] : kEngineSets) {
        const Array<float> t = build(x, p, q, r);
        for (std::uint32_t c = 0; c < x.cols(); ++c) {
            const double a = x(0, c);
            const double expected = (1 + p * a + q * a * a) / (1 + r * a);
            EXPECT_GT(t(0, c), 0.0f);
            EXPECT_EQ(t(1, c), t(0, c));
            EXPECT_NEAR(t(0, c) / expected, 1.0, kCurveRelTol) << p << " " << a;
        }
    }
    EXPECT_EQ(build(Array<float>(0, 0), 1, 1, 1).size(), 0u);
}

}  // namespace
}  // namespace lumetra
