#pragma once

// Spectrum helpers of the band decomposition.  The filters are laid out for a centred spectrum
// (zero frequency at (rows / 2, cols / 2)); the transforms work in FFTW's natural order with
// the zero frequency at (0, 0).  The centring moves element (r, c) to
// ((r + rows / 2) mod rows, (c + cols / 2) mod cols) and its inverse moves it back exactly;
// for even sizes this is the diagonal exchange of quadrants.

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/Array.h"
#include "image/PlanePool.h"

namespace lumetra {

// A rectangle of a plane on the centred grid: element (p, q) of the plane is
// values(p - row0, q - col0).
struct CroppedPlane {
    std::uint32_t row0 = 0;
    std::uint32_t col0 = 0;
    Array<float> values;

    float at(std::uint32_t p, std::uint32_t q) const { return values(p - row0, q - col0); }
};

// A band mask kept as the values of each row of the centred grid from the row's first element
// that is not zero to its last (most of a mask is zero: its crown is a ring, and its two
// opposite orientation lobes leave most of each row empty), and the number of half-spectrum
// columns (from column 0, natural order) that the band's spectrum reaches.
struct BandMask {
    // The smallest rectangle holding every element that is not zero: rows [row0, row0 +
    // boxRows) and columns [col0, col0 + boxCols); empty (0 rows) when the mask is all zero.
    std::uint32_t row0 = 0;
    std::uint32_t col0 = 0;
    std::uint32_t boxRows = 0;
    std::uint32_t boxCols = 0;
    // Row i of the rectangle holds start[i + 1] - start[i] values from values[start[i]] on,
    // the first at column col0 + first[i]; its other elements are zero.
    std::vector<std::uint32_t> first;
    std::vector<std::size_t> start;
    std::vector<float> values;
    std::uint32_t usedCols = 1;

    // Element (p, q) of the centred grid.
    float at(std::uint32_t p, std::uint32_t q) const;
};

// The smallest rectangle holding every non-zero element of `mask`.
BandMask croppedMask(const Array<float>& mask);
// The same for a mask of a grid `cols` wide known on a window of it, element (row0 + i,
// col0 + j) being window(i, j), every element outside the window zero.
BandMask croppedMask(const Array<float>& window, std::uint32_t row0, std::uint32_t col0,
                     std::uint32_t cols);

// The part of `plane` that the masks [first, last) cover: the smallest rectangle holding all
// of theirs.  A channel's sensitivity filter is read nowhere else.
CroppedPlane coveredPart(const Array<float>& plane, const BandMask* first, const BandMask* last);

// The first `width` columns of a real plane's half spectrum (rows x (cols / 2 + 1), FFTW's r2c
// layout), rounded to float: rows x width, its memory from `pool` when given.
Array<std::complex<float>> roundedHalfSpectrum(const std::complex<double>* half, std::uint32_t rows,
                                               std::uint32_t cols, std::uint32_t width,
                                               std::shared_ptr<PlanePool> pool = nullptr);

// The band spectrum S x sensitivity x mask of a real plane's rounded half spectrum S (at least
// mask.usedCols wide; centred,
// each weighted value rounded to float as the full weighted spectrum would hold it), brought
// back to natural order as the half spectrum of its conjugate-symmetric part
// (B(k) + conj(B(-k))) / 2, ready for a complex-to-real inverse transform, which then equals
// the real part of the full inverse transform of B.  Its columns from mask.usedCols on are
// zero: `half` receives the others, rows x mask.usedCols, row by row.
void bandHalfSpectrum(const Array<std::complex<float>>& spectrum, std::uint32_t cols,
                      const CroppedPlane& sensitivity, const BandMask& mask,
                      std::complex<double>* half);

}  // namespace lumetra
