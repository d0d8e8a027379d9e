#pragma once

// Where the program's extra windows (error maps, viewers) open: each fits the free area of
// the screen and opens a step right of and below the one before, so that none hides another
// completely.  Plain arithmetic on rectangles, tested without windows.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace lumetra {

// `wanted`, shrunk where it exceeds the share of `available` a window may take, so that the
// window and its frame fit and leave room to cascade.
QSize fittedWindowSize(QSize wanted, const QRect& available);

// Hands out the places of successive windows on one screen.
class WindowCascade {
  public:
    // The rectangle of the next window wanting `wanted`: fitted to `available`, at its top-left
    // corner for the first window, else one step right and down from the last one, back at
    // the corner when the window would leave the area.
    QRect next(QSize wanted, const QRect& available);

  private:
    std::optional<QPoint> _last;
};

}  // namespace lumetra
