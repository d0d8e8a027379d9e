#include "args/Argument.h"

#include <utility>

#include "args/StringTokenizer.h"

namespace lumetra {

Argument::Argument(std::string token, int expected, bool compulsory)
    : _compulsory(compulsory), _argToken(std::move(token)), _expectedSubArgCount(expected) {}

bool Argument::setInitiated() {
    _initiated = true;
    return true;
}

bool Argument::addSubArg(std::string subArg) {
    _subArgs.push_back(std::move(subArg));
    return true;
}

bool Argument::isValid() const {
    return _expectedSubArgCount < 0 || _expectedSubArgCount == getSubArgCount();
}

std::string Argument::getSubArg(int i) const {
    if (_subArgs.empty()) return {};
    return _subArgs[static_cast<unsigned int>(i) % _subArgs.size()];
}

// Without sub-arguments getSubArg gives an empty string, which both conversions read as 0.
double Argument::getSubArgFloat(int i) const {
    return token_to_double(getSubArg(i));
}

int Argument::getSubArgInt(int i) const {
    return token_to_int(getSubArg(i));
}

}  // namespace lumetra
