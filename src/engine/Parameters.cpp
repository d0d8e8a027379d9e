#include "engine/Parameters.h"

#include "engine/ParameterCheck.h"
#include "image/Error.h"

namespace lumetra {

std::vector<std::string> Parameters::problems() const {
    std::vector<std::string> found;
    checkValue(found, "alpha", alpha, "at least 0", [](float v) { return v >= 0.0f; });
    checkValue(found, "beta", beta, "greater than 0", [](float v) { return v > 0.0f; });
    checkValue(found, "co", co, "at least 0", [](float v) { return v >= 0.0f; });
    appendMappingProblems(found, mapping);
    checkValue(found, "pixels per degree", pixelsPerDegree, "greater than 0",
               [](double v) { return v > 0.0; });
    return found;
}

void Parameters::validate() const {
    const std::vector<std::string> found = problems();
    if (found.empty()) return;
    std::string message = found.front();
    for (std::size_t i = 1; i < found.size(); ++i) message += "; " + found[i];
    throw ParameterError(message);
}

}  // namespace lumetra
