#include "cli/RunPlan.h"

#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <system_error>
#include <utility>

#include "args/NumberText.h"
#include "cli/JobCount.h"
#include "engine/EngineMemory.h"
#include "image/Error.h"
#include "image/ErrorMapImage.h"
#include "image/ImageHeader.h"
#include "image/Temporaries.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// An explained file in flight holds, besides what a plain one does, its 27 degraded bands, the
// explanation's ten maps and the planes they are made from: about 170 bytes per pixel more,
// under twice the plain file's figure.
constexpr std::uint64_t kExplainedMemoryFactor = 3;

const Array<float>* errorMapOf(const Scored& scored) {
    return &scored.comparison.err();
}

// Explanation map m, in the order of kExplanationMapNames.
template <std::size_t m>
const Array<float>* explanationMapOf(const Scored& scored) {
    if (scored.explanation == nullptr) return nullptr;
    const ExplanationMaps& maps = *scored.explanation;
    const std::array<const Array<float>*, kExplanationMapCount> planes{
        &maps.terms[0],    &maps.terms[1],    &maps.terms[2],    &maps.terms[3], &maps.channels[0],
        &maps.channels[1], &maps.channels[2], &maps.blockWeight, &maps.edgeZone, &maps.share};
    return planes[m];
}

template <std::size_t... m>
constexpr std::array<PlaneOf, kExplanationMapCount> explanationPlanes(std::index_sequence<m...>) {
    return {&explanationMapOf<m>...};
}

// Makes `dir` and its parents; returns why it could not, empty when it could.
std::string prepareFolder(const fs::path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (!error && fs::is_directory(dir)) return {};
    return "cannot make the folder \"" + dir.string() +
           "\": " + (error ? error.message() : "a file of that name is in the way");
}

// The map paths of every degraded file, with the folder made and the temporaries a killed run
// left there removed; empty paths when `dir` is not given.  A folder that cannot be made does
// not stop the run: every file is still scored, and each of its maps fails with the reason, so
// its row says why and nothing is lost.
MapSet prepareMaps(const std::optional<fs::path>& dir, const std::vector<std::string>& degraded,
                   const std::string& suffix, MapWriter write, PlaneOf plane,
                   fs::file_time_type runStart) {
    if (!dir) return {std::vector<fs::path>(degraded.size()), {}, write, plane};
    std::string problem = prepareFolder(*dir);
    if (problem.empty()) removeAbandonedTemporaries(*dir, runStart);
    return {mapPaths(degraded, *dir, suffix), std::move(problem), write, plane};
}

// How the files are scored: how many at once and by which mode of engine.
struct Sizing {
    unsigned jobs = 1;
    bool lowMemory = false;
    std::string notice;  // why low-memory mode was chosen; empty when it was not
    // The first file is made ready while the engine is built (see RunPlan::preparesFirst).
    bool preparesFirst = false;
};

// Files scored at once by an engine in the given mode: --jobs, or as many as the memory left
// beside the engine holds, one per thread at most.
unsigned jobsFor(const Options& options, Scoring scoring, bool lowMemory, std::uint64_t pixels,
                 std::optional<std::uint64_t> available) {
    if (options.jobs) return *options.jobs;
    const auto threads = static_cast<unsigned>(tbb::this_task_arena::max_concurrency());
    if (available) {
        const std::uint64_t engine =
            pixels * (lowMemory ? kLowMemoryEngineBytesPerPixel : kEngineBytesPerPixel);
        available = *available > engine ? *available - engine : 0;
    }
    return automaticJobs(threads, pixels, available, bytesPerPixelInFlight(scoring, lowMemory));
}

// The memory a run of `jobs` files at once takes in the given mode.
std::uint64_t runMemory(const Options& options, Scoring scoring, bool lowMemory,
                        std::uint64_t pixels, unsigned jobs) {
    return engineMemory(pixels, std::min<std::size_t>(jobs, options.degraded.size()),
                        bytesPerPixelInFlight(scoring, lowMemory), lowMemory);
}

// Files scored at once and the engine's mode, checked against the memory left: the engine and
// the files in flight, known from the original's header, so that a run the machine cannot
// hold is refused before anything large is allocated.  The default mode unless --low-memory,
// or unless only low-memory mode fits.
Sizing plannedSizing(const Options& options, Scoring scoring, const ImageHeader& header) {
    const std::uint64_t pixels = std::uint64_t{header.rows} * header.cols;
    const std::optional<std::uint64_t> available = availableMemory();
    Sizing sizing{
        jobsFor(options, scoring, options.lowMemory, pixels, available), options.lowMemory, {}};
    std::string memoryShort = memoryProblem(
        runMemory(options, scoring, sizing.lowMemory, pixels, sizing.jobs), available);
    if (!memoryShort.empty() && !sizing.lowMemory) {
        const Sizing low{jobsFor(options, scoring, true, pixels, available), true, {}};
        const std::uint64_t needed = runMemory(options, scoring, true, pixels, low.jobs);
        if (memoryProblem(needed, available).empty()) {
            const std::uint64_t kept = runMemory(options, scoring, false, pixels, sizing.jobs);
            return Sizing{low.jobs, true,
                          "keeping the original's bands would need about " + gigabyteText(kept) +
                              " and " + gigabyteText(*available) +
                              " are available; scoring in low-memory mode (about " +
                              gigabyteText(needed) +
                              "), with the same results in more time per file"};
        }
        // Neither mode fits: what the one that needs least would need.
        memoryShort = "needs about " + gigabyteText(needed) + " even in low-memory mode; " +
                      gigabyteText(*available) + " available";
    }
    if (!memoryShort.empty()) {
        throw MemoryLimitError("scoring against \"" + options.original + "\" (" +
                               decimalText(header.cols) + " x " + decimalText(header.rows) +
                               " pixels) " + memoryShort +
                               (options.jobs && *options.jobs > 1 ? "; try fewer --jobs" : ""));
    }
    // The first file made ready while the engine is built holds its edge map and spectra
    // through the engine's peak, as one more file in flight would.  Not in low-memory mode,
    // which is there to save that memory.
    if (scoring == Scoring::Plain && !sizing.lowMemory && !options.degraded.empty()) {
        const std::uint64_t files = std::min<std::size_t>(sizing.jobs, options.degraded.size()) + 1;
        sizing.preparesFirst =
            memoryProblem(engineMemory(pixels, files, bytesPerPixelInFlight(scoring)), available)
                .empty();
    }
    return sizing;
}

std::vector<std::string> inputsOf(const Options& options) {
    std::vector<std::string> paths = options.degraded;
    paths.push_back(options.original);
    return paths;
}

// The report's folder and the names of its pictures in it.
ReportPlan planReport(const fs::path& dir, const Options& options, const InputFiles& inputs,
                      fs::file_time_type runStart) {
    ReportPlan report;
    report.folder = std::make_unique<ReportFolder>(dir, inputs);
    removeAbandonedTemporaries(report.folder->target().parent_path(), runStart);
    if (!report.folder->problem().empty()) return report;
    const fs::path& files = report.folder->files();
    report.images = mapPaths(options.degraded, files, kReportImageSuffix);
    report.heatMaps = mapPaths(options.degraded, files, kReportHeatMapSuffix);
    return report;
}

RowColumns columnsOf(const Options& options) {
    RowColumns columns;
    if (options.gates.any()) columns.gate = GateColumn::Shown;
    if (options.explain) columns.explanation = ExplanationColumns::Included;
    // A viewing geometry given on the command line is printed with the results.
    if (options.showViewing) columns.pixelsPerDegree = options.parameters.pixelsPerDegree;
    // JSON rows always say what each file declared; the other formats keep their columns
    // unless the files are converted, when the converted profile's name goes with the results.
    columns.colour = options.reading.colour == ColourHandling::ToSrgb ? ColourColumns::Everywhere
                                                                      : ColourColumns::InJson;
    columns.orientation = options.reading.orientation;
    return columns;
}

}  // namespace

std::uint64_t bytesPerPixelInFlight(Scoring scoring, bool lowMemory) {
    const std::uint64_t plain =
        lowMemory ? kLowMemoryBytesPerPixelInFlight : kBytesPerPixelInFlight;
    // An explained file in low-memory mode also makes the original's 27 bands for its channel
    // maps: 108 bytes per pixel more, which the factor's headroom holds.
    return plain * (scoring == Scoring::Explained ? kExplainedMemoryFactor : 1);
}

RunPlan planRun(const Options& options) {
    const fs::file_time_type runStart = fs::file_time_type::clock::now();
    const std::vector<std::string>& degraded = options.degraded;
    const Scoring scoring =
        options.explain || options.explanationMapDir ? Scoring::Explained : Scoring::Plain;
    const ImageHeader header = readImageHeader(options.original, options.maxPixels);
    Sizing sizing = plannedSizing(options, scoring, header);
    InputFiles inputs(inputsOf(options));

    std::vector<MapSet> maps = {prepareMaps(options.errorMapDir, degraded, kErrorMapSuffix,
                                            &writeErrorMapPng, &errorMapOf, runStart),
                                prepareMaps(options.floatMapDir, degraded, kFloatMapSuffix,
                                            &writeFloatMapPfm, &errorMapOf, runStart)};
    const auto explanationPlane =
        explanationPlanes(std::make_index_sequence<kExplanationMapCount>());
    for (std::size_t m = 0; m < kExplanationMapCount; ++m) {
        maps.push_back(
            prepareMaps(options.explanationMapDir, degraded,
                        std::string(".") + kExplanationMapNames[m] + kExplanationMapExtension,
                        &writeFloatMapPfm, explanationPlane[m], runStart));
    }
    // A heat-map folder that cannot be made fails each heat map's write, and so its row.
    MapSet heatMaps =
        prepareMaps(options.heatMapDir, degraded, kHeatMapSuffix, nullptr, nullptr, runStart);
    if (!options.heatMapDir) heatMaps.paths.clear();
    std::optional<ReportPlan> report;
    if (options.reportDir) report = planReport(*options.reportDir, options, inputs, runStart);
    const bool keepsOriginal = options.reportDir || (options.heatOnOriginal && options.heatMapDir);
    return RunPlan{scoring,
                   sizing.jobs,
                   sizing.lowMemory,
                   std::move(sizing.notice),
                   std::move(inputs),
                   std::move(maps),
                   std::move(heatMaps.paths),
                   std::move(heatMaps.folderProblem),
                   std::move(report),
                   columnsOf(options),
                   keepsOriginal,
                   sizing.preparesFirst,
                   options.reading,
                   ColourSpace{}};
}

}  // namespace lumetra
