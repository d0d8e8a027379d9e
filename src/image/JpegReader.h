#pragma once

// JPEG files, through libjpeg-turbo.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the markers before the first scan; maxval 255.
ImageHeader readJpegHeader(const ImageSource& source);

// The whole image as 8-bit RGB (grey gives R = G = B).  A file whose compressed data is cut
// short or corrupt is an error, not an image with invented pixels.
DecodedImage readJpeg(const ImageSource& source);

}  // namespace lumetra
