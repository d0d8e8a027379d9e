#pragma once

// Heat maps: an error map drawn in a perceptually uniform colour map on a fixed scale, with a
// legend bar to its right whose tick labels are in the error map's own units.  Pictures drawn
// on one scale can be compared: the same colour means the same error in each of them.
//
// Layout, left to right: the map (or the map over the original), a gap, the colour bar (top
// = max, bottom = 0), tick marks and the labels of 0, max / 2 and max.  The legend's ground is
// white and its ink black.  A map shorter than the legend needs is padded below with white.

#include <cstdint>
#include <string>
#include <vector>

#include "image/Array.h"
#include "image/ColourMap.h"
#include "image/RgbImage.h"
#include "image/RgbPicture.h"

namespace lumetra {

// The scale of a heat map: values from 0 to max are spread over the colour map; larger values
// take its top colour.  max must be finite and > 0.
struct HeatScale {
    float max = 1.0f;
    ColourMap colours = ColourMap::Viridis;
};

// The scale one run's heat maps share, so that a worse file looks worse: the largest finite
// 99th percentile of the run's error maps; when that is not above 0 (no map shows any error),
// the largest finite maximum; when that is not above 0 either, 1, which draws every map in the
// bottom colour.
float sharedHeatScale(const std::vector<float>& p99s, const std::vector<float>& maxima);

// Colour of one error value: the table entry at scaleFraction(value, max); NaN gives the
// map's nanColour.
Rgb8 heatColour(float value, const HeatScale& scale);

// The error map in colour, with the legend.
RgbPicture heatMap(const Array<float>& map, const HeatScale& scale);

// The heat map laid over a grey copy of the original, with the same legend.  Per pixel:
//   grey   = 255 (0.2126 R + 0.7152 G + 0.0722 B) / maxval   (BT.709 weights on the samples)
//   w      = scaleFraction(value, max)                       (0 where there is no error)
//   output = (1 - w) grey + w heatColour(value)              (per channel, rounded)
// so unchanged areas show the grey original and the colour takes over as the error grows; a
// NaN value shows nanColour.  The original must have the map's size.
RgbPicture heatMapOverOriginal(const Array<float>& map, const RgbImage& original,
                               const HeatScale& scale);

// Text of a legend label: three significant digits, locale-free, shortest form, without an
// exponent from 0.001 up to a million ("0", "0.5", "0.0123", "2090", "1.23e-05", "4.5e+07").
std::string legendLabel(float value);

// Scale of the legend font for a map of `rows` rows: 1 up to 255 rows, growing with the map
// so that labels stay readable on large pictures.
int legendTextScale(std::uint32_t rows);

}  // namespace lumetra
