#pragma once

// How a measure becomes a score on the 1 to 5 quality scale (higher is better): the model's
// own line, or a logistic curve fitted to subjective scores.  Every front end scores through
// scoreOf() below, so a mapping gives the same score wherever it is used.

#include <string>
#include <variant>
#include <vector>

namespace lumetra {

// score = b - a x measure, clamped to 1 .. 5: the model's own line, and the default.
struct LinearMapping {
    // Slope: the score lost per unit of measure (not 0).
    float a = 0.000751f;
    // Offset: the score of a zero measure.
    float b = 3.8f;

    bool operator==(const LinearMapping&) const = default;
};

// score = b2 + (b1 - b2) / (1 + exp(-(measure - b3) / |b4|)), clamped to 1 .. 5.  b1 is the
// score approached as the measure grows, b2 the score at small measures, b3 the measure
// halfway between them and |b4| the width of the transition in units of measure (not 0).
// A fit to scores of damaged images, whose measure grows with the damage, gives b1 < b2.
// Coefficients are doubles: they come from a fit and are kept to its last digit.
struct LogisticMapping {
    double b1 = 1.0;
    double b2 = 5.0;
    double b3 = 0.0;
    double b4 = 1.0;

    bool operator==(const LogisticMapping&) const = default;
};

using ScoreMapping = std::variant<LinearMapping, LogisticMapping>;

// The score of `measure` under `mapping`, clamped to 1 .. 5; -1 for a measure that is not
// a finite number (and, for the line, for a measure exactly on its lower bound, as the
// model defines it).
float scoreOf(float measure, const ScoreMapping& mapping);

// Appends one message per unusable coefficient, naming it and its rule as
// Parameters::problems() does ("b4 must be other than 0 (got 0)").
void appendMappingProblems(std::vector<std::string>& problems, const ScoreMapping& mapping);

// The mapping as people read it: "linear, a = 0.000751, b = 3.8" or
// "logistic, b1 = 1.2, b2 = 4.9, b3 = 800, b4 = 150" (shortest texts that read back exactly).
std::string mappingText(const ScoreMapping& mapping);

}  // namespace lumetra
