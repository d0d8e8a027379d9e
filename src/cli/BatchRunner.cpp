#include "cli/BatchRunner.h"

#include <oneapi/tbb/task_arena.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/HeatMapOutput.h"
#include "cli/JobCount.h"
#include "cli/OutputNames.h"
#include "cli/ParallelInOrder.h"
#include "cli/ProgressBar.h"
#include "cli/ResultWriter.h"
#include "cli/TextFormat.h"
#include "engine/Comparison.h"
#include "engine/Lumetra2.h"
#include "engine/Parameters.h"
#include "image/Error.h"
#include "image/ErrorMapImage.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDiagnosticPrefix = "lumetra: ";
constexpr const char* kProblemSeparator = "; ";
constexpr const char* kCannotWriteResults = "cannot write the results to the standard output";

// The map files of one degraded file; an empty path for a map that was not asked for.
struct MapTargets {
    const fs::path& errorMap;
    const fs::path& floatMap;
};

// The engine for the original, running its own parallel work in the caller's task arena.
Lumetra2 buildEngine(const RgbImage& original, const Options& options) {
    return Lumetra2(original, options.parameters, ExecutionOptions{});
}

// The map paths of every degraded file, with the folder made; empty paths when `dir` is not
// given.
std::vector<fs::path> prepareMaps(const std::optional<fs::path>& dir,
                                  const std::vector<std::string>& degraded,
                                  const std::string& suffix) {
    if (!dir) return std::vector<fs::path>(degraded.size());
    std::error_code error;
    fs::create_directories(*dir, error);
    if (error || !fs::is_directory(*dir)) {
        throw ArgumentError("cannot make the folder \"" + dir->string() +
                            "\": " + (error ? error.message() : "not a folder"));
    }
    return mapPaths(degraded, *dir, suffix);
}

void appendProblem(std::string& problems, const std::string& problem) {
    if (!problems.empty()) problems += kProblemSeparator;
    problems += problem;
}

// Writes the requested maps of one comparison; returns what went wrong, empty when nothing.
std::string writeMaps(const Array<float>& map, const MapTargets& targets,
                      const InputFiles& inputs) {
    using MapWriter = void (*)(const std::string&, const Array<float>&);
    const std::pair<const fs::path&, MapWriter> maps[] = {{targets.errorMap, &writeErrorMapPng},
                                                          {targets.floatMap, &writeFloatMapPfm}};
    std::string problems;
    for (const auto& [path, write] : maps) {
        if (path.empty()) continue;
        if (inputs.wouldReplace(path)) {
            appendProblem(problems,
                          "not writing \"" + path.string() + "\": it would replace an input file");
            continue;
        }
        try {
            write(path.string(), map);
        } catch (const std::exception& e) {
            appendProblem(problems, e.what());
        }
    }
    return problems;
}

// Reads, checks and scores one degraded file and writes its maps.  Every failure ends up
// in the result: one file never stops the batch.
FileResult processFile(const Lumetra2& engine, const std::string& path, const MapTargets& targets,
                       const InputFiles& inputs, HeatMapOutput& heatMaps, std::size_t index) {
    FileResult result{path, std::nullopt, {}};
    std::optional<Comparison> comparison;
    {
        // The image lives only while it is scored: memory per file in flight stays at one
        // image and one decomposition.
        std::optional<RgbImage> degraded;
        try {
            // A file of another size is refused for the price of its header.
            const ImageHeader header = readImageHeader(path);
            engine.checkSize(path, header.rows, header.cols);
            degraded.emplace(path);
            engine.checkSize(path, *degraded);
        } catch (const Error& e) {
            result.error = e.what();  // names the file and the reason
            return result;
        } catch (const std::exception& e) {
            result.error = "cannot read image \"" + path + "\": " + e.what();
            return result;
        }
        try {
            comparison.emplace(engine(std::move(*degraded)));  // frees the image early
        } catch (const std::exception& e) {
            result.error = "cannot score \"" + path + "\": " + e.what();
            return result;
        }
    }
    result.scores = Scores{comparison->mobj(), comparison->nobj()};
    result.error = writeMaps(comparison->err(), targets, inputs);
    const std::string heatMapProblem = heatMaps.take(index, comparison->err());
    if (!heatMapProblem.empty()) appendProblem(result.error, heatMapProblem);
    return result;
}

// The whole run, inside the run's task arena: the files in flight and the engine's own
// parallel work share its threads.
int runInArena(const Options& options, const Console& console) {
    const std::vector<std::string>& degraded = options.degraded;
    const std::size_t count = degraded.size();

    // The original is kept only when heat maps are drawn over it.
    std::optional<RgbImage> original(std::in_place, options.original);
    const Lumetra2 engine = buildEngine(*original, options);
    if (!(options.heatMapDir && options.heatOnOriginal)) original.reset();
    const std::vector<fs::path> errorMaps =
        prepareMaps(options.errorMapDir, degraded, kErrorMapSuffix);
    const std::vector<fs::path> floatMaps =
        prepareMaps(options.floatMapDir, degraded, kFloatMapSuffix);
    std::vector<std::string> inputPaths = degraded;
    inputPaths.push_back(options.original);
    const InputFiles inputs(inputPaths);
    HeatMapOutput heatMaps(options, prepareMaps(options.heatMapDir, degraded, kHeatMapSuffix),
                           original ? &*original : nullptr, inputs);
    const bool rowsWaitForHeatMaps = heatMaps.deferred();

    const auto threads = static_cast<unsigned>(tbb::this_task_arena::max_concurrency());
    const unsigned jobs = options.jobs
                              ? *options.jobs
                              : automaticJobs(threads, std::uint64_t{engine.rows()} * engine.cols(),
                                              availableMemory());

    const std::unique_ptr<ResultWriter> writer =
        makeResultWriter(options.format, console.out, degraded);
    const bool showProgress = console.errIsTerminal && !options.quiet && count > 1;
    ProgressBar progress(console.err, count,
                         showProgress ? ProgressBar::Mode::Enabled : ProgressBar::Mode::Disabled);

    // Slot i is written by the task scoring file i and read once it is reported.  A file's
    // failure is in its result; only a failure to write the rows ends the run, after the rows
    // of the files before it.
    std::vector<FileResult> results(count);
    bool anyFailed = false;
    const auto writeRow = [&](std::size_t i) {
        const FileResult result = std::move(results[i]);
        progress.clear();
        writer->write(result);
        if (!console.out) throw Error(kCannotWriteResults);
        if (!result.error.empty()) {
            console.err << kDiagnosticPrefix << printable(result.error) << '\n' << std::flush;
        }
        anyFailed = anyFailed || result.failed();
        progress.redraw();
    };
    const InOrderCallbacks callbacks{
        [&](std::size_t i) {
            results[i] =
                processFile(engine, degraded[i], {errorMaps[i], floatMaps[i]}, inputs, heatMaps, i);
        },
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
        const std::vector<std::string> heatMapProblems = heatMaps.finish();
        for (std::size_t i = 0; i < count; ++i) {
            if (!heatMapProblems[i].empty()) appendProblem(results[i].error, heatMapProblems[i]);
            writeRow(i);
        }
    }
    progress.clear();
    writer->end();

    if (!console.out.flush()) throw Error(kCannotWriteResults);
    return anyFailed ? kExitFailure : kExitSuccess;
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
