#pragma once

// Scoring one degraded file of a command-line run: read, check, score, judge by the gates and
// write its maps and pictures.  Every failure ends up in the file's result: one file never
// stops the batch.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/HeatMapOutput.h"
#include "cli/QualityGates.h"
#include "cli/ResultWriter.h"
#include "cli/RunPlan.h"
#include "engine/Lumetra2.h"
#include "image/RgbImage.h"

namespace lumetra {

// What scoring one file needs besides its path.
struct FileJob {
    const Lumetra2& engine;
    const RunPlan& plan;
    const QualityGates& gates;
    HeatMapOutput& heatMaps;
    HeatMapOutput* reportHeatMaps;  // none without --report
    std::uint64_t maxPixels;        // --max-pixels
};

// A degraded file read and checked, before it is scored: the image, or, when it was made
// ready while the engine was built, its edge map and spectra; or why it could not be.
struct ReadFile {
    std::optional<RgbImage> image;
    std::optional<PreparedImage> prepared;
    std::string error;          // why the file could not be read or made ready
    std::string reportProblem;  // the report's copy of the image could not be written
    std::string notice;         // what the reader says of how it read the file (ImageHeader)
};

// Reads and checks file i (at `path`) for a run whose original is rows x cols, and writes
// the report's copy of it.  Never throws: a failure is in the result.
// Its planes come from `pool` when given (the engine's, which holds the last file's idle).
ReadFile readFile(const RunPlan& plan, std::uint32_t rows, std::uint32_t cols,
                  std::uint64_t maxPixels, const std::string& path, std::size_t i,
                  const std::shared_ptr<PlanePool>& pool = nullptr);

// The same, and makes the image ready with `filters` (the engine's, or those it will take
// from a cache), freeing the image.
ReadFile prepareFile(const RunPlan& plan, std::shared_ptr<const BandFilters> filters,
                     std::uint64_t maxPixels, const std::string& path, std::size_t i);

// Scores file i (at `path`), read (or made ready) as `read`, judges it by the gates and
// writes its maps.
FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i, ReadFile read);

// Reads, checks and scores file i.
FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i);

}  // namespace lumetra
