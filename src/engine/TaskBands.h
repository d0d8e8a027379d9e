#pragma once

// The masked bands of an image as a decomposition hands them over, one task at a time: task t
// makes A band t, and tasks 0 .. 4 (the base and crown 2) also C1 band 17 + t and C2 band
// 22 + t, the orientation group whose bands mask one another.

#include <array>

#include "engine/BandIndex.h"
#include "image/Array.h"

namespace lumetra {

inline constexpr unsigned kDecompositionTasks = kALast + 1;

// The masked bands of one task: `a` always, `c1` and `c2` for tasks 0 .. 4.
struct TaskBands {
    Array<float> a;
    Array<float> c1;
    Array<float> c2;
};

// Rows of a task's masked bands, as many pixels of each from the same pixel on: what a
// decomposition that makes a task a strip of rows at a time hands over.  `c1` and `c2` are
// null for tasks 5 .. 16.
struct TaskStrip {
    float* a;
    float* c1;
    float* c2;
};

// The 27 masked bands of an image by band number (BandIndex.h).
using Bands = std::array<Array<float>, kBandCount>;
// The same by task.
using BandsByTask = std::array<TaskBands, kDecompositionTasks>;

// Band k of `bands`.
inline const Array<float>& bandOf(const BandsByTask& bands, unsigned k) {
    if (k >= kC2Base) return bands[k - kC2Base].c2;
    if (k >= kC1Base) return bands[k - kC1Base].c1;
    return bands[k].a;
}

}  // namespace lumetra
