#pragma once

// The command line of `lumetra`, read into one plain struct.  Parsing prints help, version
// and usage errors itself (to the streams it is given) and says which exit status that ends
// with; everything else is left to the batch run.

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

// The engine's parameters with the desktop window's defaults.
struct EngineParameters {
    float alpha = 1.0f;
    float beta = 4.0f;
    float co = 5.0f;
    float a = 0.000751f;  // slope of the measure-to-score line
    float b = 3.8f;       // score of a zero measure
    bool intraA = true;
    bool interA = false;
    bool intraC1 = true;
    bool interC1 = false;
    bool intraC2 = true;
    bool interC2 = false;
};

enum class OutputFormat { Table, Csv, Tsv, Json };

struct Options {
    std::string original;
    std::vector<std::string> degraded;
    EngineParameters parameters;
    OutputFormat format = OutputFormat::Table;
    std::optional<std::filesystem::path> errorMapDir;
    std::optional<std::filesystem::path> floatMapDir;
    std::optional<unsigned> jobs;  // files scored at once; chosen by the run when not given
    unsigned threads = 0;          // threads of all the run's work; 0: every core
    bool quiet = false;
};

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // a file failed, or the run itself
inline constexpr int kExitUsage = 2;    // a bad command line or an unusable original

// What parsing a command line came to: the options to run with, or the exit status to end
// with at once (0 after --help or --version, kExitUsage after a usage error).
struct ParsedCommandLine {
    std::optional<Options> options;
    int exitStatus = kExitSuccess;
};

// Reads argv[1] ... argv[argc - 1].  Help and version text go to `out`, usage errors to
// `err`.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace lumetra
