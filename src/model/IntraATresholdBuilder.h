#pragma once

#include "image/Array.h"

namespace lumetra {

// Self-masking threshold of an achromatic band: the power-law contrast masking curve
// T = (1 + (k1 (k2 |x|)^s)^4)^(1/4), element by element, with k1 = 6^(-7/3), k2 = 6^(10/3).
// T is 1 at x = 0 and grows like k1 (k2 |x|)^s, so s is the slope of the curve in log-log
// terms.
class IntraATresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float s) const;
};

}  // namespace lumetra
