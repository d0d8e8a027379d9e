// Fuzz target: StringTokenizer and the atof/atoi readings of args/StringTokenizer.h.
//
// The bytes are split at NUL into the text, the delimiter and a filter.  Checked beyond the
// sanitizers: what the header promises (tokens taken with the construction delimiter are never
// empty and there are countTokens() of them), and that token_to_double and token_to_int read
// every token as the C library's strtod and strtol (clamped to int) read it in the C locale.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzWords.h"
#include "args/StringTokenizer.h"

namespace {

bool sameDouble(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// What atoi is meant to give, with strtol's saturation carried on to the limits of int.
int clampedStrtol(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void checkNumbers(const std::string& token) {
    // The C library stops at a NUL; the words here hold none.
    if (!sameDouble(lumetra::token_to_double(token), std::strtod(token.c_str(), nullptr))) {
        std::abort();
    }
    if (lumetra::token_to_int(token) != clampedStrtol(token)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = lumetra::fuzz::splitWords(data, size);
    words.resize(3);
    const std::string& text = words[0];
    const std::string& delim = words[1];
    const std::string& filter = words[2];

    lumetra::StringTokenizer tokens(text, delim);
    const int expected = tokens.countTokens();
    int taken = 0;
    while (tokens.hasMoreTokens()) {
        const std::string token = tokens.nextToken();
        if (token.empty()) std::abort();
        checkNumbers(token);
        ++taken;
    }
    if (taken != expected || !tokens.nextToken().empty()) std::abort();

    lumetra::StringTokenizer filtered(text, delim);
    // A deletion can join two halves into a new occurrence before the search position, which
    // the header allows to stay; so only the sanitizers judge this part.
    while (filtered.hasMoreTokens()) filtered.filterNextToken(filter);

    lumetra::StringTokenizer other(text, delim);
    while (other.hasMoreTokens()) other.nextToken(filter);
    return 0;
}
