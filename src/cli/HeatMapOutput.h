#pragma once

// The --heatmaps output of a batch: each scored file's error map drawn as a heat map
// (image/HeatMap.h), every file of the run on one scale so that a worse file looks worse.
//
// With --heat-max the scale is known from the start and each heat map is written as its file
// finishes.  Otherwise the scale is the largest 99th percentile of the run's error maps,
// known only once every file is scored: each map is then spilled to a hidden temporary PFM
// in the heat-map folder, and finish() draws them all and removes the temporaries.  Memory
// stays at one map per file in flight either way.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/OutputNames.h"
#include "image/Array.h"
#include "image/HeatMap.h"
#include "image/Percentiles.h"
#include "image/RgbImage.h"

namespace lumetra {

class HeatMapOutput {
  public:
    // Heat maps of the files whose paths are given, one per degraded file; none at all when
    // options.heatMapDir is not set.
    // `original` is drawn under the maps with --heat-on-original; it must then be given and
    // outlive this object.
    HeatMapOutput(const Options& options, std::vector<std::filesystem::path> paths,
                  const RgbImage* original, const InputFiles& inputs);
    HeatMapOutput(const HeatMapOutput&) = delete;
    HeatMapOutput& operator=(const HeatMapOutput&) = delete;
    // Removes temporaries left by a run that ended early.
    ~HeatMapOutput();

    // True when the heat maps are drawn by finish(), after every file is scored.
    bool deferred() const;

    // Takes the error map of file i once it is scored: writes its heat map (fixed scale) or
    // spills the map for finish().  May be called for different files at once.  Returns what
    // went wrong, empty when nothing did.  `percentiles`, when given, are the map's own
    // (percentilesOf(map)), so they are not taken again.
    std::string take(std::size_t i, const Array<float>& map,
                     const MapPercentiles* percentiles = nullptr);

    // Draws the spilled maps on the run's shared scale and removes the temporaries.  Returns
    // one problem text per file, empty where nothing went wrong or nothing was spilled.
    std::vector<std::string> finish();

    // The scale shared by the run's maps: max of `fixed` when given, else the largest finite
    // 99th percentile of the maps; when that is not > 0 (maps without any visible error), the
    // largest finite maximum; when that is not > 0 either, 1.
    static float sharedScale(const std::vector<float>& p99s, const std::vector<float>& maxima);

  private:
    std::string write(std::size_t i, const Array<float>& map, const HeatScale& scale) const;

    std::vector<std::filesystem::path> _paths;
    std::vector<std::filesystem::path> _spills;
    std::vector<float> _p99s;             // per file; NaN until its map is spilled
    std::vector<float> _maxima;           // per file; NaN until its map is spilled
    std::vector<unsigned char> _spilled;  // per file; 1 once its map is spilled
    std::optional<float> _fixedMax;
    ColourMap _colours;
    const RgbImage* _original;
    const InputFiles& _inputs;
};

}  // namespace lumetra
