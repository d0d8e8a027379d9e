#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>

#include "image/AccImage.h"
#include "structure/Edges.h"

namespace lumetra {
namespace {

constexpr int kEdge = 255;

// A plane of 1 with a rectangle of 2 (rows top..bottom-1, cols left..right-1).
Array<float> rectanglePlane(std::uint32_t rows, std::uint32_t cols, std::uint32_t top,
                            std::uint32_t left, std::uint32_t bottom, std::uint32_t right) {
    Array<float> plane(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const bool inside = r >= top && r < bottom && c >= left && c < right;
            plane(r, c) = inside ? 2.0f : 1.0f;
        }
    }
    return plane;
}

std::size_t edgeCount(const Array<int>& map) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < map.size(); ++i) count += map.data()[i] == kEdge ? 1 : 0;
    return count;
}

Array<int> unionOf(const Array<int>& a, const Array<int>& b) {
    Array<int> u(a.rows(), a.cols());
    for (std::size_t i = 0; i < u.size(); ++i) {
        u.data()[i] = (a.data()[i] == kEdge || b.data()[i] == kEdge) ? kEdge : 0;
    }
    return u;
}

TEST(Edges, PlanesWithoutStructureAddNothingWhicheverChannelTheyFill) {
    const Array<float> p = rectanglePlane(40, 50, 8, 10, 30, 35);
    const Array<float> zero(40, 50);
    const Array<int> alone = edges(p, zero, zero);
    EXPECT_GT(edgeCount(alone), 0u);
    EXPECT_EQ(edges(zero, p, zero), alone);
    EXPECT_EQ(edges(zero, zero, p), alone);
    EXPECT_EQ(edges(p, p, p), alone);
}

TEST(Edges, MergesTheThreeMapsByUnion) {
    const Array<float> p = rectanglePlane(40, 50, 8, 10, 30, 35);
    const Array<float> q = rectanglePlane(40, 50, 20, 2, 38, 20);
    const Array<float> zero(40, 50);
    const Array<int> expected = unionOf(edges(p, zero, zero), edges(q, zero, zero));
    EXPECT_NE(expected, edges(p, zero, zero));
    EXPECT_EQ(edges(p, q, zero), expected);
    EXPECT_EQ(edges(zero, p, q), expected);
}

// Merging map by map, in any order, gives the union; a map packed into bytes comes back
// unchanged.
TEST(Edges, MergingInAnyOrderAndPackingKeepTheMap) {
    const Array<float> p = rectanglePlane(40, 50, 8, 10, 30, 35);
    const Array<float> q = rectanglePlane(40, 50, 20, 2, 38, 20);
    const Array<float> zero(40, 50);
    const Array<int> expected = edges(p, q, zero);
    Array<int> merged(40, 50);
    mergeEdges(merged, planeEdges(q));
    mergeEdges(merged, Array<int>());
    mergeEdges(merged, planeEdges(p));
    EXPECT_EQ(merged, expected);
    const PackedEdges bytes = packed(expected);
    EXPECT_EQ(bytes.values.size(), expected.size());
    EXPECT_EQ(unpacked(bytes), expected);
}

TEST(Edges, StepGivesTheLineOnItsDarkSide) {
    // A vertical step from 1 to 3 between columns 11 and 12.
    Array<float> step(24, 30);
    Array<int> line(24, 30);
    for (std::uint32_t r = 0; r < 24; ++r) {
        for (std::uint32_t c = 0; c < 30; ++c) step(r, c) = c < 12 ? 1.0f : 3.0f;
        line(r, 11) = kEdge;
    }
    const Array<float> zero(24, 30);
    EXPECT_EQ(edges(zero, step, zero), line);
}

TEST(Edges, ZeroMeanPlaneContributesNoEdges) {
    // A sharp step whose two halves cancel: the mean is exactly 0, so the plane is skipped.
    Array<float> balanced(16, 16);
    for (std::uint32_t r = 0; r < 16; ++r) {
        for (std::uint32_t c = 0; c < 16; ++c) balanced(r, c) = c < 8 ? -1.0f : 1.0f;
    }
    const Array<float> zero(16, 16);
    EXPECT_EQ(edges(balanced, zero, zero), Array<int>(16, 16));
    EXPECT_EQ(edges(zero, zero, zero), Array<int>(16, 16));
}

struct Size {
    std::uint32_t rows;
    std::uint32_t cols;
};

void PrintTo(const Size& size, std::ostream* out) {
    *out << size.rows << "x" << size.cols;
}

class EdgesSizes : public testing::TestWithParam<Size> {};

TEST_P(EdgesSizes, ConstantPlanesHaveNoEdgesAndNoisyOnesATwoValuedMap) {
    const auto [rows, cols] = GetParam();
    Array<float> constant(rows, cols);
    Array<float> noisy(rows, cols);
    std::mt19937 engine(rows * 31 + cols);
    for (std::size_t i = 0; i < constant.size(); ++i) {
        constant.data()[i] = 0.25f;
        noisy.data()[i] = static_cast<float>(engine() % 1000) / 100.0f;
    }
    EXPECT_EQ(edges(constant, constant, constant), Array<int>(rows, cols));
    const Array<int> map = edges(noisy, constant, noisy);
    ASSERT_EQ(map.rows(), rows);
    ASSERT_EQ(map.cols(), cols);
    for (std::size_t i = 0; i < map.size(); ++i) {
        EXPECT_TRUE(map.data()[i] == 0 || map.data()[i] == kEdge) << "at " << i;
    }
}

// 1x1 and 3x3 lie inside the kernel's half width; 8x8 / 9x9 around its width; 33x47 odd.
INSTANTIATE_TEST_SUITE_P(SmallAndOdd, EdgesSizes,
                         testing::Values(Size{1, 1}, Size{3, 3}, Size{8, 8}, Size{9, 9},
                                         Size{33, 47}),
                         [](const testing::TestParamInfo<Size>& info) {
                             return std::to_string(info.param.rows) + "x" +
                                    std::to_string(info.param.cols);
                         });

TEST(Edges, EmptyPlanesGiveAnEmptyMap) {
    const Array<float> empty;
    EXPECT_EQ(edges(empty, empty, empty), Array<int>());
    EXPECT_EQ(edges(AccImage()), Array<int>());
}

}  // namespace
}  // namespace lumetra
