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

// How error values are spread over the colours between 0 and the scale's max.
//   Linear  fraction = value / max
//   Log     fraction = log(1 + value / k) / log(1 + max / k), k = HeatScale::knee: values
//           well below k stay nearly linear, values above it are compressed, so a map of small
//           errors still shows colour beside one of large errors
enum class HeatCurve { Linear, Log };

// The scale of a heat map: values from 0 to max are spread over the colour map by `curve`;
// larger values take its top colour.  max must be finite and > 0; with the Log curve, so
// must knee.
struct HeatScale {
    float max = 1.0f;
    ColourMap colours = ColourMap::Viridis;
    HeatCurve curve = HeatCurve::Linear;
    float knee = 0.0f;  // k of the Log curve, in error-map units
};

// Which scale a set of heat maps is drawn on (--heat-scale of the command line; meant for the
// viewer too).
//   Shared   one linear scale for every map: the run's (heatScaleFor's runMax)
//   PerFile  each map on its own linear scale, 0 to its own sharedHeatScale({p99}, {max})
//   Log      the shared scale through the Log curve, k = max * kLogKneeFraction
enum class HeatScaleMode { Shared, PerFile, Log };

// The knee of the Log curve as a fraction of the scale's top: a hundredth, so that the curve
// spans about two decades of error, log(1 + 100) = 4.6 times the slope at 0.
inline constexpr float kLogKneeFraction = 0.01f;

// The scale one map is drawn on: `runMax` is the scale the run's maps share (sharedHeatScale
// or a fixed --heat-max), `ownP99` and `ownMax` are the map's own 99th percentile and maximum
// (used by PerFile only).
HeatScale heatScaleFor(HeatScaleMode mode, float runMax, float ownP99, float ownMax,
                       ColourMap colours);

// Where `value` lies on the scale, 0 to 1 (clamped), through the scale's curve; NaN stays NaN.
float heatFraction(float value, const HeatScale& scale);

// The value drawn at `fraction` (0 to 1) of the scale: the inverse of heatFraction.
float heatValueAt(float fraction, const HeatScale& scale);

// The legend's title line: empty for the Linear curve, "log k=2.5" for the Log curve.
std::string heatCurveLabel(const HeatScale& scale);

// The scale one run's heat maps share, so that a worse file looks worse: the largest finite
// 99th percentile of the run's error maps; when that is not above 0 (no map shows any error),
// the largest finite maximum; when that is not above 0 either, 1, which draws every map in the
// bottom colour.
float sharedHeatScale(const std::vector<float>& p99s, const std::vector<float>& maxima);

// Colour of one error value: the table entry at heatFraction(value, scale); NaN gives the
// map's nanColour.
Rgb8 heatColour(float value, const HeatScale& scale);

// The error map in colour, with the legend.
RgbPicture heatMap(const Array<float>& map, const HeatScale& scale);

// The error map in colour alone, the map's size, for pages that show the legend apart and
// lay the map over the images it compares.
RgbPicture heatMapWithoutLegend(const Array<float>& map, const HeatScale& scale);

// The heat map laid over a grey copy of the original, with the same legend.  Per pixel:
//   grey   = 255 (0.2126 R + 0.7152 G + 0.0722 B) / maxval   (BT.709 weights on the samples)
//   w      = heatFraction(value, scale)                      (0 where there is no error)
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
