#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "args/NumberText.h"
#include "cli/ProfileOption.h"
#include "cli/TextFormat.h"
#include "engine/DisplayText.h"
#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"
#include "model/ViewingGeometry.h"

#ifndef LUMETRA_VERSION
#error "LUMETRA_VERSION must be defined by the build (the CMake project version)"
#endif

namespace lumetra {

namespace {

// More threads than this would only multiply the memory held by files in flight.
constexpr unsigned kMaxJobs = 1024;
// More threads than this would only oversubscribe any machine the program runs on.
constexpr unsigned kMaxThreads = 1024;

constexpr const char* kDescription =
    "Scores every DEGRADED image against ORIGINAL with a model of early human vision and "
    "prints one row per file: its path, the measure (pooled visible error) and the score "
    "(the measure mapped onto the 1 to 5 quality scale).";

constexpr const char* kFooter =
    "Exit status: 0 when every file was scored, 1 when any file failed (its row says why) or "
    "the run needs more memory than is available, "
    "2 for a usage error or an unusable original, 3 when every file was scored but one crossed "
    "a quality gate (--fail-above, --fail-below, --fail-p99-above; with any of them the rows "
    "end with a gate column naming the gates each file crossed). 1 and 2 win over 3.";

// The quality gate options.
constexpr const char* kFailAbove = "--fail-above";
constexpr const char* kFailBelow = "--fail-below";
constexpr const char* kFailP99Above = "--fail-p99-above";

// Nine significant digits: a limit in a message reads back as the float that was read.
constexpr int kLimitDigits = 9;

// CLI11's help marks a negated flag with its stored value ("--no-intra-a{false}"); the help
// text already says what each switch does, so the marks go.
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        for (std::size_t open; (open = name.find('{')) != std::string::npos;) {
            const std::size_t close = name.find('}', open);
            if (close == std::string::npos) break;
            name.erase(open, close - open + 1);
        }
        return name;
    }
};

// A float option read by readFloat rather than CLI11's own conversion, which goes through
// the C library and so through the caller's locale.  Text that is not a number ends the parse
// with CLI11's conversion error; the help shows the value the option starts with.
CLI::Option* addNumber(CLI::App& app, const std::string& names, float& value,
                       const std::string& what) {
    const auto read = [&value](const CLI::results_t& texts) {
        const std::optional<float> number = readFloat(texts.front());
        if (number) value = *number;
        return number.has_value();
    };
    return app.add_option(names, read, what)->type_name("FLOAT")->default_str(shortestText(value));
}

// A gate limit: a float read as addNumber reads it, unset until given.  Text that is not a
// number ends the parse with CLI11's conversion error, which names the option; a limit that is
// not finite is refused after the parse by gateProblems.
void addGate(CLI::App& app, const std::string& name, std::optional<float>& limit,
             const std::string& valueName, const std::string& what) {
    const auto read = [&limit](const CLI::results_t& texts) {
        limit = readFloat(texts.front());
        return limit.has_value();
    };
    app.add_option(name, read, what)->option_text(valueName);
}

// "--fail-above must be a finite number (got nan)" for each limit that is not a finite number,
// joined by "; "; empty when every limit is usable.
std::string gateProblems(const QualityGates& gates) {
    const std::pair<const char*, const std::optional<float>&> limits[] = {
        {kFailAbove, gates.maxMeasure},
        {kFailBelow, gates.minScore},
        {kFailP99Above, gates.maxP99}};
    std::string problems;
    for (const auto& [option, limit] : limits) {
        if (!limit || std::isfinite(*limit)) continue;
        if (!problems.empty()) problems += "; ";
        problems += std::string(option) + " must be a finite number (got " +
                    generalText(static_cast<double>(*limit), kLimitDigits) + ")";
    }
    return problems;
}

// The check of --heat-max: a finite number above 0.
std::string checkHeatMax(const std::string& text) {
    const std::optional<float> max = readFloat(text);
    if (max && std::isfinite(*max) && *max > 0.0f) return {};
    return "Value " + text + " is not a finite number above 0";
}

// The check of --jobs: a decimal number from 1 to kMaxJobs; the message names the range.
std::string checkJobs(const std::string& text) {
    const std::optional<unsigned> jobs = readUnsigned(text);
    if (jobs && *jobs >= 1 && *jobs <= kMaxJobs) return {};
    return "Value " + text + " not in range 1 to " + decimalText(kMaxJobs);
}

// The check of --max-pixels: a decimal number from 1 to RgbImage::kMaxPixels.
std::string checkMaxPixels(const std::string& text) {
    const std::optional<unsigned> most = readUnsigned(text);
    if (most && maxPixelsProblem(*most).empty()) return {};
    return "must be a whole number from 1 to " + decimalText(RgbImage::kMaxPixels) + " (got " +
           text + ")";
}

constexpr const char* kPpdHelp =
    "Pixels per degree of visual angle at the viewer's eye (default: 60).  Larger values mean "
    "a farther viewer or a denser screen, on which fine detail matters less and the measure "
    "falls; smaller values a nearer viewer";
constexpr const char* kDisplayHelp =
    "Screen width in pixels, screen width in centimetres and viewing distance in centimetres, "
    "e.g. 1920,53,70: the pixels per degree are the pixels one degree of visual angle spans "
    "at that distance";
constexpr const char* kProfileHelp =
    "Calibration profile, as python3 -m lumetra.fit writes it: its parameters, viewing "
    "conditions and score mapping (a line or a logistic curve) replace the defaults.  Options "
    "given here win over it: --ppd, --display, --alpha and the others; -a and -b replace a "
    "linear profile's slope or offset, and a logistic profile's curve only when both are given";

// A number option read by readDouble into `value`; text that is not a number ends the parse
// with CLI11's conversion error.
CLI::Option* addDouble(CLI::App& app, const std::string& names, std::optional<double>& value,
                       const std::string& what) {
    const auto read = [&value](const CLI::results_t& texts) {
        value = readDouble(texts.front());
        return value.has_value();
    };
    return app.add_option(names, read, what);
}

// The pixels per degree an option gave, judged by Parameters alone, as a usage error that
// names the option: "lumetra: --ppd: pixels per degree must be greater than 0 (got 0)".
double checkedPixelsPerDegree(const std::string& option, double pixelsPerDegree) {
    Parameters probe;
    probe.pixelsPerDegree = pixelsPerDegree;
    const std::vector<std::string> found = probe.problems();
    if (!found.empty()) throw CLI::ValidationError("lumetra: " + option + ": " + found.front());
    return pixelsPerDegree;
}

// The pixels per degree of --display WIDTH_PX,WIDTH_CM,DISTANCE_CM, with the option named in
// its usage error.
double pixelsPerDegreeOfDisplayOption(const std::string& text) {
    try {
        return pixelsPerDegreeOfDisplay(text);
    } catch (const ParameterError& error) {
        throw CLI::ValidationError(std::string("lumetra: --display: ") + error.what());
    }
}

// One masking switch as a pair of flags, --NAME and --no-NAME; the last one given wins.
void addSwitch(CLI::App& app, const std::string& name, bool& value, const std::string& what) {
    app.add_flag("--" + name + ",!--no-" + name, value,
                 what + " (default: " + (value ? "on" : "off") + ")")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// Parameters::validate()'s message as a CLI11 usage error, so that it is printed and ends the
// parse the way CLI11's own errors do.
void validateAsUsage(const Parameters& parameters) {
    try {
        parameters.validate();
    } catch (const ParameterError& e) {
        throw CLI::ValidationError(std::string("lumetra: ") + e.what());
    }
}

// gateProblems() as a CLI11 usage error, printed the way validateAsUsage prints its own.
void validateGatesAsUsage(const QualityGates& gates) {
    const std::string problems = gateProblems(gates);
    if (!problems.empty()) throw CLI::ValidationError("lumetra: " + problems);
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
    Options options;
    Parameters& p = options.parameters;

    CLI::App app(kDescription, "lumetra");
    app.footer(kFooter);
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_version_flag("--version", std::string("lumetra ") + LUMETRA_VERSION);
    // Every usage error quotes what the user typed (a value, a path, the profile's path and
    // what is wrong in it): its control characters are escaped, as the rows' paths are; the
    // line CLI11 adds after it ("Run with --help ...") is left as it is.
    app.failure_message([](const CLI::App* parsing, const CLI::Error& e) {
        const std::string message = CLI::FailureMessage::simple(parsing, e);
        const std::string what = e.what();
        if (message.compare(0, what.size(), what) != 0) return printable(message) + '\n';
        return printable(what) + message.substr(what.size());
    });

    app.add_option("ORIGINAL", options.original, "The original (reference) image")->required();
    app.add_option("DEGRADED", options.degraded, "Degraded images of the original's size")
        ->required();

    for (const NumberField& field : kNumberFields) {
        addNumber(app, "--" + optionNameOf(field.key), p.*field.member, std::string(field.what));
    }
    LinearMapping line;
    addNumber(app, "-a,--slope", line.a,
              "Slope of the score line: score = offset - slope x measure");
    addNumber(app, "-b,--offset", line.b, "Score of a zero measure");
    for (const SwitchField& field : kSwitchFields) {
        addSwitch(app, optionNameOf(field.key), p.*field.member, std::string(field.what));
    }

    const std::map<std::string, OutputFormat> formats{{"table", OutputFormat::Table},
                                                      {"csv", OutputFormat::Csv},
                                                      {"tsv", OutputFormat::Tsv},
                                                      {"json", OutputFormat::Json}};
    app.add_option("--format", options.format,
                   "table (default): aligned columns, six significant digits; csv, tsv, json: "
                   "nine digits, an error column")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case))
        ->option_text("FORMAT");
    app.add_option("--error-maps", options.errorMapDir,
                   "Write each file's error map as DIR/<name>.errmap.png")
        ->type_name("DIR");
    app.add_option("--float-maps", options.floatMapDir,
                   "Write each file's raw error map as DIR/<name>.errmap.pfm")
        ->type_name("DIR");
    app.add_flag("--explain", options.explain,
                 "Add to every row where its measure comes from.  Shares from 0 to 1, each "
                 "pixel weighed as the measure weighs it: term_base, term_crown2, term_crown3, "
                 "term_crown4 (the four additive terms of the error map; they add up to 1), "
                 "channel_A, channel_C1, channel_C2 (the error map of that channel's differences "
                 "alone; not additive, so they need not add up to 1), structure_share (the part "
                 "of the measure from where the edge structure changed); all 0 for a perfect "
                 "copy.  A larger share only says where the error is, not that it is worse.  "
                 "Then p50, p95, p99 and max of the error map: 0 is no visible difference, "
                 "lower is better.  JSON: an \"explanation\" object; CSV, TSV: columns after "
                 "the others; table: one compact column");
    app.add_option("--explain-maps", options.explanationMapDir,
                   "Write each file's explanation maps as DIR/<name>.<map>.pfm: term-base, "
                   "term-crown2, term-crown3, term-crown4 (add up to the error map), channel-A, "
                   "channel-C1, channel-C2 (one channel's differences alone; not additive), "
                   "block-weight (B^alpha), edge-zone (1 where the edge structure changed), "
                   "share (each pixel's share of the measure, summing to 1; all 0 for a "
                   "perfect copy)")
        ->type_name("DIR");
    app.add_option("--heatmaps", options.heatMapDir,
                   "Write each file's error map as a heat map, DIR/<name>.heatmap.png, with a "
                   "colour bar: brighter = a more visible difference.  All files of the run "
                   "share one scale (see --heat-max), so a worse file looks brighter")
        ->type_name("DIR");
    const std::map<std::string, ColourMap> colourMaps{{"viridis", ColourMap::Viridis},
                                                      {"magma", ColourMap::Magma}};
    app.add_option("--heat-colours", options.heatColours,
                   "Colours of the heat maps: viridis (default; dark blue, green, yellow) or "
                   "magma (black, purple, orange, pale yellow); both grow brighter with the "
                   "difference; pixels that are not a number are red (viridis) or cyan (magma)")
        ->transform(CLI::CheckedTransformer(colourMaps, CLI::ignore_case))
        ->option_text("NAME");
    const auto readHeatMax = [&options](const CLI::results_t& texts) {
        options.heatMax = readFloat(texts.front());
        return options.heatMax.has_value();
    };
    app.add_option("--heat-max", readHeatMax,
                   "Error-map value drawn in the top colour; larger values saturate (default: "
                   "the largest 99th percentile of the run's error maps, so the rows appear once "
                   "every file is scored).  Fix it to compare heat maps of different runs")
        ->check(CLI::Validator(checkHeatMax, "FLOAT"))
        ->option_text("FLOAT");
    app.add_flag("--heat-on-original", options.heatOnOriginal,
                 "Draw the heat maps over a grey copy of the original: grey where nothing "
                 "changed, the colour taking over as the difference grows");
    app.add_option("--report", options.reportDir,
                   "Write a report of the run as one self-contained page, DIR/index.html, with "
                   "its pictures beside it: the original, the parameters and viewing "
                   "conditions, and a table of every file (measure, score, gate, percentiles, "
                   "shares with --explain) that sorts by any column, with the degraded image "
                   "and its heat map (drawn as --heatmaps draws them).  Open it in any browser; "
                   "it fetches nothing from the network")
        ->type_name("DIR");
    const auto readJobs = [&options](const CLI::results_t& texts) {
        options.jobs = readUnsigned(texts.front());
        return options.jobs.has_value();
    };
    app.add_option("-j,--jobs", readJobs,
                   "Files scored at once (default: one per thread, fewer when memory is short)")
        ->check(CLI::Validator(checkJobs, "N"))
        ->option_text("N");
    app.add_option("--threads", options.threads,
                   "Threads shared by all the work: the files scored at once and each file's own "
                   "(default: every core)")
        ->check(CLI::Range(1u, kMaxThreads))
        ->option_text("N");
    app.add_flag("--low-memory", options.lowMemory,
                 "Keep the original's spectra instead of its 27 bands and make the bands again "
                 "for every file: about 100 bytes per pixel less, the same results, up to half "
                 "as much time again per file (chosen by itself when the run would not fit "
                 "otherwise)");
    app.add_flag("-q,--quiet", options.quiet, "No progress bar");
    std::optional<double> ppd;
    CLI::Option* const ppdOption = addDouble(app, "--ppd", ppd, kPpdHelp)->type_name("PPD");
    std::string display;
    CLI::Option* const displayOption = app.add_option("--display", display, kDisplayHelp)
                                           ->type_name("WIDTH_PX,WIDTH_CM,DISTANCE_CM");
    ppdOption->excludes(displayOption);
    const auto readMaxPixels = [&options](const CLI::results_t& texts) {
        const std::optional<unsigned> most = readUnsigned(texts.front());
        if (most) options.maxPixels = *most;
        return most.has_value();
    };
    app.add_option("--max-pixels", readMaxPixels,
                   "Refuse image files of more than N pixels, from their header and before "
                   "reading their pixels (default and largest: " +
                       decimalText(RgbImage::kMaxPixels) +
                       "); for a service scoring files from untrusted sources")
        ->check(CLI::Validator(checkMaxPixels, "N"))
        ->option_text("N");
    const std::map<std::string, ColourHandling> colourHandlings{
        {"as-stored", ColourHandling::AsStored}, {"srgb", ColourHandling::ToSrgb}};
    app.add_option("--colour,--color", options.reading.colour,
                   "What to do with a file's colour profile (embedded ICC, PNG sRGB/gAMA/cHRM): "
                   "as-stored (default) scores the samples as sRGB values whatever the file "
                   "declares, and says on the error stream when a file declares another space "
                   "or one other than the original's; srgb converts every file to sRGB through "
                   "Little CMS first (relative colorimetric, at float precision), and the rows "
                   "show each file's profile.  Use srgb when files carry different profiles, "
                   "so that the measure sees the colours meant rather than the conversion")
        ->transform(CLI::CheckedTransformer(colourHandlings, CLI::ignore_case))
        ->option_text("MODE");
    const std::map<std::string, OrientationHandling> orientationHandlings{
        {"as-stored", OrientationHandling::AsStored}, {"apply", OrientationHandling::Apply}};
    app.add_option("--orientation", options.reading.orientation,
                   "What to do with a file's EXIF orientation (JPEG, WebP, TIFF, PNG eXIf): "
                   "as-stored (default) scores the pixels in stored order and says on the error "
                   "stream when a file declares an orientation other than 1; apply turns each "
                   "file as it is meant to be shown first (all 8 orientations), so a rotated "
                   "camera original and an upright copy line up")
        ->transform(CLI::CheckedTransformer(orientationHandlings, CLI::ignore_case))
        ->option_text("MODE");
    CLI::Option* const profileOption =
        app.add_option("--profile", options.profile, kProfileHelp)->type_name("PROFILE.json");

    // Quality gates: each strict (a value equal to the limit passes); a file that crosses one
    // is still printed, its row names the gate, and the run ends with status 3.
    QualityGates& gates = options.gates;
    addGate(app, kFailAbove, gates.maxMeasure, "MEASURE",
            "Exit with status 3 when a file's measure is above MEASURE; equal passes (lower "
            "measures are better, 0: no visible difference)");
    addGate(app, kFailBelow, gates.minScore, "SCORE",
            "Exit with status 3 when a file's score is below SCORE; equal passes (higher scores "
            "are better: 1 to 5, an identical image scoring the offset, 3.8 by default)");
    addGate(app, kFailP99Above, gates.maxP99, "VALUE",
            "Exit with status 3 when the 99th percentile of a file's error map is above VALUE; "
            "equal passes (lower is better): catches a small region gone badly wrong that the "
            "pooled measure hides");

    try {
        app.parse(argc, argv);
        p.mapping = line;
        if (*profileOption) {
            p = profileWithOptions(loadProfileAsUsage(*options.profile), p, line, app);
        }
        // The viewing geometry, when given, replaces the standard one and is printed.
        if (ppd) p.pixelsPerDegree = checkedPixelsPerDegree("--ppd", *ppd);
        if (*displayOption) p.pixelsPerDegree = pixelsPerDegreeOfDisplayOption(display);
        options.showViewing = ppd || *displayOption || *profileOption;
        // Values the parameters refuse are reported like any other usage error.
        validateAsUsage(p);
        validateGatesAsUsage(options.gates);
        // The heat-map settings shape the heat maps of --heatmaps and of --report.
        const bool heatSettings =
            options.heatMax || options.heatOnOriginal || app.count("--heat-colours") > 0;
        if (heatSettings && !options.heatMapDir && !options.reportDir) {
            throw CLI::ValidationError(
                "lumetra: --heat-colours, --heat-max and --heat-on-original need --heatmaps "
                "or --report");
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitSuccess : kExitUsage};
    }
    return {std::move(options), kExitSuccess};
}

}  // namespace lumetra
