#pragma once

// The judging of one parameter value, shared by Parameters and ScoreMapping so that every
// message reads alike: "<name> must be <rule> (got <value>)".

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace lumetra {

// The shortest text that reads back as the same value, whatever the caller's locale.
template <typename T>
std::string valueText(T value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// Adds "<name> must be <rule> (got <value>)" when the value is not a finite number or breaks
// its rule.
template <typename T, typename Rule>
void checkValue(std::vector<std::string>& problems, const char* name, T value, const char* rule,
                Rule&& holds) {
    if (std::isfinite(value) && holds(value)) return;
    const std::string what = std::isfinite(value) ? rule : "a finite number";
    problems.push_back(std::string(name) + " must be " + what + " (got " + valueText(value) + ")");
}

}  // namespace lumetra
