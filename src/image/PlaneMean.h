#pragma once

#include "image/Array.h"

namespace lumetra {

// Mean of a plane: the row-major sum in extended precision divided by rows x cols, rounded to
// float.  The band decomposition and the edge maps both normalise planes by it.
inline float planeMean(const Array<float>& plane) {
    long double sum = 0.0L;
    const float* p = plane.data();
    for (std::size_t i = 0, n = plane.size(); i < n; ++i) sum += p[i];
    return static_cast<float>(sum / static_cast<long double>(plane.size()));
}

}  // namespace lumetra
