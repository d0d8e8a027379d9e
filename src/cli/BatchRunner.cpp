#include "cli/BatchRunner.h"

#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "args/NumberText.h"
#include "cli/HeatMapOutput.h"
#include "cli/JobCount.h"
#include "cli/OutputNames.h"
#include "cli/ParallelInOrder.h"
#include "cli/ProgressBar.h"
#include "cli/QualityGates.h"
#include "cli/ResultWriter.h"
#include "cli/RunReport.h"
#include "cli/TextFormat.h"
#include "engine/Comparison.h"
#include "engine/EngineMemory.h"
#include "engine/Explanation.h"
#include "engine/Lumetra2.h"
#include "engine/Parameters.h"
#include "image/Error.h"
#include "image/ErrorMapImage.h"
#include "image/ImageHeader.h"
#include "image/Percentiles.h"
#include "image/RgbImage.h"
#include "image/RgbPicture.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDiagnosticPrefix = "lumetra: ";
constexpr const char* kCannotWriteResults = "cannot write the results to the standard output";

// An explained file in flight holds, besides what a plain one does, its 27 degraded bands, the
// explanation's ten maps and the planes they are made from: about 170 bytes per pixel more,
// under twice the plain file's figure.
constexpr std::uint64_t kExplainedMemoryFactor = 3;

// Whether a file is scored alone or with its explanation (--explain, --explain-maps).
enum class Scoring { Plain, Explained };

// What one file's scoring made: the comparison, and the explanation's maps when asked for.
struct Scored {
    const Comparison& comparison;
    const ExplanationMaps* explanation;
};

using MapWriter = void (*)(const std::string&, const Array<float>&);
// The plane a map shows; null when the file's scoring did not make it.
using PlaneOf = const Array<float>* (*)(const Scored&);

// The maps of one kind (--error-maps, --float-maps, each of the explanation maps) for the
// whole batch.
struct MapSet {
    std::vector<fs::path> paths;  // one per degraded file; empty paths when not asked for
    std::string folderProblem;    // why the folder could not be made; empty when it was
    MapWriter write;
    PlaneOf plane;
};

// What scoring one file needs besides its path.
struct FileJob {
    const Lumetra2& engine;
    const std::vector<MapSet>& maps;
    const InputFiles& inputs;
    const QualityGates& gates;
    Scoring scoring;
    HeatMapOutput& heatMaps;
    // The report's pictures: a copy of each degraded image and its heat map; none without
    // --report.
    const std::vector<fs::path>& reportImages;
    HeatMapOutput* reportHeatMaps;
    std::uint64_t maxPixels;  // --max-pixels
};

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

// The engine for the original, running its own parallel work in the caller's task arena.
Lumetra2 buildEngine(const RgbImage& original, const Options& options) {
    return Lumetra2(original, options.parameters, ExecutionOptions{});
}

// The map paths of every degraded file, with the folder made; empty paths when `dir` is not
// given.  A folder that cannot be made does not stop the run: every file is still scored, and
// each of its maps fails with the reason, so its row says why and nothing is lost.
MapSet prepareMaps(const std::optional<fs::path>& dir, const std::vector<std::string>& degraded,
                   const std::string& suffix, MapWriter write, PlaneOf plane) {
    if (!dir) return {std::vector<fs::path>(degraded.size()), {}, write, plane};
    std::error_code error;
    fs::create_directories(*dir, error);
    std::string problem;
    if (error || !fs::is_directory(*dir)) {
        problem = "cannot make the folder \"" + dir->string() +
                  "\": " + (error ? error.message() : "a file of that name is in the way");
    }
    return {mapPaths(degraded, *dir, suffix), problem, write, plane};
}

// Writes the requested maps of file i; returns what went wrong, empty when nothing.
std::string writeMaps(const Scored& scored, const FileJob& job, std::size_t i) {
    std::string problems;
    for (const MapSet& set : job.maps) {
        const fs::path& path = set.paths[i];
        const Array<float>* map = set.plane(scored);
        if (path.empty() || map == nullptr) continue;
        if (!set.folderProblem.empty()) {
            appendProblem(problems, "cannot write \"" + path.string() + "\": " + set.folderProblem);
            continue;
        }
        if (job.inputs.wouldReplace(path)) {
            appendProblem(problems,
                          "not writing \"" + path.string() + "\": it would replace an input file");
            continue;
        }
        try {
            set.write(path.string(), *map);
        } catch (const std::exception& e) {
            appendProblem(problems, e.what());
        }
    }
    return problems;
}

// The gates' verdict on a scored file; none when no gate was given.  `percentiles` are
// given whenever the p99 gate is.
std::optional<std::string> judge(const QualityGates& gates, const Comparison& comparison,
                                 const std::optional<MapPercentiles>& percentiles) {
    if (!gates.any()) return std::nullopt;
    const float p99 = gates.maxP99 ? percentiles->p99 : 0.0f;
    return failedGates(gates, {comparison.mobj(), comparison.nobj(), p99});
}

// A file whose memory ran out despite the estimate: its share of it, as the refusal says it.
std::string outOfMemory(const FileJob& job, const std::string& path) {
    const std::uint64_t pixels = std::uint64_t{job.engine.rows()} * job.engine.cols();
    const std::uint64_t factor = job.scoring == Scoring::Explained ? kExplainedMemoryFactor : 1;
    return "out of memory while scoring \"" + path + "\" (needs about " +
           gigabytesText(pixels * kBytesPerPixelInFlight * factor) + ")";
}

// Reads, checks and scores file i, judges it by the gates and writes its maps.  Every failure
// ends up in the result: one file never stops the batch.
FileResult processFile(const FileJob& job, const std::string& path, std::size_t i) {
    const Lumetra2& engine = job.engine;
    FileResult result{path, std::nullopt, {}};
    std::optional<Comparison> comparison;
    std::optional<ExplanationMaps> explanationMaps;
    std::string reportProblem;
    {
        // The image lives only while it is scored: memory per file in flight stays at one
        // image and one decomposition.
        std::optional<RgbImage> degraded;
        try {
            // A file of another size is refused for the price of its header.
            const ImageHeader header = readImageHeader(path, job.maxPixels);
            engine.checkSize(path, header.rows, header.cols);
            degraded.emplace(path, job.maxPixels);
            engine.checkSize(path, *degraded);
            if (!job.reportImages.empty()) {
                // A picture that cannot be written fails the row, like any other map.
                try {
                    writeRgbPicturePng(job.reportImages[i].string(), pictureOf(*degraded));
                } catch (const Error& e) {
                    appendProblem(reportProblem, e.what());
                }
            }
        } catch (const Error& e) {
            result.error = e.what();  // names the file and the reason
            return result;
        } catch (const std::bad_alloc&) {
            result.error = outOfMemory(job, path);
            return result;
        } catch (const std::exception& e) {
            result.error = "cannot read image \"" + path + "\": " + e.what();
            return result;
        }
        try {
            if (job.scoring == Scoring::Explained) {
                Explanation explained = engine.explain(*degraded);
                result.explanation = explained.numbers;
                comparison.emplace(std::move(explained.comparison));
                explanationMaps.emplace(std::move(explained.maps));
            } else {
                comparison.emplace(engine(std::move(*degraded)));  // frees the image early
            }
        } catch (const std::bad_alloc&) {
            result.error = outOfMemory(job, path);
            return result;
        } catch (const std::exception& e) {
            result.error = "cannot score \"" + path + "\": " + e.what();
            return result;
        }
    }
    // A measure that is not a finite number is no result: the row fails with the reason.
    const std::string measureFault = measureProblem(*comparison);
    if (!measureFault.empty()) {
        result.error = "cannot score \"" + path + "\": " + measureFault;
        result.explanation.reset();
        return result;
    }
    result.scores = Scores{comparison->mobj(), comparison->nobj()};
    // The error map's percentiles, taken once (a copy and a partial sort of the map) and only
    // when the p99 gate, the heat maps' shared scale or the report uses them.
    std::optional<MapPercentiles> percentiles;
    if (result.explanation) {
        percentiles = result.explanation->percentiles;
    } else if (job.gates.maxP99 || job.heatMaps.deferred() || job.reportHeatMaps != nullptr) {
        percentiles = percentilesOf(comparison->err());
    }
    // A file whose maps then fail keeps its verdict: its scores are printed, so is the verdict.
    result.gate = judge(job.gates, *comparison, percentiles);
    const Scored scored{*comparison, explanationMaps ? &*explanationMaps : nullptr};
    result.error = writeMaps(scored, job, i);
    const MapPercentiles* known = percentiles ? &*percentiles : nullptr;
    appendProblem(result.error, job.heatMaps.take(i, comparison->err(), known));
    if (job.reportHeatMaps != nullptr) {
        result.percentiles = percentiles;
        appendProblem(reportProblem, job.reportHeatMaps->take(i, comparison->err(), known));
        appendProblem(result.error, reportProblem);
    }
    return result;
}

// Makes `dir` and its parents; returns why it could not, empty when it could.
std::string prepareFolder(const fs::path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (!error && fs::is_directory(dir)) return {};
    return "cannot make the folder \"" + dir.string() +
           "\": " + (error ? error.message() : "a file of that name is in the way");
}

// The whole run, inside the run's task arena: the files in flight and the engine's own
// parallel work share its threads.
int runInArena(const Options& options, const Console& console) {
    const std::vector<std::string>& degraded = options.degraded;
    const std::size_t count = degraded.size();

    // Files scored at once and the memory they and the engine take, known from the original's
    // header: a run the machine cannot hold is refused before anything large is allocated.
    const ImageHeader originalHeader = readImageHeader(options.original, options.maxPixels);
    const std::uint64_t pixels = std::uint64_t{originalHeader.rows} * originalHeader.cols;
    const Scoring scoring =
        options.explain || options.explanationMapDir ? Scoring::Explained : Scoring::Plain;
    const std::uint64_t memoryFactor = scoring == Scoring::Explained ? kExplainedMemoryFactor : 1;
    const std::optional<std::uint64_t> available = availableMemory();
    const auto threads = static_cast<unsigned>(tbb::this_task_arena::max_concurrency());
    const unsigned jobs =
        options.jobs ? *options.jobs : automaticJobs(threads, pixels * memoryFactor, available);
    const std::string memoryShort =
        memoryProblem(engineMemory(pixels, std::min<std::size_t>(jobs, count),
                                   kBytesPerPixelInFlight * memoryFactor),
                      available);
    if (!memoryShort.empty()) {
        throw MemoryLimitError("scoring against \"" + options.original + "\" (" +
                               decimalText(originalHeader.cols) + " x " +
                               decimalText(originalHeader.rows) + " pixels) " + memoryShort +
                               (options.jobs && *options.jobs > 1 ? "; try fewer --jobs" : ""));
    }

    // The original is kept only when heat maps are drawn over it or the report shows it.
    std::optional<RgbImage> original(std::in_place, options.original, options.maxPixels);
    const Lumetra2 engine = buildEngine(*original, options);
    const bool heatMapsOverOriginal =
        options.heatOnOriginal && (options.heatMapDir || options.reportDir);
    if (!heatMapsOverOriginal && !options.reportDir) original.reset();
    std::vector<MapSet> maps = {
        prepareMaps(options.errorMapDir, degraded, kErrorMapSuffix, &writeErrorMapPng, &errorMapOf),
        prepareMaps(options.floatMapDir, degraded, kFloatMapSuffix, &writeFloatMapPfm,
                    &errorMapOf)};
    const auto explanationPlane =
        explanationPlanes(std::make_index_sequence<kExplanationMapCount>());
    for (std::size_t m = 0; m < kExplanationMapCount; ++m) {
        maps.push_back(
            prepareMaps(options.explanationMapDir, degraded,
                        std::string(".") + kExplanationMapNames[m] + kExplanationMapExtension,
                        &writeFloatMapPfm, explanationPlane[m]));
    }
    std::vector<std::string> inputPaths = degraded;
    inputPaths.push_back(options.original);
    const InputFiles inputs(inputPaths);
    // A heat-map folder that cannot be made fails each heat map's write, and so its row.
    HeatMapOutput heatMaps(
        options, prepareMaps(options.heatMapDir, degraded, kHeatMapSuffix, nullptr, nullptr).paths,
        original ? &*original : nullptr, inputs);
    // The report: its folder, a copy of each degraded image and a heat map of each file, drawn
    // as --heatmaps draws them.
    std::string reportFolderProblem;
    std::vector<fs::path> reportImages;
    std::optional<HeatMapOutput> reportHeatMaps;
    if (options.reportDir) {
        reportFolderProblem = prepareFolder(*options.reportDir);
        if (reportFolderProblem.empty()) {
            reportImages = mapPaths(degraded, *options.reportDir, kReportImageSuffix);
            Options heatMapsOfReport = options;
            heatMapsOfReport.heatMapDir = options.reportDir;
            reportHeatMaps.emplace(heatMapsOfReport,
                                   mapPaths(degraded, *options.reportDir, kReportHeatMapSuffix),
                                   original ? &*original : nullptr, inputs);
        }
    }
    const bool rowsWaitForHeatMaps =
        heatMaps.deferred() || (reportHeatMaps && reportHeatMaps->deferred());
    const FileJob job{
        engine,           maps,     inputs,       options.gates,
        scoring,          heatMaps, reportImages, reportHeatMaps ? &*reportHeatMaps : nullptr,
        options.maxPixels};

    RowColumns columns;
    if (options.gates.any()) columns.gate = GateColumn::Shown;
    if (options.explain) columns.explanation = ExplanationColumns::Included;
    // A viewing geometry given on the command line is printed with the results; CSV and TSV
    // rows keep their columns, so there it goes to the diagnostics.
    if (options.showViewing) columns.pixelsPerDegree = options.parameters.pixelsPerDegree;
    const std::unique_ptr<ResultWriter> writer =
        makeResultWriter(options.format, console.out, degraded, columns);
    const bool delimited =
        options.format == OutputFormat::Csv || options.format == OutputFormat::Tsv;
    if (columns.pixelsPerDegree && delimited) {
        console.err << kDiagnosticPrefix << viewingLine(*columns.pixelsPerDegree) << '\n';
    }
    const bool showProgress = console.errIsTerminal && !options.quiet && count > 1;
    ProgressBar progress(console.err, count,
                         showProgress ? ProgressBar::Mode::Enabled : ProgressBar::Mode::Disabled);

    // Slot i is written by the task scoring file i and read once it is reported.  A file's
    // failure is in its result; only a failure to write the rows ends the run, after the rows
    // of the files before it.
    std::vector<FileResult> results(count);
    bool anyFailed = false;
    std::size_t crossedGates = 0;
    std::vector<ReportFile> reportFiles(count);
    const auto writeRow = [&](std::size_t i) {
        const FileResult result = std::move(results[i]);
        if (reportHeatMaps) reportFiles[i] = reportFileOf(result);
        progress.clear();
        writer->write(result);
        if (!console.out) throw Error(kCannotWriteResults);
        if (!result.error.empty()) {
            console.err << kDiagnosticPrefix << printable(result.error) << '\n' << std::flush;
        }
        anyFailed = anyFailed || result.failed();
        if (result.crossedGate()) ++crossedGates;
        progress.redraw();
    };
    const InOrderCallbacks callbacks{
        [&](std::size_t i) { results[i] = processFile(job, degraded[i], i); },
        [&](std::size_t i) {
            // Heat maps on the run's shared scale can fail only at the end: their rows wait.
            if (!rowsWaitForHeatMaps) writeRow(i);
        },
        [&](std::size_t done) { progress.update(done); },
    };

    writer->begin();
    progress.update(0);
    runInOrder(count, jobs, callbacks);
    if (rowsWaitForHeatMaps) {
        const std::vector<std::string> none(count);
        const std::vector<std::string> heatMapProblems =
            heatMaps.deferred() ? heatMaps.finish() : none;
        const std::vector<std::string> reportProblems =
            reportHeatMaps && reportHeatMaps->deferred() ? reportHeatMaps->finish() : none;
        for (std::size_t i = 0; i < count; ++i) {
            appendProblem(results[i].error, heatMapProblems[i]);
            appendProblem(results[i].error, reportProblems[i]);
            writeRow(i);
        }
    }
    progress.clear();
    writer->end();

    if (!console.out.flush()) throw Error(kCannotWriteResults);
    if (options.reportDir) {
        // The report comes last, so that it holds every row; a report that cannot be written
        // fails the run, the rows stay.
        std::string problem = reportFolderProblem;
        if (problem.empty()) {
            problem = writeRunReport(options, *original, reportImages, std::move(reportFiles));
        }
        if (!problem.empty()) {
            console.err << kDiagnosticPrefix << printable(problem) << '\n' << std::flush;
            anyFailed = true;
        }
    }
    if (crossedGates > 0) {
        // One line for the log of a continuous-integration job: why it ends with status 3.
        console.err << kDiagnosticPrefix << crossedGates << " of " << count
                    << (count == 1 ? " file" : " files") << " crossed a quality gate\n"
                    << std::flush;
    }
    if (anyFailed) return kExitFailure;  // a failure outranks a crossed gate
    return crossedGates > 0 ? kExitGate : kExitSuccess;
}

}  // namespace

int runBatch(const Options& options, const Console& console) {
    // One pool of threads for the whole run: the files in flight and their own parallel work
    // take turns on it, so no more threads work at once than were asked for.
    tbb::task_arena arena(options.threads == 0 ? tbb::task_arena::automatic
                                               : static_cast<int>(options.threads));
    return arena.execute([&] { return runInArena(options, console); });
}

}  // namespace lumetra
