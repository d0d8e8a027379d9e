#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <tuple>
#include <vector>

#include "model/CsfFilter.h"

namespace lumetra {
namespace {

// The three filters recomputed in double straight from the model's formulas, with none of
// the float roundings, and laid out by the four overwriting placements around
// (h, w) = (rows / 2, cols / 2) exactly as they are stated, one loop per placement.  For odd
// sizes the quarter table has the extra row (column) the placements reach.
struct ReferenceCsf {
    std::vector<double> a, c1, c2;  // rows x cols, row-major
    std::uint32_t cols;

    double A(std::uint32_t r, std::uint32_t c) const { return a[r * cols + c]; }
    double C1(std::uint32_t r, std::uint32_t c) const { return c1[r * cols + c]; }
    double C2(std::uint32_t r, std::uint32_t c) const { return c2[r * cols + c]; }
};

ReferenceCsf referenceCsf(std::uint32_t rows, std::uint32_t cols, double ppd) {
    const std::uint32_t nr = rows / 2 + 1 + rows % 2;
    const std::uint32_t nc = cols / 2 + 1 + cols % 2;
    const double area = double(cols) * rows / (ppd * ppd);
    const double ra = 0.856 * std::pow(2.5, 0.14);
    const double ac = 0.801 * 0.9 * std::pow(0.017, -0.2);
    const double bc = 0.3 * 0.9 * std::pow(1.01, 0.15);
    const auto s = [&](double x) {
        return ac * x * std::exp(-bc * x) * std::sqrt(1 + 0.06 * std::exp(bc * x)) *
               std::pow(1 + std::pow(3.23 * std::pow(area * x * x, -0.3), 5), -0.2);
    };
    std::vector<double> qa(nr * nc), qc1(nr * nc), qc2(nr * nc);
    for (std::uint32_t q = 0; q < nr; ++q) {
        for (std::uint32_t p = 0; p < nc; ++p) {
            const double u = (q + 1.0) / rows;
            const double v = (p + 1.0) / cols;
            const double f = ppd * std::hypot(u, v);
            const double theta = std::atan2(v, u);
            const double shifted = f / (ra * (0.11 * std::cos(4 * theta) + 0.89));
            qa[q * nc + p] = std::min(s(shifted), s(f));
            qc1[q * nc + p] = (1 - 0.27 * std::sin(2 * theta)) / (1 + std::pow(f / 5.52, 1.72));
            qc2[q * nc + p] = (1 - 0.24 * std::sin(2 * theta)) / (1 + std::pow(f / 4.123, 1.6454));
        }
    }
    const double peak = *std::max_element(qa.begin(), qa.end());

    ReferenceCsf ref{std::vector<double>(rows * cols), std::vector<double>(rows * cols),
                     std::vector<double>(rows * cols), cols};
    const long h = rows / 2, w = cols / 2, rr = rows, cc = cols;
    const auto place = [&](long r0, long r1, long c0, long c1, auto qOf, auto pOf) {
        for (long r = r0; r <= r1; ++r) {
            for (long c = c0; c <= c1; ++c) {
                const std::size_t t = qOf(r) * nc + pOf(c);
                ref.a[r * cols + c] = 250 * qa[t] / peak;
                ref.c1[r * cols + c] = 33 * qc1[t];
                ref.c2[r * cols + c] = 5 * qc2[t];
            }
        }
    };
    const auto down = [&](long r) { return r - h + 1; };
    const auto up = [&](long r) { return h - r; };
    const auto right = [&](long c) { return c - w + 1; };
    const auto left = [&](long c) { return w - c; };
    place(h - 1, rr - 1, w - 1, cc - 1, down, right);
    place(0, h, w - 1, cc - 1, up, right);
    place(0, h, 0, w, up, left);
    place(h - 1, rr - 1, 0, w, down, left);
    return ref;
}

// Sizes: the smallest accepted (8 x 8), odd square (9 x 9), odd x odd non-square (33 x 47),
// even non-square (64 x 48), odd x even (97 x 64, a golden image size), a power of two
// (512 x 512, where the band-pass peak lies well inside the table).
struct Size {
    std::uint32_t rows, cols;
};
void PrintTo(const Size& s, std::ostream* os) {
    *os << s.rows << "x" << s.cols;
}

class CsfFilterSizes : public testing::TestWithParam<Size> {};

INSTANTIATE_TEST_SUITE_P(Sizes, CsfFilterSizes,
                         testing::Values(Size{8, 8}, Size{9, 9}, Size{33, 47}, Size{64, 48},
                                         Size{97, 64}, Size{512, 512}));

// About a dozen float roundings per cell (each <= 6e-8 relative), the one inside the area
// term amplified five-fold and damped again by the exponent -0.2: 1e-5 relative is ample,
// yet far below any change of formula, constant or placement.
constexpr double kReferenceRelTol = 1e-5;

TEST_P(CsfFilterSizes, ThreadsGiveTheSameFilters) {
    const auto [rows, cols] = GetParam();
    const CsfFilter alone(rows, cols, 1);
    const CsfFilter shared(rows, cols, 3);
    EXPECT_EQ(shared.A(), alone.A());
    EXPECT_EQ(shared.C1(), alone.C1());
    EXPECT_EQ(shared.C2(), alone.C2());
}

// The largest relative difference between the filters and the double reference.
double worstDeviation(std::uint32_t rows, std::uint32_t cols, const CsfFilter& csf, double ppd) {
    const ReferenceCsf ref = referenceCsf(rows, cols, ppd);
    double worst = 0.0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            worst = std::max({worst, std::abs(csf.A()(r, c) / ref.A(r, c) - 1),
                              std::abs(csf.C1()(r, c) / ref.C1(r, c) - 1),
                              std::abs(csf.C2()(r, c) / ref.C2(r, c) - 1)});
        }
    }
    return worst;
}

TEST_P(CsfFilterSizes, MatchesDoubleReferenceCellByCell) {
    const auto [rows, cols] = GetParam();
    const CsfFilter csf(rows, cols);
    ASSERT_EQ(csf.rows(), rows);
    ASSERT_EQ(csf.cols(), cols);
    ASSERT_EQ(csf.A().rows(), rows);
    ASSERT_EQ(csf.C2().cols(), cols);
    const double worst = worstDeviation(rows, cols, csf, 60.0);
    EXPECT_LT(worst, kReferenceRelTol) << "tolerance " << kReferenceRelTol;
}

// Other viewing geometries: nearer (23.7, fractional, and 45) and farther (90, 137.5) than
// the standard 60 pixels per degree, on an odd non-square and a larger even size.
class CsfFilterViewing : public testing::TestWithParam<std::tuple<Size, double>> {};

INSTANTIATE_TEST_SUITE_P(SizesAndPixelsPerDegree, CsfFilterViewing,
                         testing::Combine(testing::Values(Size{33, 47}, Size{128, 96}),
                                          testing::Values(23.7, 45.0, 90.0, 137.5)));

TEST_P(CsfFilterViewing, MatchesDoubleReferenceCellByCell) {
    const auto [size, ppd] = GetParam();
    const CsfFilter csf(size.rows, size.cols, 1, ppd);
    const double worst = worstDeviation(size.rows, size.cols, csf, ppd);
    EXPECT_LT(worst, kReferenceRelTol) << "tolerance " << kReferenceRelTol;
}

// The sensitivity depends on the viewing geometry: the same grid seen from twice as far puts
// every cell at twice the frequency in cycles per degree, past the chromatic channels'
// corner frequencies, so their filters fall everywhere but at no cell rise.
TEST(CsfFilter, ChromaticSensitivityFallsFartherAway) {
    const CsfFilter near(64, 64, 1, 60.0);
    const CsfFilter far(64, 64, 1, 120.0);
    for (std::size_t i = 0; i < near.C1().size(); ++i) {
        EXPECT_LT(far.C1().data()[i], near.C1().data()[i]) << i;
        EXPECT_LT(far.C2().data()[i], near.C2().data()[i]) << i;
    }
}

TEST_P(CsfFilterSizes, ValuesArePositiveAndBoundedWithPeakExactly250) {
    const auto [rows, cols] = GetParam();
    const CsfFilter csf(rows, cols);
    const auto all = [](const Array<float>& f, float upper) {
        return std::all_of(f.data(), f.data() + f.size(),
                           [&](float x) { return std::isfinite(x) && x > 0.0f && x <= upper; });
    };
    EXPECT_TRUE(all(csf.A(), 250.0f));
    EXPECT_TRUE(all(csf.C1(), 33.0f));
    EXPECT_TRUE(all(csf.C2(), 5.0f));
    // The peak cell divided by itself is exactly 1, times 250 exactly 250.
    EXPECT_EQ(*std::max_element(csf.A().data(), csf.A().data() + csf.A().size()), 250.0f);
}

// The filters evaluated a row of cells at a time through the vector functions are the plain
// cell-by-cell evaluation's to the bit (the vector functions give the C library's floats), at
// every size and viewing geometry of these tests and at two full image sizes.
TEST_P(CsfFilterSizes, RowsOfCellsAtOnceGiveThePlainFiltersBitForBit) {
    const auto [rows, cols] = GetParam();
    for (const double ppd : {60.0, 23.7, 137.5}) {
        const CsfFilter csf(rows, cols, 0, ppd);
        const CsfFilter plain = CsfFilter::plain(rows, cols, 0, ppd);
        EXPECT_EQ(csf.A(), plain.A()) << ppd;
        EXPECT_EQ(csf.C1(), plain.C1()) << ppd;
        EXPECT_EQ(csf.C2(), plain.C2()) << ppd;
    }
}

TEST(CsfFilter, RowsOfCellsAtOnceGiveThePlainFiltersAtFullImageSizes) {
    for (const Size size : {Size{1080, 1920}, Size{1001, 777}}) {
        const CsfFilter csf(size.rows, size.cols, 0);
        const CsfFilter plain = CsfFilter::plain(size.rows, size.cols, 0);
        EXPECT_EQ(csf.A(), plain.A());
        EXPECT_EQ(csf.C1(), plain.C1());
        EXPECT_EQ(csf.C2(), plain.C2());
    }
}

TEST(CsfFilter, EightByEightWorkedValues) {
    const CsfFilter csf(8, 8);
    // The lowest-frequency cell (1/8, 1/8) lands at (h - 1, w) and is the peak here.
    EXPECT_EQ(csf.A()(3, 4), 250.0f);
    // Worked values given to four significant digits.
    EXPECT_NEAR(csf.A()(4, 4), 171.5f, 0.05f);
    EXPECT_NEAR(csf.A()(3, 3), 171.5f, 0.05f);
    for (const auto& [r, c] : {std::pair{0u, 0u}, {0u, 7u}, {7u, 0u}, {7u, 7u}}) {
        EXPECT_NEAR(csf.A()(r, c), 1.154f, 0.0005f) << "corner " << r << "," << c;
    }
    EXPECT_NEAR(csf.C1()(3, 4), 5.91f, 0.005f);
    EXPECT_NEAR(csf.C2()(3, 4), 0.663f, 0.0005f);
}

TEST(CsfFilter, FollowsTheFloatRoundingsBitForBit) {
    // Expected bits from an independent float32 emulation of the construction, with every
    // rounding made explicit.  Each cell moves by at least one ulp under another reading:
    // (5, 1) if f' stays double, if I x^2 is formed as (I x) x, or if Ac, Bc, Ra are floats;
    // (4, 2) if the oblique factor is rounded to float; C2 (4, 1) if 1 + (f / 4.123)^1.6454
    // is kept in double.
    const CsfFilter csf(8, 8);
    EXPECT_EQ(csf.A()(5, 1), 13.3360491f);
    EXPECT_EQ(csf.A()(4, 2), 55.3888588f);
    EXPECT_EQ(csf.C2()(4, 1), 0.124418542f);
}

TEST(CsfFilter, LargeSquareIsBandPassAndSymmetric) {
    const CsfFilter csf(512, 512);
    const std::uint32_t h = 256, w = 256;
    // Quarter cell (q, p) appears at (h - 1 + q, w - p) for every q, p.
    const auto quarterA = [&](std::uint32_t q, std::uint32_t p) {
        return csf.A()(h - 1 + q, w - p);
    };
    // The peak sits at quarter cells (33, 0) and (0, 33), about 4 cycles per degree ...
    EXPECT_EQ(quarterA(33, 0), 250.0f);
    EXPECT_EQ(quarterA(0, 33), 250.0f);
    // ... and the sensitivity falls off on both sides.
    EXPECT_LT(quarterA(32, 0), 250.0f);
    EXPECT_LT(quarterA(34, 0), 250.0f);
    EXPECT_LT(quarterA(0, 0), quarterA(16, 0));
    EXPECT_LT(quarterA(128, 0), quarterA(64, 0));

    // Exchanging the two frequencies leaves cos 4 theta and sin 2 theta unchanged; only the
    // float angle rounding differs.
    constexpr double kSymmetryRelTol = 2e-6;
    double worst = 0.0;
    for (const Array<float>* f : {&csf.A(), &csf.C1(), &csf.C2()}) {
        for (std::uint32_t q = 0; q <= h; ++q) {
            for (std::uint32_t p = 0; p < q; ++p) {
                const double a = (*f)(h - 1 + q, w - p), b = (*f)(h - 1 + p, w - q);
                worst = std::max(worst, std::abs(a / b - 1));
            }
        }
    }
    EXPECT_LT(worst, kSymmetryRelTol);
}

TEST(CsfFilter, ZeroSizeGivesEmptyFiltersAndCopiesAreEqual) {
    const CsfFilter empty(0, 0);
    EXPECT_EQ(empty.rows(), 0u);
    EXPECT_EQ(empty.cols(), 0u);
    EXPECT_EQ(empty.A().size(), 0u);
    EXPECT_EQ(empty.C1().size(), 0u);
    EXPECT_EQ(empty.C2().size(), 0u);
    std::ostringstream dump;
    dump << empty;
    EXPECT_EQ(dump.str(), "A\n\nC1\n\nC2\n\n");

    // The engine builds an empty filter first and assigns the full-size one over it.
    CsfFilter csf(0, 0);
    const CsfFilter built(16, 12);
    csf = built;
    EXPECT_EQ(csf.rows(), 16u);
    EXPECT_EQ(csf.cols(), 12u);
    EXPECT_EQ(csf.A(), built.A());
    EXPECT_EQ(csf.C1(), built.C1());
    EXPECT_EQ(csf.C2(), built.C2());
}

}  // namespace
}  // namespace lumetra
