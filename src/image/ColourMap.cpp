#include "image/ColourMap.h"

#include <cmath>
#include <cstddef>

namespace lumetra {

namespace {

// Largest 8-bit level, the value of a table component of 1.
constexpr float kFullLevel = 255.0f;
// Last index of a table.
constexpr float kLastEntry = static_cast<float>(kColourTableSize - 1);

constexpr Rgb8 kRed = {255, 0, 0};
constexpr Rgb8 kCyan = {0, 255, 255};

std::uint8_t level(float component) {
    return static_cast<std::uint8_t>(std::lround(component * kFullLevel));
}

}  // namespace

const ColourTable& colourTable(ColourMap colours) {
    return colours == ColourMap::Magma ? kMagmaTable : kViridisTable;
}

Rgb8 nanColour(ColourMap colours) {
    return colours == ColourMap::Magma ? kCyan : kRed;
}

float scaleFraction(float value, float max) {
    if (std::isnan(value)) return value;
    const float fraction = value / max;
    return fraction > 1.0f ? 1.0f : (fraction > 0.0f ? fraction : 0.0f);
}

Rgb8 colourOfFraction(ColourMap colours, float fraction) {
    if (std::isnan(fraction)) return nanColour(colours);
    const float clamped = fraction > 1.0f ? 1.0f : (fraction > 0.0f ? fraction : 0.0f);
    const auto entry = static_cast<std::size_t>(std::lround(clamped * kLastEntry));
    const std::array<float, 3>& rgb = colourTable(colours)[entry];
    return {level(rgb[0]), level(rgb[1]), level(rgb[2])};
}

}  // namespace lumetra
