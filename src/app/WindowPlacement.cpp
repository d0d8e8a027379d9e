#include "app/WindowPlacement.h"

#include <algorithm>

namespace lumetra {

namespace {

// A window takes at most this share of each side of the free area: the rest is left for its
// frame and title bar, and for the step of the next window.
constexpr double kLargestShare = 0.85;

// How far each window opens from the last, in pixels: about a title bar's height, so that
// the title of every window stays visible.
constexpr QPoint kCascadeStep(32, 32);

}  // namespace

QSize fittedWindowSize(QSize wanted, const QRect& available) {
    const QSize largest(static_cast<int>(available.width() * kLargestShare),
                        static_cast<int>(available.height() * kLargestShare));
    return wanted.boundedTo(largest);
}

QRect WindowCascade::next(QSize wanted, const QRect& available) {
    const QSize size = fittedWindowSize(wanted, available);
    QPoint place = _last ? *_last + kCascadeStep : available.topLeft();
    if (!available.contains(QRect(place, size))) place = available.topLeft();
    _last = place;
    return QRect(place, size);
}

}  // namespace lumetra
