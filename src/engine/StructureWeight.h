#pragma once

// The structure weight: where edges appeared or vanished between the two images.

#include <memory>

#include "image/Array.h"
#include "image/PlanePool.h"
#include "structure/Edges.h"

namespace lumetra {

// 255 where an edge appeared or vanished between the two edge maps, 0 elsewhere.
Array<int> edgeChanges(const Array<int>& referenceEdges, const Array<int>& degradedEdges);
// The same of two maps held a byte per pixel; the changes' memory from `pool` when given.
Array<int> edgeChanges(const PackedEdges& referenceEdges, const PackedEdges& degradedEdges,
                       std::shared_ptr<PlanePool> pool = nullptr);

// The changed-structure zone: 1 on straight runs of at least four changed pixels, grown by one
// pixel, 0 elsewhere.
Array<int> structureZone(const Array<int>& changes);

// Structure weight R of a zone: 1 outside it and `co` inside it.
Array<float> zoneWeight(const Array<int>& zone, float co);

// Structure weight R of the edge changes: zoneWeight(structureZone(changes), co).
Array<float> structureWeight(const Array<int>& changes, float co);

}  // namespace lumetra
