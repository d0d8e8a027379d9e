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

constexpr const char* kProgramPrefix = "lumetra: ";

// Significant digits of a number quoted in a warning, as the table shows numbers.
constexpr int kShownDigits = 6;

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

// The usage error of an option's value: "lumetra: --ppd: expected a number such as 38.2,
// written with a decimal point (got 38,2)".  `option` is the long name the user reads in the
// help, whichever name was typed.
CLI::ValidationError valueError(const std::string& option, const std::string& expected,
                                const std::string& text) {
    return CLI::ValidationError("lumetra: " + option + ": expected " + expected + " (got " + text +
                                ")");
}

// The long name of an option ("--slope" of "-a,--slope").
std::string longName(const std::string& names) {
    const std::size_t at = names.rfind("--");
    return at == std::string::npos ? names : names.substr(at);
}

// What a number option expects, for text readFloat or readDouble refused: a number beyond
// the type's range is told apart from text that is no number at all.
std::string expectedNumber(const std::string& text, bool asFloat) {
    if (asFloat && readDouble(text)) return "a number from -3.4e38 to 3.4e38";
    return "a number such as 2.5, written with a decimal point";
}

// A float option read by readFloat rather than CLI11's own conversion, which goes through
// the C library and so through the caller's locale.  Text that is not a number is a usage
// error naming the option; the help shows the value the option starts with.
CLI::Option* addNumber(CLI::App& app, const std::string& names, float& value,
                       const std::string& what) {
    const auto read = [&value, option = longName(names)](const CLI::results_t& texts) {
        const std::optional<float> number = readFloat(texts.front());
        if (!number) throw valueError(option, expectedNumber(texts.front(), true), texts.front());
        value = *number;
        return true;
    };
    return app.add_option(names, read, what)->type_name("FLOAT")->default_str(shortestText(value));
}

// A gate limit: a float read as addNumber reads it, unset until given.  Text that is not a
// number is a usage error naming the option; a limit that is not finite is refused after the
// parse by gateProblems.
void addGate(CLI::App& app, const std::string& name, std::optional<float>& limit,
             const std::string& valueName, const std::string& what) {
    const auto read = [&limit, name](const CLI::results_t& texts) {
        limit = readFloat(texts.front());
        if (!limit) throw valueError(name, expectedNumber(texts.front(), true), texts.front());
        return true;
    };
    app.add_option(name, read, what)->option_text(valueName);
}

// One of a few named choices, matched without regard to case; anything else, numbers
// included, is a usage error that lists the names.
template <typename Choice>
CLI::Option* addChoice(CLI::App& app, const std::string& name, Choice& value,
                       std::vector<std::pair<std::string, Choice>> choices,
                       const std::string& what) {
    // Messages name the option as its first name ("--colour" of "--colour,--color").
    const std::string shown = name.substr(0, name.find(','));
    const auto read = [&value, shown, choices](const CLI::results_t& texts) {
        const std::string lower = CLI::detail::to_lower(texts.front());
        for (const auto& [choiceName, choice] : choices) {
            if (choiceName == lower) {
                value = choice;
                return true;
            }
        }
        std::string names;
        for (std::size_t i = 0; i < choices.size(); ++i) {
            names += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i].first;
        }
        throw valueError(shown, (choices.size() > 2 ? "one of " : "") + names, texts.front());
    };
    return app.add_option(name, read, what);
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

// A whole-number option from 1 to `most`; anything else is a usage error naming the range.
CLI::Option* addCount(CLI::App& app, const std::string& names, std::optional<unsigned>& value,
                      unsigned most, const std::string& what) {
    const auto read = [&value, most, option = longName(names)](const CLI::results_t& texts) {
        const std::optional<unsigned> count = readUnsigned(texts.front());
        if (!count || *count < 1 || *count > most) {
            throw valueError(option, "a whole number from 1 to " + decimalText(most),
                             texts.front());
        }
        value = count;
        return true;
    };
    return app.add_option(names, read, what)->option_text("N");
}

constexpr const char* kPpdHelp =
    "Pixels per degree of visual angle at the viewer's eye (default: 60).  Larger values mean "
    "a farther viewer or a denser screen, on which fine detail matters less and the measure "
    "falls; smaller values a nearer viewer.  The model covers 10 and more: below that the "
    "measure falls again as the viewer comes nearer, and a warning says so";
constexpr const char* kDisplayHelp =
    "Screen width in pixels, screen width in centimetres and viewing distance in centimetres, "
    "e.g. 1920,53,70: the pixels per degree are the pixels one degree of visual angle spans "
    "at that distance";
constexpr const char* kProfileHelp =
    "Calibration profile, as python3 -m lumetra.fit writes it: its parameters, viewing "
    "conditions and score mapping (a line or a logistic curve) replace the defaults.  Options "
    "given here win over it: --ppd, --display, --alpha and the others; -a and -b replace a "
    "linear profile's slope or offset, and a logistic profile's curve only when both are given";

// A number option read by readDouble into `value`; text that is not a number is a usage error
// naming the option.
CLI::Option* addDouble(CLI::App& app, const std::string& names, std::optional<double>& value,
                       const std::string& what) {
    const auto read = [&value, option = longName(names)](const CLI::results_t& texts) {
        value = readDouble(texts.front());
        if (!value) throw valueError(option, expectedNumber(texts.front(), false), texts.front());
        return true;
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

// "--intra-a: expected no value: it is a switch, turned off by --no-intra-a (got maybe)" for
// CLI11's "Could not convert: --intra-a = maybe"; empty for any other message.
std::string switchValueMessage(const std::string& conversion) {
    const std::string start = "Could not convert: ";
    const std::size_t equals = conversion.find(" = ");
    if (conversion.rfind(start, 0) != 0 || equals == std::string::npos) return {};
    const std::string name = conversion.substr(start.size(), equals - start.size());
    const std::string value = conversion.substr(equals + 3);
    const bool negated = name.rfind("--no-", 0) == 0;
    const std::string other = negated ? "--" + name.substr(5) : "--no-" + name.substr(2);
    return name + ": expected no value: it is a switch, turned " + (negated ? "on" : "off") +
           " by " + other + " (got " + value + ")";
}

}  // namespace

std::string viewingRangeWarning(const std::string& source, double pixelsPerDegree) {
    if (!(pixelsPerDegree < kLowestModelledPixelsPerDegree)) return {};
    return "warning: " + source + " gives " + generalText(pixelsPerDegree, kShownDigits) +
           " pixels per degree, below the " + generalText(kLowestModelledPixelsPerDegree, 3) +
           " the model covers: the image's finest detail is then coarser than where the eye "
           "is most sensitive, and measures fall again as the viewer comes nearer.  The "
           "numbers are computed as usual; compare them only with runs at the same pixels "
           "per degree";
}

std::string commandLineText(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        const bool plain = !word.empty() && word.find_first_not_of(
                                                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST"
                                                "UVWXYZ0123456789-_./,=:+@%") == std::string::npos;
        if (i > 0) line += ' ';
        if (plain) {
            line += word;
            continue;
        }
        // Single quotes keep everything but a single quote, written as '\''.
        line += '\'';
        for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

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
    // Every usage error starts with "lumetra: ", CLI11's own ones ("ORIGINAL is required")
    // as well as ours.
    app.failure_message([](const CLI::App* parsing, const CLI::Error& e) {
        std::string message = CLI::FailureMessage::simple(parsing, e);
        std::string what = e.what();
        // Every option with a value reads it itself, so CLI11's conversion error ("Could not
        // convert: --intra-a = maybe") only comes from a switch given a value.
        if (dynamic_cast<const CLI::ConversionError*>(&e) != nullptr) {
            const std::string switchMessage = switchValueMessage(what);
            if (!switchMessage.empty()) {
                message.replace(0, what.size(), switchMessage);
                what = switchMessage;
            }
        }
        const std::string prefix = what.rfind(kProgramPrefix, 0) == 0 ? "" : kProgramPrefix;
        if (message.compare(0, what.size(), what) != 0) return prefix + printable(message) + '\n';
        return prefix + printable(what) + message.substr(what.size());
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

    addChoice(app, "--format", options.format,
              {{"table", OutputFormat::Table},
               {"csv", OutputFormat::Csv},
               {"tsv", OutputFormat::Tsv},
               {"json", OutputFormat::Json}},
              "table (default): aligned columns, six significant digits; csv, tsv, json: "
              "nine digits, an error column")
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
    addChoice(app, "--heat-colours", options.heatColours,
              {{"viridis", ColourMap::Viridis}, {"magma", ColourMap::Magma}},
              "Colours of the heat maps: viridis (default; dark blue, green, yellow) or "
              "magma (black, purple, orange, pale yellow); both grow brighter with the "
              "difference; pixels that are not a number are red (viridis) or cyan (magma)")
        ->option_text("NAME");
    const auto readHeatMax = [&options](const CLI::results_t& texts) {
        options.heatMax = readFloat(texts.front());
        if (!options.heatMax || !std::isfinite(*options.heatMax) || *options.heatMax <= 0.0f) {
            throw valueError("--heat-max", "a finite number above 0", texts.front());
        }
        return true;
    };
    app.add_option("--heat-max", readHeatMax,
                   "Error-map value drawn in the top colour; larger values saturate (default: "
                   "the largest 99th percentile of the run's error maps, so the rows appear once "
                   "every file is scored).  Fix it to compare heat maps of different runs")
        ->option_text("FLOAT");
    addChoice(app, "--heat-scale", options.heatScale,
              {{"shared", HeatScaleMode::Shared},
               {"per-file", HeatScaleMode::PerFile},
               {"log", HeatScaleMode::Log}},
              "How error values become colours: shared (default): one linear scale for the "
              "whole run, so a worse file looks brighter; per-file: each map on its own scale, "
              "0 to its own 99th percentile, to see where a good file's error lies (colours no "
              "longer compare across files); log: the shared scale through log(1 + value / k), "
              "k a hundredth of the top, so small errors show beside large ones (k and the "
              "scale are printed in the legend)")
        ->option_text("NAME");
    app.add_flag("--heat-on-original", options.heatOnOriginal,
                 "Draw the heat maps over a grey copy of the original: grey where nothing "
                 "changed, the colour taking over as the difference grows");
    app.add_option("--report", options.reportDir,
                   "Write a report of the run as one self-contained page, DIR/index.html, with "
                   "its pictures beside it: a summary (original, viewing conditions, version, "
                   "date, command line, counts, spread of the measures), a table of every file "
                   "(measure, score, gate, pictures, error-map histogram and percentiles, shares "
                   "in percent with --explain) that sorts by any column, one colour bar for the "
                   "heat maps, and a compare view of any file (side by side or flicker, heat-map "
                   "overlay, zoom and pan).  Open it in any browser; it fetches nothing from the "
                   "network")
        ->type_name("DIR");
    addCount(app, "-j,--jobs", options.jobs, kMaxJobs,
             "Files scored at once (default: one per thread, fewer when memory is short)");
    std::optional<unsigned> threads;
    addCount(app, "--threads", threads, kMaxThreads,
             "Threads shared by all the work: the files scored at once and each file's own "
             "(default and most: every core; more are cut to the machine's, said once)");
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
    std::optional<unsigned> maxPixels;
    addCount(app, "--max-pixels", maxPixels, static_cast<unsigned>(RgbImage::kMaxPixels),
             "Refuse image files of more than N pixels, from their header and before "
             "reading their pixels (default and largest: " +
                 decimalText(RgbImage::kMaxPixels) +
                 "); for a service scoring files from untrusted sources");
    addChoice(app, "--colour,--color", options.reading.colour,
              {{"as-stored", ColourHandling::AsStored}, {"srgb", ColourHandling::ToSrgb}},
              "What to do with a file's colour profile (embedded ICC, PNG sRGB/gAMA/cHRM): "
              "as-stored (default) scores the samples as sRGB values whatever the file "
              "declares, and says on the error stream when a file declares another space "
              "or one other than the original's; srgb converts every file to sRGB through "
              "Little CMS first (relative colorimetric, at float precision), and the rows "
              "show each file's profile.  Use srgb when files carry different profiles, "
              "so that the measure sees the colours meant rather than the conversion")
        ->option_text("MODE");
    addChoice(app, "--orientation", options.reading.orientation,
              {{"as-stored", OrientationHandling::AsStored}, {"apply", OrientationHandling::Apply}},
              "What to do with a file's EXIF orientation (JPEG, WebP, TIFF, PNG eXIf): "
              "as-stored (default) scores the pixels in stored order and says on the error "
              "stream when a file declares an orientation other than 1; apply turns each "
              "file as it is meant to be shown first (all 8 orientations), so a rotated "
              "camera original and an upright copy line up")
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
        options.threads = threads.value_or(0);
        if (maxPixels) options.maxPixels = *maxPixels;
        p.mapping = line;
        if (*profileOption) {
            p = profileWithOptions(loadProfileAsUsage(*options.profile), p, line, app);
        }
        // The viewing geometry, when given, replaces the standard one and is printed.
        if (ppd) p.pixelsPerDegree = checkedPixelsPerDegree("--ppd", *ppd);
        if (*displayOption) p.pixelsPerDegree = pixelsPerDegreeOfDisplayOption(display);
        options.showViewing = ppd || *displayOption || *profileOption;
        const char* viewingSource = ppd              ? "--ppd"
                                    : *displayOption ? "--display"
                                    : *profileOption ? "the profile"
                                                     : nullptr;
        // Values the parameters refuse are reported like any other usage error.
        validateAsUsage(p);
        validateGatesAsUsage(options.gates);
        // The heat-map settings shape the heat maps of --heatmaps and of --report.
        const bool heatSettings = options.heatMax || options.heatOnOriginal ||
                                  app.count("--heat-colours") > 0 || app.count("--heat-scale") > 0;
        if (heatSettings && !options.heatMapDir && !options.reportDir) {
            throw CLI::ValidationError(
                "lumetra: --heat-colours, --heat-scale, --heat-max and --heat-on-original need "
                "--heatmaps or --report");
        }
        if (options.heatMax && options.heatScale == HeatScaleMode::PerFile) {
            throw CLI::ValidationError(
                "lumetra: --heat-max fixes one scale for every file; --heat-scale per-file gives "
                "each file its own (use --heat-scale shared or log with --heat-max)");
        }
        if (viewingSource != nullptr) {
            const std::string warning = viewingRangeWarning(viewingSource, p.pixelsPerDegree);
            if (!warning.empty()) err << kProgramPrefix << warning << '\n';
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitSuccess : kExitUsage};
    }
    options.commandLine = commandLineText(argc, argv);
    return {std::move(options), kExitSuccess};
}

}  // namespace lumetra
