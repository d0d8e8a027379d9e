#pragma once

// WebP files, through libwebp.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the RIFF header and the first chunks (an animated file's canvas); maxval 255.
// An animated file is read as its first frame.
ImageHeader readWebpHeader(const ImageSource& source);

// The whole image as 8-bit RGB, lossy or lossless; alpha is dropped as for PNG.  Of an
// animated file, the first frame as shown: composed onto the canvas.  A file cut
// short or with corrupt data is an error, not an image with invented pixels.  With the pixels:
// the ICC profile and EXIF orientation of an extended file's chunks and, for an animation,
// that its first frame was read.
DecodedImage readWebp(const ImageSource& source);

}  // namespace lumetra
