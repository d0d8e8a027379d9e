#include "engine/Parameters.h"

#include <charconv>
#include <cmath>

#include "image/Error.h"

namespace lumetra {

namespace {

// The shortest text that reads back as the same value, whatever the caller's locale.
template <typename T>
std::string numberText(T value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// Adds "<name> must be <rule> (got <value>)" when the value is not a finite number or breaks
// its rule.
template <typename T, typename Rule>
void check(std::vector<std::string>& problems, const char* name, T value, const char* rule,
           Rule&& holds) {
    if (std::isfinite(value) && holds(value)) return;
    const std::string what = std::isfinite(value) ? rule : "a finite number";
    problems.push_back(std::string(name) + " must be " + what + " (got " + numberText(value) + ")");
}

}  // namespace

std::vector<std::string> Parameters::problems() const {
    std::vector<std::string> found;
    check(found, "alpha", alpha, "at least 0", [](float v) { return v >= 0.0f; });
    check(found, "beta", beta, "greater than 0", [](float v) { return v > 0.0f; });
    check(found, "co", co, "at least 0", [](float v) { return v >= 0.0f; });
    check(found, "a", a, "other than 0", [](float v) { return v != 0.0f; });
    check(found, "b", b, "a finite number", [](float) { return true; });
    check(found, "pixels per degree", pixelsPerDegree, "greater than 0",
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
