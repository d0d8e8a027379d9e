#pragma once

// JPEG XL files, through libjxl.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size from the codestream's header: maxval 255 for files of at most 8 bits per sample
// (recompressed JPEGs among them), else 65535.  An animated file is read as its first frame.
ImageHeader readJxlHeader(const ImageSource& source);

// The first (or only) frame in the file's own colour space, as display values, not converted:
// what the file stores when it keeps its original colours (lossless and most high-bit-depth
// files), else (a lossy file coded in the codec's internal colour space) rendered into the
// colour space the file declares, or into sRGB when the file declares its colours by an ICC
// profile the decoder cannot render without colour management.  Samples of more than 8 bits,
// floating-point ones included, come as 16-bit samples (0..65535; floats clipped to 0..1);
// grey gives R = G = B, alpha is dropped (unpremultiplied first).  Pixels stay as stored,
// whatever orientation the file declares.  A recompressed JPEG (a file that keeps the JPEG it
// was made from) is turned back into that JPEG and read as the JPEG reader reads it, so it
// gives the very samples the JPEG gives.
// With the pixels: the embedded ICC profile (none when the file names its colour space
// instead), its EXIF orientation and, for an animation, that its first frame was read.
DecodedImage readJxl(const ImageSource& source);

}  // namespace lumetra
