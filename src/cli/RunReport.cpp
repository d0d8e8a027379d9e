#include "cli/RunReport.h"

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
    if (options.profile) shown.insert(shown.begin(), {"calibration profile", *options.profile});
    const QualityGates& gates = options.gates;
    if (gates.maxMeasure) shown.push_back({"fails above measure", shortestText(*gates.maxMeasure)});
    if (gates.minScore) shown.push_back({"fails below score", shortestText(*gates.minScore)});
    if (gates.maxP99) shown.push_back({"fails above p99", shortestText(*gates.maxP99)});
    return shown;
}

}  // namespace

// Writes the report's picture of the original and its page; returns what went wrong, empty
// when nothing did.  Pictures that were not written are left out of the page.
std::string writeRunReport(const fs::path& dir, const Options& options, const RgbImage& original,
                           const std::vector<fs::path>& images, std::vector<ReportFile> files) {
    ReportRun run;
    run.original = options.original;
    run.parameters = reportParameters(options);
    std::string problems;
    const fs::path originalImage = dir / "original.png";
    try {
        writeRgbPicturePng(originalImage.string(), pictureOf(original));
        run.originalImage = originalImage.filename().string();
    } catch (const Error& e) {
        appendProblem(problems, e.what());
    }
    const std::vector<fs::path> heatMaps = mapPaths(options.degraded, dir, kReportHeatMapSuffix);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (fs::exists(images[i])) files[i].image = images[i].filename().string();
        if (fs::exists(heatMaps[i])) files[i].heatMap = heatMaps[i].filename().string();
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
