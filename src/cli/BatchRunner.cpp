#include "cli/BatchRunner.h"

// A run, top to bottom:
//
//   plan       what each file is scored with, how many at once, every output and what stands
//              in its way, decided from the original's header before anything is scored
//   engine     the original decomposed once, and meanwhile the first file read and made
//              ready when the memory allows, so that both cores work from the start
//   score      the files in parallel, each read, scored, judged and its maps written, the
//              rows written in the order the files were given as soon as each is ready
//   finish     heat maps on the run's shared scale, the rows that waited for them, the report
//              swapped in whole, the exit status
//
// SIGINT or SIGTERM (see Interrupts.h) stops the hand-out of files; the files in flight are
// finished, their rows written, and the run ends with 128 + the signal's number, its
// temporaries removed and no report swapped in.

#include <oneapi/tbb/task_arena.h>

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/FileScoring.h"
#include "cli/HeatMapOutput.h"
#include "cli/ParallelInOrder.h"
#include "cli/RowOutput.h"
#include "cli/RunPlan.h"
#include "cli/RunReport.h"
#include "cli/TextFormat.h"
#include "engine/BandFiltersCache.h"
#include "engine/Lumetra2.h"
#include "image/Parallel.h"
#include "image/RgbImage.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// Thrown by a file's task when the run was asked to stop before the file was started: the
// files before it are reported, it and those after it are not.
struct Interrupted {};

// The exit status of a run stopped by `signal`, as a shell reports a program it ended.
int interruptedStatus(int signal) {
    return 128 + signal;
}

// The engine for the original, running its own parallel work in the caller's task arena, in
// the mode the plan chose; its filters come from `filters` when given.
Lumetra2 buildEngine(const RgbImage& original, const Options& options, const RunPlan& plan,
                     BandFiltersCache* filters) {
    return Lumetra2(original, options.parameters, ExecutionOptions{0, filters, plan.lowMemory});
}

// The engine, and when the plan says so the first file made ready while it is built: the
// file takes its filters from the cache the engine makes them in, waits for them (helping to
// make them), and makes its edge map and spectra while the engine decomposes the original.
struct EngineStart {
    std::optional<Lumetra2> engine;
    std::optional<ReadFile> first;
};

EngineStart startEngine(const RgbImage& original, const Options& options, const RunPlan& plan) {
    EngineStart start;
    if (!plan.preparesFirst) {
        start.engine.emplace(buildEngine(original, options, plan, nullptr));
        return start;
    }
    BandFiltersCache cache(1);
    parallelInvoke([&] { start.engine.emplace(buildEngine(original, options, plan, &cache)); },
                   [&] {
                       std::shared_ptr<const BandFilters> filters;
                       try {
                           filters = cache.filters(original.rows(), original.cols(),
                                                   options.parameters.pixelsPerDegree);
                       } catch (const std::exception&) {
                           return;  // the engine says why; the file is read as usual
                       }
                       start.first = prepareFile(plan, std::move(filters), options.maxPixels,
                                                 options.degraded.front(), 0);
                   });
    return start;
}

// The heat maps of --heatmaps, and those of the report, drawn as --heatmaps draws them.
struct HeatMaps {
    HeatMaps(const Options& options, const RunPlan& plan, const RgbImage* original)
        : files(options, plan.heatMaps, original, plan.inputs) {
        if (!plan.report || plan.report->heatMaps.empty()) return;
        Options ofReport = options;
        ofReport.heatMapDir = plan.report->folder->files();
        report.emplace(ofReport, plan.report->heatMaps, original, plan.inputs);
    }

    bool deferred() const { return files.deferred() || (report && report->deferred()); }

    HeatMapOutput files;
    std::optional<HeatMapOutput> report;
};

// Draws the heat maps that waited for the run's shared scale, and appends what went wrong with
// them to the errors of the first `count` results.
void appendDeferredHeatMapProblems(HeatMaps& heatMaps, std::vector<FileResult>& results,
                                   std::size_t count) {
    const std::vector<std::string> none(results.size());
    const std::vector<std::string> ofFiles =
        heatMaps.files.deferred() ? heatMaps.files.finish() : none;
    const std::vector<std::string> ofReport =
        heatMaps.report && heatMaps.report->deferred() ? heatMaps.report->finish() : none;
    for (std::size_t i = 0; i < count; ++i) {
        appendProblem(results[i].error, ofFiles[i]);
        appendProblem(results[i].error, ofReport[i]);
    }
}

// Writes the page and the original's picture into the report's folder and swaps it in;
// returns what went wrong, empty when nothing did.
std::string finishReport(const Options& options, const RunPlan& plan, const RgbImage& original,
                         std::vector<ReportFile> files) {
    ReportFolder& folder = *plan.report->folder;
    std::string problem =
        writeRunReport(folder.files(), options, original, plan.report->images, std::move(files));
    if (problem.empty()) problem = folder.swapIn(plan.inputs);
    return problem;
}

// The whole run, inside the run's task arena: the files in flight and the engine's own
// parallel work share its threads.
int runInArena(const Options& options, const Console& console, const StopRequest& stop) {
    const std::vector<std::string>& degraded = options.degraded;
    const std::size_t count = degraded.size();

    const RunPlan plan = planRun(options);
    RowOutput rows(options, plan, console);
    if (!plan.originalNotice.empty()) rows.diagnose(plan.originalNotice);
    if (!plan.lowMemoryNotice.empty()) rows.diagnose(plan.lowMemoryNotice);
    // Said at once, so that a long run can be stopped; the files are still scored.
    if (plan.report && !plan.report->folder->problem().empty()) {
        rows.diagnose(plan.report->folder->problem());
    }

    std::optional<RgbImage> original(std::in_place, options.original, options.maxPixels);
    EngineStart start = startEngine(*original, options, plan);
    const Lumetra2& engine = *start.engine;
    if (!plan.keepsOriginal) original.reset();
    if (stop.requested()) return interruptedStatus(stop.signal());

    const RgbImage* shownOriginal = original ? &*original : nullptr;
    HeatMaps heatMaps(options, plan, shownOriginal);
    const FileJob job{engine,
                      plan,
                      options.gates,
                      heatMaps.files,
                      heatMaps.report ? &*heatMaps.report : nullptr,
                      options.maxPixels};

    // Slot i is written by the task scoring file i and read once it is reported.  A file's
    // failure is in its result; only a failure to write the rows ends the run, after the rows
    // of the files before it.  Heat maps on the run's shared scale can fail only at the end:
    // the rows then wait for them.
    std::vector<FileResult> results(count);
    std::size_t reported = 0;
    const bool rowsWait = heatMaps.deferred();
    const InOrderCallbacks callbacks{
        [&](std::size_t i) {
            if (stop.requested()) throw Interrupted{};
            if (i == 0 && start.first) {
                results[i] = scoreFile(job, degraded[i], i, std::move(*start.first));
                start.first.reset();
            } else {
                results[i] = scoreFile(job, degraded[i], i);
            }
        },
        [&](std::size_t i) {
            reported = i + 1;
            if (!rowsWait) rows.write(i, std::move(results[i]));
        },
        [&](std::size_t done) { rows.progress(done); },
    };
    rows.begin();
    try {
        runInOrder(count, plan.jobs, callbacks);
    } catch (const Interrupted&) {
        // The files before the first one not started are scored and their rows written.
    }
    if (rowsWait) {
        appendDeferredHeatMapProblems(heatMaps, results, reported);
        for (std::size_t i = 0; i < reported; ++i) rows.write(i, std::move(results[i]));
    }
    rows.end();
    if (stop.requested()) return interruptedStatus(stop.signal());

    bool failed = rows.anyFailed();
    if (plan.report) {
        // The report comes last, so that it holds every row; a report that cannot be written
        // fails the run, the rows stay.  Why a folder cannot take it was said at the start.
        const bool writable = plan.report->folder->problem().empty();
        const std::string problem =
            writable ? finishReport(options, plan, *original, rows.takeReportFiles()) : "";
        if (!problem.empty()) rows.diagnose(problem);
        failed = failed || !writable || !problem.empty();
    }
    if (rows.crossedGates() > 0) {
        // One line for the log of a continuous-integration job: why it ends with status 3.
        const std::size_t crossed = rows.crossedGates();
        rows.diagnose(std::to_string(crossed) + " of " + std::to_string(count) +
                      (count == 1 ? " file" : " files") + " crossed a quality gate");
    }
    if (failed) return kExitFailure;  // a failure outranks a crossed gate
    return rows.crossedGates() > 0 ? kExitGate : kExitSuccess;
}

}  // namespace

int runBatch(const Options& options, const Console& console, const StopRequest& stop) {
    // One pool of threads for the whole run: the files in flight and their own parallel work
    // take turns on it, so no more threads work at once than were asked for.
    tbb::task_arena arena(options.threads == 0 ? tbb::task_arena::automatic
                                               : static_cast<int>(options.threads));
    return arena.execute([&] { return runInArena(options, console, stop); });
}

}  // namespace lumetra
