#pragma once

// The raised-cosine fall of the cortex filters' profiles, from 1 at x = 0 to 0 at
// x = width, in double.

#include <span>

#include "image/VectorMath.h"

namespace lumetra {

// (1 + cos(pi x / width)) / 2, one value at a time: the plain function.
double raisedCosine(double x, double width);

// x[i] = raisedCosine(x[i], width) for every i, the cosines taken several at a time
// (VectorMath).  The profiles round each value to float, and those floats are the plain
// function's by construction: where a value lies so near a point half-way between two floats
// that the plain one could round the other way (rare but for the values that 1 + cos brings
// near 0), the plain cosine is taken.  A sweep over the arguments in the tests checks it.
// With lanes Four (AVX), the loops around the cosines also run four values at a time, with
// the same floats; with Two they are the plain loops.
void raisedCosineInPlace(std::span<double> x, double width,
                         VectorWidth lanes = widestVectorWidth());

}  // namespace lumetra
