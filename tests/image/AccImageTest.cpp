#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "image/AccImage.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

const std::string kGolden = std::string(LUMETRA_TEST_DATA_DIR) + "/golden/";

// The worked values are given to six significant digits: allow half a unit in the sixth.
double sixDigitTolerance(double expected) {
    return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 5.0);
}

// White is balanced by the opponent matrix; what is left is float rounding of values near 85.
constexpr double kWhiteChromaBound = 1e-6;

RgbImage onePixelPerColumn(std::vector<unsigned> r, std::vector<unsigned> g,
                           std::vector<unsigned> b, unsigned maxval = 255) {
    const auto cols = static_cast<std::uint32_t>(r.size());
    Array<unsigned> pr(1, cols), pg(1, cols), pb(1, cols);
    for (std::uint32_t c = 0; c < cols; ++c) {
        pr(0, c) = r[c];
        pg(0, c) = g[c];
        pb(0, c) = b[c];
    }
    return RgbImage(std::move(pr), std::move(pg), std::move(pb), maxval);
}

struct Worked {
    const char* name;
    double a;
    double c1;
    double c2;
};

TEST(AccImage, ReproducesTheWorkedPixels) {
    // Columns: black, white, red, blue.
    const AccImage image(onePixelPerColumn({0, 255, 255, 0}, {0, 255, 0, 0}, {0, 255, 0, 255}));
    ASSERT_EQ(image.rows(), 1u);
    ASSERT_EQ(image.cols(), 4u);
    const Worked expected[] = {{"black", 0.377169, 0.00985407, 0.345915},
                               {"white", 85.5238, 0.0, 0.0},
                               {"red", 19.438, 7.58229, -8.39582},
                               {"blue", 8.32725, -2.30938, 33.2701}};
    for (std::uint32_t c = 0; c < 4; ++c) {
        const Worked& w = expected[c];
        EXPECT_NEAR(image.A()(0, c), w.a, sixDigitTolerance(w.a)) << w.name;
        if (c == 1) {
            EXPECT_NEAR(image.C1()(0, c), 0.0, kWhiteChromaBound) << w.name;
            EXPECT_NEAR(image.C2()(0, c), 0.0, kWhiteChromaBound) << w.name;
        } else {
            EXPECT_NEAR(image.C1()(0, c), w.c1, sixDigitTolerance(w.c1)) << w.name;
            EXPECT_NEAR(image.C2()(0, c), w.c2, sixDigitTolerance(w.c2)) << w.name;
        }
    }
}

TEST(AccImage, TakesSamplesRelativeToMaxval) {
    // Every 8-bit level v against v * 257 at maxval 65535: v * 257 / 65535 and v / 255 are the
    // same real number, so the correctly rounded quotients, and all that follows, are equal.
    std::vector<unsigned> eight, sixteen, reversed, reversed16;
    for (unsigned v = 0; v <= 255; ++v) {
        eight.push_back(v);
        sixteen.push_back(v * 257);
        reversed.push_back(255 - v);
        reversed16.push_back((255 - v) * 257);
    }
    const AccImage a(onePixelPerColumn(eight, reversed, eight));
    const AccImage b(onePixelPerColumn(sixteen, reversed16, sixteen, 65535));
    EXPECT_EQ(a.A(), b.A());
    EXPECT_EQ(a.C1(), b.C1());
    EXPECT_EQ(a.C2(), b.C2());

    // Full scale is white whatever the maxval.
    const AccImage white(onePixelPerColumn({255}, {255}, {255}));
    const AccImage white10(onePixelPerColumn({1023}, {1023}, {1023}, 1023));
    EXPECT_EQ(white.A(), white10.A());
}

TEST(AccImage, GoldenSceneGivesTheSamePlanesInEveryEncoding) {
    const AccImage raw(RgbImage(kGolden + "scene64.ppm"));
    for (const std::string name : {"scene64_16bit.ppm", "scene64_plain.ppm"}) {
        const AccImage other(RgbImage(kGolden + name));
        EXPECT_EQ(other.A(), raw.A()) << name;
        EXPECT_EQ(other.C1(), raw.C1()) << name;
        EXPECT_EQ(other.C2(), raw.C2()) << name;
    }
    EXPECT_EQ(raw.rows(), 64u);
    EXPECT_EQ(raw.cols(), 64u);
}

TEST(AccImage, EmptySourceGivesEmptyImage) {
    const AccImage image{RgbImage()};
    EXPECT_EQ(image.rows(), 0u);
    EXPECT_EQ(image.cols(), 0u);
    EXPECT_EQ(image.A().size(), 0u);
    EXPECT_EQ(image.C2().size(), 0u);
}

TEST(AccImage, DumpsEachPlaneUnderItsLabel) {
    std::ostringstream dump;
    dump << AccImage(onePixelPerColumn({0}, {0}, {0}));
    EXPECT_EQ(dump.str(), "A\n0.377169\t\n\nC1\n0.009854\t\n\nC2\n0.345915\t\n\n");

    std::ostringstream empty;
    empty << AccImage();
    EXPECT_EQ(empty.str(), "A\n\nC1\n\nC2\n\n");
}

TEST(AccImage, MovedFromImageIsEmpty) {
    AccImage source(onePixelPerColumn({1, 2}, {3, 4}, {5, 6}));
    const AccImage target(std::move(source));
    EXPECT_EQ(target.cols(), 2u);
    EXPECT_EQ(source.cols(), 0u);  // NOLINT(bugprone-use-after-move): documented empty state
    EXPECT_EQ(source.A().size(), 0u);
}

}  // namespace
}  // namespace lumetra
