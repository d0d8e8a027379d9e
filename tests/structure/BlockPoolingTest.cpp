#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>

#include "structure/BlockPooling.h"

namespace lumetra {
namespace {

// Block side and cell count of the pooling, as the tests lay out their inputs.
constexpr std::uint32_t kBlock = 32;
constexpr double kBlockCells = 1024.0;
// The pooled value is a long double mean rounded once to float: within half a float ulp of
// the double-precision reference (relative 2^-24), so 1.2e-7 relative is tight but safe.
constexpr double kMeanRelTol = 1.2e-7;

Array<float> filled(std::uint32_t rows, std::uint32_t cols, float value) {
    Array<float> a(rows, cols);
    for (std::size_t i = 0; i < a.size(); ++i) a.data()[i] = value;
    return a;
}

TEST(BlockPooling, QuarterOfOnesComesBackUnchanged) {
    Array<float> a(64, 64);
    for (std::uint32_t r = 0; r < kBlock; ++r) {
        for (std::uint32_t c = 0; c < kBlock; ++c) a(r, c) = 1.0f;
    }
    EXPECT_EQ(blkproc(a), a);
}

TEST(BlockPooling, HalvesKeepTheirValues) {
    Array<float> a(64, 32);
    for (std::uint32_t r = 0; r < 64; ++r) {
        for (std::uint32_t c = 0; c < 32; ++c) a(r, c) = r < kBlock ? 2.0f : 6.0f;
    }
    EXPECT_EQ(blkproc(a), a);
}

TEST(BlockPooling, CutBlocksCountTheirMissingCellsAsZero) {
    // 40 x 40 ones: a full block, two 32 x 8 strips and an 8 x 8 corner, each summed over
    // its existing cells and divided by 1024: 1, 256/1024, 256/1024, 64/1024.
    const Array<float> pooled = blkproc(filled(40, 40, 1.0f));
    for (std::uint32_t r = 0; r < 40; ++r) {
        for (std::uint32_t c = 0; c < 40; ++c) {
            const float expected =
                r < kBlock ? (c < kBlock ? 1.0f : 0.25f) : (c < kBlock ? 0.25f : 0.0625f);
            EXPECT_EQ(pooled(r, c), expected) << "at " << r << "," << c;
        }
    }
    // A single pixel is a block with one existing cell.
    EXPECT_EQ(blkproc(filled(1, 1, 512.0f)), filled(1, 1, 0.5f));
}

struct Size {
    std::uint32_t rows;
    std::uint32_t cols;
};

void PrintTo(const Size& size, std::ostream* out) {
    *out << size.rows << "x" << size.cols;
}

class BlockPoolingSizes : public testing::TestWithParam<Size> {};

TEST_P(BlockPoolingSizes, EveryPixelGetsItsBlockSumOver1024) {
    const auto [rows, cols] = GetParam();
    std::mt19937 engine(rows * 7 + cols);
    Array<float> a(rows, cols);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a.data()[i] = static_cast<float>(static_cast<double>(engine()) / 4294967296.0) - 0.25f;
    }
    const Array<float> pooled = blkproc(a);
    ASSERT_EQ(pooled.rows(), rows);
    ASSERT_EQ(pooled.cols(), cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const std::uint32_t top = r / kBlock * kBlock;
            const std::uint32_t left = c / kBlock * kBlock;
            double sum = 0.0;
            for (std::uint32_t y = top; y < top + kBlock && y < rows; ++y) {
                for (std::uint32_t x = left; x < left + kBlock && x < cols; ++x) sum += a(y, x);
            }
            const double mean = sum / kBlockCells;
            EXPECT_LE(std::abs(pooled(r, c) - mean), kMeanRelTol * std::abs(mean))
                << "at " << r << "," << c;
        }
    }
}

// 1x1 up to 33x47 (cut blocks on both edges), a power of two, one above (a one-pixel strip).
INSTANTIATE_TEST_SUITE_P(SmallAndOdd, BlockPoolingSizes,
                         testing::Values(Size{1, 1}, Size{3, 3}, Size{8, 8}, Size{9, 9},
                                         Size{33, 47}, Size{64, 64}, Size{65, 33}),
                         [](const testing::TestParamInfo<Size>& info) {
                             return std::to_string(info.param.rows) + "x" +
                                    std::to_string(info.param.cols);
                         });

TEST(BlockPooling, EmptyArrayStaysEmpty) {
    EXPECT_EQ(blkproc(Array<float>()), Array<float>());
    EXPECT_EQ(blkproc(Array<float>(0, 40)), Array<float>(0, 40));
}

}  // namespace
}  // namespace lumetra
