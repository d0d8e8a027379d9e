#pragma once

// Checks a command line against declared argument patterns.
//
// The command line is read as groups, each a hyphen, a pattern's token and that token's
// sub-arguments, all separated by spaces:  -i a.ppm -v  is the group "i" with the sub-argument
// "a.ppm" and the group "v" with none. The line is split at every hyphen, so a hyphen inside a
// value (a file name, a negative number) starts a new group.
//
// Use: construct from the command line, declare the patterns with addPattern, call
// parseArguments once, then read getErrors and the records. Failures are reported only by
// parseArguments' result and the collected messages; nothing is thrown or printed.

#include <map>
#include <string>
#include <vector>

#include "args/Argument.h"

namespace lumetra {

class ArgumentLoader {
  public:
    // No patterns, no errors; the words argv[1] ... argv[argc - 1] joined by single spaces
    // (empty when argc <= 1). A null argv, or a null word in it, contributes nothing.
    ArgumentLoader(int argc, char** argv);

    // Declares a pattern; false, changing nothing, when the token is already declared.
    bool addPattern(std::string token, int expected, bool compulsory);

    bool argumentExists(const std::string& token) const;
    int getArgumentCount() const { return static_cast<int>(_patterns.size()); }

    // A copy of the token's record. An undeclared token is declared on the way with a default
    // Argument() record (empty token, count 0, not compulsory), of which a copy is returned.
    Argument getArgument(const std::string& token);

    std::string getArgumentString() const { return _argumentString; }
    std::vector<std::string> getErrors() const { return _errors; }

    // Reads the command line group by group into the declared records; true when no message
    // arose. A pattern declared with a fixed count (expected >= 0) may occur once; one declared
    // with any count (expected < 0) may occur again, each occurrence adding its sub-arguments
    // to the record. An undeclared token, a wrong sub-argument count or a second occurrence of
    // a fixed-count pattern ("Argument Pattern REPEATED within command line [i]") stops the
    // reading at once; the compulsory patterns not met are reported in either case, in
    // ascending token order. So when the result is true, every record is valid (isValid()).
    bool parseArguments();

  private:
    std::map<std::string, Argument> _patterns;  // declared patterns by token
    std::string _argumentString;                // command line without the program name
    std::vector<std::string> _errors;           // messages of parseArguments, in order
};

}  // namespace lumetra
