#pragma once

// One declared command-line argument pattern and what the command line gave for it: the
// pattern's token (without the hyphen), how many sub-arguments each occurrence must carry,
// whether it must appear, and the sub-arguments collected so far.

#include <string>
#include <vector>

namespace lumetra {

class Argument {
  public:
    // Empty token, expected count 0, not compulsory, not initiated, no sub-arguments.
    Argument() = default;

    // A negative `expected` accepts any number of sub-arguments.
    Argument(std::string token, int expected, bool compulsory);

    std::string getArgToken() const { return _argToken; }
    int getexpfectedSubArgCount() const { return _expectedSubArgCount; }
    bool isCompulsory() const { return _compulsory; }
    bool isInitiated() const { return _initiated; }

    // Marks the pattern as met on the command line; always true.
    bool setInitiated();

    // Appends one sub-argument in command-line order; always true.
    bool addSubArg(std::string subArg);

    int getSubArgCount() const { return static_cast<int>(_subArgs.size()); }

    // True when any count is accepted or the collected count is the expected one.
    bool isValid() const;

    // Sub-argument number i, with i taken as an unsigned int and reduced modulo the number of
    // sub-arguments: 0 ... count - 1 address themselves, larger indices wrap around, and a
    // negative index wraps through its unsigned value (-1 with 3 sub-arguments is 4294967295,
    // which addresses 0). Without sub-arguments there is nothing to wrap onto: the result is
    // then an empty string, 0.0 and 0 respectively.
    std::string getSubArg(int i) const;
    double getSubArgFloat(int i) const;  // read as atof reads it
    int getSubArgInt(int i) const;       // read as atoi reads it

  private:
    bool _initiated = false;
    bool _compulsory = false;
    std::string _argToken;
    int _expectedSubArgCount = 0;
    std::vector<std::string> _subArgs;
};

}  // namespace lumetra
