#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "image/BitmapFont.h"
#include "image/HeatMap.h"

namespace lumetra {
namespace {

constexpr Rgb8 kWhite = {255, 255, 255};
constexpr Rgb8 kBlack = {0, 0, 0};

Array<float> ramp(std::uint32_t rows, std::uint32_t cols, float step) {
    Array<float> map(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c)
            map(r, c) = step * static_cast<float>(r * cols + c);
    }
    return map;
}

struct LabelCase {
    std::string name;
    float value;
    std::string text;
};

// Three significant digits, rounded by hand.
const LabelCase kLabels[] = {
    {"Zero", 0.0f, "0"},
    {"Half", 0.5f, "0.5"},
    {"SmallFraction", 0.0123456f, "0.0123"},
    {"Thousands", 2087.3f, "2090"},
    {"RoundsUp", 0.99951f, "1"},
    {"Tiny", 1.234e-5f, "1.23e-05"},
    {"Huge", 4.5e7f, "4.5e+07"},
};

class LegendLabel : public testing::TestWithParam<LabelCase> {};

TEST_P(LegendLabel, HasThreeSignificantDigits) {
    EXPECT_EQ(legendLabel(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, LegendLabel, testing::ValuesIn(kLabels),
                         [](const auto& info) { return info.param.name; });

TEST(HeatMap, ColoursEachValueOnTheScaleAndSaturatesAboveIt) {
    Array<float> map = ramp(20, 30, 0.01f);
    map(0, 1) = 100.0f;  // far above max
    map(0, 2) = std::numeric_limits<float>::quiet_NaN();
    const HeatScale scale{2.0f, ColourMap::Magma};
    const RgbPicture picture = heatMap(map, scale);

    ASSERT_GT(picture.width, map.cols());
    ASSERT_GE(picture.height, map.rows());
    for (std::uint32_t r = 0; r < map.rows(); ++r) {
        for (std::uint32_t c = 0; c < map.cols(); ++c) {
            ASSERT_EQ(picture.at(c, r), heatColour(map(r, c), scale)) << "r " << r << " c " << c;
        }
    }
    EXPECT_EQ(picture.at(1, 0), colourOfFraction(ColourMap::Magma, 1.0f));
    EXPECT_EQ(picture.at(2, 0), nanColour(ColourMap::Magma));
    EXPECT_EQ(picture.at(0, 0), colourOfFraction(ColourMap::Magma, 0.0f));
}

TEST(HeatMap, LegendShowsTheWholeBarAndThreeLabels) {
    const Array<float> map = ramp(64, 48, 0.001f);
    const HeatScale scale{0.5f, ColourMap::Viridis};
    const RgbPicture picture = heatMap(map, scale);
    ASSERT_EQ(picture.height, 64u);

    // The bar holds both end colours of the map.
    std::set<Rgb8> legendColours;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = map.cols(); x < picture.width; ++x)
            legendColours.insert(picture.at(x, y));
    }
    EXPECT_TRUE(legendColours.count(colourOfFraction(ColourMap::Viridis, 0.0f)));
    EXPECT_TRUE(legendColours.count(colourOfFraction(ColourMap::Viridis, 1.0f)));

    // Labels: the rightmost columns wide enough for "0.25" hold ink in three separate bands
    // of rows (top, middle, bottom), and only white and black.
    const std::uint32_t labelWidth = static_cast<std::uint32_t>(textWidth("0.25", 1));
    std::vector<bool> inkRows(picture.height, false);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = picture.width - labelWidth - 4; x < picture.width; ++x) {
            const Rgb8 colour = picture.at(x, y);
            ASSERT_TRUE(colour == kWhite || colour == kBlack) << "x " << x << " y " << y;
            if (colour == kBlack) inkRows[y] = true;
        }
    }
    int bands = 0;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        if (inkRows[y] && (y == 0 || !inkRows[y - 1])) ++bands;
    }
    EXPECT_EQ(bands, 3);
    EXPECT_TRUE(inkRows[2] || inkRows[3]);     // "0.5" beside the top
    EXPECT_TRUE(inkRows[picture.height - 3]);  // "0" beside the bottom
    EXPECT_TRUE(inkRows[picture.height / 2]);  // "0.25" in the middle
}

TEST(HeatMap, ShortMapIsPaddedBelowSoTheLabelsFit) {
    const Array<float> map = ramp(8, 8, 0.1f);
    const RgbPicture picture = heatMap(map, HeatScale{1.0f, ColourMap::Viridis});
    ASSERT_GT(picture.height, 3u * static_cast<std::uint32_t>(kGlyphHeight));
    for (std::uint32_t y = map.rows(); y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < map.cols(); ++x) ASSERT_EQ(picture.at(x, y), kWhite);
    }
}

TEST(HeatMapOverOriginal, ShowsTheGreyOriginalWhereThereIsNoError) {
    // Samples and greys worked out by hand: 255 (0.2126 R + 0.7152 G + 0.0722 B) / maxval.
    struct Sample {
        unsigned r, g, b, maxval;
        std::uint8_t grey;
    };
    const Sample kSamples[] = {
        {100, 100, 100, 255, 100},  // a grey stays itself
        {255, 0, 0, 255, 54},       // 54.213 for pure red
        {0, 65535, 0, 65535, 182},  // 182.376 for pure green of a 16-bit file
        {0, 0, 1023, 1023, 18},     // 18.411 for pure blue of a 10-bit file
    };
    for (const Sample& s : kSamples) {
        Array<unsigned> r(2, 3), g(2, 3), b(2, 3);
        for (std::size_t i = 0; i < r.size(); ++i) {
            r.data()[i] = s.r;
            g.data()[i] = s.g;
            b.data()[i] = s.b;
        }
        const RgbImage original(r, g, b, s.maxval);
        Array<float> map(2, 3);
        map(1, 1) = 5.0f;  // at and above max: the full colour
        map(1, 2) = std::numeric_limits<float>::quiet_NaN();
        const HeatScale scale{5.0f, ColourMap::Viridis};
        const RgbPicture picture = heatMapOverOriginal(map, original, scale);
        const Rgb8 grey = {s.grey, s.grey, s.grey};
        EXPECT_EQ(picture.at(0, 0), grey) << "maxval " << s.maxval;
        EXPECT_EQ(picture.at(2, 0), grey) << "maxval " << s.maxval;
        EXPECT_EQ(picture.at(1, 1), colourOfFraction(ColourMap::Viridis, 1.0f));
        EXPECT_EQ(picture.at(2, 1), nanColour(ColourMap::Viridis));
    }
}

TEST(HeatMapOverOriginal, BlendsTowardsTheColourAsTheErrorGrows) {
    Array<unsigned> plane(1, 3);
    for (std::size_t i = 0; i < plane.size(); ++i) plane.data()[i] = 200;
    const RgbImage original(plane, plane, plane);
    Array<float> map(1, 3);
    map(0, 1) = 0.5f;  // half way: the mean of the grey and the colour
    map(0, 2) = 1.0f;
    const HeatScale scale{1.0f, ColourMap::Magma};
    const RgbPicture picture = heatMapOverOriginal(map, original, scale);
    const Rgb8 colour = colourOfFraction(ColourMap::Magma, 0.5f);
    for (std::size_t ch = 0; ch < 3; ++ch) {
        // One rounding of a value that may end in .5: one level either way.
        EXPECT_NEAR(picture.at(1, 0)[ch], (200.0 + colour[ch]) / 2.0, 0.5 + 1e-9) << ch;
    }
    EXPECT_EQ(picture.at(2, 0), colourOfFraction(ColourMap::Magma, 1.0f));
}

// The log curve against its formula computed here in double: 0 and the top map to 0 and 1,
// the knee to log(2) / log(1 + max / k), and heatValueAt undoes heatFraction.  Float
// fractions from double logarithms: 1e-6 relative is ample.
TEST(HeatScale, LogCurveFollowsItsFormulaAndInvertsExactly) {
    constexpr double kCurveRelTol = 1e-6;
    const HeatScale scale = heatScaleFor(HeatScaleMode::Log, 400.0f, 0.0f, 0.0f, ColourMap::Magma);
    EXPECT_EQ(scale.curve, HeatCurve::Log);
    EXPECT_EQ(scale.max, 400.0f);
    EXPECT_FLOAT_EQ(scale.knee, 4.0f);  // a hundredth of the top
    EXPECT_EQ(scale.colours, ColourMap::Magma);
    EXPECT_EQ(heatFraction(0.0f, scale), 0.0f);
    EXPECT_EQ(heatFraction(-3.0f, scale), 0.0f);
    EXPECT_EQ(heatFraction(400.0f, scale), 1.0f);
    EXPECT_EQ(heatFraction(1e9f, scale), 1.0f);
    EXPECT_TRUE(std::isnan(heatFraction(std::numeric_limits<float>::quiet_NaN(), scale)));
    for (const float value : {0.01f, 4.0f, 13.0f, 130.0f, 399.0f}) {
        const double expected = std::log(1.0 + value / 4.0) / std::log(1.0 + 400.0 / 4.0);
        EXPECT_NEAR(heatFraction(value, scale), expected, expected * kCurveRelTol) << value;
        EXPECT_NEAR(heatValueAt(heatFraction(value, scale), scale), value, value * 1e-5) << value;
        // Small errors get more of the colours than on the line.
        EXPECT_GT(heatFraction(value, scale), value / 400.0f) << value;
    }
    EXPECT_EQ(heatCurveLabel(scale), "log k=4");
    EXPECT_EQ(heatCurveLabel(HeatScale{}), "");
}

// Per file, the scale is the map's own, chosen as the run's shared scale is chosen from one
// map: its p99, else its max, else 1.
TEST(HeatScale, PerFileScaleIsTheMapsOwn) {
    const auto top = [](float p99, float max) {
        return heatScaleFor(HeatScaleMode::PerFile, 999.0f, p99, max, ColourMap::Viridis).max;
    };
    EXPECT_EQ(top(130.0f, 200.0f), 130.0f);
    EXPECT_EQ(top(0.0f, 7.0f), 7.0f);
    EXPECT_EQ(top(0.0f, 0.0f), 1.0f);
    const HeatScale shared =
        heatScaleFor(HeatScaleMode::Shared, 999.0f, 1.0f, 2.0f, ColourMap::Viridis);
    EXPECT_EQ(shared.max, 999.0f);
    EXPECT_EQ(shared.curve, HeatCurve::Linear);
}

// The log legend draws its title above the bar, in glyphs the font has, and the map itself is
// drawn through the curve: a value at the knee takes the colour of its fraction.
TEST(HeatMap, LogLegendHasItsTitleAndTheMapFollowsTheCurve) {
    const HeatScale scale{100.0f, ColourMap::Viridis, HeatCurve::Log, 1.0f};
    Array<float> map(40, 40);
    for (std::uint32_t r = 0; r < 40; ++r) {
        for (std::uint32_t c = 0; c < 40; ++c) map(r, c) = 1.0f;
    }
    const RgbPicture picture = heatMap(map, scale);
    EXPECT_EQ(picture.at(0, 0), colourOfFraction(scale.colours, heatFraction(1.0f, scale)));
    for (const char c : std::string("log k=")) {
        if (c != ' ') {
            EXPECT_NE(glyphOf(c), Glyph{}) << c;
        }
    }
    // The title's ink lies in the legend's first rows, above the bar's top.
    bool inked = false;
    for (std::uint32_t x = 40; x < picture.width; ++x) {
        for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(kGlyphHeight); ++y) {
            inked = inked || picture.at(x, y) == kBlack;
        }
    }
    EXPECT_TRUE(inked);
    // Without the legend: the map's size, the same colours.
    const RgbPicture bare = heatMapWithoutLegend(map, scale);
    EXPECT_EQ(bare.width, 40u);
    EXPECT_EQ(bare.height, 40u);
    EXPECT_EQ(bare.at(39, 39), picture.at(39, 39));
}

}  // namespace
}  // namespace lumetra
