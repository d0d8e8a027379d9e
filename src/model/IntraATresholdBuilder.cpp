#include "model/IntraATresholdBuilder.h"

namespace lumetra {
namespace {

// Base of the two gain constants k1 = 6^(-7/3) and k2 = 6^(10/3), so that k1 k2 = 6.
constexpr float kGainBase = 6.0f;
// Exponents of the gains, as float values (-2.3333333 and 3.3333333).
constexpr float kAttenuationExponent = -7.0f / 3.0f;
constexpr float kGainExponent = 10.0f / 3.0f;

float roundedPow(float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

}  // namespace

IntraATresholdBuilder::IntraATresholdBuilder()
    : _k1(roundedPow(kGainBase, kAttenuationExponent)), _k2(roundedPow(kGainBase, kGainExponent)) {}

float IntraATresholdBuilder::unitBelow(float s) const {
    if (!(s > 0.0f)) return 0.0f;
    // (k1 y^s)^4 <= 2^-25  <=>  y <= (2^-6.25 / k1)^(1/s).
    constexpr double kLargestNegligibleRoot = 0.013139006488339287;  // 2^-6.25
    return static_cast<float>(
        std::pow(kLargestNegligibleRoot / static_cast<double>(_k1), 1.0 / static_cast<double>(s)));
}

Array<float> IntraATresholdBuilder::operator()(const Array<float>& band, float s) const {
    Array<float> threshold(band.rows(), band.cols());
    const float* x = band.data();
    float* out = threshold.data();
    const std::size_t n = band.size();
    for (std::size_t i = 0; i < n; ++i) out[i] = powerLaw(x[i], s);
    for (std::size_t i = 0; i < n; ++i) out[i] = curve(out[i]);
    return threshold;
}

}  // namespace lumetra
