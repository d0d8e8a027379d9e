#pragma once

// Colour maps for showing error maps: a value's place on a scale picks one of the 256 colours
// of a published, perceptually uniform table.  Both maps grow lighter along the table, so a
// brighter colour always means a larger value: a more visible difference.

#include <array>
#include <cstdint>

#include "image/ColourTables.h"

namespace lumetra {

enum class ColourMap { Viridis, Magma };

// One 8-bit colour: red, green, blue.
using Rgb8 = std::array<std::uint8_t, 3>;

// The map's 256 colours, red, green and blue from 0 to 1, lowest value first.
const ColourTable& colourTable(ColourMap colours);

// The colour that marks a value that is not a number.  It lies far from every colour of the
// map: pure red for viridis (which has no red), pure cyan for magma (which has no cyan).
Rgb8 nanColour(ColourMap colours);

// Where `value` lies on the scale [0, max] as a fraction from 0 to 1: value / max, values
// above max giving 1 and values below 0 giving 0.  NaN stays NaN.  max must be > 0.
float scaleFraction(float value, float max);

// The table colour of a fraction from 0 to 1 (entry round(fraction * 255)), rounded to
// 8 bits; NaN gives nanColour.  Fractions outside 0..1 are clamped.
Rgb8 colourOfFraction(ColourMap colours, float fraction);

}  // namespace lumetra
