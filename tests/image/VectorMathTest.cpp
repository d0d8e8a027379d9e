#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "image/VectorMath.h"

namespace lumetra {
namespace {

// The sweeps take every stride-th float bit pattern of their range; the stride is prime, so
// every pattern of the low bits comes up many times.  A sweep of every pattern (stride 1)
// found no differing float either; it takes minutes, the stride keeps each test to a second
// or two, and the sanitizer builds, which run every loop an order of magnitude slower, look
// at fewer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kSweepStride = 211;
#else
constexpr std::uint32_t kSweepStride = 31;
#endif

// Values handed to the vector functions at once, as the model's loops do.
constexpr std::size_t kBlock = 256;

// Calls check(argument, vectorResult) for every stride-th float from `from` up to `to`,
// each argument converted to double and the function applied by `apply` in blocks.
template <typename Apply, typename Check>
void sweep(float from, float to, Apply&& apply, Check&& check) {
    std::vector<double> values;
    std::vector<float> arguments;
    const std::uint32_t last = std::bit_cast<std::uint32_t>(to);
    for (std::uint32_t bits = std::bit_cast<std::uint32_t>(from); bits <= last;) {
        values.clear();
        arguments.clear();
        for (; bits <= last && arguments.size() < kBlock; bits += kSweepStride) {
            arguments.push_back(std::bit_cast<float>(bits));
            values.push_back(arguments.back());
        }
        apply(std::span<double>(values));
        for (std::size_t i = 0; i < values.size(); ++i) check(arguments[i], values[i]);
    }
}

class VectorMathWidth : public ::testing::TestWithParam<VectorWidth> {
  protected:
    void SetUp() override {
        if (GetParam() == VectorWidth::Four && widestVectorWidth() != VectorWidth::Four) {
            GTEST_SKIP() << "the processor has no four-lane vectors";
        }
    }
};

// exp(-t) for every float t from 2^-26, below which the double result rounds to 1 in float
// whichever of the two functions takes it (it lies above 1 - 2^-26, far from the half-way
// point 1 - 2^-25), up to 128, above which it rounds to 0 (exp(-104) is already below half
// the least float): the arguments of the saturating masking curve.  Goal and result: the same
// float every time.
TEST_P(VectorMathWidth, NegativeExponentialRoundsToTheScalarFloat) {
    std::size_t differing = 0;
    std::size_t swept = 0;
    sweep(
        std::ldexp(1.0f, -26), 128.0f,
        [&](std::span<double> x) {
            for (double& v : x) v = -v;
            expInPlace(x, GetParam());
        },
        [&](float t, double vector) {
            ++swept;
            const auto plain = static_cast<float>(std::exp(-static_cast<double>(t)));
            differing += static_cast<float>(vector) == plain ? 0 : 1;
        });
    EXPECT_GT(swept, 1'000'000u / kSweepStride);
    EXPECT_EQ(differing, 0u) << "of " << swept;
}

// Special values and every tail length the lanes leave.
TEST_P(VectorMathWidth, ExponentialKeepsSpecialValuesAndTails) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::vector<double> special = {0.0,   -0.0, 1.0,   -1.0,  -745.2, -1000.0,
                                         -kInf, kInf, 709.0, 710.0, -0.5,   3.25};
    for (std::size_t n = 0; n <= special.size(); ++n) {
        std::vector<double> x(special.begin(), special.begin() + static_cast<std::ptrdiff_t>(n));
        expInPlace(x, GetParam());
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(static_cast<float>(x[i]), static_cast<float>(std::exp(special[i])))
                << special[i] << " of " << n;
        }
    }
    std::vector<double> nan = {std::numeric_limits<double>::quiet_NaN()};
    expInPlace(nan, GetParam());
    EXPECT_TRUE(std::isnan(nan[0]));
}

// The functions rounded to float give the C library's floats to the bit by construction: over
// dense sweeps of the arguments the filters feed them (frequencies and angles of any image
// size, the powers of the sensitivity curves, the measure's exponents), over exact half-way
// points (pow(x, 1) of a point between two floats) and special values, and at every tail
// length the lanes leave.  Expected count of differing floats: 0.
TEST_P(VectorMathWidth, FunctionsRoundedToFloatGiveTheCLibrarysFloats) {
    const VectorWidth width = GetParam();
    std::vector<double> a;
    std::vector<double> b;
    std::mt19937_64 engine(5);
    std::uniform_real_distribution<double> angle(-7.0, 7.0);
    std::uniform_real_distribution<double> magnitude(-40.0, 40.0);
    for (int i = 0; i < 200'000; ++i) {
        a.push_back(std::ldexp(std::fabs(angle(engine)), static_cast<int>(magnitude(engine))));
        b.push_back(angle(engine));
    }
    // Points half-way between two floats, and values that are not normal floats.
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (const double v :
         {1.0 + std::ldexp(1.0, -24), 3.0 - std::ldexp(1.0, -23), 0.0, -0.0, kInf, -kInf,
          std::numeric_limits<double>::quiet_NaN(), 1e-300, 1e300, -2.0, std::ldexp(1.0, -130)}) {
        a.push_back(v);
        b.push_back(v);
    }
    const std::size_t n = a.size();
    std::vector<float> out(n);
    const auto same = [](float x, float y) {
        return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y) ||
               (std::isnan(x) && std::isnan(y));
    };
    const auto count = [&](auto&& plain) {
        std::size_t differing = 0;
        for (std::size_t i = 0; i < n; ++i) differing += same(out[i], plain(i)) ? 0 : 1;
        return differing;
    };
    for (const double exponent : {1.0, 0.5, -0.3, 5.0, -0.2, 1.72, 0.1, 2.5, -1.0}) {
        powToFloat(a, exponent, out, width);
        EXPECT_EQ(
            count([&](std::size_t i) { return static_cast<float>(std::pow(a[i], exponent)); }), 0u)
            << "pow, exponent " << exponent;
    }
    atan2ToFloat(b, a, out, width);
    EXPECT_EQ(count([&](std::size_t i) { return static_cast<float>(std::atan2(b[i], a[i])); }), 0u);
    atan2ToFloat(a, b, out, width);
    EXPECT_EQ(count([&](std::size_t i) { return static_cast<float>(std::atan2(a[i], b[i])); }), 0u);
    expToFloat(b, out, width);
    EXPECT_EQ(count([&](std::size_t i) { return static_cast<float>(std::exp(b[i])); }), 0u);
    sinToFloat(b, out, width);
    EXPECT_EQ(count([&](std::size_t i) { return static_cast<float>(std::sin(b[i])); }), 0u);
    cosToFloat(b, out, width);
    EXPECT_EQ(count([&](std::size_t i) { return static_cast<float>(std::cos(b[i])); }), 0u);

    for (std::size_t length = 0; length <= 9; ++length) {
        std::vector<float> tail(length);
        expToFloat(std::span<const double>(b.data(), length), tail, width);
        for (std::size_t i = 0; i < length; ++i) {
            EXPECT_EQ(tail[i], static_cast<float>(std::exp(b[i]))) << i << " of " << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, VectorMathWidth,
                         ::testing::Values(VectorWidth::Two, VectorWidth::Four));

}  // namespace
}  // namespace lumetra
