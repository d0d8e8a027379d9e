#pragma once

// How the observer sees the image: the pixels that one degree of visual angle spans at the
// eye.  Spatial frequencies in cycles per degree are those in cycles per pixel times this
// number, and an image of rows x cols pixels covers rows x cols / ppd^2 square degrees.
// More pixels per degree (a farther observer or a denser screen) puts every pattern at a
// higher frequency in cycles per degree, where the eye is less sensitive to fine detail.

#include <cmath>
#include <numbers>

namespace lumetra {

// The standard viewing geometry the model was tuned at, in pixels per degree.
inline constexpr double kDefaultPixelsPerDegree = 60.0;

// The pixels per degree of a screen `widthPixels` pixels and `widthCm` centimetres wide seen
// from `distanceCm` centimetres: the pixels that the one degree of visual angle centred on
// the line of sight spans, (widthPixels / widthCm) x 2 x distanceCm x tan(0.5 degree).
// Positive finite sizes give a positive result (infinite when it overflows).
inline double displayPixelsPerDegree(double widthPixels, double widthCm, double distanceCm) {
    const double halfDegree = std::numbers::pi / 360.0;  // radians
    return widthPixels / widthCm * 2.0 * distanceCm * std::tan(halfDegree);
}

}  // namespace lumetra
