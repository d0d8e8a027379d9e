#pragma once

// A colour image as read from a file: three planes of raw integer samples, one each for red,
// green and blue, plus the file's maximum sample value.  No colour processing happens here;
// AccImage turns these samples into light levels.

#include <cstdint>
#include <ostream>
#include <string>

#include "image/Array.h"
#include "image/ImageHeader.h"

namespace lumetra {

class RgbImage {
  public:
    // Maximum sample value of a default-constructed image and the default of a hand-built one.
    static constexpr unsigned kDefaultMaxval = 255;

    // Largest pixel count accepted from a file (image/ImageHeader.h).
    static constexpr std::uint64_t kMaxPixels = kMaxImagePixels;

    // An empty image: 0 rows, 0 columns, three 0 x 0 planes, maxval 255.
    RgbImage() = default;

    // Reads the image at path.  The format is recognised from the file's first bytes, not its
    // name: Netpbm (P1-P7, through libnetpbm), PNG (libpng), JPEG (libjpeg-turbo), BMP
    // (stb_image), WebP (libwebp), TIFF (libtiff), AVIF (libavif) and JPEG XL (libjxl).
    // Samples are kept unscaled together with the file's maximum sample value (255 for 8-bit
    // files, 65535 for 16-bit PNG, TIFF and JPEG XL, 1023 or 4095 for 10 or 12-bit AVIF); grey
    // images give R = G = B and alpha is dropped; of an animated file the first frame is read.
    // Throws ImageReadError naming the file and the reason when the file cannot be read, is
    // not a supported image, is cut short or corrupt, or declares an empty or oversized image:
    // more than maxPixels pixels (at most kMaxPixels), refused from the header before any
    // pixel is allocated.  readImageHeader (image/ImageHeader.h) gives the size alone.  Safe
    // to call from several threads at once.
    explicit RgbImage(std::string path, std::uint64_t maxPixels = kMaxPixels);
    // The same with the sample planes' memory from `pool` (see PlanePool.h): an engine's, so
    // that the image it is about to score takes planes it holds idle.
    RgbImage(std::string path, std::uint64_t maxPixels, std::shared_ptr<PlanePool> pool);

    // An image built from three planes of equal size whose samples are at most maxval.
    // Throws std::invalid_argument when the planes differ in size, maxval is 0 or a sample
    // exceeds maxval.
    RgbImage(Array<unsigned> r, Array<unsigned> g, Array<unsigned> b,
             unsigned maxval = kDefaultMaxval);

    RgbImage(const RgbImage&) = default;
    RgbImage& operator=(const RgbImage&) = default;
    // A moved-from image is empty (0 x 0, maxval 255), like a default-constructed one.
    RgbImage(RgbImage&& other) noexcept;
    RgbImage& operator=(RgbImage&& other) noexcept;
    virtual ~RgbImage() = default;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }
    // The file's maximum sample value: every sample lies in 0..maxval().
    unsigned maxval() const { return _maxval; }

    const Array<unsigned>& R() const { return _r; }
    const Array<unsigned>& G() const { return _g; }
    const Array<unsigned>& B() const { return _b; }

  private:
    std::uint32_t _rows = 0;
    std::uint32_t _cols = 0;
    Array<unsigned> _r;
    Array<unsigned> _g;
    Array<unsigned> _b;
    unsigned _maxval = kDefaultMaxval;
};

// Text dump: for R, G and B in turn the label line, the plane (a tab after every sample, one
// line per row) and one empty line.
std::ostream& operator<<(std::ostream& out, const RgbImage& image);

}  // namespace lumetra
