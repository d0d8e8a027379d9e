#pragma once

// What the comparison viewer shows, apart from zoom and pan: the mode, the split divider, the
// flicker frame and rate, the heat map's opacity over the original, the map chosen and the
// scale heat maps are drawn on.  A
// plain value the window changes and the canvas draws.

#include "app/ViewerMaps.h"

namespace lumetra {

enum class ViewMode {
    SideBySide,  // original, degraded and heat map next to each other
    Split,       // original left of a divider, degraded right of it
    Flicker,     // original or degraded, one at a time
    Overlay,     // the heat map over the original
};

class ViewerState {
  public:
    // Flicker intervals offered, in milliseconds: fast enough to see a change at 10 per
    // second, slow enough to compare at one per two seconds.
    static constexpr int kMinFlickerIntervalMs = 100;
    static constexpr int kMaxFlickerIntervalMs = 2000;
    static constexpr int kDefaultFlickerIntervalMs = 500;
    static constexpr double kDefaultOverlayOpacity = 0.6;

    ViewMode mode() const { return _mode; }
    void setMode(ViewMode mode) { _mode = mode; }

    // The divider's place across the picture, 0 (all degraded) to 1 (all original).
    double splitFraction() const { return _split; }
    void setSplitFraction(double fraction);

    // Which image flicker mode shows now: false the original, true the degraded one.
    bool flickerShowsDegraded() const { return _flickerDegraded; }
    void toggleFlicker() { _flickerDegraded = !_flickerDegraded; }
    int flickerIntervalMs() const { return _flickerIntervalMs; }
    void setFlickerIntervalMs(int ms);

    // Opacity of the heat map over the original, 0 (original only) to 1 (heat map only).
    double overlayOpacity() const { return _opacity; }
    void setOverlayOpacity(double opacity);

    MapChoice map() const { return _map; }
    void setMap(MapChoice map) { _map = map; }

    // The scale heat maps are drawn on: the run's (Shared, the default), each file's own, or
    // the run's through the log curve.
    HeatScaleMode heatScale() const { return _heatScale; }
    void setHeatScale(HeatScaleMode mode) { _heatScale = mode; }

    // The heat map goes over the degraded image instead of the original.
    bool overlayOnDegraded() const { return _overlayOnDegraded; }
    void setOverlayOnDegraded(bool on) { _overlayOnDegraded = on; }
    // The picture under the heat map is drawn in grey, so that the map's colours stand out
    // (red under viridis looks muddy).
    bool overlayGrey() const { return _overlayGrey; }
    void setOverlayGrey(bool grey) { _overlayGrey = grey; }

    // Split mode divides the picture with a vertical line (original left, degraded right) or,
    // when false, a horizontal one (original above, degraded below).
    bool splitLeftRight() const { return _splitLeftRight; }
    void setSplitLeftRight(bool leftRight) { _splitLeftRight = leftRight; }

    // True in the modes that show a map (side by side, overlay): the others need no legend.
    bool showsMap() const { return _mode == ViewMode::SideBySide || _mode == ViewMode::Overlay; }

  private:
    ViewMode _mode = ViewMode::SideBySide;
    double _split = 0.5;
    bool _flickerDegraded = false;
    int _flickerIntervalMs = kDefaultFlickerIntervalMs;
    double _opacity = kDefaultOverlayOpacity;
    MapChoice _map = MapChoice::Error;
    HeatScaleMode _heatScale = HeatScaleMode::Shared;
    bool _overlayOnDegraded = false;
    bool _overlayGrey = false;
    bool _splitLeftRight = true;
};

}  // namespace lumetra
