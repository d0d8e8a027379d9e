#pragma once

// The comparison stages: band differences pooled into an error map, the block and structure
// weights, the Minkowski measure and its quality score.

#include "image/Array.h"

namespace lumetra {

// Error map M: absolute band differences pooled over channels (weights 10, 5, 1 for A, C1, C2
// in the base and crown 2) and over orientations (Minkowski sum with exponent 4.5), then
// M = S0 + 10 E2 + 10 E3 + E4.  Sized by the reference bands; `workers` threads share it.
Array<float> pooledError(const Array<float>* reference, const Array<float>* degraded,
                         unsigned workers);

// Block weight B: 32 x 32 block means of the error map normalised by the largest block mean
// and squared.  A map without error (largest block mean 0) weighs 0 everywhere.
Array<float> blockWeight(const Array<float>& error);

// 255 where an edge appeared or vanished between the two edge maps, 0 elsewhere.
Array<int> edgeChanges(const Array<int>& referenceEdges, const Array<int>& degradedEdges);

// Structure weight R: 1 outside the changed-structure zone (straight runs of at least four
// changed pixels, grown by one pixel) and `co` inside it.
Array<float> structureWeight(const Array<int>& changes, float co);

// Minkowski mean with exponent beta of M x R x B^alpha, rounded to float.
float minkowskiMeasure(const Array<float>& error, const Array<float>& structure,
                       const Array<float>& block, float alpha, float beta);

}  // namespace lumetra
