#include "model/InterBTresholdBuilder.h"

// Float arithmetic; the exponential runs in double on a float argument and is rounded to
// float.

#include <cmath>

namespace lumetra {

Array<float> InterBTresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> factor(band.rows(), band.cols());
    const float* x = band.data();
    float* out = factor.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) {
        const float decay =
            static_cast<float>(std::exp(static_cast<double>(-(r * std::fabs(x[i])))));
        out[i] = p - q * decay;
    }
    return factor;
}

}  // namespace lumetra
