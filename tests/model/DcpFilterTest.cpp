#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "model/DcpFilter.h"

namespace lumetra {
namespace {

constexpr double kPi = std::numbers::pi;

// Radial frequency and angle (degrees, of the horizontal over the vertical frequency) of
// element (r, c), in double, zero frequency at (rows / 2, cols / 2).
struct Polar {
    double rho, degrees;
};
Polar polarAt(std::uint32_t rows, std::uint32_t cols, std::uint32_t r, std::uint32_t c) {
    const double x = (double(r) - rows / 2) / rows;
    const double y = (double(c) - cols / 2) / cols;
    return {std::hypot(x, y), std::atan2(y, x) * 180.0 / kPi};
}

// Radial profile in double: 1 below a - b/2, raised cosine to 0 at a + b/2 (a and b in
// cycles per degree, rho in cycles per pixel, seen at ppd pixels per degree).
double referenceMesa(double rho, double aDeg, double bDeg, double ppd = 60.0) {
    const double a = aDeg / ppd, b = bDeg / ppd;
    if (rho < a - b / 2) return 1.0;
    if (rho < a + b / 2) return (1 + std::cos(kPi * (rho - a + b / 2) / b)) / 2;
    return 0.0;
}

// The crown-4 strips: 19 to 20 degrees from one crown-4 centre (the centres lie every 30
// degrees), i.e. 10 to 11 degrees from the nearest one; a small margin for the float angle.
bool inCrown4Strip(double degrees) {
    const double offset = std::fmod(std::abs(degrees), 30.0);
    const double nearest = std::min(offset, 30.0 - offset);
    return nearest > 10.0 - 0.01 && nearest < 11.0 + 0.01;
}

double sumOf(const DcpFilter& dcp, unsigned first, unsigned last, std::uint32_t r,
             std::uint32_t c) {
    double sum = 0.0;
    for (unsigned k = first; k <= last; ++k) sum += dcp[k](r, c);
    return sum;
}

// Masks are float, profile values are rounded once, the grid and radius carry float
// rounding (relative 6e-8) into cosines of slope up to pi / (2.6 / 60): sums of up to 17
// masks agree with the double profiles to far better than 1e-5.
constexpr double kProfileTol = 1e-5;
// The crown-3 fan value left in a crown-4 strip: at most about 0.025 of the ring.
constexpr double kStripExcessMax = 0.026;

struct Size {
    std::uint32_t rows, cols;
};
void PrintTo(const Size& s, std::ostream* os) {
    *os << s.rows << "x" << s.cols;
}

class DcpFilterSizes : public testing::TestWithParam<Size> {};

// Smallest accepted (8 x 8), odd square (9 x 9), odd x odd (33 x 47), the worked-example
// size (64 x 64), odd x even golden size (97 x 64), and one large enough to resolve the
// crown-2 ring (256 x 200).
INSTANTIATE_TEST_SUITE_P(Sizes, DcpFilterSizes,
                         testing::Values(Size{8, 8}, Size{9, 9}, Size{33, 47}, Size{64, 64},
                                         Size{97, 64}, Size{256, 200}));

TEST_P(DcpFilterSizes, MasksLieInUnitIntervalAndPassZeroFrequencyOnlyThroughBases) {
    const auto [rows, cols] = GetParam();
    const DcpFilter dcp(rows, cols);
    ASSERT_EQ(dcp.rows(), rows);
    ASSERT_EQ(dcp.cols(), cols);
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
        ASSERT_EQ(dcp[k].rows(), rows);
        ASSERT_EQ(dcp[k].cols(), cols);
        EXPECT_TRUE(std::all_of(dcp[k].data(), dcp[k].data() + dcp[k].size(), [](float x) {
            return x >= 0.0f && x <= 1.0f;
        })) << DcpFilter::name(k);
        const bool base = k == 0 || k == 17 || k == 22;
        EXPECT_EQ(dcp[k](rows / 2, cols / 2), base ? 1.0f : 0.0f) << DcpFilter::name(k);
    }
}

// The largest difference between the bases and crown sums of `dcp` and the double mesas and
// rings at ppd pixels per degree, outside the crown-4 strips, and the largest crown-3 value
// left in those strips.
struct ProfileDeviation {
    double worst;
    double worstStripExcess;
};
ProfileDeviation profileDeviation(const DcpFilter& dcp, double ppd) {
    const std::uint32_t rows = dcp.rows(), cols = dcp.cols();
    const auto mesa = [ppd](double rho, double a, double b) {
        return referenceMesa(rho, a, b, ppd);
    };
    double worst = 0.0, worstStripExcess = 0.0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const auto [rho, degrees] = polarAt(rows, cols, r, c);
            const double a1 = mesa(rho, 1.5, 2.6), a2 = mesa(rho, 5.7, 4);
            const double a3 = mesa(rho, 14.4, 8), a4 = mesa(rho, 28.8, 15);
            const double c1a = mesa(rho, 1.5, 2.8), c1b = mesa(rho, 5.7, 4.8);
            const double c2a = mesa(rho, 1.5, 2.95), c2b = mesa(rho, 5.7, 5.8);
            const double crown4Error = sumOf(dcp, 11, 16, r, c) - (a4 - a3);
            const double channelAError = sumOf(dcp, 0, 16, r, c) - a4;
            if (inCrown4Strip(degrees)) {
                worstStripExcess = std::max(worstStripExcess, crown4Error);
                EXPECT_GT(crown4Error, -kProfileTol);
                EXPECT_NEAR(channelAError, crown4Error, kProfileTol);
            } else {
                worst = std::max({worst, std::abs(crown4Error), std::abs(channelAError)});
            }
            worst = std::max(
                {worst, std::abs(dcp[0](r, c) - a1), std::abs(sumOf(dcp, 1, 4, r, c) - (a2 - a1)),
                 std::abs(sumOf(dcp, 5, 10, r, c) - (a3 - a2)), std::abs(dcp[17](r, c) - c1a),
                 std::abs(sumOf(dcp, 18, 21, r, c) - (c1b - c1a)),
                 std::abs(sumOf(dcp, 17, 21, r, c) - c1b), std::abs(dcp[22](r, c) - c2a),
                 std::abs(sumOf(dcp, 23, 26, r, c) - (c2b - c2a)),
                 std::abs(sumOf(dcp, 22, 26, r, c) - c2b)});
        }
    }
    return {worst, worstStripExcess};
}

TEST_P(DcpFilterSizes, BasesAndCrownsAddUpToTheirMesasAndRings) {
    const auto [rows, cols] = GetParam();
    const DcpFilter dcp(rows, cols);
    const auto [worst, worstStripExcess] = profileDeviation(dcp, 60.0);
    EXPECT_LT(worst, kProfileTol);
    EXPECT_LT(worstStripExcess, kStripExcessMax);
    // The crown-3 fan values left in the strips are part of the bank as it is defined; a
    // grid of 32 or more per side has elements of crown 4 inside a strip.
    if (std::min(rows, cols) >= 32) {
        EXPECT_GT(worstStripExcess, kStripExcessMax / 2);
    }
}

// Other viewing geometries move every radial edge: nearer (23.7, where crown 4 reaches past
// the grid's corners, and 45) and farther (90, 137.5) than the standard 60 pixels per degree.
class DcpFilterViewing : public testing::TestWithParam<std::tuple<Size, double>> {};

INSTANTIATE_TEST_SUITE_P(SizesAndPixelsPerDegree, DcpFilterViewing,
                         testing::Combine(testing::Values(Size{33, 47}, Size{128, 96}),
                                          testing::Values(23.7, 45.0, 90.0, 137.5)));

TEST_P(DcpFilterViewing, BasesAndCrownsAddUpToTheirMesasAndRings) {
    const auto [size, ppd] = GetParam();
    const DcpFilter dcp(size.rows, size.cols, 1, ppd);
    const auto [worst, worstStripExcess] = profileDeviation(dcp, ppd);
    EXPECT_LT(worst, kProfileTol) << "tolerance " << kProfileTol;
    EXPECT_LT(worstStripExcess, kStripExcessMax);
}

// forEachMask hands over the same masks as the whole bank at any viewing geometry.
TEST_P(DcpFilterViewing, ForEachMaskGivesTheBankMasks) {
    const auto [size, ppd] = GetParam();
    const DcpFilter dcp(size.rows, size.cols, 1, ppd);
    std::vector<Array<float>> handed(DcpFilter::kBandCount);
    DcpFilter::forEachMask(
        size.rows, size.cols, 1,
        [&](unsigned i, Array<float> mask) { handed[i] = std::move(mask); }, ppd);
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
        EXPECT_EQ(handed[k], dcp[k]) << DcpFilter::name(k);
    }
}

TEST_P(DcpFilterSizes, MasksVanishBeyondOuterEdgesAndAxesBelongToOneOrientation) {
    const auto [rows, cols] = GetParam();
    const DcpFilter dcp(rows, cols);
    // An element exactly on an outer edge may fall a hair inside it on the float grid (the
    // float step 1 / cols is not exact), where its profile is about 1e-14 rather than 0.
    constexpr double kGridTol = 1e-6;
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const double rho = polarAt(rows, cols, r, c).rho;
            const auto zero = [&](unsigned first, unsigned last) {
                for (unsigned k = first; k <= last; ++k) {
                    if (dcp[k](r, c) != 0.0f) return false;
                }
                return true;
            };
            if (rho >= (28.8 + 7.5) / 60 + kGridTol) {
                EXPECT_TRUE(zero(0, 16)) << r << "," << c;
            }
            if (rho >= (5.7 + 2.4) / 60 + kGridTol) {
                EXPECT_TRUE(zero(17, 21)) << r << "," << c;
            }
            if (rho >= (5.7 + 2.9) / 60 + kGridTol) {
                EXPECT_TRUE(zero(22, 26)) << r << "," << c;
            }
        }
    }
    // Zero vertical frequency (row rows / 2) lies wholly in orientation 1 of every crown,
    // zero horizontal frequency (column cols / 2) wholly in the orientation on |theta|.
    const struct {
        unsigned first, last, horizontal, vertical;
    } crowns[] = {
        {1, 4, 1, 3}, {5, 10, 5, 8}, {11, 16, 11, 14}, {18, 21, 18, 20}, {23, 26, 23, 25}};
    for (const auto& crown : crowns) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const double sum = sumOf(dcp, crown.first, crown.last, rows / 2, c);
            EXPECT_NEAR(dcp[crown.horizontal](rows / 2, c), sum, kProfileTol) << c;
        }
        for (std::uint32_t r = 0; r < rows; ++r) {
            const double sum = sumOf(dcp, crown.first, crown.last, r, cols / 2);
            EXPECT_NEAR(dcp[crown.vertical](r, cols / 2), sum, kProfileTol) << r;
        }
    }
}

TEST(DcpFilter, SixtyFourSquareWorkedValues) {
    const DcpFilter dcp(64, 64);
    // Given to about four significant digits; every mask not listed is 0 within rounding.
    constexpr double kWorkedTol = 5e-4;
    constexpr double kUnlistedTol = 1e-6;
    const struct {
        std::uint32_t r, c;
        std::map<unsigned, double> masks;
    } cases[] = {
        {32, 33, {{0, 0.8143}, {1, 0.1857}, {17, 0.795}, {18, 0.205}, {22, 0.7819}, {23, 0.2181}}},
        {36, 36, {{4, 0.6533}, {9, 0.1734}, {10, 0.1734}, {21, 0.6284}, {26, 0.6066}}},
        {28, 36, {{2, 0.6533}, {6, 0.1734}, {7, 0.1734}, {19, 0.6284}, {24, 0.6066}}},
        {32, 48, {{5, 0.3833}, {11, 0.6167}}},
        {16, 16, {{15, 0.5}, {16, 0.5}}},  // on the boundary of two crown-4 fans
        {0, 0, {}},
    };
    for (const auto& element : cases) {
        for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
            const auto listed = element.masks.find(k);
            const double expected = listed == element.masks.end() ? 0.0 : listed->second;
            const double tol = listed == element.masks.end() ? kUnlistedTol : kWorkedTol;
            EXPECT_NEAR(dcp[k](element.r, element.c), expected, tol)
                << "(" << element.r << ", " << element.c << ") " << DcpFilter::name(k);
        }
    }
    // Expected bits from an independent float32 emulation: the fan's cosine argument
    // pi |d - a/2 + b/2| / b is formed in double from the float d (in float the value here
    // is one ulp lower).
    EXPECT_EQ(dcp.C1Sub21()(33, 25), 0.197536379f);
}

TEST(DcpFilter, NamedAccessorsAndDumpFollowTheBandOrder) {
    const DcpFilter dcp(2, 3);
    using Accessor = const Array<float>& (DcpFilter::*)() const;
    const Accessor accessors[] = {
        &DcpFilter::ABase,   &DcpFilter::ASub21,  &DcpFilter::ASub22,  &DcpFilter::ASub23,
        &DcpFilter::ASub24,  &DcpFilter::ASub31,  &DcpFilter::ASub32,  &DcpFilter::ASub33,
        &DcpFilter::ASub34,  &DcpFilter::ASub35,  &DcpFilter::ASub36,  &DcpFilter::ASub41,
        &DcpFilter::ASub42,  &DcpFilter::ASub43,  &DcpFilter::ASub44,  &DcpFilter::ASub45,
        &DcpFilter::ASub46,  &DcpFilter::C1Base,  &DcpFilter::C1Sub21, &DcpFilter::C1Sub22,
        &DcpFilter::C1Sub23, &DcpFilter::C1Sub24, &DcpFilter::C2Base,  &DcpFilter::C2Sub21,
        &DcpFilter::C2Sub22, &DcpFilter::C2Sub23, &DcpFilter::C2Sub24};
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
        EXPECT_EQ(&(dcp.*accessors[k])(), &dcp[k]) << k;
    }

    std::ostringstream dump;
    dump << dcp;
    std::vector<std::string> lines;
    std::istringstream in(dump.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // Each block: the name, two rows of three tab-terminated values, an empty line.
    ASSERT_EQ(lines.size(), 4u * DcpFilter::kBandCount);
    std::string names;
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
        names += lines[4 * k] + "|";
        EXPECT_EQ(lines[4 * k + 3], "");
    }
    EXPECT_EQ(names,
              "A Base|A 21|A 22|A 23|A 24|A 31|A 32|A 33|A 34|A 35|A 36|A 41|A 42|A 43|A 44|A 45|"
              "A 46|C1 Base|C1 21|C1 22|C1 23|C1 24|C2 Base|C2 21|C2 22|C2 23|C2 24|");
    // Zero frequency at (1, 1) is passed whole by the A base only.
    EXPECT_EQ(lines[2], "0.000000\t1.000000\t0.000000\t");

    const DcpFilter empty(0, 0);
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) EXPECT_EQ(empty[k].size(), 0u);
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

// Threads share out independent masks and rows, and forEachMask hands the masks over one by
// one instead of keeping them: neither may change a single value.
TEST_P(DcpFilterSizes, ThreadsAndMaskByMaskBuildingGiveTheSameMasks) {
    const auto [rows, cols] = GetParam();
    const DcpFilter alone(rows, cols, 1);
    const DcpFilter shared(rows, cols, 3);
    std::array<Array<float>, DcpFilter::kBandCount> handed;
    std::mutex handedMutex;
    DcpFilter::forEachMask(rows, cols, 2, [&](unsigned i, Array<float> mask) {
        const std::lock_guard<std::mutex> lock(handedMutex);
        ASSERT_EQ(handed[i].size(), 0u) << "mask " << i << " handed over twice";
        handed[i] = std::move(mask);
    });
    for (unsigned i = 0; i < DcpFilter::kBandCount; ++i) {
        EXPECT_EQ(shared[i], alone[i]) << DcpFilter::name(i);
        EXPECT_EQ(handed[i], alone[i]) << DcpFilter::name(i);
    }
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

// The windowed masks against the whole bank: each window holds the bank mask's very bits on
// its rectangle (EXPECT_EQ on floats: the same float operations on the same grid values), and
// the bank mask is exactly zero everywhere outside it.  Odd and even sizes, at the standard 60
// pixels per degree and at nearer and farther viewing (23.7, where crown 4 reaches past the
// grid's corners and its windows are the whole grid; 137.5, where every window is small).
class DcpFilterWindows
    : public testing::TestWithParam<std::tuple<std::pair<std::uint32_t, std::uint32_t>, double>> {};

INSTANTIATE_TEST_SUITE_P(SizesAndPixelsPerDegree, DcpFilterWindows,
                         testing::Combine(testing::Values(std::pair{8u, 8u}, std::pair{9u, 9u},
                                                          std::pair{33u, 47u}, std::pair{97u, 64u},
                                                          std::pair{256u, 200u},
                                                          std::pair{301u, 411u}),
                                          testing::Values(23.7, 60.0, 137.5)));

TEST_P(DcpFilterWindows, HoldTheBankMasksAndNothingLiesOutside) {
    const auto [size, ppd] = GetParam();
    const auto [rows, cols] = size;
    const DcpFilter bank(rows, cols, 1, ppd);
    std::array<DcpFilter::Window, DcpFilter::kBandCount> windows;
    std::array<unsigned, DcpFilter::kBandCount> handedOver{};
    std::mutex handedMutex;
    DcpFilter::forEachMaskWindow(
        rows, cols, 2,
        [&](unsigned k, DcpFilter::Window window) {
            const std::lock_guard<std::mutex> lock(handedMutex);
            ++handedOver[k];
            windows[k] = std::move(window);
        },
        ppd);
    for (unsigned k = 0; k < DcpFilter::kBandCount; ++k) {
        ASSERT_EQ(handedOver[k], 1u) << DcpFilter::name(k);
        const DcpFilter::Window& w = windows[k];
        ASSERT_LE(w.row0 + w.values.rows(), rows) << DcpFilter::name(k);
        ASSERT_LE(w.col0 + w.values.cols(), cols) << DcpFilter::name(k);
        unsigned differing = 0;
        unsigned outside = 0;
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint32_t c = 0; c < cols; ++c) {
                const float want = bank[k](r, c);
                const bool inside = r >= w.row0 && r < w.row0 + w.values.rows() && c >= w.col0 &&
                                    c < w.col0 + w.values.cols();
                if (!inside) {
                    outside += want != 0.0f ? 1 : 0;
                } else if (std::bit_cast<std::uint32_t>(w.values(r - w.row0, c - w.col0)) !=
                           std::bit_cast<std::uint32_t>(want)) {
                    ++differing;
                }
            }
        }
        EXPECT_EQ(differing, 0u) << DcpFilter::name(k) << " at " << ppd << " pixels per degree";
        EXPECT_EQ(outside, 0u) << DcpFilter::name(k) << " at " << ppd << " pixels per degree";
    }
}

}  // namespace
}  // namespace lumetra
