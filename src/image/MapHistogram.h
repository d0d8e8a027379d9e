#pragma once

// A map's spread in a few numbers a page can draw: how its values fall into equal bins from 0
// to its largest value, and their mean.  The report draws one per file beside its heat map.

#include <cstddef>
#include <vector>

#include "image/Array.h"

namespace lumetra {

struct MapHistogram {
    float top = 0.0f;  // the largest finite value: the right edge of the last bin
    // Share of the finite values in each bin, summing to 1 (all 0 without any finite value).
    // Bin b holds values in [b top / n, (b + 1) top / n), the last bin its right edge too;
    // values below 0 count in the first.  A map of zeros has every value in the first bin.
    std::vector<float> shares;
    float mean = 0.0f;  // of the finite values, summed in double; NaN without any
};

// The histogram of `map` in `bins` bins (at least 1).  Values that are not finite numbers are
// left out.
MapHistogram histogramOf(const Array<float>& map, std::size_t bins);

}  // namespace lumetra
