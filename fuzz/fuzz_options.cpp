// Fuzz target: the command line of `lumetra` (parseCommandLine in cli/Options.h).
//
// The bytes are split at NUL into the words after the program name.  Checked beyond the
// sanitizers: parsing never writes to the process's own streams (only to the two it is
// given), never ends the process, and its result is one of the documented ones: options that
// Parameters::validate() accepts with nothing printed but warnings on `err`, or no options with
// status 0 (help, version: text on `out`) or a usage error (kExitUsage, a message on `err`).

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "FuzzWords.h"
#include "cli/Options.h"

namespace {

// A stream buffer that ends the run at the first character written to it.
class ForbiddenOutput : public std::streambuf {
  protected:
    int_type overflow(int_type) override { std::abort(); }
    std::streamsize xsputn(const char*, std::streamsize) override { std::abort(); }
};

// Points std::cout, std::cerr and std::clog at ForbiddenOutput for its lifetime.
class ProcessStreamsForbidden {
  public:
    ProcessStreamsForbidden()
        : _out(std::cout.rdbuf(&_forbidden)),
          _err(std::cerr.rdbuf(&_forbidden)),
          _log(std::clog.rdbuf(&_forbidden)) {}
    ~ProcessStreamsForbidden() {
        std::cout.rdbuf(_out);
        std::cerr.rdbuf(_err);
        std::clog.rdbuf(_log);
    }
    ProcessStreamsForbidden(const ProcessStreamsForbidden&) = delete;
    ProcessStreamsForbidden& operator=(const ProcessStreamsForbidden&) = delete;

  private:
    ForbiddenOutput _forbidden;
    std::streambuf* _out;
    std::streambuf* _err;
    std::streambuf* _log;
};

// Whether `text` is nothing but whole lines of warnings ("lumetra: warning: ...\n"), which
// options that are accepted may bring (viewing conditions outside the model's range).
bool onlyWarnings(const std::string& text) {
    const std::string prefix = "lumetra: warning: ";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos || text.compare(at, prefix.size(), prefix) != 0) return false;
        at = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = lumetra::fuzz::splitWords(data, size);
    std::string program = "lumetra";
    std::vector<char*> argv = lumetra::fuzz::argvOf(program, words);

    std::ostringstream out, err;
    lumetra::ParsedCommandLine parsed;
    {
        const ProcessStreamsForbidden guard;
        parsed =
            lumetra::parseCommandLine(static_cast<int>(argv.size()) - 1, argv.data(), out, err);
    }
    if (parsed.options) {
        if (parsed.exitStatus != lumetra::kExitSuccess || !out.str().empty() ||
            !onlyWarnings(err.str())) {
            std::abort();
        }
        try {
            parsed.options->parameters.validate();
        } catch (...) {
            std::abort();
        }
    } else if (parsed.exitStatus == lumetra::kExitSuccess) {
        if (out.str().empty()) std::abort();
    } else if (parsed.exitStatus != lumetra::kExitUsage || err.str().empty()) {
        std::abort();
    }
    return 0;
}
