#pragma once

// The model's user parameters, the one place their defaults are written (the score mapping's in
// ScoreMapping.h), and the one judge of their values.  The command line, the desktop window,
// the Python package and calibration profiles all read their values into this type and ask it
// whether they are usable.

#include <string>
#include <string_view>
#include <vector>

#include "engine/BandMasking.h"
#include "engine/ScoreMapping.h"
#include "model/ViewingGeometry.h"

namespace lumetra {

struct Parameters {
    // Exponent of the 32 x 32 block weight: 0 weighs every block alike, larger values let the
    // blocks with the most error dominate.
    float alpha = 1.0f;
    // Exponent of the Minkowski mean of the weighted error map: larger values stress the worst
    // pixels.
    float beta = 4.0f;
    // Weight of the pixels where the edge structure changed (1 elsewhere).
    float co = 5.0f;
    // How the measure becomes a score from 1 to 5: the model's line by default.
    ScoreMapping mapping;
    // The six masking switches: intra-channel masking of A, C1 and C2, and masking of a
    // channel by the others.  inter A and inter C2 enable no step of their own.
    bool intraA = true;
    bool interA = false;
    bool intraC1 = true;
    bool interC1 = false;
    bool intraC2 = true;
    bool interC2 = false;
    // Viewing geometry: pixels per degree of visual angle at the observer's eye.  Larger
    // values (a farther observer or a denser screen) make fine detail less visible.
    double pixelsPerDegree = kDefaultPixelsPerDegree;

    MaskSwitches switches() const {
        return MaskSwitches{intraA, interA, intraC1, interC1, intraC2, interC2};
    }

    // One message per unusable value, in field order, each naming the value and the rule
    // ("beta must be greater than 0 (got -1)"); empty when every value is usable.
    std::vector<std::string> problems() const;

    // Throws ParameterError carrying problems() joined by "; " when there is any.
    void validate() const;

    bool operator==(const Parameters&) const = default;
};

// The model's named values, listed once for every front end.  The key is the profile's JSON
// key and the Python keyword; the command line's option is the key with '-' for '_'
// ("--intra-c1"); `what` is the help text all of them show.
template <typename Value>
struct NamedParameter {
    std::string_view key;
    Value Parameters::*member;
    std::string_view what;
};
using NumberField = NamedParameter<float>;
using SwitchField = NamedParameter<bool>;

inline constexpr NumberField kNumberFields[] = {
    {"alpha", &Parameters::alpha, "Exponent of the 32 x 32 block weight (>= 0)"},
    {"beta", &Parameters::beta, "Exponent of the Minkowski mean (> 0)"},
    {"co", &Parameters::co, "Weight of pixels where the edge structure changed (>= 0)"}};

inline constexpr SwitchField kSwitchFields[] = {
    {"intra_a", &Parameters::intraA, "Intra-channel masking of the A bands"},
    {"inter_a", &Parameters::interA, "Inter-channel switch of A (no masking step of its own)"},
    {"intra_c1", &Parameters::intraC1, "Intra-channel masking of the C1 bands"},
    {"inter_c1", &Parameters::interC1, "Masking of the C1 bands by the A and C2 bands"},
    {"intra_c2", &Parameters::intraC2,
     "Intra-channel masking of the C2 bands, then their masking by C1"},
    {"inter_c2", &Parameters::interC2, "Inter-channel switch of C2 (no masking step of its own)"}};

// How an engine runs, as opposed to what it computes.
class BandFiltersCache;

struct ExecutionOptions {
    // Threads an engine's work may use at once; 0 runs it in the caller's task arena (every
    // core unless the caller has limited it).
    unsigned threads = 0;
    // Filters already made for engines of the same size and viewing condition, kept by
    // whoever makes several engines (read only while the engine is made); null: the engine
    // makes its own.
    BandFiltersCache* filters = nullptr;
    // Keep the original's three spectra instead of its 27 masked bands, and make its bands
    // again beside each degraded image's, task by task: about 100 bytes per pixel less held by
    // the engine for about half as much work again per image.  The results are the same to the
    // last bit.
    bool lowMemory = false;
};

}  // namespace lumetra
