#pragma once

// The command line of `lumetra`, read into one plain struct.  Parsing prints help, version
// and usage errors itself (to the streams it is given) and says which exit status that ends
// with; everything else is left to the batch run.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/QualityGates.h"
#include "engine/Parameters.h"
#include "image/ColourMap.h"
#include "image/HeatMap.h"
#include "image/ImageLoading.h"
#include "image/RgbImage.h"

namespace lumetra {

enum class OutputFormat { Table, Csv, Tsv, Json };

struct Options {
    std::string original;
    std::vector<std::string> degraded;
    Parameters parameters;  // judged usable by Parameters::validate()
    OutputFormat format = OutputFormat::Table;
    std::optional<std::filesystem::path> errorMapDir;
    std::optional<std::filesystem::path> floatMapDir;
    bool explain = false;  // add the explanation numbers to every row
    std::optional<std::filesystem::path> explanationMapDir;
    std::optional<std::filesystem::path> heatMapDir;
    ColourMap heatColours = ColourMap::Viridis;
    HeatScaleMode heatScale = HeatScaleMode::Shared;
    std::optional<float> heatMax;  // the run's shared heat-map scale; chosen from the maps if not
    bool heatOnOriginal = false;   // heat maps over a grey copy of the original
    std::optional<std::filesystem::path> reportDir;  // the HTML report's folder
    std::optional<unsigned> jobs;  // files scored at once; chosen by the run when not given
    unsigned threads = 0;          // threads of all the run's work; 0: every core
    // --low-memory: the engine keeps the original's spectra instead of its bands (the run
    // also chooses it by itself when the default mode would not fit).
    bool lowMemory = false;
    bool quiet = false;
    QualityGates gates;  // none given: no gate column, and the exit status never 3
    // --profile: the calibration profile the parameters start from.
    std::optional<std::string> profile;
    // --ppd, --display or --profile was given: the pixels per degree (parameters.pixelsPerDegree)
    // is printed with the results.
    bool showViewing = false;
    // Most pixels an image file may have (--max-pixels), checked from its header before any
    // pixel is allocated: 1 .. RgbImage::kMaxPixels.
    std::uint64_t maxPixels = RgbImage::kMaxPixels;
    // The command line as typed, each word quoted for a POSIX shell where it needs it; the
    // report shows it.
    std::string commandLine;
    // --colour and --orientation: what is done with the colour space and the EXIF orientation
    // each file declares (by default nothing: the samples are scored as stored).
    ReadChoices reading;
};

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // a file failed, or the run itself
inline constexpr int kExitUsage = 2;    // a bad command line or an unusable original
inline constexpr int kExitGate = 3;     // every file scored, but one crossed a quality gate

// What parsing a command line came to: the options to run with, or the exit status to end
// with at once (0 after --help or --version, kExitUsage after a usage error).
struct ParsedCommandLine {
    std::optional<Options> options;
    int exitStatus = kExitSuccess;
};

// Reads argv[1] ... argv[argc - 1].  Help and version text go to `out`, usage errors to
// `err`.  Numbers are read the same whatever the caller's C locale.  Parameters that
// Parameters::validate() refuses are a usage error: "lumetra: " and its message; so is a gate
// limit that is not a finite number ("lumetra: --fail-above must be a finite number (got nan)").
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

// The warning for pixels per degree below the range the model covers
// (kLowestModelledPixelsPerDegree), naming where the value came from ("--ppd", "--display",
// "the profile"); empty when the value is in range.  parseCommandLine writes it to `err`.
std::string viewingRangeWarning(const std::string& source, double pixelsPerDegree);

// argv[0] ... argv[argc - 1] as one line a POSIX shell reads back as the same words.
std::string commandLineText(int argc, const char* const* argv);

}  // namespace lumetra
