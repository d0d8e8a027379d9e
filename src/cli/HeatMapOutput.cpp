#include "cli/HeatMapOutput.h"

#include <cmath>
#include <exception>
#include <limits>
#include <random>
#include <system_error>
#include <utility>

#include "image/ErrorMapImage.h"
#include "image/Parallel.h"
#include "image/Percentiles.h"
#include "image/RgbPicture.h"
#include "image/Temporaries.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// Hidden temporary beside the heat map, named as every temporary is (image/Temporaries.h).
fs::path spillPath(const fs::path& heatMap, std::random_device& random) {
    return temporaryName((heatMap.parent_path() / ("." + heatMap.filename().string())).string(),
                         random);
}

// The map's part of a heat map drawn with its legend: the top-left map-sized corner.
RgbPicture withoutLegend(const RgbPicture& picture, const Array<float>& map) {
    RgbPicture cropped = RgbPicture::filled(map.cols(), map.rows(), Rgb8{0, 0, 0});
    for (std::uint32_t r = 0; r < map.rows(); ++r) {
        for (std::uint32_t c = 0; c < map.cols(); ++c) cropped.set(c, r, picture.at(c, r));
    }
    return cropped;
}

}  // namespace

HeatMapOutput::HeatMapOutput(const Options& options, std::vector<fs::path> paths,
                             const RgbImage* original, const InputFiles& inputs, HeatLegend legend,
                             std::string folderProblem)
    : _paths(options.heatMapDir ? std::move(paths) : std::vector<fs::path>{}),
      _p99s(_paths.size(), std::numeric_limits<float>::quiet_NaN()),
      _maxima(_paths.size(), std::numeric_limits<float>::quiet_NaN()),
      _spilled(_paths.size(), 0),
      _fixedMax(options.heatMax),
      _ownScales(_paths.size(), std::numeric_limits<float>::quiet_NaN()),
      _mode(options.heatScale),
      _legend(legend),
      _folderProblem(std::move(folderProblem)),
      _colours(options.heatColours),
      _original(options.heatOnOriginal ? original : nullptr),
      _inputs(inputs) {
    if (deferred()) {
        _spills.reserve(_paths.size());
        std::random_device random;
        for (const fs::path& path : _paths) _spills.push_back(spillPath(path, random));
    }
}

HeatMapOutput::~HeatMapOutput() {
    for (const fs::path& spill : _spills) {
        std::error_code ignored;
        fs::remove(spill, ignored);
    }
}

bool HeatMapOutput::deferred() const {
    return !_paths.empty() && !_fixedMax && _mode != HeatScaleMode::PerFile;
}

std::optional<float> HeatMapOutput::runScale() const {
    if (_mode == HeatScaleMode::PerFile) return std::nullopt;
    return _fixedMax ? _fixedMax : _chosenMax;
}

std::optional<HeatScale> HeatMapOutput::scaleOf(std::size_t i) const {
    if (i >= _paths.size()) return std::nullopt;
    if (_mode == HeatScaleMode::PerFile) {
        if (std::isnan(_ownScales[i])) return std::nullopt;
        return HeatScale{_ownScales[i], _colours};
    }
    const std::optional<float> top = runScale();
    if (!top) return std::nullopt;
    return heatScaleFor(_mode, *top, 0.0f, 0.0f, _colours);
}

std::string HeatMapOutput::take(std::size_t i, const Array<float>& map,
                                const MapPercentiles* percentiles) {
    if (_paths.empty()) return {};
    if (!_folderProblem.empty()) {
        return "cannot write \"" + _paths[i].string() + "\": " + _folderProblem;
    }
    if (_inputs.wouldReplace(_paths[i])) {
        return "not writing \"" + _paths[i].string() + "\": it would replace an input file";
    }
    if (_mode == HeatScaleMode::PerFile) {
        const MapPercentiles own = percentiles != nullptr ? *percentiles : percentilesOf(map);
        const HeatScale scale = heatScaleFor(_mode, 0.0f, own.p99, own.max, _colours);
        _ownScales[i] = scale.max;
        return write(i, map, scale);
    }
    if (_fixedMax) return write(i, map, heatScaleFor(_mode, *_fixedMax, 0.0f, 0.0f, _colours));
    if (_inputs.wouldReplace(_spills[i])) {
        return "not writing \"" + _spills[i].string() + "\": it would replace an input file";
    }
    try {
        writeFloatMapPfm(_spills[i].string(), map);
    } catch (const std::exception& e) {
        // The heat map is what fails; the hidden file its map waits in is only the reason.
        return "cannot write \"" + _paths[i].string() +
               "\": its error map cannot wait for the run's shared scale (" + e.what() + ")";
    }
    const MapPercentiles taken = percentiles != nullptr ? *percentiles : percentilesOf(map);
    _p99s[i] = taken.p99;
    _maxima[i] = taken.max;
    _spilled[i] = 1;
    return {};
}

std::vector<std::string> HeatMapOutput::finish() {
    std::vector<std::string> problems(_paths.size());
    if (!deferred()) return problems;
    _chosenMax = sharedScale(_p99s, _maxima);
    const HeatScale scale = heatScaleFor(_mode, *_chosenMax, 0.0f, 0.0f, _colours);
    // One map in memory per thread; each file's problem goes to its own slot.
    parallelFor(static_cast<unsigned>(_paths.size()), 0, [&](unsigned i, unsigned) {
        if (_spilled[i] == 0) return;
        try {
            const Array<float> map = readFloatMapPfm(_spills[i].string());
            std::error_code ignored;
            fs::remove(_spills[i], ignored);
            problems[i] = write(i, map, scale);
        } catch (const std::exception& e) {
            problems[i] = e.what();
        }
    });
    return problems;
}

float HeatMapOutput::sharedScale(const std::vector<float>& p99s, const std::vector<float>& maxima) {
    return sharedHeatScale(p99s, maxima);
}

std::string HeatMapOutput::write(std::size_t i, const Array<float>& map,
                                 const HeatScale& scale) const {
    try {
        RgbPicture picture = _original ? heatMapOverOriginal(map, *_original, scale)
                             : _legend == HeatLegend::Drawn ? heatMap(map, scale)
                                                            : heatMapWithoutLegend(map, scale);
        if (_original && _legend == HeatLegend::LeftOut) picture = withoutLegend(picture, map);
        writeRgbPicturePng(_paths[i].string(), picture);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace lumetra
