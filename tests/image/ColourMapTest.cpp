#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "image/ColourMap.h"

namespace lumetra {
namespace {

struct PublishedEntry {
    std::string name;
    ColourMap colours;
    std::size_t index;
    std::array<float, 3> rgb;
};

// Entries 0, 128 and 255 as the published viridis and magma tables give them (six decimals).
const PublishedEntry kPublished[] = {
    {"ViridisFirst", ColourMap::Viridis, 0, {0.267004f, 0.004874f, 0.329415f}},
    {"ViridisMiddle", ColourMap::Viridis, 128, {0.127568f, 0.566949f, 0.550556f}},
    {"ViridisLast", ColourMap::Viridis, 255, {0.993248f, 0.906157f, 0.143936f}},
    {"MagmaFirst", ColourMap::Magma, 0, {0.001462f, 0.000466f, 0.013866f}},
    {"MagmaMiddle", ColourMap::Magma, 128, {0.716387f, 0.214982f, 0.475290f}},
    {"MagmaLast", ColourMap::Magma, 255, {0.987053f, 0.991438f, 0.749504f}},
};

class ColourTableEntry : public testing::TestWithParam<PublishedEntry> {};

TEST_P(ColourTableEntry, MatchesThePublishedValue) {
    const PublishedEntry& e = GetParam();
    // Both sides are the same six-decimal literal read as float: the bits must match.
    EXPECT_EQ(colourTable(e.colours)[e.index], e.rgb);
}

INSTANTIATE_TEST_SUITE_P(EndsAndMiddle, ColourTableEntry, testing::ValuesIn(kPublished),
                         [](const auto& info) { return info.param.name; });

// Relative luminance of an sRGB colour with components 0..1 (IEC 61966-2-1 decoding,
// BT.709 weights), in double.
double luminance(double r, double g, double b) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

class ColourMapOrder : public testing::TestWithParam<ColourMap> {};

TEST_P(ColourMapOrder, LuminanceRisesAlongTheTable) {
    const ColourTable& table = colourTable(GetParam());
    for (std::size_t i = 1; i < table.size(); ++i) {
        const auto& a = table[i - 1];
        const auto& b = table[i];
        EXPECT_LT(luminance(a[0], a[1], a[2]), luminance(b[0], b[1], b[2])) << "entry " << i;
    }
}

Rgb8 bytesOf(const std::array<float, 3>& rgb) {
    return Rgb8{static_cast<std::uint8_t>(std::lround(rgb[0] * 255.0f)),
                static_cast<std::uint8_t>(std::lround(rgb[1] * 255.0f)),
                static_cast<std::uint8_t>(std::lround(rgb[2] * 255.0f))};
}

TEST_P(ColourMapOrder, FractionKOver255TakesEntryK) {
    const ColourTable& table = colourTable(GetParam());
    for (std::size_t k = 0; k < table.size(); ++k) {
        EXPECT_EQ(colourOfFraction(GetParam(), static_cast<float>(k) / 255.0f), bytesOf(table[k]))
            << "entry " << k;
    }
}

TEST_P(ColourMapOrder, LargerFractionsGiveBrighterColours) {
    // Steps of 1/20 (about 13 entries): far more than 8-bit rounding can take back, which
    // between neighbouring entries it can.
    constexpr int kSteps = 20;
    double previous = -1.0;
    for (int k = 0; k <= kSteps; ++k) {
        const Rgb8 c = colourOfFraction(GetParam(), static_cast<float>(k) / kSteps);
        const double y = luminance(c[0] / 255.0, c[1] / 255.0, c[2] / 255.0);
        EXPECT_GT(y, previous) << "fraction " << k << "/" << kSteps;
        previous = y;
    }
}

TEST_P(ColourMapOrder, EndsAreTheTableEndsAndOutOfRangeFractionsSaturate) {
    const ColourTable& table = colourTable(GetParam());
    const Rgb8 bottom = bytesOf(table.front());
    const Rgb8 top = bytesOf(table.back());
    EXPECT_EQ(colourOfFraction(GetParam(), 0.0f), bottom);
    EXPECT_EQ(colourOfFraction(GetParam(), -3.0f), bottom);
    EXPECT_EQ(colourOfFraction(GetParam(), 1.0f), top);
    EXPECT_EQ(colourOfFraction(GetParam(), 7.0f), top);
    EXPECT_EQ(colourOfFraction(GetParam(), std::numeric_limits<float>::infinity()), top);
}

TEST_P(ColourMapOrder, NanHasItsOwnColourFarFromEveryEntry) {
    const Rgb8 nan = colourOfFraction(GetParam(), std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan, nanColour(GetParam()));
    // "Far": more than a third of the full range away in some channel from every entry.
    constexpr float kLeastDistance = 1.0f / 3.0f;
    for (const auto& rgb : colourTable(GetParam())) {
        float distance = 0.0f;
        for (std::size_t ch = 0; ch < 3; ++ch) {
            distance =
                std::max(distance, std::fabs(rgb[ch] - static_cast<float>(nan[ch]) / 255.0f));
        }
        EXPECT_GT(distance, kLeastDistance);
    }
}

INSTANTIATE_TEST_SUITE_P(Maps, ColourMapOrder,
                         testing::Values(ColourMap::Viridis, ColourMap::Magma),
                         [](const auto& info) {
                             return info.param == ColourMap::Viridis ? "Viridis" : "Magma";
                         });

struct ScaleCase {
    std::string name;
    float value;
    float max;
    float fraction;
};

// Worked by hand: value / max, clamped to 0..1.
const ScaleCase kScaleCases[] = {
    {"Zero", 0.0f, 2.0f, 0.0f},
    {"Quarter", 0.5f, 2.0f, 0.25f},
    {"AtMax", 2.0f, 2.0f, 1.0f},
    {"AboveMax", 9.0f, 2.0f, 1.0f},
    {"Negative", -1.0f, 2.0f, 0.0f},
    {"Infinite", std::numeric_limits<float>::infinity(), 2.0f, 1.0f},
};

class ScaleFraction : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleFraction, IsTheClampedRatio) {
    EXPECT_EQ(scaleFraction(GetParam().value, GetParam().max), GetParam().fraction);
}

INSTANTIATE_TEST_SUITE_P(Values, ScaleFraction, testing::ValuesIn(kScaleCases),
                         [](const auto& info) { return info.param.name; });

TEST(ScaleFraction, KeepsNan) {
    EXPECT_TRUE(std::isnan(scaleFraction(std::numeric_limits<float>::quiet_NaN(), 1.0f)));
}

}  // namespace
}  // namespace lumetra
