#pragma once

// Contrast sensitivity filters of the visual model: one real frequency-domain weight per
// opponent channel (A, C1, C2), sampled on the grid of an image of a given size seen at a
// given number of pixels per degree, and laid out for a spectrum whose quadrants have been
// swapped.

#include <cstdint>
#include <ostream>

#include "image/Array.h"
#include "model/ViewingGeometry.h"

namespace lumetra {

class CsfFilter {
  public:
    // Builds the three filters for an image of rows x cols; (0, 0) gives three empty
    // filters.  Odd sizes are supported (see CsfFilter.cpp for their layout).
    // Up to `workers` threads of the caller's task arena share the work (0: all of them);
    // the filters do not depend on it.  `pixelsPerDegree` (> 0 and finite, not checked) turns
    // cycles per pixel into cycles per degree and the image size into its visual area.
    CsfFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers = 1,
              double pixelsPerDegree = kDefaultPixelsPerDegree);

    // The same filters with every function taken one table cell at a time, the plain
    // evaluation the vectorised one is held to by the tests.
    static CsfFilter plain(std::uint32_t rows, std::uint32_t cols, unsigned workers = 1,
                           double pixelsPerDegree = kDefaultPixelsPerDegree);

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

    // Achromatic filter, largest value exactly 250.
    Array<float>& A() { return _filterA; }
    const Array<float>& A() const { return _filterA; }
    // First chromatic filter, values below 33.
    Array<float>& C1() { return _filterC1; }
    const Array<float>& C1() const { return _filterC1; }
    // Second chromatic filter, values below 5.
    Array<float>& C2() { return _filterC2; }
    const Array<float>& C2() const { return _filterC2; }

  private:
    enum class Evaluation { Vector, Plain };
    CsfFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers, double pixelsPerDegree,
              Evaluation evaluation);

    std::uint32_t _rows;
    std::uint32_t _cols;
    Array<float> _filterA;
    Array<float> _filterC1;
    Array<float> _filterC2;
};

// Diagnostic dump: each filter preceded by its label line ("A", "C1", "C2").
std::ostream& operator<<(std::ostream& out, const CsfFilter& csf);

}  // namespace lumetra
