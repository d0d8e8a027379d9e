#include "image/HeatMap.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "image/BitmapFont.h"

namespace lumetra {

namespace {

// Legend geometry, in font pixels (multiplied by the text scale).
constexpr int kLegendGap = 4;     // between the map and the bar
constexpr int kBarWidth = 10;     // the colour bar
constexpr int kTickLength = 3;    // tick marks right of the bar
constexpr int kLabelGap = 2;      // between a tick and its label
constexpr int kRightMargin = 4;   // after the widest label
constexpr int kLabelSpacing = 2;  // least space between two labels stacked along the bar
// Rows of map per step of the legend font's scale.
constexpr std::uint32_t kRowsPerTextScale = 256;
constexpr int kMaxTextScale = 4;
// Ticks at 0, max / 2 and max, as fractions of the scale.
constexpr std::array<float, 3> kTickFractions = {0.0f, 0.5f, 1.0f};
// Significant digits of a label, and the magnitudes written without an exponent.
constexpr int kLabelDigits = 3;
constexpr double kSmallestPlainLabel = 1e-3;
constexpr double kLargestPlainLabel = 1e6;

constexpr Rgb8 kGround = {255, 255, 255};
constexpr Rgb8 kInk = {0, 0, 0};

// BT.709 luma weights of red, green and blue (ITU-R BT.709-6, item 3.2).
constexpr double kRedWeight = 0.2126;
constexpr double kGreenWeight = 0.7152;
constexpr double kBlueWeight = 0.0722;
constexpr double kFullLevel = 255.0;

// The legend's place in a picture whose map is `mapCols` x `mapRows`.
struct Legend {
    int scale;      // font scale
    int barLeft;    // first column of the bar
    int barTop;     // row of the value max
    int barBottom;  // row of the value 0
    int labelLeft;  // first column of the labels
    std::uint32_t width;
    std::uint32_t height;
};

Legend legendFor(std::uint32_t mapCols, std::uint32_t mapRows, const HeatScale& scale) {
    const int s = legendTextScale(mapRows);
    int labelWidth = 0;
    for (const float f : kTickFractions) {
        labelWidth = std::max(labelWidth, textWidth(legendLabel(heatValueAt(f, scale)), s));
    }
    // Half a glyph above the top tick and below the bottom one, so the labels fit; a curve
    // other than the line has its title above the bar.
    const int pad = (kGlyphHeight * s + 1) / 2;
    const std::string title = heatCurveLabel(scale);
    const int titleHeight = title.empty() ? 0 : (kGlyphHeight + kLabelSpacing) * s;
    const auto tickCount = static_cast<int>(kTickFractions.size());
    const int minHeight = titleHeight + 2 * pad + tickCount * (kGlyphHeight + kLabelSpacing) * s;
    Legend legend{};
    legend.scale = s;
    legend.height = std::max(mapRows, static_cast<std::uint32_t>(minHeight));
    legend.barLeft = static_cast<int>(mapCols) + kLegendGap * s;
    legend.barTop = titleHeight + pad;
    legend.barBottom = static_cast<int>(legend.height) - 1 - pad;
    legend.labelLeft = legend.barLeft + (kBarWidth + kTickLength + kLabelGap) * s;
    const int titleRight = legend.barLeft + textWidth(title, s);
    legend.width = static_cast<std::uint32_t>(std::max(legend.labelLeft + labelWidth, titleRight) +
                                              kRightMargin * s);
    return legend;
}

// Row of the bar that shows `fraction` of the scale.
int barRow(const Legend& legend, float fraction) {
    const float span = static_cast<float>(legend.barBottom - legend.barTop);
    return legend.barBottom - static_cast<int>(std::lround(fraction * span));
}

// The picture of the right size with the legend drawn and the map area left to `pixel`.
template <typename PixelColour>
RgbPicture withLegend(const Array<float>& map, const HeatScale& scale, PixelColour pixel) {
    assert(std::isfinite(scale.max) && scale.max > 0.0f);
    const Legend legend = legendFor(map.cols(), map.rows(), scale);
    RgbPicture picture = RgbPicture::filled(legend.width, legend.height, kGround);

    for (std::uint32_t r = 0; r < map.rows(); ++r) {
        for (std::uint32_t c = 0; c < map.cols(); ++c) picture.set(c, r, pixel(r, c));
    }

    const float span = static_cast<float>(legend.barBottom - legend.barTop);
    for (int y = legend.barTop; y <= legend.barBottom; ++y) {
        const float fraction = static_cast<float>(legend.barBottom - y) / span;
        const Rgb8 colour = colourOfFraction(scale.colours, fraction);
        for (int x = 0; x < kBarWidth * legend.scale; ++x) {
            picture.set(static_cast<std::uint32_t>(legend.barLeft + x),
                        static_cast<std::uint32_t>(y), colour);
        }
    }

    const int tickLeft = legend.barLeft + kBarWidth * legend.scale;
    for (const float fraction : kTickFractions) {
        const int y = barRow(legend, fraction);
        for (int t = 0; t < legend.scale; ++t) {
            // A tick as thick as a font stroke, centred on its row where it fits.
            const int row = std::min(y - legend.scale / 2 + t, legend.barBottom);
            for (int x = 0; x < kTickLength * legend.scale; ++x) {
                picture.set(static_cast<std::uint32_t>(tickLeft + x),
                            static_cast<std::uint32_t>(std::max(row, 0)), kInk);
            }
        }
        const int textTop = y - (kGlyphHeight * legend.scale) / 2;
        drawText(picture, legend.labelLeft, textTop, legendLabel(heatValueAt(fraction, scale)),
                 legend.scale, kInk);
    }
    const std::string title = heatCurveLabel(scale);
    if (!title.empty()) drawText(picture, legend.barLeft, 0, title, legend.scale, kInk);
    return picture;
}

std::uint8_t greyOf(const RgbImage& image, std::uint32_t r, std::uint32_t c) {
    const double luma = kRedWeight * image.R()(r, c) + kGreenWeight * image.G()(r, c) +
                        kBlueWeight * image.B()(r, c);
    const double level = std::round(kFullLevel * luma / static_cast<double>(image.maxval()));
    return static_cast<std::uint8_t>(std::clamp(level, 0.0, kFullLevel));
}

std::uint8_t blend(std::uint8_t grey, std::uint8_t colour, float weight) {
    const float level =
        (1.0f - weight) * static_cast<float>(grey) + weight * static_cast<float>(colour);
    return static_cast<std::uint8_t>(std::lround(level));
}

}  // namespace

HeatScale heatScaleFor(HeatScaleMode mode, float runMax, float ownP99, float ownMax,
                       ColourMap colours) {
    switch (mode) {
        case HeatScaleMode::PerFile:
            return HeatScale{sharedHeatScale({ownP99}, {ownMax}), colours};
        case HeatScaleMode::Log:
            return HeatScale{runMax, colours, HeatCurve::Log, runMax * kLogKneeFraction};
        case HeatScaleMode::Shared:
            break;
    }
    return HeatScale{runMax, colours};
}

float heatFraction(float value, const HeatScale& scale) {
    if (scale.curve == HeatCurve::Linear) return scaleFraction(value, scale.max);
    if (std::isnan(value)) return value;
    if (!(value > 0.0f)) return 0.0f;
    // In double: log1p keeps small values exact, and the fraction is rounded to float once.
    const double knee = scale.knee;
    const double fraction = std::log1p(static_cast<double>(value) / knee) /
                            std::log1p(static_cast<double>(scale.max) / knee);
    return static_cast<float>(std::min(fraction, 1.0));
}

float heatValueAt(float fraction, const HeatScale& scale) {
    if (scale.curve == HeatCurve::Linear) return fraction * scale.max;
    const double knee = scale.knee;
    const double top = std::log1p(static_cast<double>(scale.max) / knee);
    return static_cast<float>(knee * std::expm1(static_cast<double>(fraction) * top));
}

std::string heatCurveLabel(const HeatScale& scale) {
    if (scale.curve == HeatCurve::Linear) return {};
    return "log k=" + legendLabel(scale.knee);
}

Rgb8 heatColour(float value, const HeatScale& scale) {
    return colourOfFraction(scale.colours, heatFraction(value, scale));
}

RgbPicture heatMap(const Array<float>& map, const HeatScale& scale) {
    return withLegend(
        map, scale, [&](std::uint32_t r, std::uint32_t c) { return heatColour(map(r, c), scale); });
}

RgbPicture heatMapWithoutLegend(const Array<float>& map, const HeatScale& scale) {
    RgbPicture picture = RgbPicture::filled(map.cols(), map.rows(), kGround);
    for (std::uint32_t r = 0; r < map.rows(); ++r) {
        for (std::uint32_t c = 0; c < map.cols(); ++c)
            picture.set(c, r, heatColour(map(r, c), scale));
    }
    return picture;
}

RgbPicture heatMapOverOriginal(const Array<float>& map, const RgbImage& original,
                               const HeatScale& scale) {
    assert(original.rows() == map.rows() && original.cols() == map.cols());
    return withLegend(map, scale, [&](std::uint32_t r, std::uint32_t c) {
        const float value = map(r, c);
        const Rgb8 colour = heatColour(value, scale);
        if (std::isnan(value)) return colour;
        const float weight = heatFraction(value, scale);
        const std::uint8_t grey = greyOf(original, r, c);
        return Rgb8{blend(grey, colour[0], weight), blend(grey, colour[1], weight),
                    blend(grey, colour[2], weight)};
    });
}

std::string legendLabel(float value) {
    std::array<char, 32> text{};
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::general, kLabelDigits);
    assert(ec == std::errc{});
    const double magnitude = std::fabs(static_cast<double>(value));
    if (magnitude < kSmallestPlainLabel || magnitude >= kLargestPlainLabel) {
        return std::string(text.data(), end);
    }
    // Within the plain range the rounded value is written without an exponent: "2090", not
    // "2.09e+03".  The rounded text parses back exactly to the double nearest it.
    double rounded = 0.0;
    std::from_chars(text.data(), end, rounded);
    const auto [plainEnd, plainEc] =
        std::to_chars(text.data(), text.data() + text.size(), rounded, std::chars_format::fixed);
    assert(plainEc == std::errc{});
    return std::string(text.data(), plainEnd);
}

int legendTextScale(std::uint32_t rows) {
    const auto steps = static_cast<int>(rows / kRowsPerTextScale);
    return std::clamp(steps, 1, kMaxTextScale);
}

float sharedHeatScale(const std::vector<float>& p99s, const std::vector<float>& maxima) {
    const auto largestFinite = [](const std::vector<float>& values) {
        float largest = 0.0f;
        for (const float v : values) {
            if (std::isfinite(v) && v > largest) largest = v;
        }
        return largest;
    };
    constexpr float kFallbackMax = 1.0f;
    const float p99 = largestFinite(p99s);
    if (p99 > 0.0f) return p99;
    const float max = largestFinite(maxima);
    return max > 0.0f ? max : kFallbackMax;
}

}  // namespace lumetra
