#include "cli/QualityGates.h"

namespace lumetra {

namespace {

void appendName(std::string& names, const char* name) {
    if (!names.empty()) names += kGateSeparator;
    names += name;
}

}  // namespace

std::string failedGates(const QualityGates& gates, const GateValues& values) {
    // Written as "not within the limit" so that a value that is not a number fails.
    std::string names;
    if (gates.maxMeasure && !(values.measure <= *gates.maxMeasure)) appendName(names, kMeasureGate);
    if (gates.minScore && !(values.score >= *gates.minScore)) appendName(names, kScoreGate);
    if (gates.maxP99 && !(values.p99 <= *gates.maxP99)) appendName(names, kP99Gate);
    return names;
}

}  // namespace lumetra
