#pragma once

// What a batch run needs of the metric engine, as function objects so that the window and the
// batch can be driven by a recording fake in tests.  Production wires Lumetra2 (Lumetra2Engine.h).

#include <functional>
#include <string>

#include "engine/Comparison.h"
#include "engine/Explanation.h"
#include "engine/Parameters.h"
#include "image/RgbImage.h"

namespace lumetra {

// Scores one degraded image read from `path` against the original the scorer was built for.
// Throws SizeMismatchError (naming `path`) when the sizes differ, or another Error.
using Scorer = std::function<Comparison(const std::string& path, const RgbImage& degraded)>;

// Builds the engine for one original once; the scorer it returns owns that engine.
// Throws Error when the engine cannot be set up (an original that is too small, FFT failures).
using EngineFactory = std::function<Scorer(const RgbImage& original, const Parameters& parameters)>;

// Explains one comparison for the viewer: builds an engine for the original and returns what
// makes the degraded image's measure (engine/Explanation.h).  Throws SizeMismatchError when
// the sizes differ, or another Error.
using Explainer = std::function<Explanation(const RgbImage& original, const RgbImage& degraded,
                                            const Parameters& parameters)>;

}  // namespace lumetra
