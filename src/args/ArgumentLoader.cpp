#include "args/ArgumentLoader.h"

#include <sstream>
#include <utility>

#include "args/StringTokenizer.h"

namespace lumetra {
namespace {

// A group starts at every hyphen; within a group the token and its sub-arguments are
// separated by spaces.
constexpr char kGroupDelimiter[] = "-";
constexpr char kWordDelimiter[] = " ";

}  // namespace

ArgumentLoader::ArgumentLoader(int argc, char** argv) {
    if (argv == nullptr) return;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        if (!_argumentString.empty()) _argumentString += ' ';
        _argumentString += argv[i];
    }
}

bool ArgumentLoader::addPattern(std::string token, int expected, bool compulsory) {
    if (argumentExists(token)) return false;
    Argument pattern(token, expected, compulsory);
    _patterns.emplace(std::move(token), std::move(pattern));
    return true;
}

bool ArgumentLoader::argumentExists(const std::string& token) const {
    return _patterns.find(token) != _patterns.end();
}

Argument ArgumentLoader::getArgument(const std::string& token) {
    return _patterns[token];
}

bool ArgumentLoader::parseArguments() {
    bool result = true;

    StringTokenizer groups(_argumentString, kGroupDelimiter);
    while (groups.hasMoreTokens()) {
        StringTokenizer words(groups.nextToken(), kWordDelimiter);
        const std::string token = words.nextToken();

        const auto found = _patterns.find(token);
        if (found == _patterns.end()) {
            std::ostringstream message;
            message << "Argument Pattern DOES NOT EXIST within loader [" << token << "]";
            _errors.push_back(message.str());
            result = false;
            break;
        }

        // A pattern with a fixed count takes exactly one occurrence: a second would leave a
        // record holding twice the count, which no reader of it expects.
        if (found->second.isInitiated() && found->second.getexpfectedSubArgCount() >= 0) {
            std::ostringstream message;
            message << "Argument Pattern REPEATED within command line [" << token << "]";
            _errors.push_back(message.str());
            result = false;
            break;
        }

        Argument record = found->second;
        record.setInitiated();

        // Each occurrence is checked on its own; the record is only stored back when it passes.
        const int count = words.countTokens();
        const int expected = record.getexpfectedSubArgCount();
        if (expected >= 0 && count != expected) {
            std::ostringstream message;
            message << "Incorrect number of sub arguments! Argument: [" << record.getArgToken()
                    << "]   Token Count: [" << count << "]  Sub-Arg Count: [" << expected << "] ";
            _errors.push_back(message.str());
            result = false;
            break;
        }

        while (words.hasMoreTokens()) record.addSubArg(words.nextToken());
        found->second = std::move(record);
    }

    for (const auto& entry : _patterns) {
        const Argument& pattern = entry.second;
        if (pattern.isCompulsory() && !pattern.isInitiated()) {
            std::ostringstream message;
            message << "Compulsory Argument Pattern DOES NOT EXIST within loader ["
                    << pattern.getArgToken() << "]";
            _errors.push_back(message.str());
            result = false;
        }
    }

    return result;
}

}  // namespace lumetra
