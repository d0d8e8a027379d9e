#pragma once

// The maps the comparison viewer can show, how each is scaled and how it becomes a picture.
//
// Maps in the error map's units (the error map M, its four terms and its three channel maps)
// share the run's scale, so that a colour means the same error in every file of the run and
// in every one of these maps.  The other maps have units of their own (block weight B^alpha,
// the 0/1 edge-change zone, the share of the measure) and are drawn on their own scale, the
// same rule applied to the one map.

#include <QImage>
#include <QString>
#include <array>
#include <vector>

#include "engine/ErrorMap.h"
#include "engine/Explanation.h"
#include "image/Array.h"
#include "image/HeatMap.h"
#include "image/Percentiles.h"

namespace lumetra {

enum class MapChoice {
    Classic,   // the error map, black to blue, scaled to its own largest value
    Error,     // the error map M as a heat map
    TermBase,  // the four weighted terms of M, by ErrorTerm
    TermCrown2,
    TermCrown3,
    TermCrown4,
    ChannelA,  // M from one channel's differences, by Channel
    ChannelC1,
    ChannelC2,
    BlockWeight,  // B^alpha
    EdgeZone,     // 1 where the edge structure changed
    Share,        // each pixel's share of the measure
};

// Every choice, in the order the selector lists them.
inline constexpr std::array kMapChoices = {
    MapChoice::Error,      MapChoice::Classic,     MapChoice::TermBase, MapChoice::TermCrown2,
    MapChoice::TermCrown3, MapChoice::TermCrown4,  MapChoice::ChannelA, MapChoice::ChannelC1,
    MapChoice::ChannelC2,  MapChoice::BlockWeight, MapChoice::EdgeZone, MapChoice::Share};

// The selector's text of a choice; it says which direction is more visible.
QString mapChoiceName(MapChoice choice);

// The part of a saved picture's name that says which map it holds: "error-map" (black to
// blue), "heat-map" (the error map as a heat map), or the command line's explanation map name
// ("term-base", "channel-C1", "share", ...).
QString mapFileKey(MapChoice choice);

// True for the choices drawn from the explanation; the others need only the error map.
bool needsExplanation(MapChoice choice);

// The map of a choice: the error map itself for Classic and Error, else the explanation's.
const Array<float>& mapOf(MapChoice choice, const Array<float>& errorMap,
                          const ExplanationMaps& maps);

// The scale of heat maps shown together: the largest finite 99th percentile of the maps;
// when that is not > 0 (maps without visible error), the largest finite maximum; when that
// is not > 0 either, 1.  The command line's shared heat-map scale follows the same rule.
float sharedScaleMax(const std::vector<MapPercentiles>& maps);

// Every heat-map scale, in the order the viewer's selector lists them.
inline constexpr std::array kHeatScaleModes = {HeatScaleMode::Shared, HeatScaleMode::PerFile,
                                               HeatScaleMode::Log};

// The selector's text of a heat-map scale ("Shared", "Per file", "Log").
QString heatScaleName(HeatScaleMode mode);

// The name a heat-map scale is remembered by, the command line's --heat-scale value
// ("shared", "per-file", "log"); heatScaleOfKey reads it back, Shared for any other text.
QString heatScaleKey(HeatScaleMode mode);
HeatScaleMode heatScaleOfKey(const QString& key);

// The heat-map scale the viewer last had (QSettings), which Export all maps draws with too;
// Shared when none was chosen.
HeatScaleMode rememberedHeatScale();
void rememberHeatScale(HeatScaleMode mode);

// The scale of a choice under `mode` (heatScaleFor): `runMax` (the run's shared scale) is the
// top for maps in the error map's units, sharedScaleMax of the map alone for the others, which
// have units of their own; PerFile takes the map's own percentiles.
HeatScale scaleOf(MapChoice choice, HeatScaleMode mode, float runMax, const Array<float>& map);

// A heat map split into the map itself (one pixel per map element, Format_RGB32) and its
// legend (the colour bar with its labels), as image/HeatMap.h draws them; the legend has the
// size of a 256-row picture's, whatever the map's size.
struct HeatPicture {
    QImage map;
    QImage legend;
};
HeatPicture heatPicture(const Array<float>& map, const HeatScale& scale);

// A picture for the screen (Format_RGB32); a null image when it cannot be allocated.
QImage qImageOf(const RgbPicture& picture);

}  // namespace lumetra
