#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "cli/QualityGates.h"

namespace lumetra {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

// Limits 700 (measure), 3 (score), 20 (p99); each case sits on one side of them or on them.
const QualityGates kAllGates{700.0f, 3.0f, 20.0f};

struct GateCase {
    const char* name;
    GateValues values;
    const char* failed;
};

const GateCase kCases[] = {
    {"WellWithinEveryLimitPasses", {100.0f, 3.5f, 5.0f}, ""},
    // Strict limits: a value equal to its limit passes.
    {"ValuesOnTheLimitsPass", {700.0f, 3.0f, 20.0f}, ""},
    {"MeasureAboveFails", {700.001f, 3.5f, 5.0f}, "measure"},
    {"ScoreBelowFails", {100.0f, 2.999f, 5.0f}, "score"},
    {"P99AboveFails", {100.0f, 3.5f, 20.001f}, "p99"},
    // Several gates failed: their names in the order measure, score, p99.
    {"MeasureAndP99Fail", {800.0f, 3.5f, 30.0f}, "measure+p99"},
    {"EveryGateFails", {800.0f, 1.0f, 30.0f}, "measure+score+p99"},
    // The engine's sentinel score of a measure it cannot place.
    {"InvalidScoreFails", {100.0f, -1.0f, 5.0f}, "score"},
    // Nothing can be said of a value that is not a number: it fails its gate.
    {"NotANumberFailsEveryGate", {kNan, kNan, kNan}, "measure+score+p99"},
};

class QualityGatesCase : public ::testing::TestWithParam<GateCase> {};

TEST_P(QualityGatesCase, NamesTheGatesCrossed) {
    EXPECT_EQ(failedGates(kAllGates, GetParam().values), GetParam().failed);
}

INSTANTIATE_TEST_SUITE_P(Values, QualityGatesCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QualityGates, OnlyTheGatesGivenJudge) {
    const GateValues bad{800.0f, 1.0f, kNan};
    EXPECT_EQ(failedGates(QualityGates{}, bad), "");
    EXPECT_EQ(failedGates(QualityGates{std::nullopt, 3.0f, std::nullopt}, bad), "score");
    // The p99 value is not looked at without the p99 gate, so the caller need not compute it.
    EXPECT_EQ(failedGates(QualityGates{900.0f, std::nullopt, std::nullopt}, bad), "");
}

TEST(QualityGates, AnyIsTrueWhenOneLimitIsGiven) {
    EXPECT_FALSE(QualityGates{}.any());
    EXPECT_TRUE((QualityGates{std::nullopt, std::nullopt, 0.0f}).any());
    EXPECT_TRUE((QualityGates{0.0f, std::nullopt, std::nullopt}).any());
}

}  // namespace
}  // namespace lumetra
