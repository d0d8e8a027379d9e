#pragma once

// Numbers as text and text as numbers, the same whatever the caller's C locale: a program
// that sets LC_NUMERIC (Qt does) must not see "3,8" printed or "3.8" refused.  Built on
// std::to_chars and std::from_chars, which never look at the locale.

#include <optional>
#include <string>
#include <string_view>

namespace lumetra {

// `value` with `digits` significant digits as printf's "%.*g" writes it in the C locale:
// (1234567, 6) -> "1.23457e+06", (0.5, 9) -> "0.5".  Not a number is "nan" whatever its sign;
// infinities are "inf" and "-inf".
std::string generalText(double value, int digits);

// `value` in decimal digits: 1024 -> "1024".
std::string decimalText(unsigned long long value);

// The shortest text that reads back as the same float: 3.8f -> "3.8", 4 -> "4".
std::string shortestText(float value);

// The whole of `text` read as a decimal float: an optional sign, digits with an optional
// point and exponent, or "inf", "infinity" and "nan" in any case.  Nothing when the text
// holds anything else (white space included) or a number outside the range of float.
std::optional<float> readFloat(std::string_view text);

// The same read as a double: nothing for a number outside the range of double.
std::optional<double> readDouble(std::string_view text);

// The whole of `text` read as a decimal unsigned number, with an optional '+'.  Nothing when
// it holds anything else or a number outside the range of unsigned.
std::optional<unsigned> readUnsigned(std::string_view text);

}  // namespace lumetra
