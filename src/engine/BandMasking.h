#pragma once

// Masking of the unmasked bands by thresholds built from the bands themselves, pixel by pixel.
// Every threshold and factor at a pixel depends only on band values at that pixel, so a
// decomposition masks its bands strip by strip, as soon as the bands that mask one another
// exist: one orientation group (A j, C1 j and C2 j of the base, j = 0, or of crown 2,
// j = 1 .. 4) at a time, and each A band of crowns 3 and 4 on its own.
//
// Each band value is divided by its channel divisor (A 250, C1 30, C2 5) before it drives a
// threshold, and then by its threshold:
// - intra A: T = IntraA(a / 250; s), s = 0.7 for the base, 1 for crown 2, 0.85 above;
// - intra C1: T = IntraC(c1 / 30), then, with inter C1, the factors of the A and C2 bands;
// - intra C2: T = IntraC(c2 / 5) x the factor of the C1 band of the same orientation.
// Without a switch a channel's bands have no threshold and stay undivided; with no switch at
// all nothing is divided.

#include <cstddef>

namespace lumetra {

// The six masking switches of the engine.
struct MaskSwitches {
    bool intraA = true;
    bool interA = false;  // enables nothing: takes part only in the any-switch test
    bool intraC1 = true;
    bool interC1 = false;
    bool intraC2 = true;   // masks C2 by itself and then by C1
    bool interC2 = false;  // enables nothing, like interA

    bool any() const { return intraA || interA || intraC1 || interC1 || intraC2 || interC2; }
};

// Masks pixels [begin, end) of orientation group j in place: `a`, `c1` and `c2` hold A band j,
// C1 band j and C2 band j of the group, unmasked on entry.  `a0` is the unmasked A base band;
// it is read only with inter C1 and j > 0 and may be null otherwise.
void maskOrientationGroup(const MaskSwitches& switches, unsigned j, float* a, float* c1, float* c2,
                          const float* a0, std::size_t begin, std::size_t end);

// Masks pixels [begin, end) of the A band k (crowns 3 and 4: 5 .. 16) in place.
void maskAchromaticBand(const MaskSwitches& switches, unsigned k, float* a, std::size_t begin,
                        std::size_t end);

}  // namespace lumetra
