#pragma once

// WebP files, through libwebp.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the RIFF header and the first chunks; maxval 255.  An animated file is refused
// here already: the model compares still pictures, and which frame to take is the caller's
// choice (extract it first).
ImageHeader readWebpHeader(const ImageSource& source);

// The whole image as 8-bit RGB, lossy or lossless; alpha is dropped as for PNG.  A file cut
// short or with corrupt data is an error, not an image with invented pixels.
DecodedImage readWebp(const ImageSource& source);

}  // namespace lumetra
