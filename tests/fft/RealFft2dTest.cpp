#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "fft/RealFft2d.h"
#include "image/Error.h"

namespace lumetra {
namespace {

// Float planes through double transforms, one rounding to float on the way back: the two
// paths below differ by double rounding only, far under one float unit (6e-8 relative).
constexpr double kFloatRelTol = 2e-7;

Array<float> noisePlane(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 random(seed);
    Array<float> plane(rows, cols);
    for (std::size_t i = 0; i < plane.size(); ++i) {
        plane.data()[i] = static_cast<float>(random() % 2001) / 1000.0f - 1.0f;
    }
    return plane;
}

double largestMagnitude(const Array<float>& plane) {
    double largest = 0.0;
    for (std::size_t i = 0; i < plane.size(); ++i) {
        largest = std::max(largest, std::fabs(static_cast<double>(plane.data()[i])));
    }
    return largest;
}

void expectClose(const Array<float>& actual, const Array<float>& expected, double tolerance) {
    ASSERT_EQ(actual.rows(), expected.rows());
    ASSERT_EQ(actual.cols(), expected.cols());
    const double scale = std::max(largestMagnitude(expected), 1e-30);
    double worst = 0.0;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const double error =
            std::fabs(static_cast<double>(actual.data()[i]) - expected.data()[i]) / scale;
        ASSERT_FALSE(std::isnan(error)) << "element " << i;
        worst = std::max(worst, error);
    }
    EXPECT_LE(worst, tolerance) << "worst error relative to the largest value";
}

struct Size {
    std::uint32_t rows, cols;
};

// 1 x 1, tiny even, odd x odd, prime x power of two, non-square with odd columns.
class RealFft2dSizes : public ::testing::TestWithParam<Size> {};

TEST_P(RealFft2dSizes, InverseOfForwardGivesThePlaneBack) {
    const auto [rows, cols] = GetParam();
    const RealFft2d fft(rows, cols);
    RealFft2d::Workspace ws = fft.workspace();
    const Array<float> plane = noisePlane(rows, cols, 7);
    fft.forward(plane, ws);
    Array<float> back(rows, cols);
    fft.inverse(ws, back);
    expectClose(back, plane, kFloatRelTol);
}

TEST_P(RealFft2dSizes, NarrowInverseOfACompactSpectrumMatchesTheFullOne) {
    const auto [rows, cols] = GetParam();
    const std::uint32_t used = std::max(1u, (cols / 2 + 1) / 3);
    const RealFft2d fft(rows, cols, {used});
    RealFft2d::Workspace ws = fft.workspace();
    const std::uint32_t halfCols = fft.halfCols();

    // A band-limited spectrum: a real plane's, with the columns from `used` on cleared.
    fft.forward(noisePlane(rows, cols, 11), ws);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = used; c < halfCols; ++c) ws.half()[r * halfCols + c] = 0.0;
    }
    std::vector<std::complex<double>> compact;
    for (std::uint32_t r = 0; r < rows; ++r) {
        compact.insert(compact.end(), ws.half() + r * halfCols, ws.half() + r * halfCols + used);
    }
    Array<float> full(rows, cols);
    fft.inverse(ws, full);

    // Only the used columns, row by row, in a workspace just wide enough for them.
    RealFft2d::Workspace narrowWs = fft.workspace(used);
    std::copy(compact.begin(), compact.end(), narrowWs.half());
    Array<float> narrow(rows, cols);
    fft.inverse(narrowWs, narrow, used);
    expectClose(narrow, full, kFloatRelTol);
}

// The two passes apart, the rows taken in strips of every height from the last strip back and
// each with a row scratch of its own, give the whole inverse's floats, bit for bit: the
// low-memory decomposition makes its narrow bands so.
TEST_P(RealFft2dSizes, InverseRowsInStripsGiveTheWholeInversesFloats) {
    const auto [rows, cols] = GetParam();
    const std::uint32_t used = std::max(1u, (cols / 2 + 1) / 3);
    const RealFft2d fft(rows, cols, {used});
    RealFft2d::Workspace ws = fft.workspace(used);
    RealFft2d::Workspace columnsOnly = fft.workspace(used);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (std::size_t i = 0; i < std::size_t{rows} * used; ++i) {
        ws.half()[i] = columnsOnly.half()[i] = {value(random), value(random)};
    }
    Array<float> whole(rows, cols);
    fft.inverse(ws, whole, used);

    fft.inverseColumns(columnsOnly, used);
    RealFft2d::Workspace row = fft.workspace(1);
    for (std::uint32_t height = 1; height <= 3; ++height) {
        std::vector<float> strips(std::size_t{rows} * cols, -1.0f);
        for (std::uint32_t first = (rows - 1) / height * height;; first -= height) {
            const std::uint32_t count = std::min(height, rows - first);
            fft.inverseRows(columnsOnly, used, first, count, &strips[std::size_t{first} * cols],
                            row);
            if (first == 0) break;
        }
        EXPECT_TRUE(std::equal(strips.begin(), strips.end(), whole.data(),
                               [](float x, float y) {
                                   return std::bit_cast<std::uint32_t>(x) ==
                                          std::bit_cast<std::uint32_t>(y);
                               }))
            << "strips of " << height << " rows";
    }
    std::vector<float> out(cols);
    EXPECT_THROW(fft.inverseRows(columnsOnly, used, rows, 1, out.data(), row), FftError);
    if (used < fft.halfCols()) {  // wider than the workspace
        EXPECT_THROW(fft.inverseRows(columnsOnly, used + 1, 0, 1, out.data(), row), FftError);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealFft2dSizes,
                         ::testing::Values(Size{1, 1}, Size{8, 8}, Size{9, 7}, Size{31, 64},
                                           Size{20, 33}));

TEST(RealFft2d, ForwardDividesEachSampleBeforeTransforming) {
    const RealFft2d fft(6, 10);
    RealFft2d::Workspace ws = fft.workspace();
    const Array<float> plane = noisePlane(6, 10, 3);
    constexpr float kDivisor = 0.37f;
    Array<float> divided(6, 10);
    for (std::size_t i = 0; i < plane.size(); ++i) divided.data()[i] = plane.data()[i] / kDivisor;
    fft.forward(divided, ws);
    const std::vector<std::complex<double>> expected(ws.half(), ws.half() + 6 * fft.halfCols());
    fft.forward(plane, ws, kDivisor);
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(ws.half()[i], expected[i]) << i;
}

// A workspace from a pool (page-aligned, a reused block still holding the last one's values)
// gives the same bits as one from fftw_malloc, forward and narrow inverse alike.
TEST(RealFft2d, PooledWorkspacesGiveTheSameBits) {
    constexpr std::uint32_t kRows = 256;
    constexpr std::uint32_t kCols = 512;  // a half spectrum of just over a megabyte: pooled
    constexpr std::uint32_t kUsed = 100;
    const RealFft2d fft(kRows, kCols, {kUsed});
    const Array<float> plane = noisePlane(kRows, kCols, 5);
    auto pool = std::make_shared<PlanePool>();
    {
        RealFft2d::Workspace dirty = fft.workspace(fft.halfCols(), pool);
        std::fill_n(dirty.half(), std::size_t{kRows} * fft.halfCols(),
                    std::complex<double>(3.0, -4.0));
    }
    RealFft2d::Workspace plainWs = fft.workspace();
    RealFft2d::Workspace pooledWs = fft.workspace(fft.halfCols(), pool);
    fft.forward(plane, plainWs);
    fft.forward(plane, pooledWs);
    const std::size_t halfSize = std::size_t{kRows} * fft.halfCols();
    for (std::size_t i = 0; i < halfSize; ++i) {
        ASSERT_EQ(pooledWs.half()[i], plainWs.half()[i]) << "element " << i;
    }
    // The first kUsed columns of each row, compacted, through the narrow inverse.
    for (RealFft2d::Workspace* ws : {&plainWs, &pooledWs}) {
        for (std::uint32_t r = 0; r < kRows; ++r) {
            std::copy_n(ws->half() + std::size_t{r} * fft.halfCols(), kUsed,
                        ws->half() + std::size_t{r} * kUsed);
        }
    }
    Array<float> plainOut(kRows, kCols);
    Array<float> pooledOut(kRows, kCols);
    fft.inverse(plainWs, plainOut, kUsed);
    fft.inverse(pooledWs, pooledOut, kUsed);
    EXPECT_EQ(pooledOut, plainOut);
    if (PlanePool::serves(halfSize * sizeof(std::complex<double>))) {
        EXPECT_EQ(pool->counts().reused, 1u);
    }
}

TEST(RealFft2d, RefusesUnpreparedWidthsAndTooNarrowWorkspaces) {
    const RealFft2d fft(8, 16, {5});
    RealFft2d::Workspace ws = fft.workspace();
    Array<float> out(8, 16);
    EXPECT_THROW(fft.inverse(ws, out, 3), FftError);
    RealFft2d::Workspace narrow = fft.workspace(4);
    EXPECT_THROW(fft.inverse(narrow, out, 5), FftError);
    EXPECT_THROW(fft.forward(out, narrow), FftError);
}

}  // namespace
}  // namespace lumetra
