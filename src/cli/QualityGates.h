#pragma once

// Quality gates: limits every scored file must keep, so that a continuous-integration job of a
// renderer or a codec can fail on a regression.  Each gate is strict: a file fails it only when
// its value is beyond the limit (a value equal to the limit passes), and a value that is not a
// number fails, since nothing can be said of its quality.

#include <optional>
#include <string>

namespace lumetra {

// The gate names as the rows show them, in the order they are listed.
inline constexpr const char* kMeasureGate = "measure";
inline constexpr const char* kScoreGate = "score";
inline constexpr const char* kP99Gate = "p99";
// Joins the names of the gates one file failed: "measure+p99".
inline constexpr const char* kGateSeparator = "+";

struct QualityGates {
    std::optional<float> maxMeasure;  // --fail-above: a measure above it fails (lower is better)
    std::optional<float> minScore;    // --fail-below: a score below it fails (higher is better)
    std::optional<float> maxP99;      // --fail-p99-above: an error map whose 99th percentile is
                                      // above it fails (lower is better)

    bool any() const { return maxMeasure || minScore || maxP99; }
};

// What the gates judge of one scored file.  `p99` (the 99th percentile of its error map) is
// read only when the p99 gate is given, so it need not be computed otherwise.
struct GateValues {
    float measure;
    float score;
    float p99;
};

// The names of the gates the file fails, in the order measure, score, p99, joined by "+";
// empty when it passes every gate given.
std::string failedGates(const QualityGates& gates, const GateValues& values);

}  // namespace lumetra
