#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "structure/Morphology.h"

namespace lumetra {
namespace {

constexpr int kOn = 255;

Array<int> rowOf(const std::vector<int>& values) {
    Array<int> row(1, static_cast<std::uint32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) row.data()[i] = values[i];
    return row;
}

Array<int> transpose(const Array<int>& m) {
    Array<int> t(m.cols(), m.rows());
    for (std::uint32_t r = 0; r < m.rows(); ++r) {
        for (std::uint32_t c = 0; c < m.cols(); ++c) t(c, r) = m(r, c);
    }
    return t;
}

// A map of 255, 0 and a few negative values, seeded.
Array<int> randomMap(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 engine(seed);
    Array<int> m(rows, cols);
    for (std::size_t i = 0; i < m.size(); ++i) {
        const std::uint32_t draw = engine() % 8;
        m.data()[i] = draw < 4 ? kOn : (draw == 7 ? -3 : 0);
    }
    return m;
}

// Opening of one line straight from its definition: position j is on when it lies in a run
// of at least four positive inputs; the last three positions copy the fourth-last; lines
// shorter than four are all off.
std::vector<int> openLine(const std::vector<int>& x) {
    const std::size_t n = x.size();
    std::vector<int> y(n, 0);
    if (n < 4) return y;
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start;
        while (end < n && x[end] > 0) ++end;
        if (end - start >= 4) {
            for (std::size_t j = start; j < end; ++j) y[j] = kOn;
        }
        start = end + 1;
    }
    for (std::size_t j = n - 3; j < n; ++j) y[j] = y[n - 4];
    return y;
}

// Dilation by three of one line: on when x[j-1..j+1] holds a non-zero value; the last
// position copies the one before; a line of length 1 is always on.
std::vector<int> dilateLine(const std::vector<int>& x) {
    const std::size_t n = x.size();
    std::vector<int> y(n, 0);
    if (n == 1) return {kOn};
    for (std::size_t j = 0; j + 1 < n; ++j) {
        const bool any = (j > 0 && x[j - 1] != 0) || x[j] != 0 || x[j + 1] != 0;
        y[j] = any ? kOn : 0;
    }
    if (n >= 2) y[n - 1] = y[n - 2];
    return y;
}

// ---- worked rows --------------------------------------------------------------------------

struct OpeningRow {
    const char* name;
    std::vector<int> in;
    std::vector<int> out;
};

void PrintTo(const OpeningRow& row, std::ostream* out) {
    *out << row.name;
}

class ErodeDilateRows : public testing::TestWithParam<OpeningRow> {};

TEST_P(ErodeDilateRows, OpensTheRow) {
    const OpeningRow& row = GetParam();
    EXPECT_EQ(erode_dilate_h(rowOf(row.in)), rowOf(row.out));
    // The same line as a column.
    EXPECT_EQ(erode_dilate_v(transpose(rowOf(row.in))), transpose(rowOf(row.out)));
}

INSTANTIATE_TEST_SUITE_P(
    Worked, ErodeDilateRows,
    testing::Values(
        OpeningRow{"RunOfFourKept",
                   {0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0},
                   {0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0}},
        OpeningRow{"RunOfThreeVanishes",
                   {0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0},
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        OpeningRow{"RunOfSixKeptWhole",
                   {0, 255, 255, 255, 255, 255, 255, 0, 0, 0, 0},
                   {0, 255, 255, 255, 255, 255, 255, 0, 0, 0, 0}},
        OpeningRow{
            "RunAtStartKept", {255, 255, 255, 255, 0, 0, 0, 0}, {255, 255, 255, 255, 0, 0, 0, 0}},
        // The last three outputs repeat the output at position 4.
        OpeningRow{"TailRepeatsFourthLast",
                   {0, 0, 0, 255, 255, 255, 255, 0},
                   {0, 0, 0, 255, 255, 255, 255, 255}},
        OpeningRow{"NegativeIsBackground", {-1, -1, -1, -1, 0}, {0, 0, 0, 0, 0}},
        OpeningRow{"AnyPositiveIsForeground", {7, 1, 300, 2, 0}, {255, 255, 255, 255, 255}},
        OpeningRow{"ShorterThanFourIsOff", {255, 255, 255}, {0, 0, 0}},
        OpeningRow{"SingleIsOff", {255}, {0}}),
    [](const testing::TestParamInfo<OpeningRow>& info) { return std::string(info.param.name); });

TEST(Morphology, DilateHvGrowsAPixelIntoASquare) {
    Array<int> m(7, 9);
    m(3, 4) = kOn;
    Array<int> expected(7, 9);
    for (std::uint32_t r = 2; r <= 4; ++r) {
        for (std::uint32_t c = 3; c <= 5; ++c) expected(r, c) = kOn;
    }
    EXPECT_EQ(dilate_hv(m), expected);

    // Any non-zero value is foreground, negative ones included.
    m(3, 4) = -7;
    EXPECT_EQ(dilate_hv(m), expected);
}

TEST(Morphology, DilateHvCarriesTheLastButOnePositionIntoTheLast) {
    // Two columns left of the right border: the square reaches the border column too.
    Array<int> m(7, 9);
    m(3, 6) = kOn;
    Array<int> expected(7, 9);
    for (std::uint32_t r = 2; r <= 4; ++r) {
        for (std::uint32_t c = 5; c <= 8; ++c) expected(r, c) = kOn;
    }
    EXPECT_EQ(dilate_hv(m), expected);
    // The same two rows above the bottom border.
    EXPECT_EQ(dilate_hv(transpose(m)), transpose(expected));
}

TEST(Morphology, LinesOfLengthOneDilateToForeground) {
    for (const std::uint32_t n : {1u, 2u, 6u}) {
        Array<int> all(1, n);
        for (std::size_t i = 0; i < all.size(); ++i) all.data()[i] = kOn;
        EXPECT_EQ(dilate_hv(Array<int>(1, n)), all) << "1 x " << n;
        EXPECT_EQ(dilate_hv(Array<int>(n, 1)), transpose(all)) << n << " x 1";
    }
}

// ---- against the line definitions --------------------------------------------------------

struct Size {
    std::uint32_t rows;
    std::uint32_t cols;
};

void PrintTo(const Size& size, std::ostream* out) {
    *out << size.rows << "x" << size.cols;
}

class MorphologySizes : public testing::TestWithParam<Size> {};

TEST_P(MorphologySizes, OpeningsFollowTheRunDefinitionAndAgreeUnderTransposition) {
    const auto [rows, cols] = GetParam();
    const Array<int> m = randomMap(rows, cols, rows * 100 + cols);
    const Array<int> opened = erode_dilate_h(m);
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::vector<int> line(&m(r, 0), &m(r, 0) + cols);
        const std::vector<int> expected = openLine(line);
        for (std::uint32_t c = 0; c < cols; ++c) {
            EXPECT_EQ(opened(r, c), expected[c]) << "at " << r << "," << c;
        }
    }
    EXPECT_EQ(erode_dilate_v(transpose(m)), transpose(opened));
}

TEST_P(MorphologySizes, DilationIsTheLineDilationOfRowsThenColumns) {
    const auto [rows, cols] = GetParam();
    // Sparse foreground so that the dilation leaves background to check.
    Array<int> m = randomMap(rows, cols, rows + cols);
    for (std::size_t i = 0; i < m.size(); ++i) m.data()[i] = i % 5 == 0 ? m.data()[i] : 0;
    Array<int> across(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::vector<int> y = dilateLine(std::vector<int>(&m(r, 0), &m(r, 0) + cols));
        for (std::uint32_t c = 0; c < cols; ++c) across(r, c) = y[c];
    }
    Array<int> expected(rows, cols);
    for (std::uint32_t c = 0; c < cols; ++c) {
        std::vector<int> x(rows);
        for (std::uint32_t r = 0; r < rows; ++r) x[r] = across(r, c);
        const std::vector<int> y = dilateLine(x);
        for (std::uint32_t r = 0; r < rows; ++r) expected(r, c) = y[r];
    }
    const Array<int> grown = dilate_hv(m);
    EXPECT_EQ(grown, expected);
    EXPECT_EQ(dilate_hv(transpose(m)), transpose(grown));
}

// Lines of 1 to 4 positions hit the special cases; 8, 9, 33 and 47 are even, odd and prime.
INSTANTIATE_TEST_SUITE_P(SmallAndOdd, MorphologySizes,
                         testing::Values(Size{1, 1}, Size{1, 4}, Size{2, 3}, Size{3, 3}, Size{4, 1},
                                         Size{8, 8}, Size{9, 9}, Size{33, 47}),
                         [](const testing::TestParamInfo<Size>& info) {
                             return std::to_string(info.param.rows) + "x" +
                                    std::to_string(info.param.cols);
                         });

TEST(Morphology, EmptyMapsStayEmpty) {
    EXPECT_EQ(dilate_hv(Array<int>()), Array<int>());
    EXPECT_EQ(erode_dilate_h(Array<int>(0, 3)), Array<int>(0, 3));
    EXPECT_EQ(erode_dilate_v(Array<int>(3, 0)), Array<int>(3, 0));
}

// ---- integer helpers ----------------------------------------------------------------------

TEST(Morphology, ModuleIsANonNegativeRemainder) {
    EXPECT_EQ(module(7, 3), 1);
    EXPECT_EQ(module(-7, 3), 2);
    EXPECT_EQ(module(-6, 3), 0);
    EXPECT_EQ(module(5, 0), 5);  // b = 0 returns a
    EXPECT_EQ(module(-5, 0), -5);
    // A negative divisor still gives a remainder in 0..|b|-1.
    EXPECT_EQ(module(-7, -3), 2);
    EXPECT_EQ(module(7, -3), 1);
    EXPECT_EQ(module(INT_MIN, -1), 0);
    EXPECT_EQ(module(-1, INT_MIN), INT_MAX);
    EXPECT_EQ(module(INT_MIN, INT_MAX), INT_MAX - 1);
}

TEST(Morphology, MinReturnsTheSmaller) {
    EXPECT_EQ(lumetra::min(3, 5), 3);
    EXPECT_EQ(lumetra::min(5, 3), 3);
    EXPECT_EQ(lumetra::min(-2, -2), -2);
    EXPECT_EQ(lumetra::min(INT_MIN, INT_MAX), INT_MIN);
}

}  // namespace
}  // namespace lumetra
