#pragma once

#include <cmath>

#include "image/Array.h"

namespace lumetra {

// Self-masking threshold of a chromatic band: the rational curve
// T = (1 + p |x| + q x^2) / (1 + r |x|), element by element.  T is 1 at x = 0 and may fall
// below 1 for moderate magnitudes.
class IntraCTresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;

    // The threshold of one band value.  Float arithmetic; the square is the power a^2 in
    // double, rounded to float.  The product of two floats is exact in double, so a * a there
    // is that power to the last bit, without a call into the maths library.
    static float at(float x, float p, float q, float r) {
        const float a = std::fabs(x);
        const double wide = a;
        const float square = static_cast<float>(wide * wide);
        const float numerator = q * square + (p * a + 1.0f);
        return numerator / (r * a + 1.0f);
    }
};

}  // namespace lumetra
