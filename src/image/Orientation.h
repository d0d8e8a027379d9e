#pragma once

// Turning an image the way its EXIF orientation says it is meant to be shown.

#include <cstdint>
#include <memory>

#include "image/PlanePool.h"
#include "image/RgbImage.h"

namespace lumetra {

// The image as displayed under EXIF orientation 1..8 (ImageMetadata.h): 1 is a copy, 2..4
// mirror or turn it in place, 5..8 swap its rows and columns.  Planes come from `pool`.
RgbImage orientedForDisplay(const RgbImage& image, std::uint16_t orientation,
                            const std::shared_ptr<PlanePool>& pool = nullptr);

// Whether `orientation` shows a stored rows x cols image as cols x rows (5..8).
inline bool swapsSides(std::uint16_t orientation) {
    return orientation >= 5 && orientation <= 8;
}

}  // namespace lumetra
