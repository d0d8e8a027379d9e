#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/ScoreMapping.h"

namespace lumetra {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The model's line, as it has always scored: the default mapping.
TEST(ScoreMapping, DefaultLineMapsMeasureLinearlyBetweenItsBounds) {
    const ScoreMapping line;
    constexpr float a = 0.000751f, b = 3.8f;
    EXPECT_FLOAT_EQ(scoreOf(0.0f, line), 3.8f);
    EXPECT_NEAR(scoreOf(1000.0f, line), 3.049f, 1e-5);
    EXPECT_EQ(scoreOf(3729.0f, line), 1.0f);   // above hi (about 3728.36)
    EXPECT_EQ(scoreOf(-1598.0f, line), 5.0f);  // below lo (about -1597.87)
    EXPECT_EQ(scoreOf(kNan, line), -1.0f);
    EXPECT_EQ(scoreOf((b - 5.0f) / a, line), -1.0f);  // exactly on lo
}

// A fit of damage scores: 5 at small measures falling towards 1, halfway at 800, over a
// width of 150.
constexpr LogisticMapping kFitted{1.0, 5.0, 800.0, 150.0};
// The measure is a float (about 6e-8 relative) and the score is rounded to float once; near
// the centre the curve changes the score by at most (b2 - b1) / (4 |b4|) = 0.0067 per unit,
// so 1e-6 is ample.
constexpr double kCurveTol = 1e-6;

struct CurvePoint {
    const char* name;
    float measure;
    double expected;
};

class LogisticScore : public testing::TestWithParam<CurvePoint> {};

TEST_P(LogisticScore, FollowsTheCurve) {
    const CurvePoint& point = GetParam();
    EXPECT_NEAR(scoreOf(point.measure, kFitted), point.expected, kCurveTol);
}

// exp(0) = 1 puts the centre halfway; exp(-+ln 3) = 1/3 or 3 puts the score a quarter or
// three quarters of the way from b2 to b1: 5 - 4 / (4/3) = 2 and 5 - 4 / 4 = 4.
INSTANTIATE_TEST_SUITE_P(
    Points, LogisticScore,
    testing::Values(
        CurvePoint{"Centre", 800.0f, 3.0},
        CurvePoint{"OneLnThreeAbove", static_cast<float>(800.0 + 150.0 * std::log(3.0)), 2.0},
        CurvePoint{"OneLnThreeBelow", static_cast<float>(800.0 - 150.0 * std::log(3.0)), 4.0},
        // exp(800 / 150) = 205.7: 5 - 4 / 206.7
        CurvePoint{"ZeroMeasure", 0.0f, 5.0 - 4.0 / (1.0 + std::exp(800.0 / 150.0))},
        // exp(-inf) = 0 in effect: the score reaches b1
        CurvePoint{"HugeMeasure", 3.0e38f, 1.0}),
    [](const testing::TestParamInfo<CurvePoint>& info) { return info.param.name; });

TEST(ScoreMapping, LogisticWidthCountsByItsSize) {
    const LogisticMapping flipped{1.0, 5.0, 800.0, -150.0};
    for (const float measure : {0.0f, 700.0f, 800.0f, 964.79f, 5000.0f}) {
        EXPECT_EQ(scoreOf(measure, flipped), scoreOf(measure, kFitted)) << measure;
    }
}

TEST(ScoreMapping, LogisticIsClippedToTheScale) {
    // Asymptotes 0 and 6 lie outside 1 .. 5: the ends of the curve are clipped.
    const LogisticMapping wide{0.0, 6.0, 800.0, 150.0};
    EXPECT_EQ(scoreOf(0.0f, wide), 5.0f);
    EXPECT_EQ(scoreOf(5000.0f, wide), 1.0f);
    EXPECT_EQ(scoreOf(800.0f, wide), 3.0f);
}

TEST(ScoreMapping, LogisticGivesMinusOneForAMeasureThatIsNotFinite) {
    EXPECT_EQ(scoreOf(kNan, kFitted), -1.0f);
    EXPECT_EQ(scoreOf(kInf, kFitted), -1.0f);
    EXPECT_EQ(scoreOf(-kInf, kFitted), -1.0f);
}

TEST(ScoreMapping, TextNamesTheKindAndEveryCoefficient) {
    EXPECT_EQ(mappingText(ScoreMapping{}), "linear, a = 0.000751, b = 3.8");
    EXPECT_EQ(mappingText(LogisticMapping{1.25, 4.9, 800.0, 150.5}),
              "logistic, b1 = 1.25, b2 = 4.9, b3 = 800, b4 = 150.5");
}

}  // namespace
}  // namespace lumetra
