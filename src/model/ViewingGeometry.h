#pragma once

// How the observer sees the image: the pixels that one degree of visual angle spans at the
// eye.  Spatial frequencies in cycles per degree are those in cycles per pixel times this
// number, and an image of rows x cols pixels covers rows x cols / ppd^2 square degrees.
// More pixels per degree (a farther observer or a denser screen) puts every pattern at a
// higher frequency in cycles per degree, where the eye is less sensitive to fine detail.

namespace lumetra {

// The standard viewing geometry the model was tuned at, in pixels per degree.
inline constexpr double kDefaultPixelsPerDegree = 60.0;

}  // namespace lumetra
