#include "model/IntraATresholdBuilder.h"

// Float arithmetic throughout; each power runs in double on float arguments and is rounded
// to float (the slope power through the float pow, see slopePower).  The curve is the order-4
// smooth maximum of 1 and the power law.  Its fourth power and fourth root are evaluated in double
// as two squarings (the first one exact) and two square roots: far cheaper than pow, and after the
// rounding to float the same values as pow(y, 4.0) and pow(y, 0.25) (the tests check this against
// pow).

#include <cmath>

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

// y^s for the curve's slope: exact for the unit slope; otherwise the float power, which
// works in double internally and lands within one unit in the last place of the double pow
// rounded to float (the same value for all but a few in ten thousand arguments) at a third of
// its cost.  This is the builder's hot spot: one call per pixel of every achromatic band.
float slopePower(float y, float s) {
    if (s == 1.0f) return y;
    return std::pow(y, s);
}

// y^4 in double, rounded to float.
float roundedFourthPower(float y) {
    const double square = static_cast<double>(y) * y;  // exact
    return static_cast<float>(square * square);
}

// y^(1/4) in double, rounded to float.
float roundedFourthRoot(float y) {
    return static_cast<float>(std::sqrt(std::sqrt(static_cast<double>(y))));
}

}  // namespace

Array<float> IntraATresholdBuilder::operator()(const Array<float>& band, float s) const {
    const float k1 = roundedPow(kGainBase, kAttenuationExponent);  // 0.0152867
    const float k2 = roundedPow(kGainBase, kGainExponent);         // 392.498
    Array<float> threshold(band.rows(), band.cols());
    const float* x = band.data();
    float* out = threshold.data();
    // Two passes: the slope power first, then the rest of the curve in a loop free of calls,
    // which the compiler vectorises.
    const std::size_t n = band.size();
    for (std::size_t i = 0; i < n; ++i) out[i] = slopePower(k2 * std::fabs(x[i]), s);
    for (std::size_t i = 0; i < n; ++i) {
        const float u = roundedFourthPower(k1 * out[i]);
        out[i] = roundedFourthRoot(u + 1.0f);
    }
    return threshold;
}

}  // namespace lumetra
