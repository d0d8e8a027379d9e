#include "args/StringTokenizer.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>
#include <utility>

namespace lumetra {
namespace {

// Removes every occurrence of `delim` that directly follows another one, so that no empty token
// lies between two delimiters. `delim` must not be empty.
std::string collapseDelimiterRuns(std::string text, const std::string& delim) {
    std::string::size_type pos = 0;
    while ((pos = text.find(delim, pos)) != std::string::npos) {
        pos += delim.size();
        while (text.compare(pos, delim.size(), delim) == 0) text.erase(pos, delim.size());
    }
    return text;
}

// Drops one leading and then one trailing occurrence of `delim`. The trailing one is tested
// by position arithmetic that cannot wrap when `delim` is longer than the text.
std::string trimDelimiter(std::string text, const std::string& delim) {
    if (text.compare(0, delim.size(), delim) == 0) text.erase(0, delim.size());
    const std::string::size_type last = text.rfind(delim);
    if (last != std::string::npos && last + delim.size() == text.size()) text.erase(last);
    return text;
}

// Deletes `filter` from `text` occurrence by occurrence, searching again from the position of
// each deletion. `filter` must not be empty, or the search would never advance.
std::string eraseAll(std::string text, const std::string& filter) {
    std::string::size_type pos = 0;
    while ((pos = text.find(filter, pos)) != std::string::npos) text.erase(pos, filter.size());
    return text;
}

// The text after the leading white space the C library skips (isspace in the C locale).
std::string_view skipSpace(std::string_view text) {
    const std::string_view::size_type start = text.find_first_not_of(" \t\n\v\f\r");
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

bool startsWithHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// A hex number whose exponent starts "+-" ("1p+-2") as strtod reads it: the exponent is no
// exponent, so the number ends before the 'p'. The C++ library's hex from_chars takes the '-'
// as the exponent's sign instead, reading 2^-2 where strtod reads 1.
std::string_view withoutBrokenHexExponent(std::string_view hexNumber) {
    const std::string_view::size_type marker =
        hexNumber.find_first_not_of("0123456789abcdefABCDEF.");
    if (marker != std::string_view::npos && hexNumber.substr(marker + 1, 2) == "+-" &&
        (hexNumber[marker] == 'p' || hexNumber[marker] == 'P')) {
        return hexNumber.substr(0, marker);
    }
    return hexNumber;
}

// The value of a number too large or too small for a double, as strtod gives it: infinity
// when its magnitude is above the range, zero when below, with its sign.  The number is read
// again as a long double to learn its magnitude; beyond even that range, the sign of its
// exponent tells.
double outOfRangeValue(std::string_view number, std::chars_format format, bool negative) {
    long double wide = 0.0L;
    const auto [stop, error] =
        std::from_chars(number.data(), number.data() + number.size(), wide, format);
    bool large = std::fabs(wide) > 1.0L;
    if (error != std::errc()) {
        const std::string_view matched = number.substr(0, stop - number.data());
        const auto exponent = matched.find_first_of(format == std::chars_format::hex ? "pP" : "eE");
        large = exponent == std::string_view::npos || exponent + 1 == matched.size() ||
                matched[exponent + 1] != '-';
    }
    const double magnitude = large ? HUGE_VAL : 0.0;
    return negative ? -magnitude : magnitude;
}

}  // namespace

StringTokenizer::StringTokenizer(const std::string& str, const std::string& delim) {
    if (str.empty() || delim.empty()) return;
    _delim = delim;
    _str = trimDelimiter(collapseDelimiterRuns(str, _delim), _delim);
}

int StringTokenizer::countTokens() const {
    if (_str.empty() || _delim.empty()) return 0;
    int count = 1;
    for (std::string::size_type pos = _str.find(_delim); pos != std::string::npos;
         pos = _str.find(_delim, pos + _delim.size())) {
        ++count;
    }
    return count;
}

std::string StringTokenizer::nextToken() {
    return nextToken(_delim);
}

std::string StringTokenizer::nextToken(const std::string& delim) {
    const std::string::size_type pos = delim.empty() ? std::string::npos : _str.find(delim);
    std::string token;
    if (pos == std::string::npos) {
        token.swap(_str);
    } else {
        token = _str.substr(0, pos);
        _str.erase(0, pos + delim.size());
    }
    return token;
}

std::string StringTokenizer::filterNextToken(const std::string& filter) {
    std::string token = nextToken();
    if (filter.empty()) return token;
    return eraseAll(std::move(token), filter);
}

double StringTokenizer::nextFloatToken() {
    return token_to_double(nextToken());
}

int StringTokenizer::nextIntToken() {
    return token_to_int(nextToken());
}

// strtod's reading with from_chars, which takes neither white space, a '+' nor a "0x" prefix
// and leaves the value alone when the number is out of range: those are handled here.
double token_to_double(const std::string& text) {
    std::string_view rest = skipSpace(text);
    const bool negative = !rest.empty() && rest.front() == '-';
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '-') return 0.0;  // from_chars would take a second sign
    const bool hex = startsWithHexPrefix(rest);
    if (hex) rest = withoutBrokenHexExponent(rest.substr(2));
    // After "0x" without a hex number ("0x-1", "0xnan", "0x.p1") strtod reads the 0 before the
    // x, keeping the sign; from_chars would take a sign, "inf" or "nan" there as the number.
    const double zeroBeforeX = negative ? -0.0 : 0.0;
    if (hex && !(std::isxdigit(static_cast<unsigned char>(rest.front())) || rest.front() == '.')) {
        return zeroBeforeX;
    }
    const std::chars_format format = hex ? std::chars_format::hex : std::chars_format::general;
    double value = 0.0;
    const auto error = std::from_chars(rest.data(), rest.data() + rest.size(), value, format).ec;
    if (error == std::errc::result_out_of_range) return outOfRangeValue(rest, format, negative);
    if (error != std::errc()) return hex ? zeroBeforeX : 0.0;  // else no number at all
    return negative ? -value : value;
}

// strtol's decimal reading with from_chars; a number beyond the range of int is clamped to
// INT_MIN or INT_MAX, as strtol saturates at the limits of long.
int token_to_int(const std::string& text) {
    std::string_view rest = skipSpace(text);
    const bool negative = !rest.empty() && rest.front() == '-';
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) rest.remove_prefix(1);
    unsigned long long magnitude = 0;
    const auto error = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude).ec;
    if (error == std::errc::invalid_argument) return 0;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(INT_MAX) + 1u : INT_MAX;
    if (error == std::errc::result_out_of_range || magnitude >= limit) {
        return negative ? INT_MIN : INT_MAX;
    }
    const int value = static_cast<int>(magnitude);
    return negative ? -value : value;
}

}  // namespace lumetra
