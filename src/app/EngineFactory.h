#pragma once

// What a batch run needs of the metric engine, as function objects so that the window and the
// batch can be driven by a recording fake in tests.  Production wires Lumetra2 (Lumetra2Engine.h).

#include <functional>
#include <string>

#include "engine/Comparison.h"
#include "image/RgbImage.h"

namespace lumetra {

// The eleven values the main window hands to the engine, in the engine constructor's order:
// the left-hand column of fields (alpha, beta, co), the right-hand one (a, b), then the six
// masking switches row by row.
struct MeasureParameters {
    float alpha;
    float beta;
    float co;
    float a;
    float b;
    bool intraA;
    bool interA;
    bool intraC1;
    bool interC1;
    bool intraC2;
    bool interC2;
};

// Scores one degraded image read from `path` against the original the scorer was built for.
// Throws SizeMismatchError (naming `path`) when the sizes differ, or another Error.
using Scorer = std::function<Comparison(const std::string& path, const RgbImage& degraded)>;

// Builds the engine for one original once; the scorer it returns owns that engine.
// Throws Error when the engine cannot be set up (an original that is too small, FFT failures).
using EngineFactory =
    std::function<Scorer(const RgbImage& original, const MeasureParameters& parameters)>;

}  // namespace lumetra
