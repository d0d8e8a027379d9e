#include "engine/MinkowskiMeasure.h"

#include <cmath>

namespace lumetra {

namespace {

float power(float x, double exponent) {
    return static_cast<float>(std::pow(static_cast<double>(x), exponent));
}

// x^e rounded to float, exact for the unit exponent and x^4 formed by squaring for 4, the
// parameters the desktop defaults use.
float parameterPower(float x, float exponent) {
    if (exponent == 1.0f) return x;
    if (exponent == 4.0f) {
        const double square = static_cast<double>(x) * x;
        return static_cast<float>(square * square);
    }
    return power(x, exponent);
}

// (m r b^alpha)^beta of one pixel.
float weightedPixel(float m, float r, float b, float alpha, float beta) {
    const float pixelWeight = r * parameterPower(b, alpha);
    return parameterPower(m * pixelWeight, beta);
}

}  // namespace

Array<float> raisedBlockWeight(const Array<float>& block, float alpha) {
    Array<float> raised(block.rows(), block.cols(), block.pool(), kUninitialised);
    for (std::size_t i = 0, n = block.size(); i < n; ++i) {
        raised.data()[i] = parameterPower(block.data()[i], alpha);
    }
    return raised;
}

Array<float> weightedError(const Array<float>& error, const Array<float>& structure,
                           const Array<float>& block, float alpha, float beta) {
    Array<float> weighted(error.rows(), error.cols(), error.pool(), kUninitialised);
    for (std::size_t i = 0, n = error.size(); i < n; ++i) {
        weighted.data()[i] =
            weightedPixel(error.data()[i], structure.data()[i], block.data()[i], alpha, beta);
    }
    return weighted;
}

float minkowskiMeasure(const Array<float>& error, const Array<float>& structure,
                       const Array<float>& block, float alpha, float beta) {
    const float* m = error.data();
    const float* r = structure.data();
    const float* b = block.data();
    long double sum = 0.0L;
    for (std::size_t i = 0, n = error.size(); i < n; ++i) {
        sum += weightedPixel(m[i], r[i], b[i], alpha, beta);
    }
    const long double count = static_cast<long double>(error.rows()) * error.cols();
    const long double root = 1.0L / static_cast<long double>(beta);
    return static_cast<float>(std::pow(sum / count, root));
}

}  // namespace lumetra
