#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "model/BandProfiles.h"

namespace lumetra {
namespace {

constexpr double kPi = std::numbers::pi;

// Strides of the sweeps below (primes); wider under the sanitizers, which run each loop far
// slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kRadiusStride = 40009;
constexpr std::uint32_t kAngleStride = 30011;
#else
constexpr std::uint32_t kRadiusStride = 4099;
constexpr std::uint32_t kAngleStride = 3001;
#endif

// Every stride-th float bit pattern from `from` to `to` (positive floats), a prime stride so
// that every pattern of the low bits comes up.
std::vector<float> sweep(float from, float to, std::uint32_t stride) {
    std::vector<float> values;
    for (std::uint32_t bits = std::bit_cast<std::uint32_t>(from);
         bits <= std::bit_cast<std::uint32_t>(to); bits += stride) {
        values.push_back(std::bit_cast<float>(bits));
    }
    return values;
}

// `count` floats on each side of x, x among them.
void addNeighbours(std::vector<float>& values, double x, int count) {
    const auto centre = static_cast<float>(x);
    float below = centre;
    float above = centre;
    values.push_back(centre);
    for (int k = 0; k < count; ++k) {
        below = std::nextafter(below, -INFINITY);
        above = std::nextafter(above, INFINITY);
        values.push_back(below);
        values.push_back(above);
    }
}

// Elements whose bit patterns differ between two profiles of one length.
std::size_t differing(const std::vector<float>& a, const std::vector<float>& b) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        count += std::bit_cast<std::uint32_t>(a[i]) == std::bit_cast<std::uint32_t>(b[i]) ? 0 : 1;
    }
    return count;
}

// A profile's starting values: a value no profile makes (0.25 keeps its bits only where the
// profile leaves the element as it was), then 0 and 1 in turn.
std::vector<float> startingValues(std::size_t n) {
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = i % 3 == 0 ? 0.25f : i % 3 == 1 ? 0.0f : 1.0f;
    return values;
}

// Runs of every length 0 .. 9 from every offset 0 .. 3 of `values`: the four lanes' tails.
template <typename Profile>
std::size_t differingInShortRuns(const std::vector<float>& values, Profile profile) {
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < 4 && offset < values.size(); ++offset) {
        for (std::size_t n = 0; n <= 9 && offset + n <= values.size(); ++n) {
            const std::vector<float> run(values.begin() + static_cast<std::ptrdiff_t>(offset),
                                         values.begin() + static_cast<std::ptrdiff_t>(offset + n));
            std::vector<float> plain = startingValues(n);
            std::vector<float> four = plain;
            profile(plain, run, VectorWidth::Two);
            profile(four, run, VectorWidth::Four);
            count += differing(plain, four);
        }
    }
    return count;
}

// Centres and widths of the mesas in cycles per degree, and the pixels per degree they are
// divided by (the standard 60, nearer and farther viewing), as DcpFilter does.
constexpr double kMesas[][2] = {{1.5, 2.6}, {5.7, 4.0}, {14.4, 8.0}, {28.8, 15.0},
                                {1.5, 2.8}, {5.7, 4.8}, {1.5, 2.95}, {5.7, 5.8}};
constexpr double kPixelsPerDegree[] = {23.7, 60.0, 137.5};

// The four-lane mesa against the plain one over the radii of the frequency grid (0 to past
// the corner, 0.75 cycles per pixel) and around each mesa's two edges, where the comparisons
// in double of float radii decide between the flat top, the fall and the rest.  Goal and
// result: no differing float, bit patterns compared.
TEST(BandProfiles, FourLaneMesaGivesThePlainFloats) {
    if (widestVectorWidth() != VectorWidth::Four) GTEST_SKIP() << "no AVX";
    std::vector<float> radius = sweep(1e-6f, 0.75f, kRadiusStride);
    radius.push_back(0.0f);
    for (const auto& edge : kMesas) {
        for (const double ppd : kPixelsPerDegree) {
            const auto a = static_cast<float>(edge[0] / ppd);
            const auto b = static_cast<float>(edge[1] / ppd);
            std::vector<float> values = radius;
            addNeighbours(values, static_cast<double>(a) - static_cast<double>(b) / 2.0, 16);
            addNeighbours(values, static_cast<double>(a) + static_cast<double>(b) / 2.0, 16);
            std::vector<float> plain = startingValues(values.size());
            std::vector<float> four = plain;
            mesaInto(plain, values, a, b, VectorWidth::Two);
            mesaInto(four, values, a, b, VectorWidth::Four);
            EXPECT_EQ(differing(plain, four), 0u) << edge[0] << " / " << ppd;
            const auto mesa = [&](std::vector<float>& out, const std::vector<float>& in,
                                  VectorWidth lanes) { mesaInto(out, in, a, b, lanes); };
            // The edges' neighbours are the last values: short runs of them.
            const std::vector<float> edgeValues(values.end() - 66, values.end());
            EXPECT_EQ(differingInShortRuns(edgeValues, mesa), 0u) << edge[0] << " / " << ppd;
        }
    }
}

// Full widths and transitions of the crowns' fans, radians (as DcpFilter's), and the
// orientation offsets.
constexpr double kFans[][2] = {{1.0 / 4.0, 1.0 / 9.0},
                               {1.0 / 6.0, 1.0 / 18.0},
                               {1.0 / 6.0, 2.0 / 45.0},
                               {1.0 / 4.0, 1.0 / 4.0}};
constexpr double kOffsets[] = {0.0,       1.0 / 4.0, -1.0 / 2.0, -1.0 / 4.0,
                               1.0 / 6.0, 1.0 / 3.0, -1.0 / 3.0, -1.0 / 6.0};

// The four-lane fan against the plain one over the angles of the grid (-pi to pi, the signed
// angle and its magnitude) and around the four edges of each lobe, where the distance from the
// lobe's centre, rounded to float, meets the flat top's and the fall's ends; each fan made on
// its own and written over another (as crown 4's are over crown 3's).  Goal and result: no
// differing float, bit patterns compared.
TEST(BandProfiles, FourLaneFanGivesThePlainFloats) {
    if (widestVectorWidth() != VectorWidth::Four) GTEST_SKIP() << "no AVX";
    std::vector<float> angle = sweep(1e-7f, static_cast<float>(kPi), kAngleStride);
    const std::size_t positive = angle.size();
    for (std::size_t i = 0; i < positive; ++i) angle.push_back(-angle[i]);
    angle.push_back(0.0f);
    for (const auto& shape : kFans) {
        const auto a = static_cast<float>(kPi * shape[0]);
        const auto b = static_cast<float>(kPi * shape[1]);
        for (const double offset : kOffsets) {
            const auto c = static_cast<float>(kPi * offset);
            const double ha = static_cast<double>(a / 2.0f);
            const double hb = static_cast<double>(b / 2.0f);
            std::vector<float> values = angle;
            for (const double halfTurn : {kPi / 2.0, -kPi / 2.0}) {
                for (const double end : {ha - hb, ha + hb}) {
                    for (const double side : {end, -end}) {
                        addNeighbours(values, side - halfTurn - static_cast<double>(c), 8);
                    }
                }
            }
            std::vector<float> plain = startingValues(values.size());
            std::vector<float> four = plain;
            fanInto(plain, values, a, b, c, VectorWidth::Two);
            fanInto(four, values, a, b, c, VectorWidth::Four);
            EXPECT_EQ(differing(plain, four), 0u) << shape[0] << ", " << offset;
            // A narrower fan written over this one.
            fanInto(plain, values, a, b / 2.0f, c, VectorWidth::Two);
            fanInto(four, values, a, b / 2.0f, c, VectorWidth::Four);
            EXPECT_EQ(differing(plain, four), 0u) << shape[0] << ", " << offset << ", over";
            const auto fan = [&](std::vector<float>& out, const std::vector<float>& in,
                                 VectorWidth lanes) { fanInto(out, in, a, b, c, lanes); };
            const std::vector<float> edgeValues(values.end() - 136, values.end());
            EXPECT_EQ(differingInShortRuns(edgeValues, fan), 0u) << shape[0] << ", " << offset;
        }
    }
}

// Values the profiles must make, from their definitions: the flat tops are 1, the fall is the
// raised cosine (1/2 half-way through it, to the float), and elements beyond keep their value.
TEST(BandProfiles, FlatTopsFallsAndUntouchedElements) {
    for (const VectorWidth lanes : {VectorWidth::Two, widestVectorWidth()}) {
        // Mesa centred at 0.25 with width 0.5: 1 at 0, 1/2 at the centre, kept from 0.5 on.
        const std::vector<float> radius = {0.0f, 0.25f, 0.5f, 0.6f, 0.0f};
        std::vector<float> mesa = {7.0f, 7.0f, 7.0f, 7.0f, 7.0f};
        mesaInto(mesa, radius, 0.25f, 0.5f, lanes);
        EXPECT_EQ(mesa, (std::vector<float>{1.0f, 0.5f, 7.0f, 7.0f, 1.0f}));
        // Fan of full width pi/2 and transition pi/4 centred on -pi/2 and pi/2: 1 there and
        // within pi/8 of there, 1/2 half-way through the fall (pi/4 from the centre, to within
        // 1e-6: the float angles are pi/4 and pi/2 to 4e-8), kept at 0 and pi, whatever the
        // run's length.
        const float pi = static_cast<float>(kPi);
        const std::vector<float> angle = {pi / 2.0f, -pi / 2.0f, 0.0f, pi,        pi / 4.0f,
                                          pi / 2.0f, 0.0f,       pi,   -pi / 2.0f};
        std::vector<float> fan(angle.size(), 7.0f);
        fanInto(fan, angle, pi / 2.0f, pi / 4.0f, 0.0f, lanes);
        EXPECT_NEAR(fan[4], 0.5f, 1e-6f);
        fan[4] = 0.5f;
        EXPECT_EQ(fan, (std::vector<float>{1.0f, 1.0f, 7.0f, 7.0f, 0.5f, 1.0f, 7.0f, 7.0f, 1.0f}));
    }
}

}  // namespace
}  // namespace lumetra
