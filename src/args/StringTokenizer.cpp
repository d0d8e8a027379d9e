#include "args/StringTokenizer.h"

#include <climits>
#include <cstdlib>
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

double token_to_double(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

int token_to_int(const std::string& text) {
    // strtol saturates at LONG_MIN/LONG_MAX on overflow; the clamp carries that onto int.
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace lumetra
