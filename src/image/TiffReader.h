#pragma once

// TIFF files, through libtiff.

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size and sample range of the first page, from its directory; maxval 65535 for 16-bit
// samples, else 255.  What the model cannot read is refused here already, naming what the
// file holds: floating-point or signed samples, CMYK and other ink or colour spaces than RGB
// and grey, bit depths other than 8 and 16, compressions other than none, LZW, Deflate and
// PackBits.
ImageHeader readTiffHeader(const ImageSource& source);

// The first page, strips or tiles, interleaved or planar.  Samples keep their bit depth, as
// for PNG; grey gives R = G = B (white-is-zero grey is turned around) and alpha or other extra
// samples are dropped.  Further pages are not read.
DecodedImage readTiff(const ImageSource& source);

}  // namespace lumetra
