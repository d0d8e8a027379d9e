#include "engine/Explanation.h"

// An explanation watches one ordinary comparison and keeps what it is shown: the weighted
// terms, the degraded bands, the weights, the changed-structure zone and the weighted error.
// Its measure and error map are therefore the comparison's own.  The channel maps pool the
// kept bands again with the other channels' differences left out, so the degraded image is
// decomposed only once.

#include <array>
#include <cstddef>

#include "engine/BlockWeight.h"
#include "engine/ErrorMap.h"
#include "engine/Lumetra2.h"
#include "engine/MinkowskiMeasure.h"
#include "engine/StructureWeight.h"

namespace lumetra {

namespace {

// Keeps every plane a comparison offers that an explanation needs.
class Witness : public ComparisonObserver {
  public:
    bool wantsErrorTerms() const override { return true; }
    void errorTerm(ErrorTerm term, const Array<float>& weighted) override {
        terms[static_cast<unsigned>(term)] = weighted;
    }
    bool wantsDegradedBands() const override { return true; }
    void degradedBand(unsigned k, const Array<float>& band) override { bands[k] = band; }
    void blockWeight(const Array<float>& weight) override { block = weight; }
    void structureZone(const Array<int>& changed) override { zone = changed; }
    void structureWeight(const Array<float>& weight) override { structure = weight; }
    bool wantsWeightedError() const override { return true; }
    void weightedError(const Array<float>& f) override { weighted = f; }

    std::array<Array<float>, kErrorTermCount> terms;
    Bands bands;
    Array<float> block;
    Array<int> zone;
    Array<float> structure;
    Array<float> weighted;
};

// part / whole rounded to float, 0 when there is no whole to take a part of.
float shareOf(double part, double whole) {
    return whole == 0.0 ? 0.0f : static_cast<float>(part / whole);
}

// sum(map x Q) with Q = R x B^alpha, the pixel weight of the measure (the same float product).
double weightedSum(const Array<float>& map, const Array<float>& structure,
                   const Array<float>& raisedBlock) {
    double sum = 0.0;
    for (std::size_t i = 0, n = map.size(); i < n; ++i) {
        const float q = structure.data()[i] * raisedBlock.data()[i];
        sum += static_cast<double>(map.data()[i]) * static_cast<double>(q);
    }
    return sum;
}

double sumOf(const Array<float>& map) {
    double sum = 0.0;
    for (std::size_t i = 0, n = map.size(); i < n; ++i) sum += map.data()[i];
    return sum;
}

// The zone as a plane of 1s and 0s.
Array<float> zonePlane(const Array<int>& zone) {
    Array<float> plane(zone.rows(), zone.cols());
    for (std::size_t i = 0, n = zone.size(); i < n; ++i) {
        plane.data()[i] = zone.data()[i] != 0 ? 1.0f : 0.0f;
    }
    return plane;
}

// F / sum(F) of every pixel; all 0 when F is 0 everywhere.
Array<float> measureShare(const Array<float>& weighted, double total) {
    Array<float> share(weighted.rows(), weighted.cols());
    if (total == 0.0) return share;
    for (std::size_t i = 0, n = weighted.size(); i < n; ++i) {
        share.data()[i] = static_cast<float>(weighted.data()[i] / total);
    }
    return share;
}

// sum(F in the zone) / sum(F).
float zoneShare(const Array<float>& weighted, const Array<int>& zone, double total) {
    double inZone = 0.0;
    for (std::size_t i = 0, n = weighted.size(); i < n; ++i) {
        if (zone.data()[i] != 0) inZone += weighted.data()[i];
    }
    return shareOf(inZone, total);
}

}  // namespace

Explanation Lumetra2::explain(const RgbImage& degraded) const {
    // The comparison itself, watched.
    Witness seen;
    Comparison comparison = compare(degraded, &seen);

    ExplanationMaps maps;
    maps.terms = std::move(seen.terms);
    // The error map of each channel's differences alone, from the kept bands (the original's
    // made again in low-memory mode).
    const BandsByTask remade = _lowMemory ? referenceTasks() : BandsByTask();
    const BandPlanes original = planesOf(_lowMemory ? remade : _reference);
    for (unsigned c = 0; c < kChannelCount; ++c) {
        maps.channels[c] = pooledError(original, planesOf(seen.bands.data()), 0,
                                       ChannelSelection::only(static_cast<Channel>(c)));
    }
    seen.bands = Bands();
    maps.blockWeight = raisedBlockWeight(seen.block, _parameters.alpha);
    maps.edgeZone = zonePlane(seen.zone);
    const double totalWeighted = sumOf(seen.weighted);
    maps.share = measureShare(seen.weighted, totalWeighted);

    // The shares of the weighted error sum(M Q) and of the measure.
    ExplanationNumbers numbers;
    const double whole = weightedSum(comparison.err(), seen.structure, maps.blockWeight);
    for (unsigned t = 0; t < kErrorTermCount; ++t) {
        numbers.termShares[t] =
            shareOf(weightedSum(maps.terms[t], seen.structure, maps.blockWeight), whole);
    }
    for (unsigned c = 0; c < kChannelCount; ++c) {
        numbers.channelShares[c] =
            shareOf(weightedSum(maps.channels[c], seen.structure, maps.blockWeight), whole);
    }
    numbers.structureShare = zoneShare(seen.weighted, seen.zone, totalWeighted);
    numbers.percentiles = percentilesOf(comparison.err());

    return Explanation{std::move(comparison), std::move(maps), numbers};
}

}  // namespace lumetra
