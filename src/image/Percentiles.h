#pragma once

// Order statistics of a map: where its values lie, whatever their spread.

#include "image/Array.h"

namespace lumetra {

// The 50th, 95th and 99th percentiles and the largest value of a map.  Each percentile q is
// taken between the two nearest order statistics, x(k) + (x(k + 1) - x(k)) (p - k) at position
// p = q (n - 1) of the sorted values, in double and rounded to float.  Values that are not
// numbers are left out; a map without any number gives NaN throughout.
struct MapPercentiles {
    float p50;
    float p95;
    float p99;
    float max;
};

MapPercentiles percentilesOf(const Array<float>& map);

}  // namespace lumetra
