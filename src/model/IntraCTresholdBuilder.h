#pragma once

#include "image/Array.h"

namespace lumetra {

// Self-masking threshold of a chromatic band: the rational curve
// T = (1 + p |x| + q x^2) / (1 + r |x|), element by element.  T is 1 at x = 0 and may fall
// below 1 for moderate magnitudes.
class IntraCTresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;
};

}  // namespace lumetra
