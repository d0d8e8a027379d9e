#pragma once

// The size and sample range of an image file, read without decoding its pixels.

#include <cstdint>
#include <string>

namespace lumetra {

// Largest pixel count accepted from a file (2^28): keeps a corrupt or hostile header from
// asking for gigabytes before a single sample is read.  A caller may lower it (a service taking
// untrusted uploads), never raise it.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;

struct ImageHeader {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    // The largest sample value the decoded image will report as RgbImage::maxval().
    unsigned maxval = 0;
};

// Reads only what it takes to know the size of the image at path: the Netpbm header, the PNG
// chunks up to the first image data, the JPEG markers up to the first scan, the BMP headers,
// the WebP chunks up to the bitstream's header, the first TIFF directory, the AVIF container's
// boxes, the JPEG XL codestream's header.
// Every check that RgbImage(path) makes before decoding pixels is made here too (format, empty
// or oversized image, a file too short for its declared pixels where that shows from the
// header and the file's length), with the same ImageReadError.  So a caller that needs a given
// size can refuse a file for the price of its header.  An image of more than maxPixels pixels
// is refused ("image too large"); maxPixels must pass maxPixelsProblem.
ImageHeader readImageHeader(const std::string& path, std::uint64_t maxPixels = kMaxImagePixels);

// Why maxPixels cannot be a pixel limit: "must be a whole number from 1 to 268435456 (got 0)";
// empty when it is one (1 .. kMaxImagePixels).  Front ends put the option's name before it.
std::string maxPixelsProblem(std::uint64_t maxPixels);

}  // namespace lumetra
