#include "model/IntraCTresholdBuilder.h"

namespace lumetra {

Array<float> IntraCTresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> threshold(band.rows(), band.cols());
    const float* x = band.data();
    float* out = threshold.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) out[i] = at(x[i], p, q, r);
    return threshold;
}

}  // namespace lumetra
