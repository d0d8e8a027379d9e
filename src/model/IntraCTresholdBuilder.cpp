#include "model/IntraCTresholdBuilder.h"

// Float arithmetic; the square is the power a^2 in double, rounded to float.  The product of
// two floats is exact in double, so a * a there is that power to the last bit, without a
// call into the maths library.

#include <cmath>

namespace lumetra {

Array<float> IntraCTresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> threshold(band.rows(), band.cols());
    const float* x = band.data();
    float* out = threshold.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) {
        const float a = std::fabs(x[i]);
        const double wide = a;
        const float square = static_cast<float>(wide * wide);
        const float numerator = q * square + (p * a + 1.0f);
        out[i] = numerator / (r * a + 1.0f);
    }
    return threshold;
}

}  // namespace lumetra
