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
std::string outOfMemory(const FileJob& job, const std::string& path) {
    const std::uint64_t pixels = std::uint64_t{job.engine.rows()} * job.engine.cols();
    return "out of memory while scoring \"" + path + "\" (needs about " +
           gigabyteText(pixels * bytesPerPixelInFlight(job.plan.scoring)) + ")";
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
    std::string error;          // why the file could not be read or scored
    std::string reportProblem;  // the report's copy of the image could not be written
};

// Reads and scores the file.
Made readAndScore(const FileJob& job, const std::string& path, std::size_t i) {
    Made made;
    // The image lives only while it is scored: memory per file in flight stays at one image
    // and one decomposition.
    std::optional<RgbImage> degraded;
    try {
        // A file of another size is refused for the price of its header.
        const ImageHeader header = readImageHeader(path, job.maxPixels);
        job.engine.checkSize(path, header.rows, header.cols);
        // Its planes come from the engine's pool, which holds the last file's idle.
        degraded.emplace(path, job.maxPixels, job.engine.planePool());
        job.engine.checkSize(path, *degraded);
        if (job.plan.report && !job.plan.report->images.empty()) {
            // A picture that cannot be written fails the row, like any other map.
            try {
                writeRgbPicturePng(job.plan.report->images[i].string(), pictureOf(*degraded));
            } catch (const Error& e) {
                appendProblem(made.reportProblem, e.what());
            }
        }
    } catch (const Error& e) {
        made.error = e.what();  // names the file and the reason
        return made;
    } catch (const std::bad_alloc&) {
        made.error = outOfMemory(job, path);
        return made;
    } catch (const std::exception& e) {
        made.error = "cannot read image \"" + path + "\": " + e.what();
        return made;
    }
    try {
        if (job.plan.scoring == Scoring::Explained) {
            Explanation explained = job.engine.explain(*degraded);
            made.explanation = explained.numbers;
            made.comparison.emplace(std::move(explained.comparison));
            made.explanationMaps.emplace(std::move(explained.maps));
        } else {
            made.comparison.emplace(job.engine(std::move(*degraded)));  // frees the image early
        }
    } catch (const std::bad_alloc&) {
        made.error = outOfMemory(job, path);
    } catch (const std::exception& e) {
        made.error = "cannot score \"" + path + "\": " + e.what();
    }
    return made;
}

}  // namespace

FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i) {
    Made made = readAndScore(job, path, i);
    FileResult result{path, std::nullopt, std::move(made.error)};
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
        appendProblem(made.reportProblem, job.reportHeatMaps->take(i, comparison.err(), known));
        appendProblem(result.error, made.reportProblem);
    }
    return result;
}

}  // namespace lumetra
