#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/RgbImage.h"
#include "structure/CannyBuilder.h"

namespace lumetra {
namespace {

// Thresholds of the builder the metric uses.
constexpr float kLow = 6.0f;
constexpr float kHigh = 25.0f;

// A tap is the float rounding of a formula whose square, exponential and 2 pi are each
// rounded to float on the way: a few float ulps relative to the exact value.
constexpr double kTapRelTol = 4.0e-7;
// The smoothing adds up to 2 x 23 float products of values below 2; each partial sum is
// rounded to float (half an ulp of at most 4, 2.4e-7), so 1e-5 absolute is a safe bound.
constexpr double kSmoothAbsTol = 1.0e-5;

// Uniform values in [0, 1) from raw 32-bit draws (the standard distributions differ between
// libraries).
Array<float> noisePlane(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 engine(seed);
    Array<float> plane(rows, cols);
    for (std::size_t i = 0; i < plane.size(); ++i) {
        plane.data()[i] = static_cast<float>(static_cast<double>(engine()) / 4294967296.0);
    }
    return plane;
}

// Half-sample mirror applied until the index lies inside 0..n-1.
std::int64_t mirrorRepeatedly(std::int64_t x, std::int64_t n) {
    while (x < 0 || x > n - 1) x = x < 0 ? -x - 1 : 2 * n - x - 1;
    return x;
}

// ---- 1. kernel ----------------------------------------------------------------------------

TEST(CannyBuilder, KernelOfSigmaOneHasThePublishedTaps) {
    const std::vector<float> taps = CannyBuilder(1.0f, kLow, kHigh).kernel();
    const std::vector<float> expected = {
        1.4867195e-06f, 0.00013383022f, 0.0044318484f, 0.053990964f,   0.24197072f,   0.39894226f,
        0.24197072f,    0.053990964f,   0.0044318484f, 0.00013383022f, 1.4867195e-06f};
    ASSERT_EQ(taps.size(), expected.size());
    for (std::size_t i = 0; i < taps.size(); ++i) EXPECT_EQ(taps[i], expected[i]) << "tap " << i;
}

struct KernelCase {
    float sigma;
    std::size_t length;
};

void PrintTo(const KernelCase& k, std::ostream* out) {
    *out << "sigma " << k.sigma;
}

class CannyKernel : public testing::TestWithParam<KernelCase> {};

TEST_P(CannyKernel, HasOddLengthAndGaussianTaps) {
    const auto [sigma, length] = GetParam();
    const std::vector<float> taps = CannyBuilder(sigma, kLow, kHigh).kernel();
    ASSERT_EQ(taps.size(), length);
    const long double half = static_cast<long double>(length - 1) / 2;
    const long double norm = sigma * std::sqrt(2.0L * std::numbers::pi_v<long double>);
    for (std::size_t i = 0; i < length; ++i) {
        const long double x = (static_cast<long double>(i) - half) / sigma;
        const double exact = static_cast<double>(std::exp(-x * x / 2) / norm);
        const double error = std::abs(taps[i] - exact) / exact;
        EXPECT_LE(error, kTapRelTol) << "tap " << i << " of sigma " << sigma;
        EXPECT_EQ(taps[i], taps[length - 1 - i]) << "symmetry at " << i;
    }
}

// n = trunc(8 sqrt(2) sigma), made odd by adding one: 0.5 -> 5, 1 -> 11, 2 -> 22 -> 23, and a
// sigma below 1 / (8 sqrt 2) gives n = 0, a single tap.
INSTANTIATE_TEST_SUITE_P(Sigmas, CannyKernel,
                         testing::Values(KernelCase{0.5f, 5}, KernelCase{1.0f, 11},
                                         KernelCase{2.0f, 23}, KernelCase{0.05f, 1}));

// ---- 2-5. smoothing and stretch -----------------------------------------------------------

struct Size {
    std::uint32_t rows;
    std::uint32_t cols;
};

void PrintTo(const Size& size, std::ostream* out) {
    *out << size.rows << "x" << size.cols;
}

std::string sizeName(const testing::TestParamInfo<Size>& info) {
    return std::to_string(info.param.rows) + "x" + std::to_string(info.param.cols);
}

class CannySizes : public testing::TestWithParam<Size> {};

// Planes smaller than the kernel's half width (1x1, 3x3, 2x7) need the mirror more than once;
// 8x8 and 9x9 straddle the width of the kernel; 33x47 is odd, prime-ish and non-square.
INSTANTIATE_TEST_SUITE_P(SmallAndOdd, CannySizes,
                         testing::Values(Size{1, 1}, Size{3, 3}, Size{2, 7}, Size{8, 8}, Size{9, 9},
                                         Size{33, 47}),
                         sizeName);

TEST_P(CannySizes, SmoothAddsTheMirroredGaussianToThePlane) {
    const auto [rows, cols] = GetParam();
    const Array<float> plane = noisePlane(rows, cols, rows * 1000 + cols);
    const CannyBuilder canny(1.0f, kLow, kHigh);
    const std::vector<float> taps = canny.kernel();
    const auto half = static_cast<std::int64_t>(taps.size() - 1) / 2;
    const Array<float> smoothed = canny.smooth(plane);
    ASSERT_EQ(smoothed.rows(), rows);
    ASSERT_EQ(smoothed.cols(), cols);

    // Direct double-precision reference: both passes with the mirror applied by a loop.
    std::vector<double> across(plane.size());
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            double sum = 0.0;
            for (std::size_t i = 0; i < taps.size(); ++i) {
                const auto source = mirrorRepeatedly(c + static_cast<std::int64_t>(i) - half, cols);
                sum += taps[i] * static_cast<double>(plane(r, static_cast<std::uint32_t>(source)));
            }
            across[r * cols + c] = sum;
        }
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            double sum = plane(r, c);
            for (std::size_t i = 0; i < taps.size(); ++i) {
                const auto source = mirrorRepeatedly(r + static_cast<std::int64_t>(i) - half, rows);
                sum += taps[i] * across[static_cast<std::size_t>(source) * cols + c];
            }
            EXPECT_NEAR(smoothed(r, c), sum, kSmoothAbsTol) << "at " << r << "," << c;
        }
    }
}

// The smoothing is the model's own float arithmetic, not an approximation of the Gaussian: the
// vector rows must give, bit for bit, the plain float sums taken element by element in tap
// order (horizontal from 0, vertical from the plane).  Widths around multiples of the vector
// lanes (8) leave tails of every length; 1x1 and 3x3 mirror more than once.
TEST(CannySmooth, EqualsThePlainFloatSumsBitForBit) {
    const CannyBuilder canny(1.0f, kLow, kHigh);
    const std::vector<float> taps = canny.kernel();
    const auto half = static_cast<std::int64_t>(taps.size() - 1) / 2;
    for (const Size size : {Size{1, 1}, Size{3, 3}, Size{5, 8}, Size{9, 15}, Size{16, 17},
                            Size{31, 64}, Size{40, 129}}) {
        const auto [rows, cols] = size;
        const Array<float> plane = noisePlane(rows, cols, 7 * rows + cols);
        const Array<float> smoothed = canny.smooth(plane);
        std::vector<float> across(plane.size());
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint32_t c = 0; c < cols; ++c) {
                float sum = 0.0f;
                for (std::size_t i = 0; i < taps.size(); ++i) {
                    const auto source =
                        mirrorRepeatedly(c + static_cast<std::int64_t>(i) - half, cols);
                    sum += taps[i] * plane(r, static_cast<std::uint32_t>(source));
                }
                across[r * cols + c] = sum;
            }
        }
        int differing = 0;
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint32_t c = 0; c < cols; ++c) {
                float sum = plane(r, c);
                for (std::size_t i = 0; i < taps.size(); ++i) {
                    const auto source =
                        mirrorRepeatedly(r + static_cast<std::int64_t>(i) - half, rows);
                    sum += taps[i] * across[static_cast<std::size_t>(source) * cols + c];
                }
                differing += std::bit_cast<std::uint32_t>(sum) ==
                                     std::bit_cast<std::uint32_t>(smoothed(r, c))
                                 ? 0
                                 : 1;
            }
        }
        EXPECT_EQ(differing, 0) << rows << "x" << cols;
    }
}

TEST_P(CannySizes, EdgeMapIsTwoValuedAndKeepsTheSize) {
    const auto [rows, cols] = GetParam();
    const Array<float> plane = noisePlane(rows, cols, rows + 7 * cols);
    const Array<int> map = CannyBuilder(1.0f, kLow, kHigh)(plane);
    ASSERT_EQ(map.rows(), rows);
    ASSERT_EQ(map.cols(), cols);
    for (std::size_t i = 0; i < map.size(); ++i) {
        EXPECT_TRUE(map.data()[i] == 0 || map.data()[i] == 255) << "at " << i;
    }
}

TEST_P(CannySizes, ConstantPlaneHasNoEdges) {
    const auto [rows, cols] = GetParam();
    Array<float> plane(rows, cols);
    for (std::size_t i = 0; i < plane.size(); ++i) plane.data()[i] = 3.5f;
    EXPECT_EQ(CannyBuilder(1.0f, kLow, kHigh)(plane), Array<int>(rows, cols));
}

TEST_P(CannySizes, BottomRightMagnitudeIsZero) {
    const auto [rows, cols] = GetParam();
    const Array<float> levels = noisePlane(rows, cols, 99);
    const CannyBuilder::Gradient g = CannyBuilder::gradient(levels);
    EXPECT_EQ(g.magnitude(rows - 1, cols - 1), 0.0f);
}

TEST(CannyBuilder, StretchSpansZeroTo255EvenFarFromZero) {
    // Values around 1e9 lie beyond any fixed starting guess for the minimum and maximum.
    Array<float> plane(2, 2);
    plane(0, 0) = 1.0e9f;
    plane(0, 1) = 2.0e9f;
    plane(1, 0) = 3.0e9f;
    plane(1, 1) = 1.5e9f;
    const Array<float> levels = CannyBuilder::stretch(plane);
    EXPECT_EQ(levels(0, 0), 0.0f);
    EXPECT_FLOAT_EQ(levels(1, 0), 255.0f);
    EXPECT_FLOAT_EQ(levels(0, 1), 127.5f);
}

TEST(CannyBuilder, StretchOfFlatOrNonFinitePlaneIsZero) {
    Array<float> flat(3, 4);
    for (std::size_t i = 0; i < flat.size(); ++i) flat.data()[i] = -2.0f;
    EXPECT_EQ(CannyBuilder::stretch(flat), Array<float>(3, 4));

    Array<float> nonFinite(1, 3);
    nonFinite(0, 0) = std::numeric_limits<float>::infinity();
    nonFinite(0, 1) = -std::numeric_limits<float>::infinity();
    nonFinite(0, 2) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(CannyBuilder::stretch(nonFinite), Array<float>(1, 3));
}

// ---- 6-8. gradient, suppression, rescale --------------------------------------------------

TEST(CannyBuilder, GradientTakesTheDiagonalDifferencesOfTheCell) {
    // Cell 0 3 / 0 4 at (0, 0): gx = 3 - 0, gy = 0 - 4, so the magnitude is 5.
    Array<float> levels(2, 2);
    levels(0, 1) = 3.0f;
    levels(1, 1) = 4.0f;
    const CannyBuilder::Gradient g = CannyBuilder::gradient(levels);
    EXPECT_EQ(g.magnitude(0, 0), 5.0f);
    EXPECT_EQ(g.angle(0, 0), std::atan2(-4.0f, 3.0f));
    // The last column reuses itself: (0, 1) sees gx = 3 - 4, gy = 3 - 4.
    EXPECT_EQ(g.magnitude(0, 1), std::sqrt(2.0f));
}

struct SectorCase {
    const char* name;
    float angle;
    int dr;  // step across the gradient that the angle selects
    int dc;
};

void PrintTo(const SectorCase& s, std::ostream* out) {
    *out << s.name;
}

class CannySector : public testing::TestWithParam<SectorCase> {};

// The centre of a 3x3 plane is kept only against its two neighbours along the sector's step.
TEST_P(CannySector, ComparesAlongTheSectorStep) {
    const SectorCase& s = GetParam();
    CannyBuilder::Gradient g{Array<float>(3, 3), Array<float>(3, 3)};
    for (std::size_t i = 0; i < 9; ++i) {
        g.magnitude.data()[i] = 6.0f;
        g.angle.data()[i] = s.angle;
    }
    g.magnitude(1, 1) = 5.0f;
    g.magnitude(1 + s.dr, 1 + s.dc) = 4.0f;
    g.magnitude(1 - s.dr, 1 - s.dc) = 4.0f;
    EXPECT_EQ(CannyBuilder::suppress(g)(1, 1), 5.0f) << "larger pixels off the step ignored";

    g.magnitude(1 + s.dr, 1 + s.dc) = 5.0f;
    EXPECT_EQ(CannyBuilder::suppress(g)(1, 1), 0.0f) << "a tie along the step suppresses";
    g.magnitude(1 + s.dr, 1 + s.dc) = 4.0f;
    g.magnitude(1 - s.dr, 1 - s.dc) = 5.5f;
    EXPECT_EQ(CannyBuilder::suppress(g)(1, 1), 0.0f) << "a larger pixel behind suppresses";
}

constexpr float kPi = std::numbers::pi_v<float>;

INSTANTIATE_TEST_SUITE_P(
    Angles, CannySector,
    testing::Values(SectorCase{"Zero", 0.0f, 1, 0}, SectorCase{"JustBelowEighth", 0.37f, 1, 0},
                    SectorCase{"JustAboveEighth", 0.42f, 1, 1},
                    SectorCase{"Quarter", kPi / 4, 1, 1}, SectorCase{"Half", kPi / 2, 0, 1},
                    SectorCase{"ThreeQuarters", 3 * kPi / 4, -1, 1},
                    SectorCase{"NearPiWraps", kPi - 0.01f, 1, 0},
                    SectorCase{"MinusQuarterFolds", -kPi / 4, -1, 1},
                    SectorCase{"MinusHalfFolds", -kPi / 2, 0, 1},
                    SectorCase{"MinusPiFolds", -kPi, 1, 0}),
    [](const testing::TestParamInfo<SectorCase>& info) { return std::string(info.param.name); });

// The fused gradient and suppression takes each sector from the ratio of the differences
// away from the sector edges: it must agree with the arc-tangent path everywhere, most of all
// for directions that lie on an edge give or take a rounding.  Ramps whose gradient points
// within about 2e-4 of each edge direction, jittered so the ratios fall on both sides of it
// and magnitudes differ from pixel to pixel, plus a noise plane and one with non-finite values.
TEST(CannyBuilder, FusedRidgesEqualSuppressionOfTheGradient) {
    constexpr std::uint32_t kSide = 64;
    std::mt19937 random(99);
    auto jitter = [&] { return static_cast<float>(random() % 2001) / 1000.0f - 1.0f; };
    std::vector<Array<float>> planes;
    for (int eighth : {1, 3, 5, 7, 9, 11, 13, 15, 0, 4}) {
        const double phi = eighth * std::numbers::pi / 8.0;
        const double gx = std::cos(phi);
        const double gy = std::sin(phi);
        // levels = a c + b r has gx = a - b and gy = -a - b everywhere.
        const double a = (gx - gy) / 2.0;
        const double b = -(gx + gy) / 2.0;
        Array<float> ramp(kSide, kSide);
        for (std::uint32_t r = 0; r < kSide; ++r) {
            for (std::uint32_t c = 0; c < kSide; ++c) {
                ramp(r, c) = static_cast<float>(100.0 * (a * c + b * r)) + 0.01f * jitter();
            }
        }
        planes.push_back(ramp);
    }
    Array<float> noise(kSide, kSide);
    for (std::size_t i = 0; i < noise.size(); ++i) noise.data()[i] = 100.0f * jitter();
    planes.push_back(noise);
    noise(5, 5) = std::numeric_limits<float>::quiet_NaN();
    noise(20, 30) = std::numeric_limits<float>::infinity();
    noise(40, 10) = -std::numeric_limits<float>::infinity();
    planes.push_back(noise);
    for (std::size_t p = 0; p < planes.size(); ++p) {
        const Array<float> expected = CannyBuilder::suppress(CannyBuilder::gradient(planes[p]));
        const Array<float> actual = CannyBuilder::ridges(planes[p]);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const float e = expected.data()[i];
            const float x = actual.data()[i];
            ASSERT_TRUE(e == x || (std::isnan(e) && std::isnan(x)))
                << "plane " << p << " pixel " << i;
        }
    }
}

// The row-by-row ridges against the plain path, on planes of every shape the row loop treats
// apart: one row, one column, two of each (every pixel on a border), odd and even sizes
// around the vector widths, and larger odd x even planes (up to the sample photographs'
// 256 x 256).  Each size is tried with seeded noise (levels as fine as stretched ones), with
// coarse noise whose many ties along the sector steps must suppress, and with a crop of a
// sample photograph smoothed and stretched as the edge detector does, so that the ratios of
// real gradients fall near the sector edges.
class CannyRidgeSizes : public testing::TestWithParam<Size> {};

INSTANTIATE_TEST_SUITE_P(OddAndEven, CannyRidgeSizes,
                         testing::Values(Size{1, 1}, Size{1, 9}, Size{9, 1}, Size{2, 2}, Size{3, 5},
                                         Size{8, 7}, Size{16, 17}, Size{33, 64}, Size{128, 97},
                                         Size{255, 256}),
                         sizeName);

// The first pixel where two planes differ (NaN equal to NaN), or "" when none does.
std::string firstDifference(const Array<float>& a, const Array<float>& b) {
    if (a.rows() != b.rows() || a.cols() != b.cols()) return "sizes differ";
    for (std::size_t i = 0; i < a.size(); ++i) {
        const float x = a.data()[i];
        const float y = b.data()[i];
        if (!(x == y || (std::isnan(x) && std::isnan(y)))) {
            return "pixel " + std::to_string(i) + ": " + std::to_string(x) + " vs " +
                   std::to_string(y);
        }
    }
    return "";
}

TEST_P(CannyRidgeSizes, RowByRowRidgesEqualSuppressionOfTheGradient) {
    const Size size = GetParam();
    std::mt19937 random(size.rows * 1000 + size.cols);
    Array<float> fine(size.rows, size.cols);
    Array<float> coarse(size.rows, size.cols);
    for (std::size_t i = 0; i < fine.size(); ++i) {
        fine.data()[i] = static_cast<float>(random() % 25501) / 100.0f;  // 0 .. 255
        coarse.data()[i] = static_cast<float>(random() % 4);
    }
    const RgbImage photo(std::string(LUMETRA_SAMPLES_DIR) + "/coffee.ppm");
    ASSERT_GE(photo.rows(), size.rows);
    ASSERT_GE(photo.cols(), size.cols);
    Array<float> crop(size.rows, size.cols);
    for (std::uint32_t r = 0; r < size.rows; ++r) {
        for (std::uint32_t c = 0; c < size.cols; ++c) {
            crop(r, c) = static_cast<float>(photo.G()(r + (photo.rows() - size.rows) / 2, c));
        }
    }
    const CannyBuilder builder(1.0f, 6.0f, 25.0f);
    const Array<float> real = CannyBuilder::stretch(builder.smooth(crop));
    const std::array<const Array<float>*, 3> planes = {&fine, &coarse, &real};
    for (const Array<float>* levels : planes) {
        const Array<float> expected = CannyBuilder::suppress(CannyBuilder::gradient(*levels));
        EXPECT_EQ(firstDifference(CannyBuilder::ridges(*levels), expected), "");
    }
}

TEST(CannyBuilder, SuppressesAtTheBorderWhereTheClampedNeighbourIsThePixel) {
    // Isolated peaks on the first, middle and last row (sector 0, step along rows), and on the
    // first, middle and last column (sector 2, step along columns).
    CannyBuilder::Gradient rowsCase{Array<float>(5, 5), Array<float>(5, 5)};
    CannyBuilder::Gradient colsCase{Array<float>(5, 5), Array<float>(5, 5)};
    for (std::size_t i = 0; i < 25; ++i) colsCase.angle.data()[i] = kPi / 2;
    for (std::uint32_t k : {0u, 2u, 4u}) {
        rowsCase.magnitude(k, 2) = 10.0f;
        colsCase.magnitude(2, k) = 10.0f;
    }
    const Array<float> rows = CannyBuilder::suppress(rowsCase);
    const Array<float> cols = CannyBuilder::suppress(colsCase);
    EXPECT_EQ(rows(0, 2), 0.0f);
    EXPECT_EQ(rows(2, 2), 10.0f);
    EXPECT_EQ(rows(4, 2), 0.0f);
    EXPECT_EQ(cols(2, 0), 0.0f);
    EXPECT_EQ(cols(2, 2), 10.0f);
    EXPECT_EQ(cols(2, 4), 0.0f);
}

TEST(CannyBuilder, RescaleBringsThePeakTo255AndKeepsZeroPlanesZero) {
    Array<float> ridges(1, 3);
    ridges(0, 1) = 2.0f;
    ridges(0, 2) = 8.0f;
    const Array<float> scaled = CannyBuilder::rescale(ridges);
    EXPECT_EQ(scaled(0, 0), 0.0f);
    EXPECT_EQ(scaled(0, 1), 63.75f);  // 2 x (255 / 8), exact in float
    EXPECT_EQ(scaled(0, 2), 255.0f);
    EXPECT_EQ(CannyBuilder::rescale(Array<float>(2, 2)), Array<float>(2, 2));
}

// ---- 9. hysteresis ------------------------------------------------------------------------

TEST(CannyBuilder, HysteresisThresholdsAreStrict) {
    const CannyBuilder canny(1.0f, kLow, kHigh);
    const float aboveHigh = std::nextafter(kHigh, 100.0f);
    const float aboveLow = std::nextafter(kLow, 100.0f);
    // One row per situation; isolated from each other by a row of zeros.
    Array<float> m(9, 4);
    m(0, 0) = kHigh;      // equal to the seed threshold: no seed
    m(2, 0) = aboveHigh;  // just above: a seed
    m(4, 0) = 30.0f;      // a seed whose neighbour equals the continuation threshold...
    m(4, 1) = kLow;
    m(4, 2) = 20.0f;  // ...so the pixel beyond is not reached
    m(6, 0) = 30.0f;  // a seed continued just above the continuation threshold,
    m(6, 1) = aboveLow;
    m(7, 2) = aboveLow;  // diagonally,
    m(6, 3) = kHigh;     // and through a pixel equal to the seed threshold
    const Array<int> map = canny.hysteresis(m);
    Array<int> expected(9, 4);
    expected(2, 0) = 255;
    expected(4, 0) = 255;
    expected(6, 0) = 255;
    expected(6, 1) = 255;
    expected(7, 2) = 255;
    expected(6, 3) = 255;
    EXPECT_EQ(map, expected);
}

TEST(CannyBuilder, HysteresisFollowsAChainThroughAWholeLargePlane) {
    // A snake through a 2000 x 2000 plane: every even row whole, joined at alternate ends by
    // one pixel of the odd row.  It is one chain of about two million pixels, seeded at one
    // end only; a trace that recursed per pixel would run out of stack.
    constexpr std::uint32_t kSide = 2000;
    Array<float> m(kSide, kSide);
    Array<int> expected(kSide, kSide);
    for (std::uint32_t r = 0; r < kSide; ++r) {
        for (std::uint32_t c = 0; c < kSide; ++c) {
            const bool joint = (r % 4 == 1 && c == kSide - 1) || (r % 4 == 3 && c == 0);
            if (r % 2 == 0 || joint) {
                m(r, c) = 10.0f;
                expected(r, c) = 255;
            }
        }
    }
    m(kSide - 2, kSide - 1) = 30.0f;  // the seed sits at the far end of the snake
    EXPECT_EQ(CannyBuilder(1.0f, kLow, kHigh).hysteresis(m), expected);
}

// The seeds and everything 8-connected to them above the continuation threshold, grown by
// plain sweeps until nothing changes: the hysteresis's definition, with no work list.
Array<int> sweptHysteresis(const Array<float>& m, float low, float high) {
    const auto rows = static_cast<int>(m.rows());
    const auto cols = static_cast<int>(m.cols());
    Array<int> map(m.rows(), m.cols());
    const auto cell = [&](int r, int c) {
        return std::pair{static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c)};
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const auto [ur, uc] = cell(r, c);
            if (m(ur, uc) > high) map(ur, uc) = 255;
        }
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const auto [ur, uc] = cell(r, c);
                if (map(ur, uc) != 0 || !(m(ur, uc) > low)) continue;
                for (int dr = -1; dr <= 1; ++dr) {
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int nr = r + dr;
                        const int nc = c + dc;
                        if (nr < 0 || nr >= rows || nc < 0 || nc >= cols) continue;
                        const auto [vr, vc] = cell(nr, nc);
                        if (map(vr, vc) == 255) {
                            map(ur, uc) = 255;
                            grew = true;
                        }
                    }
                }
            }
        }
    }
    return map;
}

// Random magnitudes around the thresholds, with chains along borders and corners, on planes
// of one row, one column, odd and even sides: the work list reaches exactly the swept set.
TEST(CannyBuilder, HysteresisReachesWhatPlainSweepsReach) {
    const CannyBuilder canny(1.0f, kLow, kHigh);
    std::mt19937 engine(7);
    std::uniform_real_distribution<float> level(0.0f, 1.3f * kHigh);
    for (const auto& [rows, cols] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {1, 17}, {23, 1}, {2, 2}, {31, 40}, {64, 33}, {97, 128}}) {
        Array<float> m(rows, cols);
        for (std::size_t i = 0; i < m.size(); ++i) m.data()[i] = level(engine);
        EXPECT_EQ(canny.hysteresis(m), sweptHysteresis(m, kLow, kHigh)) << rows << " x " << cols;
    }
}

// ---- whole builder ------------------------------------------------------------------------

TEST(CannyBuilder, StepEdgesGiveOneStraightLine) {
    // A smoothed step rises most steeply between the last dark and the first bright pixel,
    // so the line lies on the last dark column (row) along the whole plane.
    constexpr std::uint32_t kRows = 16;
    constexpr std::uint32_t kCols = 20;
    constexpr std::uint32_t kStep = 10;
    Array<float> vertical(kRows, kCols);
    Array<float> horizontal(kCols, kRows);
    Array<int> verticalLine(kRows, kCols);
    Array<int> horizontalLine(kCols, kRows);
    for (std::uint32_t r = 0; r < kRows; ++r) {
        for (std::uint32_t c = 0; c < kCols; ++c) {
            vertical(r, c) = c < kStep ? 1.0f : 3.0f;
            horizontal(c, r) = c < kStep ? 1.0f : 3.0f;
        }
        verticalLine(r, kStep - 1) = 255;
        horizontalLine(kStep - 1, r) = 255;
    }
    const CannyBuilder canny(1.0f, kLow, kHigh);
    EXPECT_EQ(canny(vertical), verticalLine);
    EXPECT_EQ(canny(horizontal), horizontalLine);
}

TEST(CannyBuilder, NonFinitePixelsNeverBecomeEdges) {
    // A step with a NaN pixel five columns left of its line: the NaN spreads through the
    // smoothing into angles and magnitudes that are not numbers, which are never suppressed,
    // never the peak and never above a threshold, so the line itself is untouched.
    Array<float> plane(16, 20);
    Array<int> line(16, 20);
    for (std::uint32_t r = 0; r < 16; ++r) {
        for (std::uint32_t c = 0; c < 20; ++c) plane(r, c) = c < 10 ? 1.0f : 3.0f;
        line(r, 9) = 255;
    }
    plane(8, 3) = std::numeric_limits<float>::quiet_NaN();
    const CannyBuilder canny(1.0f, kLow, kHigh);
    EXPECT_EQ(canny(plane), line);

    // Planes made only of infinities and NaN (a quotient by a zero mean) have no edges.
    for (std::uint32_t c = 0; c < 20; ++c) {
        for (std::uint32_t r = 0; r < 16; ++r) {
            plane(r, c) = c % 3 == 0   ? std::numeric_limits<float>::infinity()
                          : c % 3 == 1 ? -std::numeric_limits<float>::infinity()
                                       : std::numeric_limits<float>::quiet_NaN();
        }
    }
    EXPECT_EQ(canny(plane), Array<int>(16, 20));
}

TEST(CannyBuilder, EmptyPlaneGivesEmptyMap) {
    EXPECT_EQ(CannyBuilder(1.0f, kLow, kHigh)(Array<float>()), Array<int>());
    EXPECT_EQ(CannyBuilder(1.0f, kLow, kHigh)(Array<float>(0, 5)), Array<int>(0, 5));
}

}  // namespace
}  // namespace lumetra
