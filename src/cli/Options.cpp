#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <ostream>

#include "args/NumberText.h"
#include "image/Error.h"

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
    "Exit status: 0 when every file was scored, 1 when any file failed (its row says why), "
    "2 for a usage error or an unusable original.";

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

}  // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
    Options options;
    Parameters& p = options.parameters;

    CLI::App app(kDescription, "lumetra");
    app.footer(kFooter);
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_version_flag("--version", std::string("lumetra ") + LUMETRA_VERSION);

    app.add_option("ORIGINAL", options.original, "The original (reference) image")->required();
    app.add_option("DEGRADED", options.degraded, "Degraded images of the original's size")
        ->required();

    addNumber(app, "--alpha", p.alpha, "Exponent of the 32 x 32 block weight");
    addNumber(app, "--beta", p.beta, "Exponent of the Minkowski mean");
    addNumber(app, "--co", p.co, "Weight of pixels where the edge structure changed");
    addNumber(app, "-a,--slope", p.a, "Slope of the score line: score = offset - slope x measure");
    addNumber(app, "-b,--offset", p.b, "Score of a zero measure");
    addSwitch(app, "intra-a", p.intraA, "Intra-channel masking of the A bands");
    addSwitch(app, "inter-a", p.interA, "Inter-channel switch of A (no masking step of its own)");
    addSwitch(app, "intra-c1", p.intraC1, "Intra-channel masking of the C1 bands");
    addSwitch(app, "inter-c1", p.interC1, "Masking of the C1 bands by the A and C2 bands");
    addSwitch(app, "intra-c2", p.intraC2,
              "Intra-channel masking of the C2 bands, then their masking by C1");
    addSwitch(app, "inter-c2", p.interC2,
              "Inter-channel switch of C2 (no masking step of its own)");

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
    CLI::Option* const heatMaps =
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
        ->option_text("NAME")
        ->needs(heatMaps);
    const auto readHeatMax = [&options](const CLI::results_t& texts) {
        options.heatMax = readFloat(texts.front());
        return options.heatMax.has_value();
    };
    app.add_option("--heat-max", readHeatMax,
                   "Error-map value drawn in the top colour; larger values saturate (default: "
                   "the largest 99th percentile of the run's error maps, so the rows appear once "
                   "every file is scored).  Fix it to compare heat maps of different runs")
        ->check(CLI::Validator(checkHeatMax, "FLOAT"))
        ->option_text("FLOAT")
        ->needs(heatMaps);
    app.add_flag("--heat-on-original", options.heatOnOriginal,
                 "Draw the heat maps over a grey copy of the original: grey where nothing "
                 "changed, the colour taking over as the difference grows")
        ->needs(heatMaps);
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
    app.add_flag("-q,--quiet", options.quiet, "No progress bar");

    try {
        app.parse(argc, argv);
        // Values the parameters refuse are reported like any other usage error.
        validateAsUsage(p);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitSuccess : kExitUsage};
    }
    return {std::move(options), kExitSuccess};
}

}  // namespace lumetra
