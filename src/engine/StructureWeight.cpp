#include "engine/StructureWeight.h"

#include "structure/Morphology.h"

namespace lumetra {

namespace {

// The value of a set pixel in the edge and change maps.
constexpr int kSet = 255;

// changes[i]: 255 where one map has an edge at i and the other none.
template <typename Value>
void markChanges(const Value* o, const Value* d, Array<int>& changes) {
    int* x = changes.data();
    for (std::size_t i = 0, n = changes.size(); i < n; ++i) {
        const bool appeared = o[i] == 0 && d[i] == kSet;
        const bool vanished = o[i] == kSet && d[i] == 0;
        x[i] = appeared || vanished ? kSet : 0;
    }
}

}  // namespace

Array<int> edgeChanges(const Array<int>& referenceEdges, const Array<int>& degradedEdges) {
    Array<int> changes(degradedEdges.rows(), degradedEdges.cols(), degradedEdges.pool(),
                       kUninitialised);
    markChanges(referenceEdges.data(), degradedEdges.data(), changes);
    return changes;
}

Array<int> edgeChanges(const PackedEdges& referenceEdges, const PackedEdges& degradedEdges,
                       std::shared_ptr<PlanePool> pool) {
    Array<int> changes(degradedEdges.rows, degradedEdges.cols, std::move(pool), kUninitialised);
    markChanges(referenceEdges.values.data(), degradedEdges.values.data(), changes);
    return changes;
}

Array<int> structureZone(const Array<int>& changes) {
    // Each map is dropped as soon as the next exists: at most three live at once.
    Array<int> runs = erode_dilate_h(changes);
    {
        const Array<int> vertical = erode_dilate_v(changes);
        for (std::size_t i = 0, n = runs.size(); i < n; ++i) {
            runs.data()[i] = runs.data()[i] != 0 || vertical.data()[i] != 0 ? kSet : 0;
        }
    }
    Array<int> zone = dilate_hv(runs);
    runs = Array<int>();
    return zone / kSet;
}

Array<float> zoneWeight(const Array<int>& zone, float co) {
    Array<float> weight(zone.rows(), zone.cols(), zone.pool(), kUninitialised);
    for (std::size_t i = 0, n = weight.size(); i < n; ++i) {
        const int w = zone.data()[i];
        weight.data()[i] = static_cast<float>(w == 0 ? 1 : 0) + static_cast<float>(w) * co;
    }
    return weight;
}

Array<float> structureWeight(const Array<int>& changes, float co) {
    return zoneWeight(structureZone(changes), co);
}

}  // namespace lumetra
