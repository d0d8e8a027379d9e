#pragma once

// The --heatmaps output of a batch: each scored file's error map drawn as a heat map
// (image/HeatMap.h), every file of the run on one scale so that a worse file looks worse.
//
// With --heat-max, or with --heat-scale per-file (each map on its own scale), the scale is
// known as each file finishes and its heat map is written then.  Otherwise the scale is the largest
// 99th percentile of the run's error maps, known only once every file is scored: each map is then
// spilled to a hidden temporary PFM in the heat-map folder, and finish() draws them all and removes
// the temporaries.  Memory stays at one map per file in flight either way.

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

// Whether a heat map carries its colour bar (files of --heatmaps) or not (the report's, which
// lays them over the images and shows one colour bar beside its table).
enum class HeatLegend { Drawn, LeftOut };

class HeatMapOutput {
  public:
    // Heat maps of the files whose paths are given, one per degraded file; none at all when
    // options.heatMapDir is not set.
    // `original` is drawn under the maps with --heat-on-original; it must then be given and
    // outlive this object.  `folderProblem`, when not empty, says why the maps' folder could
    // not be made: each map then fails with it.
    HeatMapOutput(const Options& options, std::vector<std::filesystem::path> paths,
                  const RgbImage* original, const InputFiles& inputs,
                  HeatLegend legend = HeatLegend::Drawn, std::string folderProblem = {});
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

    // The top of the scale the run's maps share (--heat-max, or chosen by finish()); nothing
    // before finish() when it is chosen from the maps, or when each map has its own.
    std::optional<float> runScale() const;
    // The scale file i's map was drawn on, once it was; nothing before.
    std::optional<HeatScale> scaleOf(std::size_t i) const;
    HeatScaleMode mode() const { return _mode; }

  private:
    std::string write(std::size_t i, const Array<float>& map, const HeatScale& scale) const;

    std::vector<std::filesystem::path> _paths;
    std::vector<std::filesystem::path> _spills;
    std::vector<float> _p99s;             // per file; NaN until its map is spilled
    std::vector<float> _maxima;           // per file; NaN until its map is spilled
    std::vector<unsigned char> _spilled;  // per file; 1 once its map is spilled
    std::optional<float> _fixedMax;
    std::optional<float> _chosenMax;  // the shared scale, once finish() chose it
    std::vector<float> _ownScales;    // per file, with the per-file scale; NaN until drawn
    HeatScaleMode _mode;
    HeatLegend _legend;
    std::string _folderProblem;
    ColourMap _colours;
    const RgbImage* _original;
    const InputFiles& _inputs;
};

}  // namespace lumetra
