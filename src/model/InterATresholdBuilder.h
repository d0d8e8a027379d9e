#pragma once

#include "image/Array.h"

namespace lumetra {

// Cross-channel masking factor of rational form, T = (1 + p |x| + q x^2) / (1 + r |x|),
// element by element, applied to the band of another channel.  The same curve as the
// intra-channel chromatic threshold, kept apart because it plays another role.
class InterATresholdBuilder {
  public:
    Array<float> operator()(const Array<float>& band, float p, float q, float r) const;
};

}  // namespace lumetra
