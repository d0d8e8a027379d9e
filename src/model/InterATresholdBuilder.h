#pragma once

#include <cmath>

#include "image/Array.h"

namespace lumetra {

// Cross-channel masking factor of rational form, T = (1 + p |x| + q x^2) / (1 + r |x|),
// element by element, applied to the band of another channel.  The same curve as the
// intra-channel chromatic threshold, kept apart because it plays another role.
class InterATresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;

    // The factor of one band value, in float arithmetic throughout.
    static float at(float x, float p, float q, float r) {
        const float a = std::fabs(x);
        const float numerator = q * (a * a) + (p * a + 1.0f);
        return numerator / (r * a + 1.0f);
    }
};

}  // namespace lumetra
