#include "cli/RunReport.h"

#include <ctime>
#include <utility>

#include "args/NumberText.h"
#include "cli/OutputNames.h"
#include "cli/TextFormat.h"
#include "image/Error.h"
#include "image/RgbPicture.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// Significant digits of the pixels per degree in the report, as the table shows numbers.
constexpr int kShownDigits = 6;

// What the report shows of one row.
}  // namespace

ReportFile reportFileOf(const FileResult& result) {
    ReportFile file;
    file.path = result.path;
    if (result.scores) {
        file.measure = result.scores->measure;
        file.score = result.scores->score;
    }
    file.error = result.error;
    file.gate = result.gate.value_or("");
    if (result.percentiles) {
        const MapPercentiles& p = *result.percentiles;
        file.percentiles = std::array<float, 4>{p.p50, p.p95, p.p99, p.max};
    }
    if (result.explanation) {
        file.termShares = result.explanation->termShares;
        file.channelShares = result.explanation->channelShares;
        file.structureShare = result.explanation->structureShare;
    }
    if (result.histogram) {
        file.mean = result.histogram->mean;
        file.histogram = result.histogram->shares;
        file.histogramTop = result.histogram->top;
    }
    return file;
}

namespace {

// The parameters and viewing conditions as the report lists them.
std::vector<std::pair<std::string, std::string>> reportParameters(const Options& options) {
    const Parameters& p = options.parameters;
    const auto onOff = [](bool on) { return std::string(on ? "on" : "off"); };
    std::vector<std::pair<std::string, std::string>> shown = {
        {"alpha (block weight exponent)", shortestText(p.alpha)},
        {"beta (Minkowski exponent)", shortestText(p.beta)},
        {"co (weight where the edge structure changed)", shortestText(p.co)},
        {"score mapping", mappingText(p.mapping)},
        {"masking intra A / inter A", onOff(p.intraA) + " / " + onOff(p.interA)},
        {"masking intra C1 / inter C1", onOff(p.intraC1) + " / " + onOff(p.interC1)},
        {"masking intra C2 / inter C2", onOff(p.intraC2) + " / " + onOff(p.interC2)},
        {"pixels per degree", generalText(p.pixelsPerDegree, kShownDigits)},
        {"heat-map scale", options.heatMax ? "0 to " + shortestText(*options.heatMax)
                                           : "0 to the largest 99th percentile of the run"},
    };
    if (options.heatScale == HeatScaleMode::PerFile) {
        shown.back().second = "each file 0 to its own 99th percentile";
    } else if (options.heatScale == HeatScaleMode::Log) {
        shown.back().second += ", logarithmic";
    }
    if (options.profile) shown.insert(shown.begin(), {"calibration profile", *options.profile});
    const QualityGates& gates = options.gates;
    if (gates.maxMeasure) shown.push_back({"fails above measure", shortestText(*gates.maxMeasure)});
    if (gates.minScore) shown.push_back({"fails below score", shortestText(*gates.minScore)});
    if (gates.maxP99) shown.push_back({"fails above p99", shortestText(*gates.maxP99)});
    return shown;
}

// The date and time in UTC, to the minute: "2026-12-09 15:30 UTC".
std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

}  // namespace

std::string gatesText(const QualityGates& gates) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        text += (text.empty() ? "" : ", ") + part;
    };
    if (gates.maxMeasure) add("measure above " + shortestText(*gates.maxMeasure));
    if (gates.minScore) add("score below " + shortestText(*gates.minScore));
    if (gates.maxP99) add("p99 above " + shortestText(*gates.maxP99));
    return text;
}

std::string viewingText(const Options& options) {
    const std::string ppd =
        generalText(options.parameters.pixelsPerDegree, kShownDigits) + " pixels per degree";
    if (options.profile) return ppd + " (calibration profile " + *options.profile + ")";
    if (options.showViewing) return ppd + " (given on the command line)";
    return ppd + " (the standard viewing geometry)";
}

// Writes the report's picture of the original and its page; returns what went wrong, empty
// when nothing did.  Pictures that were not written are left out of the page.
std::string writeRunReport(const fs::path& dir, const Options& options, const RgbImage& original,
                           const std::vector<fs::path>& images, std::vector<ReportFile> files,
                           const ReportHeatMaps& heatMaps) {
    ReportRun run;
    run.original = options.original;
    run.parameters = reportParameters(options);
    run.version = LUMETRA_VERSION;
    run.date = utcNow();
    run.commandLine = options.commandLine;
    run.viewing = viewingText(options);
    run.gates = gatesText(options.gates);
    run.legend = heatMaps.legend;
    std::string problems;
    const fs::path originalImage = dir / "original.png";
    try {
        writeRgbPicturePng(originalImage.string(), pictureOf(original));
        run.originalImage = originalImage.filename().string();
    } catch (const Error& e) {
        appendProblem(problems, e.what());
    }
    const std::vector<fs::path> heatMapPaths =
        mapPaths(options.degraded, dir, kReportHeatMapSuffix);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (fs::exists(images[i])) files[i].image = images[i].filename().string();
        if (fs::exists(heatMapPaths[i])) files[i].heatMap = heatMapPaths[i].filename().string();
        if (i < heatMaps.tops.size()) files[i].heatTop = heatMaps.tops[i];
    }
    run.files = std::move(files);
    try {
        writeReport(dir, run);
    } catch (const Error& e) {
        appendProblem(problems, e.what());
    }
    return problems;
}

}  // namespace lumetra
