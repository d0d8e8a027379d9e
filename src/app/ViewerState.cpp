#include "app/ViewerState.h"

#include <algorithm>
#include <cmath>

namespace lumetra {

// A value that is not a number leaves the setting as it was.
void ViewerState::setSplitFraction(double fraction) {
    if (!std::isnan(fraction)) _split = std::clamp(fraction, 0.0, 1.0);
}

void ViewerState::setFlickerIntervalMs(int ms) {
    _flickerIntervalMs = std::clamp(ms, kMinFlickerIntervalMs, kMaxFlickerIntervalMs);
}

void ViewerState::setOverlayOpacity(double opacity) {
    if (!std::isnan(opacity)) _opacity = std::clamp(opacity, 0.0, 1.0);
}

}  // namespace lumetra
