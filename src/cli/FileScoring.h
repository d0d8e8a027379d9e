#pragma once

// Scoring one degraded file of a command-line run: read, check, score, judge by the gates and
// write its maps and pictures.  Every failure ends up in the file's result: one file never
// stops the batch.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/HeatMapOutput.h"
#include "cli/QualityGates.h"
#include "cli/ResultWriter.h"
#include "cli/RunPlan.h"
#include "engine/Lumetra2.h"

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

// Reads, checks and scores file i (at `path`), judges it by the gates and writes its maps.
FileResult scoreFile(const FileJob& job, const std::string& path, std::size_t i);

}  // namespace lumetra
