#pragma once

#include <cmath>
#include <span>

#include "image/Array.h"

namespace lumetra {

// Cross-channel masking factor of saturating exponential form, T = p - q exp(-r |x|),
// element by element: p - q at x = 0, rising towards p for positive q and r.
class InterBTresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;

    // The factor of one band value.  Float arithmetic; the exponential runs in double on a
    // float argument and is rounded to float.
    static float at(float x, float p, float q, float r) {
        const float decay = static_cast<float>(std::exp(static_cast<double>(-(r * std::fabs(x)))));
        return p - q * decay;
    }

    // x[i] = at(x[i], p, q, r) for every i: the same floats, with the exponentials taken
    // several at a time (VectorMath).  The plain at() stays the reference it is held to.
    static void applyInPlace(std::span<float> x, float p, float q, float r);
};

}  // namespace lumetra
