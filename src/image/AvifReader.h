#pragma once

// AVIF files, through libavif (and the AV1 decoder it was built with).

#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/RgbImage.h"

namespace lumetra {

// The size and bit depth from the container's boxes, without decoding the AV1 data: maxval
// 255, 1023 or 4095 for 8, 10 or 12-bit files.  An image sequence (animated AVIF) is read as
// its first frame.
ImageHeader readAvifHeader(const ImageSource& source);

// The first (or only) image as RGB of the file's bit depth, converted from YUV by libavif with
// the file's own matrix coefficients and range (its CICP), chroma upsampled as libavif's
// default does.  Samples keep their depth, as 16-bit PNG keeps its: 10-bit samples lie in
// 0..1023 with maxval 1023.  Alpha is dropped as for PNG (unpremultiplied first when the file
// stores premultiplied colours).  Grey (4:0:0) files give R = G = B.  With the pixels: the
// embedded ICC profile's bytes (none when the file states its colours by CICP alone), the
// orientation its rotation and mirror boxes ('irot', 'imir') amount to, as an EXIF orientation
// (the pixels stay as stored), and for a sequence, that its first frame was read.
DecodedImage readAvif(const ImageSource& source);

}  // namespace lumetra
