#pragma once

// BMP files: the headers are checked here, the pixels decoded by stb_image.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the file and info headers; maxval 255.
ImageHeader readBmpHeader(const ImageSource& source);

// The whole image as 8-bit RGB; alpha is dropped.  Only uncompressed and bit-field rasters of
// 1, 4, 8, 16, 24 or 32 bits per pixel are read, and only when the file holds all of them.
RgbImage readBmp(const ImageSource& source);

}  // namespace lumetra
