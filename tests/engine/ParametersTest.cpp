#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "engine/Parameters.h"
#include "image/Error.h"

namespace lumetra {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(Parameters, DefaultsAreValid) {
    EXPECT_TRUE(Parameters{}.problems().empty());
    EXPECT_NO_THROW(Parameters{}.validate());
}

// Each row breaks one field; the message must name that field, its rule and the value given.
struct BadValue {
    const char* name;
    void (*spoil)(Parameters&);
    const char* message;
};

class ParametersRejects : public testing::TestWithParam<BadValue> {};

TEST_P(ParametersRejects, OneBadValueWithItsRule) {
    Parameters p;
    GetParam().spoil(p);
    ASSERT_EQ(p.problems().size(), 1u);
    EXPECT_EQ(p.problems().front(), GetParam().message);
    try {
        p.validate();
        FAIL() << "validate() accepted " << GetParam().name;
    } catch (const ParameterError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ParametersRejects,
    testing::Values(BadValue{"NanAlpha", [](Parameters& p) { p.alpha = kNan; },
                             "alpha must be a finite number (got nan)"},
                    BadValue{"NegativeAlpha", [](Parameters& p) { p.alpha = -0.5f; },
                             "alpha must be at least 0 (got -0.5)"},
                    BadValue{"ZeroBeta", [](Parameters& p) { p.beta = 0.0f; },
                             "beta must be greater than 0 (got 0)"},
                    BadValue{"InfiniteBeta", [](Parameters& p) { p.beta = kInf; },
                             "beta must be a finite number (got inf)"},
                    BadValue{"NegativeCo", [](Parameters& p) { p.co = -1.0f; },
                             "co must be at least 0 (got -1)"},
                    BadValue{"ZeroSlope",
                             [](Parameters& p) {
                                 p.mapping = LinearMapping{0.0f, 3.8f};
                             },
                             "a must be other than 0 (got 0)"},
                    BadValue{"InfiniteOffset",
                             [](Parameters& p) {
                                 p.mapping = LinearMapping{0.000751f, -kInf};
                             },
                             "b must be a finite number (got -inf)"},
                    BadValue{"NanLogisticTop",
                             [](Parameters& p) {
                                 p.mapping = LogisticMapping{kNan, 5.0, 0.0, 1.0};
                             },
                             "b1 must be a finite number (got nan)"},
                    BadValue{"InfiniteLogisticBottom",
                             [](Parameters& p) {
                                 p.mapping = LogisticMapping{1.0, kInf, 0.0, 1.0};
                             },
                             "b2 must be a finite number (got inf)"},
                    BadValue{"InfiniteLogisticCentre",
                             [](Parameters& p) {
                                 p.mapping = LogisticMapping{1.0, 5.0, -kInf, 1.0};
                             },
                             "b3 must be a finite number (got -inf)"},
                    BadValue{"ZeroLogisticWidth",
                             [](Parameters& p) {
                                 p.mapping = LogisticMapping{1.0, 5.0, 0.0, 0.0};
                             },
                             "b4 must be other than 0 (got 0)"},
                    BadValue{"ZeroPixelsPerDegree", [](Parameters& p) { p.pixelsPerDegree = 0.0; },
                             "pixels per degree must be greater than 0 (got 0)"}),
    [](const testing::TestParamInfo<BadValue>& info) { return info.param.name; });

TEST(Parameters, NamesEveryBadValueAtOnce) {
    Parameters p;
    p.alpha = -1.0f;
    p.beta = kNan;
    p.mapping = LinearMapping{0.0f, 3.8f};
    try {
        p.validate();
        FAIL() << "validate() accepted three bad values";
    } catch (const ParameterError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "alpha must be at least 0 (got -1); beta must be a finite number (got nan); "
                  "a must be other than 0 (got 0)");
    }
}

// Edge values the rules allow: alpha and co may be 0, a and b4 may be negative.
TEST(Parameters, AcceptsTheBoundaries) {
    Parameters p;
    p.alpha = 0.0f;
    p.co = 0.0f;
    p.mapping = LinearMapping{-0.001f, 3.8f};
    EXPECT_TRUE(p.problems().empty());
    p.mapping = LogisticMapping{5.0, 1.0, 0.0, -1e-300};
    EXPECT_TRUE(p.problems().empty());
}

}  // namespace
}  // namespace lumetra
