#pragma once

// The plain reference path of the metric: the model written out step by step over whole
// planes, with full-size band masks, full complex spectra through fft/ifft, no cropping, no
// streaming and no threads.  It is slow and obvious on purpose: property tests hold the fast
// engine (Lumetra2) to it.
//
// Where the model leaves a float/double rounding open, this path makes the choice the engine
// documents, so that the two agree to a few units in the last place: the A plane divided by
// its mean before the transform, spectra rounded to float, float products per element,
// orientation powers x^4.5 in double rounded to float, and a map without error weighing 0 in
// every block.

#include <array>

#include "engine/BandIndex.h"
#include "engine/Parameters.h"
#include "image/AccImage.h"
#include "image/Array.h"
#include "image/RgbImage.h"

namespace lumetra {

using ReferenceBands = std::array<Array<float>, kBandCount>;

// The reference path reads the same parameter type as the engine.
using ReferenceParameters = Parameters;

// What one comparison yields: the measure, its score on the 1..5 scale (-1 when the measure
// is not a number) and the error map M before any weighting.
struct ReferenceComparison {
    float measure = 0.0f;
    float score = 0.0f;
    Array<float> error;
};

// The 27 masked bands of an opponent image, in the order of the cortex filter bank.
ReferenceBands referenceBands(const AccImage& image, const ReferenceParameters& p);

// The bands divided by the masking thresholds that the switches of `p` build from them.
ReferenceBands referenceMasked(ReferenceBands bands, const ReferenceParameters& p);

// Scores `degraded` against `original` (both the same size, at least 8 x 8).
ReferenceComparison referenceCompare(const RgbImage& original, const RgbImage& degraded,
                                     const ReferenceParameters& p);

}  // namespace lumetra
