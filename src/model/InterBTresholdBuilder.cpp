#include "model/InterBTresholdBuilder.h"

#include <algorithm>
#include <array>

#include "image/VectorMath.h"

namespace lumetra {

Array<float> InterBTresholdBuilder::operator()(const Array<float>& band, float p, float q,
                                               float r) const {
    Array<float> factor(band.rows(), band.cols());
    const float* x = band.data();
    float* out = factor.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) out[i] = at(x[i], p, q, r);
    return factor;
}

namespace {

// Values whose exponentials are taken together: a buffer of doubles that stays in cache.
constexpr std::size_t kBlock = 256;

}  // namespace

void InterBTresholdBuilder::applyInPlace(std::span<float> x, float p, float q, float r) {
    std::array<double, kBlock> decay;
    const VectorWidth width = widestVectorWidth();
    for (std::size_t start = 0; start < x.size(); start += kBlock) {
        const std::size_t n = std::min(kBlock, x.size() - start);
        float* v = x.data() + start;
        // The argument in float, as at() forms it, then its exponential in double.
        for (std::size_t i = 0; i < n; ++i) decay[i] = -(r * std::fabs(v[i]));
        expInPlace(std::span<double>(decay.data(), n), width);
        for (std::size_t i = 0; i < n; ++i) v[i] = p - q * static_cast<float>(decay[i]);
    }
}

}  // namespace lumetra
