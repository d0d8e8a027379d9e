#pragma once

// Text building blocks of the result rows: the two number formats and the quoting of a field
// for TSV and JSON (CSV fields are quoted by args/CsvRow.h, shared with the desktop export).
// Numbers are written the same whatever the caller's C locale.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumetra {

// Six significant digits as the desktop table shows them (printf "%g" with precision 6):
// 1234567 -> "1.23457e+06", 0.5 -> "0.5", 4 -> "4".  Not a number is "nan".
std::string shortNumber(double value);

// Nine significant digits (printf "%.9g"), enough to read every float back exactly.
// Not a number is "nan".
std::string fullNumber(float value);

// A TSV field: backslash, tab, LF and CR written as \\, \t, \n and \r, so a field never
// breaks a column or a row.
std::string tsvField(std::string_view text);

// A JSON string literal with its quotes.  Quote, backslash and control characters are
// escaped; valid UTF-8 passes through; a byte that is not part of valid UTF-8 becomes
// U+FFFD so the document stays valid.
std::string jsonString(std::string_view text);

// Control characters of a path shown in the table as escapes (\n, \t, \x1b ...), so one row
// stays one line.
std::string printable(std::string_view text);

// Terminal columns the text takes, counting one per UTF-8 code point.
std::size_t displayWidth(std::string_view text);

// Adds `problem` to the "; "-separated list `problems` of one file's problems; an empty
// problem adds nothing.
void appendProblem(std::string& problems, const std::string& problem);

}  // namespace lumetra
