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

// The fewest pixels per degree the model covers.  The finest pattern an image holds, half a
// cycle per pixel, lies at ppd / 2 cycles per degree; the achromatic sensitivity peaks at
// about 4 cycles per degree and the second crown of the band filters ends at 5.7.  Below 10
// pixels per degree (5 cycles per degree) the image holds almost nothing above that peak, and
// measures fall again as the viewer comes nearer: numbers computed there are outside the
// range the model was built for.
inline constexpr double kLowestModelledPixelsPerDegree = 10.0;

// The pixels per degree of a screen `widthPixels` pixels and `widthCm` centimetres wide seen
// from `distanceCm` centimetres: the pixels that the one degree of visual angle centred on
// the line of sight spans, (widthPixels / widthCm) x 2 x distanceCm x tan(0.5 degree).
// Positive finite sizes give a positive result (infinite when it overflows).
inline double displayPixelsPerDegree(double widthPixels, double widthCm, double distanceCm) {
    const double halfDegree = std::numbers::pi / 360.0;  // radians
    return widthPixels / widthCm * 2.0 * distanceCm * std::tan(halfDegree);
}

}  // namespace lumetra
