#pragma once

// The radial and angular profiles the cortex band masks are made of (DcpFilter), over runs of
// elements.  Every value is made from its own element alone, so a run's values are those the
// same elements have in a whole plane.  The radius and angle are float; the comparisons and
// the raised cosine's argument are taken in double, and each value is rounded to float once.

#include <cstddef>
#include <span>

#include "image/VectorMath.h"

namespace lumetra {

// Radial low-pass, centre radius a and transition width b: profile[i] = 1 where radius[i] <
// a - b/2, the raised-cosine fall to 0 at a + b/2 on the way; elements at or beyond a + b/2
// keep their value.  The spans are of one length.
void mesaInto(std::span<float> profile, std::span<const float> radius, float a, float b,
              VectorWidth lanes = widestVectorWidth());

// Pair of opposite angular sectors centred at -c -/+ pi/2, full width a and transition b: 1 in
// each lobe's flat top, its raised-cosine fall around it; elements outside both lobes keep
// their value, and where both lobes reach an element the second one's value (the lobe at
// -c + pi/2) is kept.  The spans are of one length.
void fanInto(std::span<float> profile, std::span<const float> angle, float a, float b, float c,
             VectorWidth lanes = widestVectorWidth());

// With lanes Four (AVX, where the processor runs it), the loops run four elements at a time with
// the plain loops' operations in the same order and no product fused: the same floats.  With
// Two they are the plain loops, the reference the tests hold the others to.

}  // namespace lumetra
