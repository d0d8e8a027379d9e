#include "model/InterATresholdBuilder.h"

// Float arithmetic throughout.

#include <cmath>

namespace lumetra {

Array<float> InterATresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> factor(band.rows(), band.cols());
    const float* x = band.data();
    float* out = factor.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) {
        const float a = std::fabs(x[i]);
        const float numerator = q * (a * a) + (p * a + 1.0f);
        out[i] = numerator / (r * a + 1.0f);
    }
    return factor;
}

}  // namespace lumetra
