#pragma once

// What explains one comparison's measure: which terms and channels of the error map M make it,
// how the block and structure weights shape it, and which pixels the measure comes from.
//
//   terms           the four weighted additive terms of M (base with colour, crown 2 with
//                   colour, crown 3, crown 4), which add up to M
//   channel maps    M made from the achromatic, C1 or C2 band differences alone (the other
//                   channels' differences 0); not additive
//   block weight    B^alpha, as the measure weighs each pixel with it
//   edge zone       1 where the edge structure changed (the structure weight is co there)
//   share           F / sum(F) of the weighted error F = (M R B^alpha)^beta: where the measure
//                   comes from, summing to 1
//
// The numbers weigh each pixel as the measure does, with Q = R B^alpha, and are sums in double:
// a term's share is sum(term Q) / sum(M Q), a channel's sum(M_channel Q) / sum(M Q) (the
// channel shares need not add up to 1), and the structure share sum(F in the zone) / sum(F).
// Without any weighted error (a perfect copy, or every pixel weighed 0) every share, and the
// share map, is 0.

#include <array>

#include "engine/BandFilters.h"
#include "engine/Comparison.h"
#include "image/Array.h"
#include "image/Percentiles.h"

namespace lumetra {

inline constexpr unsigned kErrorTermCount = 4;  // ErrorTerm::Base .. ErrorTerm::Crown4

// The numbers of an explanation, each rounded to float.
struct ExplanationNumbers {
    std::array<float, kErrorTermCount> termShares{};   // by ErrorTerm; they add up to 1
    std::array<float, kChannelCount> channelShares{};  // by Channel
    float structureShare = 0.0f;                       // in [0, 1]
    MapPercentiles percentiles{};                      // of the error map M
};

// The planes of an explanation, each of the image's size.
struct ExplanationMaps {
    std::array<Array<float>, kErrorTermCount> terms;   // by ErrorTerm, each weighted
    std::array<Array<float>, kChannelCount> channels;  // by Channel
    Array<float> blockWeight;                          // B^alpha
    Array<float> edgeZone;                             // 1 in the changed-structure zone, else 0
    Array<float> share;                                // F / sum(F), or 0 without any F
};

struct Explanation {
    Comparison comparison;
    ExplanationMaps maps;
    ExplanationNumbers numbers;
};

}  // namespace lumetra
