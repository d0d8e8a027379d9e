#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "model/RaisedCosine.h"

namespace lumetra {
namespace {

// Every stride-th float bit pattern of the swept range (a prime stride, so that every pattern
// of the low bits comes up); fewer under the sanitizers, which run each loop far slower.  A
// sweep of every pattern (stride 1) found no differing float either.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kSweepStride = 211;
#else
constexpr std::uint32_t kSweepStride = 31;
#endif

// Values handed over at once, as a block of a filter's profile is.
constexpr std::size_t kBlock = 512;

// Transition widths of the kind the filters use: radians of a fan (0.3, 1), cycles per pixel
// of a mesa (0.0123), and a width that is not a round number in binary.
class RaisedCosineWidth : public testing::TestWithParam<double> {};

INSTANTIATE_TEST_SUITE_P(Widths, RaisedCosineWidth, testing::Values(1.0, 0.3, 0.0123, 0.1 / 3.0));

// Every float x from 2^-30 width (where the fall is 1 in float) up to the width, where it
// reaches 0 and 1 + cos cancels most: the vector path rounds to the plain function's float
// every time (goal and result: no differing float).
TEST_P(RaisedCosineWidth, VectorFallRoundsToThePlainFloatOverTheWholeTransition) {
    const double width = GetParam();
    const auto from = std::bit_cast<std::uint32_t>(static_cast<float>(std::ldexp(width, -30)));
    const auto to = std::bit_cast<std::uint32_t>(static_cast<float>(width));
    std::size_t differing = 0;
    std::size_t swept = 0;
    std::vector<float> x;
    std::vector<double> fall;
    for (std::uint32_t bits = from; bits <= to;) {
        x.clear();
        fall.clear();
        for (; bits <= to && x.size() < kBlock; bits += kSweepStride) {
            x.push_back(std::bit_cast<float>(bits));
            fall.push_back(x.back());
        }
        raisedCosineInPlace(fall, width);
        for (std::size_t i = 0; i < x.size(); ++i) {
            ++swept;
            const auto plain = static_cast<float>(raisedCosine(x[i], width));
            differing += static_cast<float>(fall[i]) == plain ? 0 : 1;
        }
    }
    EXPECT_GT(swept, 100'000u);
    EXPECT_EQ(differing, 0u) << "of " << swept;
}

// Arguments whose falls lie next to points half-way between two floats, where a cosine one
// unit off rounds to the other float unless the fall is taken again with the plain cosine:
// for floats g spread over (0, 1), the argument whose exact fall is g + half its unit, and its
// four double neighbours on each side.  Both loops' widths round every one to the plain
// function's float (goal and result: none differs), and the arguments do reach the margin: a
// good part of their plain falls lie within 2^-49 of the half-way point.
TEST_P(RaisedCosineWidth, FallsNextToHalfWayPointsRoundToThePlainFloat) {
    const double width = GetParam();
    std::vector<double> x;
    for (std::uint32_t bits = std::bit_cast<std::uint32_t>(1e-6f);
         bits < std::bit_cast<std::uint32_t>(1.0f); bits += 7919) {
        const float g = std::bit_cast<float>(bits);
        const double halfWay =
            static_cast<double>(g) +
            (static_cast<double>(std::nextafter(g, 2.0f)) - static_cast<double>(g)) / 2.0;
        double near = width * std::acos(2.0 * halfWay - 1.0) / std::numbers::pi;
        for (int k = 0; k < 4; ++k) near = std::nextafter(near, 0.0);
        for (int k = 0; k < 9; ++k, near = std::nextafter(near, width)) x.push_back(near);
    }
    std::size_t nearMargin = 0;
    for (const VectorWidth lanes : {VectorWidth::Two, VectorWidth::Four}) {
        std::vector<double> fall = x;
        raisedCosineInPlace(fall, width, lanes);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double plain = raisedCosine(x[i], width);
            differing += static_cast<float>(fall[i]) == static_cast<float>(plain) ? 0 : 1;
            const double toHalfWay = std::fabs(
                plain - (static_cast<double>(static_cast<float>(plain)) +
                         std::copysign(std::nextafter(static_cast<float>(plain), 2.0f) -
                                           static_cast<float>(plain),
                                       plain - static_cast<double>(static_cast<float>(plain))) /
                             2.0));
            nearMargin += lanes == VectorWidth::Two && toHalfWay <= 0x1p-49 ? 1 : 0;
        }
        EXPECT_EQ(differing, 0u) << "of " << x.size();
    }
    EXPECT_GT(nearMargin, x.size() / 20) << "of " << x.size();
}

// The ends of the fall and runs of every short length 0 .. 10 (the four lanes' tails), for both
// loops' widths.
TEST(RaisedCosine, VectorFallKeepsTheEndsAndShortRuns) {
    const std::vector<double> x = {0.0,  1.0,         0.5,    0.25, 0.75,
                                   1e-9, 1.0 - 1e-12, 0.9999, 0.33, 0.66};
    for (const VectorWidth lanes : {VectorWidth::Two, VectorWidth::Four}) {
        for (std::size_t n = 0; n <= x.size(); ++n) {
            std::vector<double> fall(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
            raisedCosineInPlace(fall, 1.0, lanes);
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_EQ(static_cast<float>(fall[i]), static_cast<float>(raisedCosine(x[i], 1.0)))
                    << x[i];
            }
        }
    }
    EXPECT_EQ(raisedCosine(0.0, 2.0), 1.0);
    EXPECT_EQ(raisedCosine(1.0, 2.0), 0.5);
}

}  // namespace
}  // namespace lumetra
