#pragma once

// The measure: the error map weighted by structure and block weight, pooled by a Minkowski
// mean.

#include "image/Array.h"

namespace lumetra {

// B^alpha of every pixel, each rounded to float: the block weight as the measure uses it.
Array<float> raisedBlockWeight(const Array<float>& block, float alpha);

// The weighted error F = (M x R x B^alpha)^beta of every pixel, each rounded to float.
Array<float> weightedError(const Array<float>& error, const Array<float>& structure,
                           const Array<float>& block, float alpha, float beta);

// Minkowski mean with exponent beta of M x R x B^alpha, rounded to float: the mean of the
// weighted error F, raised to 1 / beta.
float minkowskiMeasure(const Array<float>& error, const Array<float>& structure,
                       const Array<float>& block, float alpha, float beta);

}  // namespace lumetra
