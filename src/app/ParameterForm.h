#pragma once

// The parameter fields of the main window as text: the five model parameters and the viewing
// conditions, read the same whatever the locale and judged by Parameters::problems(), so that
// the window can mark each unusable field as it is typed.  Pure functions, tested without a
// window.

#include <QString>
#include <array>
#include <cstddef>

#include "engine/Parameters.h"

namespace lumetra {

// The fields in the order Parameters::problems() names their values.
enum class ParameterField : unsigned { Alpha, Beta, Co, A, B, PixelsPerDegree };
inline constexpr std::size_t kParameterFieldCount = 6;

// One text or one message per field, indexed by ParameterField.
using FieldTexts = std::array<QString, kParameterFieldCount>;

inline std::size_t fieldIndex(ParameterField field) {
    return static_cast<std::size_t>(field);
}

// The fields read into parameters, with what is wrong with each.
struct FormReading {
    // The switches and any unreadable value of the base, every readable field's number.
    Parameters parameters;
    // Why each field cannot be used, in Parameters' words ("beta must be greater than 0
    // (got 0)"); empty for a usable field.
    FieldTexts problems;

    bool usable() const;
    // Every problem in field order, joined by "; "; empty when the form is usable.
    QString message() const;
};

// Reads each field (surrounding white space ignored) as a float, and pixels per degree as a
// double, with the numbers readFloat and readDouble accept; a field that holds no such
// number is "<name> must be a number (got "<text>")", with a hint when it holds a decimal
// comma.  The numbers read are then judged by Parameters::problems().  The a and b fields are
// the coefficients of the score line: when `base` scores with another mapping (a logistic
// curve from a profile) they are not read, and the base's mapping is kept.
FormReading readParameterFields(const FieldTexts& texts, const Parameters& base);

// The shortest texts that read back as the values of `parameters`; the a and b fields are
// empty when the parameters score with another mapping than a line.
FieldTexts parameterFieldTexts(const Parameters& parameters);

}  // namespace lumetra
