#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "engine/Spectrum.h"

namespace lumetra {
namespace {

struct Box {
    std::uint32_t r0, r1, c0, c1;
    bool operator==(const Box&) const = default;
};

// The bounding box of the elements that are not zero, element by element: what cropping
// must find (an empty box when there is none).
Box plainBox(const Array<float>& mask) {
    Box box{mask.rows(), 0, mask.cols(), 0};
    for (std::uint32_t r = 0; r < mask.rows(); ++r) {
        for (std::uint32_t c = 0; c < mask.cols(); ++c) {
            if (mask(r, c) == 0.0f) continue;
            box = {std::min(box.r0, r), std::max(box.r1, r + 1), std::min(box.c0, c),
                   std::max(box.c1, c + 1)};
        }
    }
    return box;
}

Box boxOf(const BandMask& cropped) {
    if (cropped.boxRows == 0) return {0, 0, 0, 0};
    return {cropped.row0, cropped.row0 + cropped.boxRows, cropped.col0,
            cropped.col0 + cropped.boxCols};
}

// Sparse masks of many shapes (a lone element in a corner or beside a run boundary, blobs,
// negative zeros, a value that is not a number), as wide as several runs of the row scan and
// narrower than one: the cropped rectangle is the plain bounding box, and the rows' spans hold
// the mask's values and no more.
TEST(CroppedMask, IsTheBoundingBoxOfTheValuesThatAreNotZero) {
    std::mt19937 engine(11);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {1, 1}, {1, 200}, {7, 63}, {9, 64}, {12, 65}, {33, 130}, {40, 257}};
    for (const auto& [rows, cols] : sizes) {
        std::uniform_int_distribution<std::uint32_t> row(0, rows - 1);
        std::uniform_int_distribution<std::uint32_t> col(0, cols - 1);
        for (int trial = 0; trial < 40; ++trial) {
            Array<float> mask(rows, cols);
            const int count = trial % 5;  // none, one, a few
            for (int k = 0; k < count; ++k) mask(row(engine), col(engine)) = 0.25f * (k + 1);
            if (trial % 7 == 3) mask(row(engine), col(engine)) = -0.0f;
            if (trial % 11 == 5) mask(row(engine), col(engine)) = std::nanf("");
            if (trial % 13 == 6) mask(row(engine), cols - 1) = 1.0f;
            const Box expected = plainBox(mask);
            const BandMask cropped = croppedMask(mask);
            if (expected.r1 == 0) {
                EXPECT_EQ(cropped.values.size(), 0u) << rows << " x " << cols;
                EXPECT_EQ(cropped.boxRows, 0u) << rows << " x " << cols;
                continue;
            }
            ASSERT_EQ(boxOf(cropped), expected) << rows << " x " << cols << " trial " << trial;
            // Every element of the grid reads back, and each row keeps only the values from
            // its first that is not zero to its last.
            std::size_t spans = 0;
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::uint32_t first = cols, last = 0;
                for (std::uint32_t c = 0; c < cols; ++c) {
                    const float want = mask(r, c);
                    const float got = cropped.at(r, c);
                    EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want)));
                    if (want != 0.0f) {
                        first = std::min(first, c);
                        last = c;
                    }
                }
                if (first < cols) spans += last - first + 1;
            }
            EXPECT_EQ(cropped.values.size(), spans) << rows << " x " << cols << " trial " << trial;
        }
    }
}

// A mask known on a window of its grid crops to what the whole mask crops to: the rectangle
// placed on the grid, its values, and the half-spectrum columns it reaches (which wrap around
// the grid's centre column whatever the window's offset).  Windows at the grid's edges, inside
// it, and as large as the grid; odd and even widths.
TEST(CroppedMask, OfAWindowIsTheCropOfTheWholeMask) {
    std::mt19937 engine(5);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> grids = {
        {8, 8}, {9, 13}, {40, 64}, {41, 130}};
    for (const auto& [rows, cols] : grids) {
        for (int trial = 0; trial < 30; ++trial) {
            const std::uint32_t r0 = static_cast<std::uint32_t>(engine() % rows);
            const std::uint32_t c0 = static_cast<std::uint32_t>(engine() % cols);
            const std::uint32_t height = 1 + static_cast<std::uint32_t>(engine() % (rows - r0));
            const std::uint32_t width = 1 + static_cast<std::uint32_t>(engine() % (cols - c0));
            Array<float> whole(rows, cols);
            Array<float> window(height, width);
            for (int k = 0; k < trial % 4; ++k) {
                const std::uint32_t i = static_cast<std::uint32_t>(engine() % height);
                const std::uint32_t j = static_cast<std::uint32_t>(engine() % width);
                window(i, j) = 0.5f * static_cast<float>(k + 1);
                whole(r0 + i, c0 + j) = window(i, j);
            }
            const BandMask expected = croppedMask(whole);
            const BandMask got = croppedMask(window, r0, c0, cols);
            ASSERT_EQ(boxOf(got), boxOf(expected)) << rows << " x " << cols << " trial " << trial;
            EXPECT_EQ(got.first, expected.first);
            EXPECT_EQ(got.start, expected.start);
            EXPECT_EQ(got.values, expected.values);
            EXPECT_EQ(got.usedCols, expected.usedCols) << rows << " x " << cols;
        }
    }
}

}  // namespace
}  // namespace lumetra
