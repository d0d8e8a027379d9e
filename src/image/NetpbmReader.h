#pragma once

// Netpbm files (P1-P7: bitmaps, greymaps and pixmaps, plain or raw, and PAM).  The header is
// parsed here, once; libnetpbm reads the raster row by row into the image's own planes.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the header.  A bitmap reports maxval 255, as its decoded samples are 0 or 255.
ImageHeader readNetpbmHeader(const ImageSource& source);

// The whole image.  Grey samples give R = G = B; a PAM alpha channel (depth 2 or 4) is dropped.
RgbImage readNetpbm(const ImageSource& source);

}  // namespace lumetra
