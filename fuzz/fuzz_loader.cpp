// Fuzz target: ArgumentLoader on any command line, with a fixed set of patterns: one
// compulsory pattern with one sub-argument, a switch, one taking any number and one taking two.
//
// Checked beyond the sanitizers, what the header promises: parseArguments() is true exactly
// when no message arose, and then every compulsory pattern was met and every record holds a
// valid count of sub-arguments; the parse declares no pattern of its own.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzWords.h"
#include "args/ArgumentLoader.h"

namespace {

struct Pattern {
    const char* token;
    int expected;
    bool compulsory;
};

constexpr Pattern kPatterns[] = {
    {"i", 1, true}, {"v", 0, false}, {"f", -1, false}, {"p", 2, false}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = lumetra::fuzz::splitWords(data, size);
    std::string program = "prog";
    std::vector<char*> argv = lumetra::fuzz::argvOf(program, words);
    lumetra::ArgumentLoader loader(static_cast<int>(argv.size()) - 1, argv.data());
    for (const Pattern& pattern : kPatterns) {
        loader.addPattern(pattern.token, pattern.expected, pattern.compulsory);
    }

    const bool ok = loader.parseArguments();
    if (ok != loader.getErrors().empty()) std::abort();
    if (loader.getArgumentCount() != static_cast<int>(std::size(kPatterns))) std::abort();
    if (!ok) return 0;
    for (const Pattern& pattern : kPatterns) {
        const lumetra::Argument record = loader.getArgument(pattern.token);
        if (pattern.compulsory && !record.isInitiated()) std::abort();
        if (record.isInitiated() && !record.isValid()) std::abort();
    }
    return 0;
}
