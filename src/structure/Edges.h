#pragma once

// Edge map of an opponent-colour image: each of the planes A, C1 and C2 is divided by its
// mean and run through the Canny builder of the metric (sigma 1, thresholds 6 and 25); the
// result is the union of the three maps (255 edge, 0 none).

#include <cstdint>
#include <memory>
#include <vector>

#include "image/Array.h"

namespace lumetra {

class AccImage;

// The merged edge map of the image's three planes, rows() x cols().  The three planes are
// analysed by up to `workers` threads of the caller's task arena at once (0: all of them; the
// result does not depend on it).
Array<int> edges(const AccImage& image, unsigned workers = 1);

// The edge map of one plane: Canny of the plane divided by its mean; an empty (0 x 0) map
// when the mean is 0 (for example an all-0 plane), which would make every quotient
// non-finite.
Array<int> planeEdges(const Array<float>& plane);

// Sets the edge pixels of `map` in `merged` (an empty map adds nothing): the union of the
// planes' maps, whatever the order they are added in.
void mergeEdges(Array<int>& merged, const Array<int>& map);

// An edge map held in one byte per pixel, a quarter of its memory: every value of a
// two-valued map (0 or 255) fits.
struct PackedEdges {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    std::vector<std::uint8_t> values;
};
PackedEdges packed(const Array<int>& map);
// The map as ints again, its memory from `pool` when given.
Array<int> unpacked(const PackedEdges& map, std::shared_ptr<PlanePool> pool = nullptr);

// The same for three planes of equal size, given in the order A, C1, C2.  A plane whose mean
// is 0 (for example all 0) contributes no edge pixels.
Array<int> edges(const Array<float>& a, const Array<float>& c1, const Array<float>& c2,
                 unsigned workers = 1);

}  // namespace lumetra
