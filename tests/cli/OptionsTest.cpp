#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace lumetra {
namespace {

struct Parse {
    ParsedCommandLine parsed;
    std::string out;
    std::string err;
};

Parse parse(std::vector<std::string> words) {
    words.insert(words.begin(), "lumetra");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    std::ostringstream out, err;
    Parse result{parseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err), "", ""};
    result.out = out.str();
    result.err = err.str();
    return result;
}

LinearMapping lineOf(const Parameters& p) {
    return std::get<LinearMapping>(p.mapping);
}

// A usage error: no options, status 2, `message` then CLI11's hint on the error stream and
// nothing on the output.  `words` come before the two file names.
void expectUsageError(std::vector<std::string> words, const std::string& message) {
    words.insert(words.end(), {"o.ppm", "d.ppm"});
    const Parse p = parse(words);
    EXPECT_FALSE(p.parsed.options) << message;
    EXPECT_EQ(p.parsed.exitStatus, kExitUsage) << message;
    EXPECT_EQ(p.err, message + "\nRun with --help for more information.\n");
    EXPECT_TRUE(p.out.empty()) << message;
}

// Help text that must be there, each piece found as written.
void expectInHelp(std::initializer_list<const char*> pieces) {
    const std::string help = parse({"--help"}).out;
    for (const char* shown : pieces) EXPECT_NE(help.find(shown), std::string::npos) << shown;
}

TEST(Options, DefaultsAreTheDesktopWindowsValues) {
    const Parse p = parse({"orig.ppm", "a.ppm", "b.ppm"});
    ASSERT_TRUE(p.parsed.options) << p.err;
    const Options& o = *p.parsed.options;
    EXPECT_EQ(o.original, "orig.ppm");
    EXPECT_EQ(o.degraded, (std::vector<std::string>{"a.ppm", "b.ppm"}));
    EXPECT_EQ(o.parameters.alpha, 1.0f);
    EXPECT_EQ(o.parameters.beta, 4.0f);
    EXPECT_EQ(o.parameters.co, 5.0f);
    EXPECT_EQ(lineOf(o.parameters).a, 0.000751f);
    EXPECT_EQ(lineOf(o.parameters).b, 3.8f);
    EXPECT_TRUE(o.parameters.intraA);
    EXPECT_FALSE(o.parameters.interA);
    EXPECT_TRUE(o.parameters.intraC1);
    EXPECT_FALSE(o.parameters.interC1);
    EXPECT_TRUE(o.parameters.intraC2);
    EXPECT_FALSE(o.parameters.interC2);
    EXPECT_EQ(o.format, OutputFormat::Table);
    EXPECT_FALSE(o.errorMapDir);
    EXPECT_FALSE(o.floatMapDir);
    EXPECT_FALSE(o.jobs);      // the run chooses
    EXPECT_EQ(o.threads, 0u);  // every core
    EXPECT_FALSE(o.quiet);
}

TEST(Options, EveryParameterHasAnOption) {
    const Parse p = parse({"--alpha",      "0.5",   "--beta",       "2",      "--co",     "1",
                           "-a",           "0.001", "-b",           "4.5",    "--format", "json",
                           "--error-maps", "maps",  "--float-maps", "floats", "--jobs",   "3",
                           "--threads",    "5",     "--quiet",      "o.ppm",  "d.ppm"});
    ASSERT_TRUE(p.parsed.options) << p.err;
    const Options& o = *p.parsed.options;
    EXPECT_EQ(o.parameters.alpha, 0.5f);
    EXPECT_EQ(o.parameters.beta, 2.0f);
    EXPECT_EQ(o.parameters.co, 1.0f);
    EXPECT_EQ(lineOf(o.parameters).a, 0.001f);
    EXPECT_EQ(lineOf(o.parameters).b, 4.5f);
    EXPECT_EQ(o.format, OutputFormat::Json);
    EXPECT_EQ(o.errorMapDir, std::filesystem::path("maps"));
    EXPECT_EQ(o.floatMapDir, std::filesystem::path("floats"));
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.threads, 5u);
    EXPECT_TRUE(o.quiet);

    const Parse longNames = parse({"--slope", "0.002", "--offset", "4", "o.ppm", "d.ppm"});
    ASSERT_TRUE(longNames.parsed.options) << longNames.err;
    EXPECT_EQ(lineOf(longNames.parsed.options->parameters).a, 0.002f);
    EXPECT_EQ(lineOf(longNames.parsed.options->parameters).b, 4.0f);
}

TEST(Options, ColourAndOrientationDefaultToTheStoredSamples) {
    const Parse defaults = parse({"o.ppm", "d.ppm"});
    ASSERT_TRUE(defaults.parsed.options);
    EXPECT_EQ(defaults.parsed.options->reading.colour, ColourHandling::AsStored);
    EXPECT_EQ(defaults.parsed.options->reading.orientation, OrientationHandling::AsStored);
    const Parse chosen = parse({"--colour", "srgb", "--orientation", "apply", "o.ppm", "d.ppm"});
    ASSERT_TRUE(chosen.parsed.options) << chosen.err;
    EXPECT_EQ(chosen.parsed.options->reading.colour, ColourHandling::ToSrgb);
    EXPECT_EQ(chosen.parsed.options->reading.orientation, OrientationHandling::Apply);
    const Parse american = parse({"--color", "SRGB", "o.ppm", "d.ppm"});
    ASSERT_TRUE(american.parsed.options) << american.err;
    EXPECT_EQ(american.parsed.options->reading.colour, ColourHandling::ToSrgb);
    const Parse wrong = parse({"--colour", "p3", "o.ppm", "d.ppm"});
    EXPECT_FALSE(wrong.parsed.options);
    EXPECT_EQ(wrong.parsed.exitStatus, kExitUsage);
    expectInHelp({"--colour", "as-stored (default)", "--orientation"});
}

TEST(Options, SwitchesTurnOnAndOffAndTheLastOneWins) {
    const Parse p = parse({"--no-intra-a", "--inter-a", "--no-intra-c1", "--inter-c1",
                           "--no-intra-c2", "--inter-c2", "o.ppm", "d.ppm"});
    ASSERT_TRUE(p.parsed.options) << p.err;
    const Parameters& s = p.parsed.options->parameters;
    EXPECT_FALSE(s.intraA);
    EXPECT_TRUE(s.interA);
    EXPECT_FALSE(s.intraC1);
    EXPECT_TRUE(s.interC1);
    EXPECT_FALSE(s.intraC2);
    EXPECT_TRUE(s.interC2);

    const Parse last =
        parse({"--no-intra-a", "--intra-a", "--inter-c1", "--no-inter-c1", "o.ppm", "d.ppm"});
    ASSERT_TRUE(last.parsed.options) << last.err;
    EXPECT_TRUE(last.parsed.options->parameters.intraA);
    EXPECT_FALSE(last.parsed.options->parameters.interC1);
}

TEST(Options, UsageErrorsEndWithStatusTwoAndAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                     // nothing
        {"orig.ppm"},                           // no degraded file
        {"--format", "xml", "o.ppm", "d.ppm"},  // unknown format
        {"--jobs", "0", "o.ppm", "d.ppm"},      // no file in flight
        {"--threads", "0", "o.ppm", "d.ppm"},   // no thread: leaving it out means every core
        {"--threads", "-2", "o.ppm", "d.ppm"},  // negative
        {"--alpha", "one", "o.ppm", "d.ppm"},   // not a number
        {"--frobnicate", "o.ppm", "d.ppm"},     // unknown option
        {"--intra-a=maybe", "o.ppm", "d.ppm"},  // a switch is not an option with a value
    };
    for (const std::vector<std::string>& words : bad) {
        const Parse p = parse(words);
        std::string line;
        for (const std::string& w : words) line += w + " ";
        EXPECT_FALSE(p.parsed.options) << line;
        EXPECT_EQ(p.parsed.exitStatus, kExitUsage) << line;
        EXPECT_FALSE(p.err.empty()) << line;
        EXPECT_TRUE(p.out.empty()) << line;
    }
}

// Parameters::validate()'s message after "lumetra: ", then CLI11's hint, as CLI11's own usage
// errors end.
TEST(Options, ParametersThatDoNotValidateAreAUsageError) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const Case cases[] = {
        {{"--alpha", "nan"}, "alpha must be a finite number (got nan)"},
        {{"--alpha", "-0.5"}, "alpha must be at least 0 (got -0.5)"},
        {{"--beta", "0"}, "beta must be greater than 0 (got 0)"},
        {{"--co", "-inf"}, "co must be a finite number (got -inf)"},
        {{"-a", "0"}, "a must be other than 0 (got 0)"},
        {{"--offset", "inf"}, "b must be a finite number (got inf)"},
        {{"--co", "-0.5"}, "co must be at least 0 (got -0.5)"},
        {{"--beta", "-inf"}, "beta must be a finite number (got -inf)"},
        {{"--beta", "-1", "--slope", "-0"},
         "beta must be greater than 0 (got -1); a must be other than 0 (got -0)"},
    };
    for (const Case& c : cases) expectUsageError(c.words, "lumetra: " + c.message);
}

TEST(Options, NumbersThatCannotBeReadAreUsageErrorsNamingTheOption) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--alpha", "3,8"},
         "lumetra: --alpha: expected a number such as 2.5, written with a decimal point (got 3,8)"},
        {{"--beta", "1e50"},
         "lumetra: --beta: expected a number from -3.4e38 to 3.4e38 (got 1e50)"},  // beyond float
        {{"-b", "4x"},
         "lumetra: --offset: expected a number such as 2.5, written with a decimal point (got 4x)"},
        {{"--jobs", "1.5"}, "lumetra: --jobs: expected a whole number from 1 to 1024 (got 1.5)"},
        {{"--jobs", "1025"}, "lumetra: --jobs: expected a whole number from 1 to 1024 (got 1025)"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> words = options;
        words.insert(words.end(), {"o.ppm", "d.ppm"});
        const Parse p = parse(words);
        EXPECT_EQ(p.parsed.exitStatus, kExitUsage) << message;
        EXPECT_EQ(p.err, message + "\nRun with --help for more information.\n");
    }
}

// Every usage error, CLI11's own included, starts with "lumetra: "; one of a few named choices
// lists them and takes no number (CLI11 would take an enum's value); a switch given a value
// says it is a switch.
TEST(Options, UsageErrorsStartWithTheProgramsNameAndListWhatIsAccepted) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--format", "xml"},
         "lumetra: --format: expected one of table, csv, tsv or json (got xml)"},
        {{"--format", "3"}, "lumetra: --format: expected one of table, csv, tsv or json (got 3)"},
        {{"--heatmaps", "h", "--heat-colours", "1"},
         "lumetra: --heat-colours: expected viridis or magma (got 1)"},
        {{"--heatmaps", "h", "--heat-scale", "2"},
         "lumetra: --heat-scale: expected one of shared, per-file or log (got 2)"},
        {{"--threads", "0"}, "lumetra: --threads: expected a whole number from 1 to 1024 (got 0)"},
        {{"--heatmaps", "h", "--heat-max", "-1"},
         "lumetra: --heat-max: expected a finite number above 0 (got -1)"},
        {{"--intra-a=maybe"},
         "lumetra: --intra-a: expected no value: it is a switch, turned off by --no-intra-a (got "
         "maybe)"},
        {{"--frobnicate"}, "lumetra: The following argument was not expected: --frobnicate"},
        {{"--heatmaps", "h", "--heat-scale", "per-file", "--heat-max", "5"},
         "lumetra: --heat-max fixes one scale for every file; --heat-scale per-file gives each "
         "file its own (use --heat-scale shared or log with --heat-max)"},
    };
    for (const auto& [words, message] : cases) expectUsageError(words, message);
    const Parse missing = parse({"orig.ppm"});
    EXPECT_EQ(missing.err,
              "lumetra: DEGRADED is required\nRun with --help for more information.\n");
    // Names in any case still choose.
    const Parse upper = parse(
        {"--format", "JSON", "--heatmaps", "h", "--heat-scale", "Per-File", "o.ppm", "d.ppm"});
    ASSERT_TRUE(upper.parsed.options) << upper.err;
    EXPECT_EQ(upper.parsed.options->format, OutputFormat::Json);
    EXPECT_EQ(upper.parsed.options->heatScale, HeatScaleMode::PerFile);
}

// Below 10 pixels per degree the numbers are computed as usual, with one warning that names
// where the value came from; at 10 and above, and by default, nothing is said.
TEST(Options, ViewingBelowTheModelsRangeIsWarnedOfOnce) {
    const Parse near = parse({"--ppd", "5", "o.ppm", "d.ppm"});
    ASSERT_TRUE(near.parsed.options) << near.err;
    EXPECT_EQ(near.parsed.options->parameters.pixelsPerDegree, 5.0);
    EXPECT_EQ(near.err.rfind("lumetra: warning: --ppd gives 5 pixels per degree, below the 10 the "
                             "model covers",
                             0),
              0u)
        << near.err;
    EXPECT_EQ(std::count(near.err.begin(), near.err.end(), '\n'), 1);
    // 1920 pixels over 53 cm seen from 10 cm: 6.32 pixels per degree.
    const Parse display = parse({"--display", "1920,53,10", "o.ppm", "d.ppm"});
    EXPECT_NE(display.err.find("--display gives 6.32"), std::string::npos) << display.err;
    EXPECT_EQ(parse({"--ppd", "10", "o.ppm", "d.ppm"}).err, "");
    EXPECT_EQ(parse({"o.ppm", "d.ppm"}).err, "");
}

// The command line as the report shows it reads back in a shell as the same words.
TEST(Options, CommandLineTextQuotesWhatAShellWouldSplit) {
    const char* const argv[] = {"lumetra", "--report", "my report", "it's.png", "a.ppm", ""};
    EXPECT_EQ(commandLineText(6, argv), "lumetra --report 'my report' 'it'\\''s.png' a.ppm ''");
}

TEST(Options, PixelLimitIsAWholeNumberUpToTheReadersOwn) {
    const std::pair<const char*, const char*> refused[] = {
        {"0", "0"}, {"268435457", "268435457"}, {"-1", "-1"}, {"1.5", "1.5"}, {"lots", "lots"}};
    for (const auto& [text, shown] : refused) {
        expectUsageError({"--max-pixels", text},
                         std::string("lumetra: --max-pixels: expected a whole number from 1 to "
                                     "268435456 (got ") +
                             shown + ")");
    }
    EXPECT_EQ(parse({"o.ppm", "d.ppm"}).parsed.options->maxPixels, RgbImage::kMaxPixels);
    EXPECT_EQ(parse({"--max-pixels", "1", "o.ppm", "d.ppm"}).parsed.options->maxPixels, 1u);
    EXPECT_EQ(parse({"--max-pixels", "268435456", "o.ppm", "d.ppm"}).parsed.options->maxPixels,
              RgbImage::kMaxPixels);
}

TEST(Options, GatesAreReadOnlyWhenGiven) {
    const Parse none = parse({"o.ppm", "d.ppm"});
    ASSERT_TRUE(none.parsed.options) << none.err;
    EXPECT_FALSE(none.parsed.options->gates.any());

    const Parse all = parse({"--fail-above", "736.98", "--fail-below", "+3.25", "--fail-p99-above",
                             "-1e-3", "o.ppm", "d.ppm"});
    ASSERT_TRUE(all.parsed.options) << all.err;
    const QualityGates& gates = all.parsed.options->gates;
    EXPECT_EQ(gates.maxMeasure, 736.98f);
    EXPECT_EQ(gates.minScore, 3.25f);
    EXPECT_EQ(gates.maxP99, -1e-3f);  // finite, so usable, though every file will cross it
}

// A gate limit must be a finite number; the message names the option.
TEST(Options, GateLimitsThatAreNotFiniteNumbersAreUsageErrors) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--fail-above", "nan"}, "lumetra: --fail-above must be a finite number (got nan)"},
        {{"--fail-above", "inf"}, "lumetra: --fail-above must be a finite number (got inf)"},
        {{"--fail-below", "-Infinity"}, "lumetra: --fail-below must be a finite number (got -inf)"},
        {{"--fail-p99-above", "NaN"},
         "lumetra: --fail-p99-above must be a finite number (got nan)"},
        {{"--fail-above", "inf", "--fail-p99-above", "nan"},
         "lumetra: --fail-above must be a finite number (got inf); --fail-p99-above must be a "
         "finite number (got nan)"},
        {{"--fail-above", "abc"},
         "lumetra: --fail-above: expected a number such as 2.5, written with a decimal point (got "
         "abc)"},
        {{"--fail-below", "3,5"},
         "lumetra: --fail-below: expected a number such as 2.5, written with a decimal point (got "
         "3,5)"},
        {{"--fail-p99-above", "1e40"},
         "lumetra: --fail-p99-above: expected a number from -3.4e38 to 3.4e38 (got 1e40)"},
    };
    for (const auto& [options, message] : cases) expectUsageError(options, message);
}

// Pixels per degree: 60 and not shown unless given; --ppd as read, --display from the
// screen's pixel density and the distance.
TEST(Options, ViewingGeometryComesFromPpdOrDisplay) {
    const Parse standard = parse({"o.ppm", "d.ppm"});
    ASSERT_TRUE(standard.parsed.options);
    EXPECT_EQ(standard.parsed.options->parameters.pixelsPerDegree, 60.0);
    EXPECT_FALSE(standard.parsed.options->showViewing);

    // Read as a double: 38.2 is not a float.
    const Parse ppd = parse({"--ppd", "38.2", "o.ppm", "d.ppm"});
    ASSERT_TRUE(ppd.parsed.options) << ppd.err;
    EXPECT_EQ(ppd.parsed.options->parameters.pixelsPerDegree, 38.2);
    EXPECT_TRUE(ppd.parsed.options->showViewing);

    // 1920 pixels over 53 cm seen from 70 cm: 36.2264 pixels per cm times 2 x 70 x tan(0.5
    // degree) = 1.221770 cm per degree (the chord of one degree at 70 cm) gives 44.26004.
    // The two computations differ only in their roundings: 1e-12 relative is ample.
    constexpr double kDisplayRelTol = 1e-12;
    const Parse display = parse({"--display", "1920,53,70", "o.ppm", "d.ppm"});
    ASSERT_TRUE(display.parsed.options) << display.err;
    const double expected = 1920.0 / 53.0 * 2.0 * 70.0 * 0.0087268677907587893;
    EXPECT_NEAR(display.parsed.options->parameters.pixelsPerDegree, expected,
                expected * kDisplayRelTol);
    EXPECT_NEAR(display.parsed.options->parameters.pixelsPerDegree, 44.26004, 1e-5);
    EXPECT_TRUE(display.parsed.options->showViewing);

    // Twice the distance, twice the pixels per degree.
    const Parse farther = parse({"--display", "1920,53,140", "o.ppm", "d.ppm"});
    ASSERT_TRUE(farther.parsed.options) << farther.err;
    EXPECT_NEAR(farther.parsed.options->parameters.pixelsPerDegree, 2.0 * expected,
                2.0 * expected * kDisplayRelTol);
}

// Each refusal names its option, after "lumetra: ", then CLI11's hint.
TEST(Options, UnusableViewingGeometryIsAUsageErrorNamingTheOption) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const Case cases[] = {
        {{"--ppd", "0"}, "lumetra: --ppd: pixels per degree must be greater than 0 (got 0)"},
        {{"--ppd", "-45"}, "lumetra: --ppd: pixels per degree must be greater than 0 (got -45)"},
        {{"--ppd", "inf"}, "lumetra: --ppd: pixels per degree must be a finite number (got inf)"},
        {{"--ppd", "nan"}, "lumetra: --ppd: pixels per degree must be a finite number (got nan)"},
        {{"--ppd", "sixty"},
         "lumetra: --ppd: expected a number such as 2.5, written with a decimal point (got sixty)"},
        {{"--ppd", "38,2"},
         "lumetra: --ppd: expected a number such as 2.5, written with a decimal point (got 38,2)"},
        {{"--display", "1920,53"},
         "lumetra: --display: expected three numbers WIDTH_PX,WIDTH_CM,DISTANCE_CM (got "
         "1920,53)"},
        {{"--display", "1920,53,70,1"},
         "lumetra: --display: expected three numbers WIDTH_PX,WIDTH_CM,DISTANCE_CM "
         "(got 1920,53,70,1)"},
        {{"--display", "1920,,70"},
         "lumetra: --display: expected three numbers WIDTH_PX,WIDTH_CM,DISTANCE_CM (got "
         "1920,,70)"},
        {{"--display", "0,53,70"},
         "lumetra: --display: WIDTH_PX must be a finite number greater than 0 (got 0)"},
        {{"--display", "1920,-53,70"},
         "lumetra: --display: WIDTH_CM must be a finite number greater than 0 (got -53)"},
        {{"--display", "1920,53,nan"},
         "lumetra: --display: DISTANCE_CM must be a finite number greater than 0 (got "
         "nan)"},
        // Each size is usable, their product is not.
        {{"--display", "1e300,1e-300,1e10"},
         "lumetra: --display: pixels per degree must be a finite number (got inf)"},
        {{"--ppd", "45", "--display", "1920,53,70"}, "lumetra: --ppd excludes --display"},
    };
    for (const Case& c : cases) expectUsageError(c.words, c.message);
}

// The help names every default from Parameters, which way each gate and the viewing
// geometry move, and the gates' exit status.
TEST(Options, HelpShowsDefaultsAndWhichDirectionIsBetter) {
    expectInHelp({"--alpha FLOAT=1 ", "--beta FLOAT=4 ", "--co FLOAT=5 ",
                  "-a,--slope FLOAT=0.000751 ", "-b,--offset FLOAT=3.8 "});
    expectInHelp({"--fail-above MEASURE", "lower measures are better", "--fail-below SCORE",
                  "higher scores are better", "--fail-p99-above VALUE", "(lower is better)",
                  "3 when"});
    expectInHelp({"--ppd PPD", "--display WIDTH_PX,WIDTH_CM,DISTANCE_CM", "default: 60",
                  "farther viewer or a denser screen", "measure falls"});
}

TEST(Options, NumbersReadTheSameInACommaLocale) {
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
            found = name;
            break;
        }
    }
    if (!found) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const Parse p = parse({"--alpha", "0.5", "-a", "0.000751", "--jobs", "12", "o.ppm", "d.ppm"});
    const Parse display = parse({"--display", "1920.5,53.25,70", "o.ppm", "d.ppm"});
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_TRUE(display.parsed.options) << found << ": " << display.err;
    EXPECT_NEAR(display.parsed.options->parameters.pixelsPerDegree,
                1920.5 / 53.25 * 2.0 * 70.0 * 0.0087268677907587893, 1e-9);
    ASSERT_TRUE(p.parsed.options) << found << ": " << p.err;
    EXPECT_EQ(p.parsed.options->parameters.alpha, 0.5f);
    EXPECT_EQ(lineOf(p.parsed.options->parameters).a, 0.000751f);
    EXPECT_EQ(p.parsed.options->jobs, 12u);
}

TEST(Options, HelpAndVersionEndWithStatusZero) {
    const Parse help = parse({"--help"});
    EXPECT_FALSE(help.parsed.options);
    EXPECT_EQ(help.parsed.exitStatus, kExitSuccess);
    EXPECT_NE(help.out.find("--no-inter-c2"), std::string::npos);

    const Parse version = parse({"--version"});
    EXPECT_FALSE(version.parsed.options);
    EXPECT_EQ(version.parsed.exitStatus, kExitSuccess);
    EXPECT_EQ(version.out, "lumetra " LUMETRA_VERSION "\n");
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

TEST(HeatMapOptions, AreReadWithTheirDefaults) {
    const Parse none = parse({"o.ppm", "d.ppm"});
    ASSERT_TRUE(none.parsed.options) << none.err;
    EXPECT_FALSE(none.parsed.options->heatMapDir);
    EXPECT_EQ(none.parsed.options->heatColours, ColourMap::Viridis);
    EXPECT_FALSE(none.parsed.options->heatMax);  // the run's maps choose the scale
    EXPECT_FALSE(none.parsed.options->heatOnOriginal);

    const Parse all = parse({"--heatmaps", "h", "--heat-colours", "Magma", "--heat-max", "2.5",
                             "--heat-on-original", "o.ppm", "d.ppm"});
    ASSERT_TRUE(all.parsed.options) << all.err;
    EXPECT_EQ(all.parsed.options->heatMapDir, std::filesystem::path("h"));
    EXPECT_EQ(all.parsed.options->heatColours, ColourMap::Magma);
    EXPECT_EQ(all.parsed.options->heatMax, 2.5f);
    EXPECT_TRUE(all.parsed.options->heatOnOriginal);
}

class HeatMapUsageError : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HeatMapUsageError, EndsWithStatusTwoAndAMessage) {
    std::vector<std::string> words = GetParam();
    words.insert(words.end(), {"o.ppm", "d.ppm"});
    const Parse p = parse(words);
    EXPECT_FALSE(p.parsed.options);
    EXPECT_EQ(p.parsed.exitStatus, kExitUsage);
    EXPECT_NE(p.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeatMapUsageError,
    testing::Values(std::vector<std::string>{"--heatmaps", "h", "--heat-max", "0"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-max", "-1"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-max", "nan"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-max", "inf"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-max", "1e39"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-max", "abc"},
                    std::vector<std::string>{"--heatmaps", "h", "--heat-colours", "jet"},
                    // Heat-map settings without heat maps are a mistake, not ignored.
                    std::vector<std::string>{"--heat-max", "1"},
                    std::vector<std::string>{"--heat-on-original"},
                    std::vector<std::string>{"--heat-colours", "magma"}));

TEST(Options, HelpNamesTheProfileAndThatOptionsWinOverIt) {
    expectInHelp({"--profile PROFILE.json", "Options given here win over it",
                  "a logistic profile's curve only when both are given"});
}

}  // namespace
}  // namespace lumetra
