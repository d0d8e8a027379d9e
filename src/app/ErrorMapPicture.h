#pragma once

// The picture of an error map: one pixel per map element, black (no visible difference) to
// full blue (the largest value), with the levels of errorMapLevels (image/ErrorMapImage.h).

#include <QImage>

#include "image/Array.h"

namespace lumetra {

// A Format_RGB32 image cols wide and rows high; the element at (row y, column x) colours the
// pixel (x, y) with red and green 0 and blue its level.  An empty map, or one too
// large to allocate, gives a null image.
QImage errorMapImage(const Array<float>& map);

}  // namespace lumetra
