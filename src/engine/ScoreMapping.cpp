#include "engine/ScoreMapping.h"

#include <algorithm>
#include <cmath>

#include "engine/ParameterCheck.h"

namespace lumetra {

namespace {

// The quality scale: best and worst scores, and the score of a measure that is not a number.
constexpr float kBest = 5.0f;
constexpr float kWorst = 1.0f;
constexpr float kInvalid = -1.0f;

float linearScore(float mobj, const LinearMapping& line) {
    const float a = line.a;
    const float b = line.b;
    const float lo = (b - kBest) / a;
    const float hi = (b - kWorst) / a;
    if (mobj < lo) return kBest;
    if (mobj > lo && mobj <= hi) return b - a * mobj;
    if (mobj > hi && mobj > lo) return kWorst;
    return kInvalid;
}

// Computed in double, the coefficients' own precision; one rounding to float at the end.
float logisticScore(float measure, const LogisticMapping& curve) {
    if (!std::isfinite(measure)) return kInvalid;
    const double m = measure;
    const double score =
        curve.b2 + (curve.b1 - curve.b2) / (1.0 + std::exp(-(m - curve.b3) / std::fabs(curve.b4)));
    return static_cast<float>(std::clamp(score, double{kWorst}, double{kBest}));
}

}  // namespace

float scoreOf(float measure, const ScoreMapping& mapping) {
    if (const auto* line = std::get_if<LinearMapping>(&mapping)) return linearScore(measure, *line);
    return logisticScore(measure, std::get<LogisticMapping>(mapping));
}

void appendMappingProblems(std::vector<std::string>& problems, const ScoreMapping& mapping) {
    const auto any = [](auto) { return true; };
    if (const auto* line = std::get_if<LinearMapping>(&mapping)) {
        checkValue(problems, "a", line->a, "other than 0", [](float v) { return v != 0.0f; });
        checkValue(problems, "b", line->b, "a finite number", any);
        return;
    }
    const LogisticMapping& curve = std::get<LogisticMapping>(mapping);
    checkValue(problems, "b1", curve.b1, "a finite number", any);
    checkValue(problems, "b2", curve.b2, "a finite number", any);
    checkValue(problems, "b3", curve.b3, "a finite number", any);
    checkValue(problems, "b4", curve.b4, "other than 0", [](double v) { return v != 0.0; });
}

std::string mappingText(const ScoreMapping& mapping) {
    if (const auto* line = std::get_if<LinearMapping>(&mapping)) {
        return "linear, a = " + valueText(line->a) + ", b = " + valueText(line->b);
    }
    const LogisticMapping& curve = std::get<LogisticMapping>(mapping);
    return "logistic, b1 = " + valueText(curve.b1) + ", b2 = " + valueText(curve.b2) +
           ", b3 = " + valueText(curve.b3) + ", b4 = " + valueText(curve.b4);
}

}  // namespace lumetra
