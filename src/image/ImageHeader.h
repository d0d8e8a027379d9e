#pragma once

// The size and sample range of an image file, read without decoding its pixels.

#include <cstdint>
#include <string>

namespace lumetra {

struct ImageHeader {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    // The largest sample value the decoded image will report as RgbImage::maxval().
    unsigned maxval = 0;
};

// Reads only what it takes to know the size of the image at path: the Netpbm header, the PNG
// chunks up to the first image data, the JPEG markers up to the first scan, the BMP headers.
// Every check that RgbImage(path) makes before decoding pixels is made here too (format, empty
// or oversized image, a file too short for its declared pixels where that shows from the
// header and the file's length), with the same ImageReadError.  So a caller that needs a given
// size can refuse a file for the price of its header.
ImageHeader readImageHeader(const std::string& path);

}  // namespace lumetra
