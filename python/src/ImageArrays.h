#pragma once

// Conversions between NumPy arrays and the core's image types, for the Python binding.
//
// An image argument is either a path (str, bytes or os.PathLike), read as the command line
// reads it, or an array shaped (rows, cols, 3) (RGB), (rows, cols, 4) (alpha dropped),
// (rows, cols) or (rows, cols, 1) (grey: R = G = B) or (rows, cols, 2) (grey and alpha), the
// same layouts a file may have.  Its samples are uint8 or uint16 (up to maxval: by default the
// dtype's largest value), or float32 or float64 from 0 to data_range (by default 1, the
// scikit-image convention), which become 16-bit samples: round(x / data_range x 65535) of
// maxval 65535.  A stack of images is one more axis in front: (count, rows, cols, channels).
// Any other array layout (strides, byte order) is converted.  Every function here needs the
// GIL and gives it up only around its own long loops and file reads, except
// ArrayStack::image, which needs no GIL at all.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image/Array.h"
#include "image/ImageLoading.h"
#include "image/RgbImage.h"

namespace lumetra::python {

// How the samples of an array are read: maxval for arrays of integers, dataRange for arrays
// of floats.  Neither applies to paths.
struct SampleRange {
    std::optional<long long> maxval;
    std::optional<double> dataRange;
};

// The file name an image argument gives, or none when it is not a path.  Throws
// pybind11::value_error for a name holding a NUL byte, which no file can have.
std::optional<std::string> pathOf(pybind11::handle image);

// The images of an array, read one by one without the GIL (a single image is a stack of one).
// The constructor checks the array's type, shape and range options and takes a C-ordered
// native copy when the array is not one already; image(k) then converts the k-th image.
class ArrayStack {
  public:
    // Throws pybind11::type_error for anything but an array of uint8, uint16, float32 or
    // float64 samples, and pybind11::value_error for another shape (in NumPy's terms), a
    // maxval outside 1 .. the dtype's largest value or given with floats, or a data_range that
    // is not a positive finite number or given with integers.
    ArrayStack(pybind11::handle array, const SampleRange& range, bool stacked);

    std::size_t size() const { return _count; }
    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }
    // "(256, 512, 3)": the shape of one image of the stack, as NumPy writes it.
    std::string imageShape() const;

    // The k-th image.  Throws pybind11::value_error naming the range for a sample above
    // maxval, or a float sample outside 0 .. data_range (or not a number), and where it is.
    // Safe to call from several threads at once, with or without the GIL.
    RgbImage image(std::size_t k) const;

    // Warns (UserWarning) when the array is uint16, no maxval was given and no sample of the
    // images made so far exceeds 255: 8-bit data scored as 16-bit is nearly black.  Needs the
    // GIL; throws pybind11::error_already_set when warnings are errors.
    void warnIfEightBit() const;

  private:
    pybind11::array _samples;  // C-ordered, native byte order
    char _kind;                // 'u' or 'f'
    std::size_t _itemSize;
    std::size_t _count;
    std::uint32_t _rows;
    std::uint32_t _cols;
    std::size_t _channels;
    unsigned _maxval;   // of the images made: the limit of integers, 65535 for floats
    double _dataRange;  // floats only
    bool _maxvalGiven;
    mutable std::atomic<unsigned> _largest{0};  // the largest integer sample met so far
};

// The image an argument holds: a path is read from its file (ImageReadError when it cannot be
// read), an array converted as ArrayStack converts it (with its errors and warning).  A file
// of more than maxPixels pixels is refused from its header (ImageReadError "image too large");
// range options given with a path are a pybind11::value_error.
// A file is read with `choices` (its colour space and orientation, see image/ImageLoading.h),
// and what the file declares that the user should know is logged once as a warning of the
// "lumetra" logger.
RgbImage imageOf(pybind11::handle image, const SampleRange& range,
                 std::uint64_t maxPixels = RgbImage::kMaxPixels, ReadChoices choices = {});

// The image file at path read with `choices`, its notices logged as imageOf logs them; what
// it declares comes with it.  Needs the GIL; gives it up while reading.
LoadedImage loadLogged(const std::string& path, std::uint64_t maxPixels, ReadChoices choices);

// Logs `text` about the file at path as a warning of the "lumetra" logger, "\"path\": text", as
// every notice about a file is logged.  Needs the GIL.
void logFileNotice(const std::string& path, const std::string& text);

// The choices named by the keywords colour ("as-stored" or "srgb") and orientation
// ("as-stored" or "apply").  Throws pybind11::value_error naming the keyword otherwise.
ReadChoices readChoicesOf(const std::string& colour, const std::string& orientation);

// The samples of `image` as an H x W x 3 array: uint8 when maxval is at most 255, else uint16.
pybind11::array samplesOf(const RgbImage& image);

// `plane` as an H x W float32 array that owns it: no copy is made.
pybind11::array_t<float> arrayOf(Array<float>&& plane);

}  // namespace lumetra::python
