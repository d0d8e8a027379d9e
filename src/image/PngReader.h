#pragma once

// PNG files, through libpng.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the chunks before the image data; maxval 65535 for 16-bit samples, else 255.
ImageHeader readPngHeader(const ImageSource& source);

// The whole image.  Samples keep their bit depth (1, 2 and 4-bit grey are scaled to 8 bits as
// libpng expands them); palettes become RGB, grey gives R = G = B and alpha is dropped.
// With it, what the chunks before the image data declare: iCCP, sRGB, gAMA, cHRM, eXIf.
DecodedImage readPng(const ImageSource& source);

}  // namespace lumetra
