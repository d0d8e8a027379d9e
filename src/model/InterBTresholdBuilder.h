#pragma once

#include "image/Array.h"

namespace lumetra {

// Cross-channel masking factor of saturating exponential form, T = p - q exp(-r |x|),
// element by element: p - q at x = 0, rising towards p for positive q and r.
class InterBTresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;
};

}  // namespace lumetra
