#pragma once

// Spectrum helpers of the band decomposition: the centring shift that puts the zero
// frequency where the filters expect it, and the element-wise real weighting.

#include <complex>

#include "image/Array.h"

namespace lumetra {

// Mean of a plane: the row-major sum in extended precision over rows x cols, rounded to float.
float planeMean(const Array<float>& plane);

// Moves the zero frequency from (0, 0) to (rows / 2, cols / 2): element (r, c) goes to
// ((r + rows / 2) mod rows, (c + cols / 2) mod cols).  For even sizes this is the diagonal
// exchange of quadrants, its own inverse.
Array<std::complex<float>> centred(const Array<std::complex<float>>& spectrum);

// Every element of a centred spectrum (real and imaginary part alike) times the real value
// of `weight` at the same place.
Array<std::complex<float>> weighted(const Array<std::complex<float>>& spectrum,
                                    const Array<float>& weight);

// The exact inverse of `centred` applied to `spectrum` x `mask`: the band's spectrum back in
// the transform's natural order, ready for the inverse transform.
Array<std::complex<float>> uncentredProduct(const Array<std::complex<float>>& spectrum,
                                            const Array<float>& mask);

}  // namespace lumetra
