#pragma once

// The comparison stages: band differences pooled into an error map, the block and structure
// weights, the Minkowski measure and its quality score.

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "image/Array.h"

namespace lumetra {

// Error map M: absolute band differences pooled over channels (weights 10, 5, 1 for A, C1, C2
// in the base and crown 2) and over orientations (Minkowski sum with exponent 4.5), then
// M = S0 + 10 E2 + 10 E3 + E4.  Sized by the reference bands; `workers` threads share it.
Array<float> pooledError(const Array<float>* reference, const Array<float>* degraded,
                         unsigned workers);

// The same error map built band by band, as a decomposition hands over its masked bands:
// each orientation group or band is pooled as soon as it exists and then dropped, so the 27
// degraded bands never exist at once, and each crown's sum is folded into the map (and freed)
// as soon as the crown is complete.  Sums and folds are taken in pooledError's order,
// whatever order the bands arrive in, so the map is the same to the last bit.
class StreamedError {
  public:
    // `reference`: the 27 masked bands of the original.
    explicit StreamedError(const Array<float>* reference);

    // Adds orientation group j (0: base, 1 .. 4: crown 2) from its masked A, C1 and C2 bands,
    // overwriting `a`.  addGroup and addBand may run on several threads at once for different
    // bands; a crown's later band waits until the earlier ones are added, so the bands must be
    // taken up in increasing order (each earlier one already added or in another thread's
    // hands).
    void addGroup(unsigned j, Array<float>& a, const Array<float>& c1, const Array<float>& c2);
    // Adds A band k of crown 3 or 4 (5 .. 16), overwriting `a`.
    void addBand(unsigned k, Array<float>& a);
    // Releases every waiting thread when a band will never arrive (the decomposition failed).
    void abandon();

    // M = S0 + 10 E2 + 10 E3 + E4, once all 17 groups and bands are in.
    Array<float> error();

  private:
    // Steps on one sequence (a crown's additions, or the folds of the crowns), taken in order.
    struct Turns {
        std::mutex mutex;
        std::condition_variable changed;
        unsigned next = 0;
        bool abandoned = false;
    };
    template <typename Step>
    void inTurn(Turns& turns, unsigned position, Step&& step);
    // sum += x, the sum made on the crown's first addition.
    void addInto(Array<float>& sum, const Array<float>& x) const;
    // M = M + weight E of a complete crown's sum, which is then freed.
    void fold(Array<float>& sum, float weight);

    const Array<float>* _reference;
    Array<float> _error;  // S0, then with each crown folded in
    Array<float> _crown2;
    Array<float> _crown3;
    Array<float> _crown4;
    Turns _turns2;  // position 0: the base; 1 .. 4: crown 2
    Turns _turns3;
    Turns _turns4;
    Turns _folds;  // crowns 2, 3 and 4
};

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
