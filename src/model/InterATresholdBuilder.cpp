#include "model/InterATresholdBuilder.h"

namespace lumetra {

Array<float> InterATresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> factor(band.rows(), band.cols());
    const float* x = band.data();
    float* out = factor.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) out[i] = at(x[i], p, q, r);
    return factor;
}

}  // namespace lumetra
