#include "cli/FileScoring.h"

#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "cli/TextFormat.h"
#include "engine/Comparison.h"
#include "engine/EngineMemory.h"
#include "engine/Explanation.h"
#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/Percentiles.h"
#include "image/RgbImage.h"
#include "image/RgbPicture.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// "out of memory while scoring "x.png" (needs about 1.2 GB)"
std::string outOfMemory(const RunPlan& plan, std::uint64_t pixels, const std::string& path) {
    return "out of memory while scoring \"" + path + "\" (needs about " +
           gigabyteText(pixels * bytesPerPixelInFlight(plan.scoring, plan.lowMemory)) + ")";
}

// Writes the requested maps of file i; returns what went wrong, empty when nothing.
std::string writeMaps(const Scored& scored, const FileJob& job, std::size_t i) {
    std::string problems;
    for (const MapSet& set : job.plan.maps) {
        const fs::path& path = set.paths[i];
        const Array<float>* map = set.plane(scored);
        if (path.empty() || map == nullptr) continue;
        if (!set.folderProblem.empty()) {
            appendProblem(problems, "cannot write \"" + path.string() + "\": " + set.folderProblem);
            continue;
        }
        if (job.plan.inputs.wouldReplace(path)) {
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

// What scoring made of one file, before its maps are written.
struct Made {
    std::optional<Comparison> comparison;
    std::optional<ExplanationMaps> explanationMaps;
    std::optional<ExplanationNumbers> explanation;
    std::string error;  // why the file could not be read or scored
};

// Scores the file read as `read`.
Made score(const FileJob& job, const std::string& path, ReadFile read) {
    Made made;
    if (!read.error.empty()) {
        made.error = std::move(read.error);
        return made;
    }
    try {
        if (read.prepared) {
            made.comparison.emplace(job.engine(std::move(*read.prepared)));
        } else if (job.plan.scoring == Scoring::Explained) {
            Explanation explained = job.engine.explain(*read.image);
            made.explanation = explained.numbers;
            made.comparison.emplace(std::move(explained.comparison));
            made.explanationMaps.emplace(std::move(explained.maps));
        } else {
            made.comparison.emplace(job.engine(std::move(*read.image)));  // frees the image early
        }
    } catch (const std::bad_alloc&) {
        made.error =
            outOfMemory(job.plan, std::uint64_t{job.engine.rows()} * job.engine.cols(), path);
    } catch (const std::exception& e) {
        made.error = "cannot score \"" + path + "\": " + e.what();
    }
    return made;
}

}  // namespace

ReadFile readFile(const RunPlan& plan, std::uint32_t rows, std::uint32_t cols,
                  std::uint64_t maxPixels, const std::string& path, std::size_t i,
                  const std::shared_ptr<PlanePool>& pool) {
    ReadFile read;
    // The image lives only while it is scored: memory per file in flight stays at one image
    // and one decomposition.
    try {
        // A file of another size is refused for the price of its header.
        const ImageHeader header = readImageHeader(path, maxPixels);
        requireSize(path, header.rows, header.cols, rows, cols);
        read.notice = header.notice;
        read.image.emplace(path, maxPixels, pool);
        requireSize(path, read.image->rows(), read.image->cols(), rows, cols);
        if (plan.report && !plan.report->images.empty()) {
            // A picture that cannot be written fails the row, like any other map.
            try {
                writeRgbPicturePng(plan.report->images[i].string(), pictureOf(*read.image));
            } catch (const Error& e) {
                appendProblem(read.reportProblem, e.what());
            }
        }
    } catch (const Error& e) {
        read.error = e.what();  // names the file and the reason
    } catch (const std::bad_alloc&) {
        read.error = outOfMemory(plan, std::uint64_t{rows} * cols, path);
    } catch (const std::exception& e) {
        read.error = "cannot read image \"" + path + "\": " + e.what();
    }
    if (!read.error.empty()) read.image.reset();
    return read;
}

ReadFile prepareFile(const RunPlan& plan, std::shared_ptr<const BandFilters> filters,
                     std::uint64_t maxPixels, const std::string& path, std::size_t i) {
    const std::uint32_t rows = filters->rows();
    const std::uint32_t cols = filters->cols();
    ReadFile read = readFile(plan, rows, cols, maxPixels, path, i);
    if (!read.image) return read;
    try {
        read.prepared.emplace(*read.image, std::move(filters));
    } catch (const std::bad_alloc&) {
        read.error = outOfMemory(plan, std::uint64_t{rows} * cols, path);
    } catch (const std::exception& e) {
        read.error = "cannot score \"" + path + "\": " + e.what();
    }
    read.image.reset();
    return read;
}

FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i) {
    return scoreFile(job, path, i,
                     readFile(job.plan, job.engine.rows(), job.engine.cols(), job.maxPixels, path,
                              i, job.engine.planePool()));
}

FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i, ReadFile read) {
    std::string reportProblem = std::move(read.reportProblem);
    std::string notice = std::move(read.notice);
    Made made = score(job, path, std::move(read));
    FileResult result{path, std::nullopt, std::move(made.error)};
    result.notice = std::move(notice);
    result.explanation = std::move(made.explanation);
    if (!made.comparison) return result;
    const Comparison& comparison = *made.comparison;
    // A measure that is not a finite number is no result: the row fails with the reason.
    const std::string measureFault = measureProblem(comparison);
    if (!measureFault.empty()) {
        result.error = "cannot score \"" + path + "\": " + measureFault;
        result.explanation.reset();
        return result;
    }
    result.scores = Scores{comparison.mobj(), comparison.nobj()};
    // The error map's percentiles, taken once (a copy and a partial sort of the map) and only
    // when the p99 gate, the heat maps' shared scale or the report uses them.
    std::optional<MapPercentiles> percentiles;
    if (result.explanation) {
        percentiles = result.explanation->percentiles;
    } else if (job.gates.maxP99 || job.heatMaps.deferred() || job.reportHeatMaps != nullptr) {
        percentiles = percentilesOf(comparison.err());
    }
    // A file whose maps then fail keeps its verdict: its scores are printed, so is the verdict.
    result.gate = judge(job.gates, comparison, percentiles);
    const Scored scored{comparison, made.explanationMaps ? &*made.explanationMaps : nullptr};
    result.error = writeMaps(scored, job, i);
    const MapPercentiles* known = percentiles ? &*percentiles : nullptr;
    appendProblem(result.error, job.heatMaps.take(i, comparison.err(), known));
    if (job.reportHeatMaps != nullptr) {
        result.percentiles = percentiles;
        appendProblem(reportProblem, job.reportHeatMaps->take(i, comparison.err(), known));
        appendProblem(result.error, reportProblem);
    }
    return result;
}

}  // namespace lumetra
