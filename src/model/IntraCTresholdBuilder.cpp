#include "model/IntraCTresholdBuilder.h"

// Float arithmetic; the square is a power run in double and rounded to float.

#include <cmath>

namespace lumetra {
namespace {

constexpr double kSquare = 2.0;

}  // namespace

Array<float> IntraCTresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> threshold(band.rows(), band.cols());
    const float* x = band.data();
    float* out = threshold.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) {
        const float a = std::fabs(x[i]);
        const float square = static_cast<float>(std::pow(static_cast<double>(a), kSquare));
        const float numerator = q * square + (p * a + 1.0f);
        out[i] = numerator / (r * a + 1.0f);
    }
    return threshold;
}

}  // namespace lumetra
