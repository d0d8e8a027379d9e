#pragma once

// Canny edge detection of one single-precision plane: the plane plus its Gaussian smoothing,
// stretched to 0..255; the diagonal gradient of every 2 x 2 cell; non-maximum suppression
// across the gradient; rescaling of the surviving ridges to a peak of 255; hysteresis
// between a seed threshold and a continuation threshold.  The result is a two-valued map
// (255 edge, 0 none) of the plane's size.

#include <cstdint>
#include <vector>

#include "image/Array.h"

namespace lumetra {

class CannyBuilder {
  public:
    // Per-pixel result of the gradient stage: magnitude and angle (radians, -pi..pi).
    struct Gradient {
        Array<float> magnitude;
        Array<float> angle;
    };

    // sigma: standard deviation of the smoothing kernel in pixels (> 0); low, high: the
    // continuation and seed thresholds on the 0..255 scale of the rescaled magnitude.
    CannyBuilder(float sigma, float low, float high);

    // The edge map of plane, rows x cols, every element 255 or 0.  A plane without
    // structure (constant, or no ridge left after suppression) gives all 0.
    Array<int> operator()(const Array<float>& plane) const;
    // The same, releasing the plane as soon as it is smoothed.
    Array<int> operator()(Array<float>&& plane) const;

    // The stages of operator(), in order.  They are public so each can be checked alone.

    // The odd-length Gaussian kernel, symmetric about its centre tap.
    std::vector<float> kernel() const;
    // The plane plus its separable Gaussian smoothing (borders mirrored about the
    // half-sample points, as often as a small plane needs).
    Array<float> smooth(const Array<float>& plane) const;
    Array<float> smooth(Array<float>&& plane) const;  // smooths the plane in place
    // Linear stretch onto 0..255; a plane with no spread (or no finite spread) gives 0.
    static Array<float> stretch(const Array<float>& smoothed);
    static Array<float> stretch(Array<float>&& smoothed);  // stretches the plane in place
    // Diagonal differences of the 2 x 2 cell whose top-left corner is the pixel; the last
    // row and column reuse themselves, so the bottom-right magnitude is always 0.
    static Gradient gradient(const Array<float>& levels);
    // Magnitudes that are not strictly larger than both neighbours across the gradient
    // (neighbours clamped to the plane) become 0.
    static Array<float> suppress(const Gradient& gradient);
    // gradient and suppress in one: suppress(gradient(levels)) to the last bit, without the angle
    // plane.  The sector of a gradient comes from the ratio of its two differences wherever that
    // ratio is clearly inside one sector; only near a sector's edge (and on the axes) is the
    // angle's arc tangent taken, as gradient does.
    static Array<float> ridges(const Array<float>& levels);
    static Array<float> ridges(Array<float>&& levels);  // drops levels once read
    // Magnitudes scaled so that the largest becomes 255; all 0 when none is positive.
    static Array<float> rescale(const Array<float>& ridges);
    static Array<float> rescale(Array<float>&& ridges);  // scales the ridges in place
    // 255 at every pixel above the seed threshold and at every pixel joined to one by an
    // 8-connected path of pixels above the continuation threshold (both strict).
    Array<int> hysteresis(const Array<float>& magnitude) const;

  private:
    struct Pixel {
        int row;
        int col;
    };
    // Marks (255) `seed` and everything it reaches above the continuation threshold in
    // `marks`, a byte per pixel of `magnitude`, using an explicit work list, `pending` (empty
    // on entry and on return; kept by the caller so that its room serves every seed): one
    // chain may run through every pixel of a large plane.
    void __followEdge(std::uint8_t* marks, const Array<float>& magnitude, Pixel seed,
                      std::vector<Pixel>& pending) const;

    float _sigma;
    float _low;
    float _high;
};

}  // namespace lumetra
