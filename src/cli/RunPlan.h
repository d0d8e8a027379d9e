#pragma once

// The plan of a command-line run, made before anything is scored: how each file is scored,
// how many at once, what the run reads, every output it writes, and what stands in the way of
// each.  A run the machine cannot hold is refused here; an output that cannot be written
// (a folder that cannot be made, a name that would replace an input, a report folder that
// holds other files) is noted, so that the files are still scored and their rows say why.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/OutputNames.h"
#include "cli/ReportFolder.h"
#include "cli/ResultWriter.h"
#include "engine/Comparison.h"
#include "engine/Explanation.h"
#include "image/Array.h"

namespace lumetra {

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
    std::vector<std::filesystem::path> paths;  // one per degraded file; empty when not asked for
    std::string folderProblem;  // why the folder could not be made; empty when it was
    MapWriter write;
    PlaneOf plane;
};

// The report's files, written into the report's own folder until it is swapped in.
struct ReportPlan {
    std::unique_ptr<ReportFolder> folder;
    std::vector<std::filesystem::path> images;    // a copy of each degraded image
    std::vector<std::filesystem::path> heatMaps;  // a heat map of each file
};

struct RunPlan {
    Scoring scoring = Scoring::Plain;
    unsigned jobs = 1;  // files scored at once
    // The engine keeps the original's spectra instead of its bands (--low-memory, or chosen
    // because the default mode would not fit), and `lowMemoryNotice` says why when it was
    // chosen (said once on the error stream); empty otherwise.
    bool lowMemory = false;
    std::string lowMemoryNotice;
    InputFiles inputs;         // the files the run reads, which no output replaces
    std::vector<MapSet> maps;  // the error, float and explanation maps
    // The heat maps, one per degraded file; none without --heatmaps.
    std::vector<std::filesystem::path> heatMaps;
    std::optional<ReportPlan> report;  // with --report
    RowColumns columns;
    // The original is kept after the engine is built: heat maps are drawn over it, or the
    // report shows it.
    bool keepsOriginal = false;
    // The first file is read and made ready while the engine is built, so that both cores
    // work from the start: for plain scoring, when the memory left holds one file more than
    // the run's files in flight.
    bool preparesFirst = false;
    // What the original's reader says of how it reads the file (image/ImageHeader.h), said
    // once on the error stream; empty for most files.
    std::string originalNotice = {};
};

// Memory one file in flight takes per pixel when scored so, by an engine in low-memory mode or
// not.
std::uint64_t bytesPerPixelInFlight(Scoring scoring, bool lowMemory = false);

// Reads the original's header and plans the run: makes the output folders, removes the
// temporaries a killed run left in them and prepares the report's folder.  A run that would
// not fit in the memory left in the default mode is planned in low-memory mode when it fits
// so.  Throws ImageReadError when the original's header cannot be read and MemoryLimitError
// when the run would not fit in the memory left even in low-memory mode.
RunPlan planRun(const Options& options);

}  // namespace lumetra
